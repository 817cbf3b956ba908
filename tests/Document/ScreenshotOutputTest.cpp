#include "Document/ScreenshotOutput.h"
#include "Errors/ScreenshotError.h"
#include "Imaging/ImageLimits.h"

#include <QColorSpace>
#include <QDateTime>

#include <gtest/gtest.h>

#include <limits>

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

}  // namespace
}  // namespace brevalto
