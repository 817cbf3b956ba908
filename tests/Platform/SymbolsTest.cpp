#include "Platform/Symbols.h"

#include <gtest/gtest.h>

namespace brevalto {
namespace {

// Share of the image's pixels that the drawing covers, and whether every covered pixel has the
// requested colour.
std::pair<double, bool> coverage(const QImage& image, const QColor& color) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    int covered = 0;
    bool tinted = true;
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x) {
            const QColor pixel = argb.pixelColor(x, y);
            if (pixel.alpha() < 250) continue;
            ++covered;
            tinted = tinted && pixel.rgb() == color.rgb();
        }
    return {double(covered) / (argb.width() * argb.height()), tinted};
}

TEST(Symbols, EveryNameHasADrawing) {
    ASSERT_FALSE(Symbols::names().isEmpty());
    for (const QString& name : Symbols::names()) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_TRUE(Symbols::has(name));
        const QImage image = Symbols::image(name, QSizeF(24, 24), QColor(255, 0, 0), 2.0);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), QSize(48, 48));
        const auto [share, tinted] = coverage(image, QColor(255, 0, 0));
        EXPECT_GT(share, 0.05);
        EXPECT_LT(share, 0.95);
        EXPECT_TRUE(tinted);
        EXPECT_FALSE(Symbols::icon(name).pixmap(16, 16).isNull());
    }
}

TEST(Symbols, UnknownNamesAndSizesGiveNothing) {
    EXPECT_FALSE(Symbols::has(QStringLiteral("no.such.symbol")));
    EXPECT_TRUE(Symbols::image(QStringLiteral("no.such.symbol"), QSizeF(16, 16), Qt::white).isNull());
    EXPECT_TRUE(Symbols::icon(QStringLiteral("no.such.symbol")).isNull());
    EXPECT_TRUE(Symbols::image(QStringLiteral("clipboard"), QSizeF(0, 16), Qt::white).isNull());
    EXPECT_TRUE(Symbols::image(QStringLiteral("clipboard"), QSizeF(1e9, 1e9), Qt::white).isNull());
}

TEST(Symbols, TemplateImagesArePaintedInTheColour) {
    const QImage glyph = Symbols::templateImage(QStringLiteral("BrevaltoGlyph"), QSizeF(18, 18), Qt::white);
    ASSERT_FALSE(glyph.isNull());
    const auto [share, tinted] = coverage(glyph, Qt::white);
    EXPECT_GT(share, 0.05);
    EXPECT_TRUE(tinted);
    EXPECT_TRUE(Symbols::templateImage(QStringLiteral("NoSuchImage"), QSizeF(18, 18), Qt::white).isNull());
}

}  // namespace
}  // namespace brevalto
