// Scrolling captures of real programs showing long pages of lines: a terminal (xterm), GTK 3 and
// GTK 4 text views and a Qt text view. Varied lines, scrolled by the capture and by hand, are read
// back from the binary code each line starts with; lines that look alike (a count, lines that
// differ only by their number, code with blank and brace-only lines) by the pixels of each line.
// Every line must be there once, in order.
#include "RunProgram.h"
#include "ScrollingCaptureX11Desk.h"

#include <QFile>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <cmath>
#include <numeric>

namespace brevalto {
namespace {

constexpr int kLines = 320;
constexpr int kBits = 10;

// Line n: two spaces, "#", n in ten binary digits ('#' for one, ' ' for zero), "#", three spaces, n in
// decimal and words that differ from line to line, so that the page has texture across its
// width. A blank line comes before and after. Lines have at most `mostWords` words (9 reach past
// 80 columns).
QString pageText(int mostWords = 9) {
    static const char* const words[] = {"alpha", "bravo", "charlie", "delta", "echo", "foxtrot", "golf",
                                        "hotel", "india", "juliet", "kilo", "lima", "mike", "november"};
    QString text = QStringLiteral("\n");
    std::uint32_t seed = 7;
    for (int n = 1; n <= kLines; ++n) {
        QString line = QStringLiteral("  #");
        for (int bit = kBits - 1; bit >= 0; --bit) line += (n >> bit) & 1 ? '#' : ' ';
        line += QStringLiteral("#   %1").arg(n, 3, 10, QLatin1Char('0'));
        seed = seed * 1103515245u + 12345u;
        for (int w = 0, count = std::min(2 + int((seed >> 16) % 8), mostWords); w < count; ++w) {
            seed = seed * 1103515245u + 12345u;
            line += ' ' + QString::fromLatin1(words[(seed >> 16) % 14]);
        }
        text += line + '\n';
    }
    return text + '\n';
}

// The line numbers an image shows, top to bottom, read from the code at the start of each line
// (-1 for a line whose code cannot be read). Works for any monospaced font on a plain background.
std::vector<int> lineNumbers(const QImage& shot) {
    const QImage image = shot.convertToFormat(QImage::Format_RGB32);
    const int w = image.width(), h = image.height();
    std::array<int, 256> counts{};
    std::vector<std::uint8_t> luma(std::size_t(w) * std::size_t(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) ++counts[luma[std::size_t(y) * w + x] = std::uint8_t(qGray(image.pixel(x, y)))];
    const int background = int(std::max_element(counts.begin(), counts.end()) - counts.begin());
    const auto ink = [&](int x, int y) { return std::abs(luma[std::size_t(y) * w + x] - background) > 100; };
    std::vector<int> columns(std::size_t(w), 0);
    for (int x = 0; x < w; ++x)
        for (int y = 0; y < h; ++y) columns[std::size_t(x)] += ink(x, y);
    const int x0 = int(std::find_if(columns.begin(), columns.end(), [](int c) { return c > 0; }) - columns.begin());
    // The widest run of empty columns near the start is the gap between the code and the rest.
    int gapStart = -1, gapEnd = -1;
    for (int x = x0, run = -1; x < std::min(w, x0 + w / 2); ++x) {
        if (columns[std::size_t(x)] == 0) {
            if (run < 0) run = x;
        } else if (run >= 0) {
            if (x - run > gapEnd - gapStart) gapStart = run, gapEnd = x;
            run = -1;
        }
    }
    if (gapStart < 0) return {};
    const double cell = (gapEnd - x0) / 15.0;             // the words start in cell 15
    const double glyph = gapStart - x0 - 11 * cell;        // the ink width of '#'
    if (cell < 3 || glyph < 1) return {};
    std::vector<int> numbers;
    for (int y = 0; y < h;) {
        const auto inked = [&](int row) {
            for (int x = x0; x < gapStart; ++x)
                if (ink(x, row)) return true;
            return false;
        };
        if (!inked(y)) {
            ++y;
            continue;
        }
        int bottom = y;
        while (bottom < h && inked(bottom)) ++bottom;
        const auto cellInked = [&](int i) {
            const int centre = int(std::lround(x0 + i * cell + glyph / 2));
            const int reach = std::max(1, int(glyph / 4));
            for (int row = y; row < bottom; ++row)
                for (int x = centre - reach; x <= centre + reach; ++x)
                    if (x >= 0 && x < w && ink(x, row)) return true;
            return false;
        };
        int value = 0;
        for (int i = 1; i <= kBits; ++i) value = value * 2 + cellInked(i);
        numbers.push_back(cellInked(0) && cellInked(kBits + 1) ? value : -1);
        y = bottom;
    }
    return numbers;
}

struct Program {
    const char* name;
    QString path;
    QStringList arguments;
    bool startsAtEnd;  // a terminal shows the end of its output
};

// One program with the page, and a scrolling capture of its text with the real desktop pieces.
struct Desk : X11ScrollingDesk {
    TestFolder folder;
    QProcess program;
    QRect viewport;

    explicit Desk(const Program& p, const QString& text = pageText()) {
        const QString page = QString::fromStdString((folder / "page.txt").string());
        QFile file(page);
        if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0) return;
        file.close();
        program.start(p.path, QStringList(p.arguments).replaceInStrings("PAGE", page));
        std::optional<AppIdentity> front;
        if (!waitUntil([&] { return (front = apps.frontmost()) && front->processId == program.processId(); }, 20000))
            return;
        QThread::msleep(500);  // placed and painted
        // The text: the window's client area less a small margin.
        const QString info = runProgram(QStringLiteral("xwininfo"), {"-id", QString::number(front->window)});
        const auto number = [&](const char* label) {
            const auto match = QRegularExpression(QString::fromLatin1(label) + QStringLiteral(":\\s+(-?\\d+)")).match(info);
            return match.hasMatch() ? match.captured(1).toInt() : -1;
        };
        const QRect client(number("Absolute upper-left X"), number("Absolute upper-left Y"), number("Width"), number("Height"));
        if (p.startsAtEnd) {
            wheel.scroll(client.center(), -3 * kLines);
            QThread::msleep(500);
        }
        if (client.width() > 100 && client.height() > 100) viewport = client.adjusted(4, 4, -4, -4);
    }
    ~Desk() {
        capture.reset();
        program.terminate();
        if (!program.waitForFinished(3000)) program.kill();
    }
    void start(bool automatic) {
        startCapture(viewport, [&](auto& s) { s.automatic = automatic; });
        ASSERT_TRUE(capture->running()) << capture->status().toStdString();
    }
    // Scrolls by hand, three wheel clicks at a time, each once the capture took the last one,
    // until the page ends; then stops and saves.
    void scrollByHand() {
        for (int still = 0, height = capture->height(); still < 2 && !capture->paused();) {
            wheel.scroll(viewport.center(), 3);
            waitUntil([&] { return capture->height() > height || capture->paused(); }, 3000);
            still = capture->height() > height ? 0 : still + 1;
            height = capture->height();
        }
        capture->stopAndSave();
    }
};

void PrintTo(const Program& program, std::ostream* out) { *out << program.name; }

class ScrollingCapturePrograms : public ::testing::TestWithParam<Program> {};

TEST_P(ScrollingCapturePrograms, CapturesEveryLineOnceInOrderAutomaticallyAndByHand) {
    std::vector<int> expected(kLines);
    std::iota(expected.begin(), expected.end(), 1);
    for (const bool automatic : {true, false}) {
        SCOPED_TRACE(automatic ? "automatic" : "by hand");
        Desk desk(GetParam());
        ASSERT_TRUE(desk.viewport.isValid()) << GetParam().name << " did not come up";
        desk.start(automatic);
        if (!automatic) desk.scrollByHand();
        ASSERT_TRUE(waitUntil([&] { return desk.closed || desk.capture->paused(); }, 120000))
            << desk.capture->status().toStdString();
        ASSERT_TRUE(desk.closed) << desk.capture->status().toStdString();
        EXPECT_FALSE(desk.partial);
        const auto numbers = lineNumbers(desk.shot->image);
        EXPECT_EQ(numbers, expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    RealPrograms, ScrollingCapturePrograms,
    ::testing::Values(
        Program{"xterm", "xterm",
                {"-geometry", "90x42+40+40", "-e", "sh", "-c", "printf '\\033[?25l'; cat \"$0\"; exec sleep 600", "PAGE"},
                true},
        Program{"gtk3", "/usr/bin/python3", {BREVALTO_SOURCE_DIR "/tests/Capture/Peers/ScrollTextGtk.py", "3", "PAGE"}, false},
        Program{"gtk4", "/usr/bin/python3", {BREVALTO_SOURCE_DIR "/tests/Capture/Peers/ScrollTextGtk.py", "4", "PAGE"}, false},
        Program{"qt", BREVALTO_BINARY_DIR "/tests/ScrollTextView", {"PAGE"}, false}),
    [](const auto& info) { return std::string(info.param.name); });

// vim in xterm through the numbered page, scrolled by the capture over the whole window, bottom
// line included: vim's bottom line changes at every step (the file message goes, the ruler's
// numbers change) and its cursor block moves with the view. The image must show every line of
// the file once, in order, then vim's "~" rows and its bottom line once, at the end: (a) with
// vim's defaults and the cursor shown, (b) with a status line and the cursor hidden. Bands of ink
// that carry no line code are allowed only there, and where the first screen showed the cursor
// on the file's blank first line.
TEST(ScrollingCaptureVim, CapturesTheFileOnceThenTheTildeRowsAndTheBottomLineOnce) {
    const struct {
        const char* name;
        const char* geometry;
        QString settings;
    } cases[] = {{"defaults, cursor shown", "90x42+40+40", QString()},
                 {"laststatus=2, cursor hidden", "90x42+40+40", QStringLiteral("-c 'set laststatus=2 t_ve=' ")},
                 {"80x24, defaults, cursor shown", "80x24+40+40", QString()}};  // lines short of 80 columns
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Desk desk({"vim", "xterm",
                   {"-geometry", c.geometry, "-b", "4", "-e", "sh", "-c",
                    (c.settings.isEmpty() ? QString() : QStringLiteral("printf '\\033[?25l'; ")) +
                        QStringLiteral("exec vim -u DEFAULTS -i NONE -R ") + c.settings + QStringLiteral("\"$0\""),
                    "PAGE"},
                   false},
                  pageText(6));
        ASSERT_TRUE(desk.viewport.isValid()) << "vim did not come up";
        desk.start(true);
        ASSERT_TRUE(waitUntil([&] { return desk.closed || desk.capture->paused(); }, 120000))
            << desk.capture->status().toStdString();
        ASSERT_TRUE(desk.closed) << desk.capture->status().toStdString();
        EXPECT_FALSE(desk.partial);
        const QImage image = desk.shot->image.convertToFormat(QImage::Format_RGB32);
        // The bands of rows with ink: the file's lines begin where most bands begin; the others
        // (the cursor on the blank first line, "~" rows, the bottom line) are blanked out before
        // the lines are read.
        const int w = image.width() * 43 / 48;
        const QRgb background = image.pixel(w - 1, 0);
        const auto left = [&](int y) {  // the first column with ink; w for none
            int x = 0;
            while (x < w && std::abs(qGray(image.pixel(x, y)) - qGray(background)) <= 100) ++x;
            return x;
        };
        struct Band {
            int top, bottom, left;
        };
        std::vector<Band> bands;
        std::map<int, int> lefts;
        for (int y = 0; y < image.height(); ++y) {
            if (left(y) == w) continue;
            Band band{y, y, w};
            for (; band.bottom < image.height() && left(band.bottom) < w; ++band.bottom) band.left = std::min(band.left, left(band.bottom));
            bands.push_back(band);
            ++lefts[band.left];
            y = band.bottom;
        }
        ASSERT_FALSE(bands.empty());
        const int lineLeft = std::max_element(lefts.begin(), lefts.end(), [](auto& a, auto& b) { return a.second < b.second; })->first;
        QImage lines = image;
        std::vector<QImage> others;
        std::string kinds;  // one letter a band: l a line of the file, o any other
        for (const Band& band : bands) {
            kinds += band.left == lineLeft ? 'l' : 'o';
            if (band.left == lineLeft) continue;
            others.push_back(image.copy(0, band.top, image.width(), band.bottom - band.top));
            QPainter(&lines).fillRect(0, band.top, image.width(), band.bottom - band.top, QColor::fromRgb(background));
        }
        std::vector<int> expected(kLines);
        std::iota(expected.begin(), expected.end(), 1);
        EXPECT_EQ(lineNumbers(lines), expected);
        // Other bands: the cursor before the first line (cursor shown), then after the lines the
        // "~" rows, all alike, and the bottom line, once.
        const std::size_t lead = kinds.find('l');
        EXPECT_LE(lead, c.settings.isEmpty() ? 1u : 0u) << kinds;
        EXPECT_EQ(kinds.find('o', lead), std::size_t(lead + kLines)) << kinds;
        const int trailing = int(kinds.size() - lead - kLines);
        ASSERT_GE(trailing, 2) << "no \"~\" rows: " << kinds;
        const auto tilde = others.end() - trailing;
        for (auto it = tilde; it != others.end() - 1; ++it) EXPECT_EQ(*it, *tilde) << "a \"~\" row";
        EXPECT_NE(others.back(), *tilde) << "the bottom line";
    }
}

// The 400 lines of a look-alike page, made from blocks n = 1, 2, ...
QStringList pageLines(const std::function<QStringList(const QString& n)>& block) {
    QStringList lines;
    for (int n = 1; lines.size() < 400; ++n) lines << block(QStringLiteral("%1").arg(n, 3, 10, QLatin1Char('0')));
    return lines;
}

// Whether an image shows `lines` one under the other, each once, whole and in order. The image is
// cut into lines where rows without ink part them (the scroll-bar strip at the right aside); their
// steps, measured in line pitches, must leave room for the blank lines of the text and no more;
// lines of different text must differ in their pixels, so no line is missing or doubled; and
// lines alike but for their digits must be as high as each other, so none lost a few rows.
::testing::AssertionResult showsLinesOnce(const QImage& shot, const QStringList& lines) {
    const QImage image = shot.convertToFormat(QImage::Format_RGB32);
    const int w = image.width() * 43 / 48, h = image.height();
    std::map<QRgb, int> counts;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) ++counts[image.pixel(x, y)];
    const QRgb background = std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) { return a.second < b.second; })->first;
    const auto inked = [&](int y) {
        for (int x = 0; x < w; ++x)
            if (std::abs(qGray(image.pixel(x, y)) - qGray(background)) > 60) return true;
        return false;
    };
    std::vector<std::pair<int, QByteArray>> bands;  // top row, pixels
    for (int y = 0; y < h; ++y) {
        if (!inked(y)) continue;
        const int top = y;
        while (y < h && inked(y)) ++y;
        const QImage band = image.copy(0, top, w, y - top);
        bands.emplace_back(top, QByteArray(reinterpret_cast<const char*>(band.constBits()), band.sizeInBytes()));
    }
    std::vector<int> expected;  // the lines with text
    for (int i = 0; i < lines.size(); ++i)
        if (!lines[i].isEmpty()) expected.push_back(i);
    if (bands.size() != expected.size())
        return ::testing::AssertionFailure() << bands.size() << " lines of ink for " << expected.size() << " lines of text";
    std::vector<int> steps;
    for (std::size_t k = 1; k < bands.size(); ++k) steps.push_back(bands[k].first - bands[k - 1].first);
    std::vector<int> sorted = steps;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const double pitch = sorted[sorted.size() / 2];
    for (std::size_t k = 1; k < bands.size(); ++k) {
        const int lineSteps = expected[k] - expected[k - 1];
        if (std::abs(steps[k - 1] - lineSteps * pitch) > pitch / 3)
            return ::testing::AssertionFailure() << "line " << expected[k] + 1 << " \"" << lines[expected[k]].toStdString()
                                                 << "\" lies " << steps[k - 1] << " rows below the one before, not "
                                                 << lineSteps << " x " << pitch;
    }
    std::map<QByteArray, QString> textOf;
    std::map<QString, int> heightOf;  // by the text with its digits as 0
    for (std::size_t k = 0; k < bands.size(); ++k) {
        const QString& text = lines[expected[k]];
        const int height = int(bands[k].second.size() / (4 * w));
        const auto [shape, first] = heightOf.emplace(QString(text).replace(QRegularExpression("[0-9]"), "0"), height);
        if (!first && shape->second != height)
            return ::testing::AssertionFailure() << "line " << expected[k] + 1 << " \"" << text.toStdString() << "\" is "
                                                 << height << " rows high, not " << shape->second;
        const auto [it, fresh] = textOf.emplace(bands[k].second, text);
        if (!fresh && it->second != text)
            return ::testing::AssertionFailure() << "line " << expected[k] + 1 << " \"" << text.toStdString()
                                                 << "\" shows the pixels of \"" << it->second.toStdString() << "\"";
    }
    return ::testing::AssertionSuccess();
}

struct TextPage {
    const char* name;
    Program program;
    QStringList lines;
    // What a program shows in a terminal of `rows` text rows besides the lines: `above` rows at
    // the top, `below` at the bottom (bars, a status line), cut off before the lines are read.
    int rows = 0, above = 0, below = 0;
};

void PrintTo(const TextPage& page, std::ostream* out) { *out << page.name; }

class ScrollingCaptureTextPages : public ::testing::TestWithParam<TextPage> {};

TEST_P(ScrollingCaptureTextPages, CapturesEveryLineOnceInOrderToTheEnd) {
    ASSERT_FALSE(GetParam().lines.isEmpty()) << "no text for " << GetParam().name << " (scripts/setup installs it)";
    Desk desk(GetParam().program, GetParam().lines.join('\n') + '\n');
    ASSERT_TRUE(desk.viewport.isValid()) << GetParam().name << " did not come up";
    desk.start(true);
    ASSERT_TRUE(waitUntil([&] { return desk.closed || desk.capture->paused(); }, 120000))
        << desk.capture->status().toStdString();
    ASSERT_TRUE(desk.closed) << desk.capture->status().toStdString();
    EXPECT_FALSE(desk.partial);
    const TextPage& page = GetParam();
    QImage image = desk.shot->image;
    if (page.rows) {
        const int row = desk.viewport.height() / page.rows;
        image = image.copy(0, page.above * row, image.width(), image.height() - (page.above + page.below) * row);
    }
    EXPECT_TRUE(showsLinesOnce(image, page.lines));
}

// The source of zlib's example program as zlib1g-dev installs it, compressed or not; no lines
// when it is missing.
QStringList zlibExampleLines() {
    const QString path = QStringLiteral("/usr/share/doc/zlib1g-dev/examples/example.c");
    QFile file(path);
    const QString text = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll())
                         : QFile::exists(path + ".gz") ? runProgram(QStringLiteral("zcat"), {path + ".gz"})
                                                       : QString();
    QStringList lines = text.split('\n');
    if (lines.size() > 1 && lines.back().isEmpty()) lines.removeLast();
    return text.isEmpty() ? QStringList() : lines;
}

const QString gtkText = QStringLiteral(BREVALTO_SOURCE_DIR "/tests/Capture/Peers/ScrollTextGtk.py");
const QStringList numbered = pageLines([](const QString& n) { return QStringList{"Line " + n + " the same words here"}; });

INSTANTIATE_TEST_SUITE_P(
    LookAlikeLines, ScrollingCaptureTextPages,
    ::testing::Values(
        TextPage{"xterm_count",
                 {"xterm", "xterm", {"-geometry", "90x42+40+40", "-b", "4", "-e", "sh", "-c", "printf '\\033[?25l'; seq 1 400; exec sleep 600"}, true},
                 pageLines([](const QString& n) { return QStringList{QString::number(n.toInt())}; })},
        // Real C source about 600 pixels wide: text in the left part of the view, blank and
        // brace-only lines.
        TextPage{"xterm_zlib_example",
                 {"xterm", "xterm", {"-geometry", "100x42+40+40", "-b", "4", "-e", "sh", "-c", "printf '\\033[?25l'; cat \"$0\"; exec sleep 600", "PAGE"}, true},
                 zlibExampleLines()},
        // The wheel moves the cursor down the screen before the view follows it. Below the lines:
        // the empty line past the file's end, with the cursor, the status line and two of keys.
        TextPage{"nano_zlib_example",
                 {"nano", "xterm", {"-geometry", "100x46+40+40", "-b", "4", "-e", "nano", "--ignorercfiles", "--mouse", "PAGE"}, false},
                 zlibExampleLines(), 46, 1, 4},
        // A title line whose offset and share change at every step, a bar of keys at the bottom.
        TextPage{"mc_viewer_zlib_example",
                 {"mc", "xterm", {"-geometry", "100x46+40+40", "-b", "4", "-e", "mc", "-v", "PAGE"}, false},
                 zlibExampleLines(), 46, 1, 1},
        TextPage{"gtk3_numbered", {"gtk3", "/usr/bin/python3", {gtkText, "3", "PAGE"}, false}, numbered},
        TextPage{"qt_numbered", {"qt", BREVALTO_BINARY_DIR "/tests/ScrollTextView", {"PAGE"}, false}, numbered},
        TextPage{"gtk3_code", {"gtk3", "/usr/bin/python3", {gtkText, "3", "PAGE"}, false},
                 pageLines([](const QString& n) {
                     return QStringList{"static int value" + n + "(int x)", "{", "    return x + " + QString::number(n.toInt()) + ";", "}", ""};
                 })}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace brevalto
