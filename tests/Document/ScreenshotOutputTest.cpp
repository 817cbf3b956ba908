#include "Document/ScreenshotOutput.h"
#include "Errors/ScreenshotError.h"
#include "FakePasteboard.h"
#include "Imaging/ImageLimits.h"
#include "Platform/AtomicFile.h"
#include "TestFolder.h"

#include <QBuffer>
#include <QColorSpace>
#include <QDateTime>
#include <QImageReader>

#include <gtest/gtest.h>

#include <filesystem>
#include <limits>
#include <set>
#include <sys/stat.h>

namespace brevalto {
namespace {

using ScreenshotOutput::Format;

std::string errorOf(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const ScreenshotError& e) {
        return e.what();
    }
    return "";
}

QImage halfTransparent(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    for (int x = 0; x < width / 2; ++x)
        for (int y = 0; y < height; ++y) image.setPixelColor(x, y, QColor(255, 255, 255, 128));
    return image;
}

TEST(ScreenshotOutputTest, ScaleAndQualityBounds) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double scale, quality;
        bool accepted;
    } cases[] = {
        {0.25, 0.9, true}, {8, 0.9, true},   {0.2499, 0.9, false}, {8.01, 0.9, false}, {inf, 0.9, false},
        {nan, 0.9, false}, {1, 0, true},     {1, 1, true},         {1, -0.01, false},  {1, nan, false},
        {1, 1.01, false},
    };
    const QImage image = halfTransparent(4, 4);
    for (Format format : ScreenshotOutput::allFormats) {
        for (const Case& c : cases) {
            const std::string error =
                errorOf([&] { ScreenshotOutput::encode(image, format, Qt::white, false, c.scale, c.quality); });
            EXPECT_EQ(error.empty(), c.accepted) << c.scale << " " << c.quality;
            if (!c.accepted) {
                EXPECT_EQ(error, ScreenshotOutput::kInvalidScaleOrQualityMessage);
            }
        }
    }
    EXPECT_EQ(errorOf([&] { ScreenshotOutput::encode(QImage(), Format::png, Qt::white, false, 1, 1); }),
              kInvalidImageSizeMessage);
}

TEST(ScreenshotOutputTest, OutputSize) {
    struct Case {
        QSize input;
        double scale;
        QSize output;
    } cases[] = {
        {{3, 3}, 2, {2, 2}},  // 1.5 rounds up
        {{1, 1}, 8, {1, 1}},
        {{100, 50}, 0.5, {200, 100}},
        {{640, 480}, 1, {640, 480}},
        {{5, 7}, 4, {1, 2}},
    };
    for (const Case& c : cases) {
        for (Format format : ScreenshotOutput::allFormats) {
            const QByteArray bytes = ScreenshotOutput::encode(halfTransparent(c.input.width(), c.input.height()), format,
                                                              Qt::white, false, c.scale, 0.9);
            EXPECT_EQ(QImage::fromData(bytes).size(), c.output) << c.input.width() << " at " << c.scale;
        }
    }
}

TEST(ScreenshotOutputTest, TransparencyAndBackground) {
    const QImage image = halfTransparent(8, 8);
    const QImage png = QImage::fromData(ScreenshotOutput::encode(image, Format::png, Qt::black, false, 1, 0.9), "PNG");
    EXPECT_NEAR(png.pixelColor(1, 1).alpha(), 128, 1);
    EXPECT_EQ(png.pixelColor(6, 1).alpha(), 0);

    // A background colour's own alpha is ignored: JPEG is always opaque.
    const QImage jpeg = QImage::fromData(
        ScreenshotOutput::encode(image, Format::jpeg, QColor(0, 0, 0, 0), false, 1, 1), "JPEG");
    EXPECT_FALSE(jpeg.hasAlphaChannel());
    EXPECT_LT(jpeg.pixelColor(6, 1).lightness(), 10);    // transparent part: black
    EXPECT_NEAR(jpeg.pixelColor(1, 1).lightness(), 128, 12);  // half white over black

    // Quality matters for JPEG.
    QImage noisy(64, 64, QImage::Format_RGB32);
    for (int i = 0; i < 64 * 64; ++i) noisy.setPixel(i % 64, i / 64, qRgb(i * 37 % 256, i * 11 % 256, i * 71 % 256));
    EXPECT_LT(ScreenshotOutput::encode(noisy, Format::jpeg, Qt::white, false, 1, 0).size(),
              ScreenshotOutput::encode(noisy, Format::jpeg, Qt::white, false, 1, 1).size());
}

TEST(ScreenshotOutputTest, ColourSpaces) {
    QImage p3(4, 4, QImage::Format_ARGB32);
    p3.fill(QColor(200, 40, 40));
    p3.setColorSpace(QColorSpace(QColorSpace::DisplayP3));
    QImage grey(4, 4, QImage::Format_Grayscale8);
    grey.fill(128);

    struct Case {
        const char* name;
        QImage image;
        bool srgb;
        QColorSpace expected;
    } cases[] = {
        {"own space kept", p3, false, QColorSpace(QColorSpace::DisplayP3)},
        {"converted to sRGB", p3, true, QColorSpace(QColorSpace::SRgb)},
        {"no space: sRGB", grey, false, QColorSpace(QColorSpace::SRgb)},
    };
    for (const Case& c : cases) {
        const QImage out = QImage::fromData(ScreenshotOutput::encode(c.image, Format::png, Qt::white, c.srgb, 1, 0.9));
        EXPECT_EQ(out.colorSpace(), c.expected) << c.name;
    }
    // Converting to sRGB changes the stored values of a wide-gamut red: it is more saturated.
    const QImage converted = QImage::fromData(ScreenshotOutput::encode(p3, Format::png, Qt::white, true, 1, 0.9));
    EXPECT_GT(converted.pixelColor(0, 0).red(), 200);
    EXPECT_EQ(QImage::fromData(ScreenshotOutput::encode(grey, Format::png, Qt::white, false, 1, 0.9)).pixelColor(1, 1),
              QColor(128, 128, 128));
}

TEST(ScreenshotOutputTest, FileNames) {
    const QDateTime local(QDate(2026, 12, 8), QTime(7, 53, 42, 123), Qt::LocalTime);
    const Date date = local.toMSecsSinceEpoch() / 1000.0 - kUnixSecondsAtReferenceDate;
    const QString stamp = QStringLiteral("-20261208-075342-123");
    struct Case {
        QString prefix;
        QString base;
    } cases[] = {
        {"Screenshot", "Screenshot"},
        {"", "Screenshot"},
        {"//::\\?*", "Screenshot"},
        {"My shot: final", "My shot final"},
        {"a_b-c 1", "a_b-c 1"},
        {QString(70, QLatin1Char('x')), QString(60, QLatin1Char('x'))},
        {QString::fromUtf8("日本語 Ünï\u0301 ٣"), QString::fromUtf8("日本語 Ünï\u0301 ٣")},  // letters, marks, digits
        {QString::fromUtf8("a😀b.c"), "abc"},
        {QString::fromUtf8(u8"😀") + QString(60, QLatin1Char('y')) + "z", QString(60, QLatin1Char('y'))},
    };
    for (const Case& c : cases) EXPECT_EQ(ScreenshotOutput::fileName(c.prefix, date), c.base + stamp) << c.prefix.toStdString();
}

namespace fs = std::filesystem;

QUrl urlOf(const fs::path& path) { return QUrl::fromLocalFile(QString::fromStdString(path.string())); }

// The folder's entries, hidden ones included.
std::set<std::string> entries(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

// An image past the size rule that costs 8 MB, not 256.
QImage oversized() { return QImage(8001, 8001, QImage::Format_Mono); }

TEST(ScreenshotOutputTest, WriteUniqueTakesTheFirstFreeNameAndNeverReplaces) {
    TestFolder folder;
    AtomicFile::write(folder / "a.png", std::string_view("first"));
    AtomicFile::write(folder / "a-1.png", std::string_view("second"));
    fs::create_symlink(folder / "a.png", folder / "a-2.png");           // planted, to a file here
    fs::create_symlink("/nonexistent/target", folder / "a-3.png");      // dangling
    EXPECT_EQ(ScreenshotOutput::writeUnique("new", urlOf(folder / "a.png")), urlOf(folder / "a-4.png"));
    EXPECT_EQ(AtomicFile::read(folder / "a-4.png", 100), "new");
    EXPECT_EQ(AtomicFile::read(folder / "a.png", 100), "first");
    EXPECT_FALSE(fs::exists("/nonexistent/target"));
    struct stat st {};
    ASSERT_EQ(::lstat((folder / "a-4.png").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // Without an extension the number goes at the end; an empty payload is still a file.
    for (const char* expected : {"b", "b-1", "b-2"})
        EXPECT_EQ(ScreenshotOutput::writeUnique("", urlOf(folder / "b")), urlOf(folder / expected));
    EXPECT_EQ(entries(folder.path()), (std::set<std::string>{"a.png", "a-1.png", "a-2.png", "a-3.png", "a-4.png", "b",
                                                             "b-1", "b-2"}));
}

TEST(ScreenshotOutputTest, WriteUniqueRefusalsLeaveNothingBehind) {
    TestFolder folder;
    fs::create_directory(folder / "full");
    AtomicFile::write(folder / "full" / "s.png", std::string_view("0"));
    for (int n = 1; n <= 999; ++n) AtomicFile::write(folder / "full" / ("s-" + std::to_string(n) + ".png"), std::string_view("n"));
    AtomicFile::write(folder / "file", std::string_view("not a folder"));
    const std::set<std::string> before = entries(folder / "full");

    struct Case {
        const char* name;
        QUrl target;
        std::string error;  // empty: a file-system error
    } cases[] = {
        {"web address", QUrl("https://example.com/s.png"), ScreenshotOutput::kNotLocalFileMessage},
        {"folder as target", QUrl::fromLocalFile(QString::fromStdString(folder.path().string()) + "/"), ScreenshotOutput::kNotLocalFileMessage},
        {"vanished folder", urlOf(folder / "gone" / "s.png"), ScreenshotOutput::kNoFolderMessage},
        {"file as folder", urlOf(folder / "file" / "s.png"), ScreenshotOutput::kNoFolderMessage},
        {"all names taken", urlOf(folder / "full" / "s.png"), ScreenshotOutput::kNoUnusedNameMessage},
        {"folder not writable", QUrl::fromLocalFile("/proc/s.png"), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            ScreenshotOutput::writeUnique("bytes", c.target);
            ADD_FAILURE() << "written";
        } catch (const ScreenshotError& e) {
            EXPECT_EQ(e.what(), c.error);
        } catch (const FileError& e) {
            EXPECT_EQ(c.error, "") << e.what();
        }
    }
    EXPECT_EQ(entries(folder / "full"), before);
    EXPECT_EQ(entries(folder.path()), (std::set<std::string>{"full", "file"}));
}

TEST(ScreenshotOutputTest, ClipboardWritesCarryTheMarkersAndReplaceEverything) {
    TestFolder folder;
    FakePasteboard board;
    QImage image(30, 20, QImage::Format_ARGB32);
    image.fill(QColor(0, 128, 255, 128));
    auto expectOwnCopy = [&](const QStringList& types) {
        EXPECT_EQ(board.content().types(), types + (QStringList{PasteboardType::restored, PasteboardType::source}));
        EXPECT_EQ(board.content().data(PasteboardType::restored), std::optional<QByteArray>("1"));
        EXPECT_EQ(board.content().data(PasteboardType::source), std::optional<QByteArray>("app.brevalto"));
    };

    board.copyText(QStringLiteral("earlier"));
    ScreenshotOutput::copyImage(image, board);
    expectOwnCopy({PasteboardType::png});
    const QImage pasted = QImage::fromData(*board.content().data(PasteboardType::png), "PNG");
    EXPECT_EQ(pasted.size(), image.size());
    EXPECT_EQ(pasted.pixelColor(3, 3).alpha(), 128);

    AtomicFile::write(folder / "a b.png", std::string_view("x"));
    const QUrl url = urlOf(folder / "a b.png");
    ScreenshotOutput::copyFileURL(url, board);
    expectOwnCopy({PasteboardType::fileURL});
    EXPECT_EQ(board.content().data(PasteboardType::fileURL), std::optional<QByteArray>(url.toEncoded()));
    EXPECT_TRUE(url.toEncoded().contains("a%20b.png"));

    // Refusals leave the clipboard as it was.
    const std::int64_t count = board.changeCount();
    EXPECT_EQ(errorOf([&] { ScreenshotOutput::copyFileURL(QUrl("https://example.com/a.png"), board); }),
              ScreenshotOutput::kSaveBeforeCopyMessage);
    EXPECT_EQ(errorOf([&] { ScreenshotOutput::copyFileURL(urlOf(folder / "deleted.png"), board); }),
              ScreenshotOutput::kSaveBeforeCopyMessage);
    EXPECT_EQ(errorOf([&] { ScreenshotOutput::copyImage(oversized(), board); }), kInvalidImageSizeMessage);
    EXPECT_EQ(board.changeCount(), count);
    board.refuseWrites = true;
    EXPECT_EQ(errorOf([&] { ScreenshotOutput::copyImage(image, board); }), ScreenshotOutput::kClipboardMessage);
}

struct DecodedGIF {
    std::vector<QImage> frames;
    std::vector<int> delays;
    int loops = 0;
};

DecodedGIF decodeGIF(QByteArray bytes) {
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer, "gif");
    DecodedGIF gif;
    QImage frame;
    while (reader.read(&frame)) {
        gif.frames.push_back(frame.convertToFormat(QImage::Format_ARGB32));
        gif.delays.push_back(reader.nextImageDelay());
    }
    gif.loops = reader.loopCount();
    return gif;
}

TEST(ScreenshotOutputTest, BeforeAfterGIFDecodesToBothFramesLoopingForever) {
    // Before: flat colours and a transparent corner; after: a gradient of far more than 256
    // colours and one transparent pixel.
    QImage before(64, 48, QImage::Format_ARGB32);
    before.fill(QColor(200, 30, 40));
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) before.setPixelColor(x, y, Qt::transparent);
    for (int y = 20; y < 48; ++y) before.setPixelColor(40, y, QColor(1, 2, 3));
    QImage after(64, 48, QImage::Format_ARGB32);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) after.setPixelColor(x, y, QColor(x * 4, y * 5, (x + y) * 2, x + y ? 255 : 0));

    const DecodedGIF gif = decodeGIF(ScreenshotOutput::beforeAfterGIF(before, after, 0.1));
    ASSERT_EQ(gif.frames.size(), 2u);
    EXPECT_EQ(gif.delays, (std::vector<int>{100, 100}));
    EXPECT_EQ(gif.loops, -1);  // forever
    EXPECT_EQ(gif.frames[0].pixelColor(5, 5).alpha(), 0);
    EXPECT_EQ(gif.frames[0].pixelColor(20, 20), QColor(200, 30, 40));  // few colours stay exact
    EXPECT_EQ(gif.frames[0].pixelColor(40, 30), QColor(1, 2, 3));
    // Reduced to 256 colours: near on average, never far (a misplaced index would be).
    int worst = 0;
    double total = 0;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) {
            const QColor a = gif.frames[1].pixelColor(x, y), b = after.pixelColor(x, y);
            EXPECT_EQ(a.alpha(), b.alpha());
            if (b.alpha() == 0) continue;
            const int d[] = {std::abs(a.red() - b.red()), std::abs(a.green() - b.green()), std::abs(a.blue() - b.blue())};
            worst = std::max({worst, d[0], d[1], d[2]});
            total += d[0] + d[1] + d[2];
        }
    EXPECT_LE(worst, 48);
    EXPECT_LE(total / (64 * 48 * 3), 8.0) << worst;
    EXPECT_EQ(decodeGIF(ScreenshotOutput::beforeAfterGIF(after, after, 30)).delays, (std::vector<int>{30000, 30000}));

    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (double delay : {0.09, 30.5, nan, std::numeric_limits<double>::infinity()})
        EXPECT_EQ(errorOf([&] { ScreenshotOutput::beforeAfterGIF(after, after, delay); }),
                  ScreenshotOutput::kGIFInputMessage) << delay;
    QImage a(100, 80, QImage::Format_RGB32), b(100, 81, QImage::Format_RGB32);
    a.fill(Qt::white);
    b.fill(Qt::white);
    EXPECT_EQ(errorOf([&] { ScreenshotOutput::beforeAfterGIF(a, b, 1); }), ScreenshotOutput::kGIFInputMessage);
    EXPECT_EQ(errorOf([&] { ScreenshotOutput::beforeAfterGIF(oversized(), oversized(), 1); }), kInvalidImageSizeMessage);
    EXPECT_EQ(errorOf([&] { ScreenshotOutput::encode(oversized(), Format::png, Qt::white, false, 1, 0.9); }),
              kInvalidImageSizeMessage);
}

TEST(ScreenshotOutputTest, PNGKeepsEveryPixelOfAnOpaqueScreenshot) {
    QImage image(97, 61, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) image.setPixel(x, y, qRgb(x * 37 % 256, y * 91 % 256, (x ^ y) & 255));
    QImage decoded = QImage::fromData(ScreenshotOutput::encode(image, Format::png, Qt::white, false, 1, 0.9), "PNG");
    decoded.setColorSpace(QColorSpace());
    EXPECT_FALSE(decoded.hasAlphaChannel());
    EXPECT_EQ(decoded.convertToFormat(QImage::Format_RGB32), image);
}

}  // namespace
}  // namespace brevalto
