#include "AI/ReplacementTextRenderer.h"
#include "Errors/AIError.h"
#include "Platform/Task.h"

#include <QBuffer>
#include <QGlyphRun>
#include <QImage>
#include <QImageWriter>
#include <QRawFont>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace brevalto {
namespace {

using namespace replacementText;

QByteArray encoded(const QImage& image, const char* format = "png") {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, format).write(image);
    return bytes;
}

QByteArray plainImage(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(90, 160, 90));
    return encoded(image);
}

EditableImageRegion region(int id, double x, double y, double w, double h, const char* text = "Hello") {
    EditableImageRegion r;
    r.id = id;
    r.original = r.text = QString::fromUtf8(text);
    r.x = x, r.y = y, r.width = w, r.height = h;
    return r;
}

// The message of a render, or "" when it succeeds.
std::string outcome(const QByteArray& source, const std::vector<EditableImageRegion>& regions) {
    try {
        const QByteArray png = renderReplacementText(source, regions);
        return QImage::fromData(png, "png").isNull() ? "not a PNG" : "";
    } catch (const AIError& e) {
        return e.what();
    }
}

TEST(ReplacementTextRendererTest, RegionsAreCheckedInOrderBeforeAnythingIsDrawn) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::string coords = ": text is empty or coordinates are outside the image.";
    const std::string overlap = " overlaps another region. Adjust the coordinates or turn one off.";
    const std::string tooLong =
        ": translation is too long. Enlarge the region or shorten the text; the app does not clip text.";
    auto disabled = [](EditableImageRegion r) {
        r.enabled = false;
        return r;
    };
    auto scaled = [](EditableImageRegion r, double scale) {
        r.scale = scale;
        return r;
    };
    struct Case {
        const char* name;
        std::vector<EditableImageRegion> regions;
        std::string expected;
    } cases[] = {
        {"right edge within tolerance", {region(0, 0.5, 0.1, 0.500009, 0.2)}, ""},
        {"right edge beyond tolerance", {region(0, 0.5, 0.1, 0.5001, 0.2)}, "Region 1" + coords},
        {"top edge beyond tolerance", {region(4, 0.1, 0.9, 0.2, 0.1001)}, "Region 5" + coords},
        {"negative origin", {region(0, -0.01, 0.1, 0.2, 0.2)}, "Region 1" + coords},
        {"zero width", {region(0, 0.1, 0.1, 0, 0.2)}, "Region 1" + coords},
        {"NaN coordinate", {region(2, nan, 0.1, 0.2, 0.2)}, "Region 3" + coords},
        {"infinite height", {region(0, 0.1, 0.1, 0.2, inf)}, "Region 1" + coords},
        {"infinite scale", {scaled(region(0, 0.1, 0.1, 0.2, 0.2), inf)}, "Region 1" + coords},
        {"blank text", {region(0, 0.1, 0.1, 0.2, 0.2, " \n\t ")}, "Region 1" + coords},
        {"overlap names the later region",
         {region(0, 0.1, 0.1, 0.3, 0.3), region(1, 0.3, 0.3, 0.3, 0.3)},
         "Region 2" + overlap},
        {"shared edge is no overlap", {region(0, 0, 0, 0.5, 0.5), region(1, 0.5, 0, 0.5, 0.5)}, ""},
        {"first bad region is reported",
         {region(0, 0.1, 0.1, 0.2, 0.2), region(1, 0.1, 0.5, 0.2, 2), region(2, 0.1, 0.5, 0.2, 0.2, "")},
         "Region 2" + coords},
        {"disabled regions are neither checked nor counted",
         {disabled(region(0, -1, nan, 5, 5, "")), region(1, 0.1, 0.1, 0.3, 0.3),
          disabled(region(2, 0.1, 0.1, 0.3, 0.3))},
         ""},
        {"text too long at 6 points",
         {region(7, 0.1, 0.1, 0.05, 0.05, "a sentence far too long for a tiny box at six points")},
         "Region 8" + tooLong},
    };
    const QByteArray source = plainImage(400, 300);
    for (const Case& c : cases) EXPECT_EQ(outcome(source, c.regions), c.expected) << c.name;
}

TEST(ReplacementTextRendererTest, ImageLimits) {
    const std::string unrenderable = kUnrenderable;
    EXPECT_EQ(outcome(plainImage(4000, 4000), {region(0, 0.1, 0.1, 0.2, 0.2)}), "");
    EXPECT_EQ(outcome(plainImage(4001, 4000), {}), unrenderable);
    EXPECT_EQ(outcome(QByteArray("not an image at all"), {}), unrenderable);
    EXPECT_EQ(outcome(QByteArray(), {}), unrenderable);
    // 3400 x 3400 pixels of noise: 34.7 MB of samples that PNG cannot compress.
    QImage noise(3400, 3400, QImage::Format_RGB32);
    std::mt19937 random(3);
    for (int y = 0; y < noise.height(); ++y) {
        auto* line = reinterpret_cast<quint32*>(noise.scanLine(y));
        for (int x = 0; x < noise.width(); ++x) line[x] = random() | 0xFF000000u;
    }
    EXPECT_EQ(outcome(encoded(noise, "bmp"), {}), std::string(kOutputTooLarge));
}

TEST(ReplacementTextRendererTest, StartingSizeIsCappedAndFloored) {
    struct Case {
        double scale, height, size;
    } cases[] = {{2, 200, 160}, {1, 100, 78}, {0.4, 10, 6}, {1, 205.2, 160}, {1.5, 40, 46.8}};
    for (const Case& c : cases) EXPECT_DOUBLE_EQ(startingTextSize(c.scale, c.height), c.size) << c.scale << " " << c.height;
}

TEST(ReplacementTextRendererTest, MaskAndTextStayInsideTheirBoxAndTheRestIsUnchanged) {
    QImage source(400, 200, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 400; ++x) source.setPixel(x, y, qRgb(x % 256, y, 128));
    EditableImageRegion r = region(0, 0.25, 0.25, 0.5, 0.5, "Bonjour le monde");
    r.background = QColor(255, 0, 0, 40);  // the mask is drawn opaque whatever its alpha
    r.foreground = QColor(0, 0, 255);
    const QImage out = QImage::fromData(renderReplacementText(encoded(source), {r}), "png")
                           .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    ASSERT_EQ(out.size(), source.size());
    const QRect box(100, 50, 200, 100);  // y = 0.25 from the bottom: rows 50 to 149 from the top
    int red = 0, blue = 0;
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 400; ++x) {
            const QRgb pixel = out.pixel(x, y);
            if (!box.adjusted(-1, -1, 1, 1).contains(x, y)) {
                ASSERT_EQ(pixel, source.pixel(x, y)) << x << "," << y;
                continue;
            }
            if (!box.adjusted(1, 1, -1, -1).contains(x, y)) continue;
            ASSERT_EQ(qAlpha(pixel), 255);
            ASSERT_EQ(qGreen(pixel), 0) << "source shows through the mask at " << x << "," << y;
            red += pixel == qRgb(255, 0, 0);
            blue += qBlue(pixel) > 200 && qRed(pixel) < 60;
        }
    EXPECT_GT(red, box.width() * box.height() / 2);
    EXPECT_GT(blue, 50);
}

// A point is an image pixel whatever the screen's resolution (ctest runs this again at another
// font DPI): a capital H at the 160-point cap stands about 117 pixels tall, as the cap height of
// the sans fonts used is 0.73 em, and a line of small interface text in a region 10 pixels high
// fits at 6 points.
TEST(ReplacementTextRendererTest, APointIsAnImagePixel) {
    QImage white(400, 400, QImage::Format_RGB32);
    white.fill(Qt::white);
    EditableImageRegion h = region(0, 0, 0, 1, 1, "H");
    h.foreground = Qt::black;
    const QImage out = QImage::fromData(renderReplacementText(encoded(white), {h}), "png");
    int top = out.height(), bottom = -1;
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width(); ++x)
            if (qGray(out.pixel(x, y)) < 128) top = std::min(top, y), bottom = std::max(bottom, y);
    EXPECT_NEAR(bottom - top + 1, 117, 4);

    EXPECT_EQ(outcome(plainImage(220, 10), {region(0, 0, 0, 1, 1, "Open settings")}), "");
}

// The fit refuses sizes by their least height without laying them out: it must pick the size
// that trying every size in turn picks, over texts of every target script and boxes of all shapes.
TEST(ReplacementTextRendererTest, FitPicksTheSizeThatTryingEverySizePicks) {
    const QString words[] = {
        QStringLiteral("Open"),   QStringLiteral("settings"), QStringLiteral("WWWWMMMM"),  QStringLiteral("il"),
        QStringLiteral("設定を開く"),     QStringLiteral("打开设置"),
        QStringLiteral("설정"),                       QStringLiteral("Mở cài đặt"),
        QStringLiteral("paramètres"),                    QStringLiteral("öffnenß"),
        QStringLiteral("42"),     QStringLiteral("https://example.com/a-long-path"),
    };
    const QString gaps[] = {QStringLiteral(" "), QStringLiteral("  "), QStringLiteral("\n"), QStringLiteral("\u3000"), QString()};
    std::mt19937 random(11);
    auto pick = [&](int n) { return int(random() % unsigned(n)); };
    int fitted = 0;
    for (int i = 0; i < 150; ++i) {
        QString text;
        for (int w = pick(20) + 1; w > 0; --w) text += words[pick(std::size(words))] + gaps[pick(std::size(gaps))];
        const QSizeF box(10 + pick(400), 8 + pick(200));
        const double start = startingTextSize(0.4 + pick(17) / 10.0, box.height());
        std::optional<double> linear;
        ReplacementTextLayout every(text);
        for (double size = start; size >= kMinSize && !linear; size -= kSizeStep) {
            const QSizeF measured = every.layOut(size, box.width());
            if (measured.height() <= box.height() && measured.width() <= box.width() + kWidthTolerance) linear = size;
        }
        ReplacementTextLayout fast(text);
        EXPECT_EQ(fitReplacementText(fast, box, start), linear)
            << text.toStdString() << " in " << box.width() << " x " << box.height() << " from " << start;
        fitted += linear.has_value();
    }
    EXPECT_GT(fitted, 50);  // both outcomes are well represented
    EXPECT_LT(fitted, 140);
}

TEST(ReplacementTextRendererTest, EveryTargetLanguageHasGlyphs) {
    const QString samples[] = {
        QStringLiteral("Open settings"),
        QStringLiteral("\u8A2D\u5B9A\u3092\u958B\u304F"),
        QStringLiteral("M\u1EDF c\u00E0i \u0111\u1EB7t"),
        QStringLiteral("\u6253\u5F00\u8BBE\u7F6E"),
        QStringLiteral("\uC124\uC815 \uC5F4\uAE30"),
        QStringLiteral("Ouvrir les param\u00E8tres \u0153uvre \u00C7a"),
        QStringLiteral("Einstellungen \u00F6ffnen \u00DF"),
    };
    for (const QString& text : samples) {
        ReplacementTextLayout layout(text);
        layout.layOut(24, 1000);
        int glyphs = 0;
        for (const QGlyphRun& run : layout.layout().glyphRuns())
            for (quint32 glyph : run.glyphIndexes()) {
                EXPECT_NE(glyph, 0u) << text.toStdString() << " in " << run.rawFont().familyName().toStdString();
                ++glyphs;
            }
        EXPECT_GE(glyphs, text.size() - 8) << text.toStdString();
    }
}

TEST(ReplacementTextRendererTest, StopsWhenCancelled) {
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(renderReplacementText(plainImage(50, 50), {region(0, 0.1, 0.1, 0.5, 0.5)}, stop.get_token()),
                 TaskCancelled);
}

}  // namespace
}  // namespace brevalto
