#include "Panel/BrevaltoGlyph.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace brevalto {
namespace {

TEST(BrevaltoGlyph, PaintsTheProductImageCentredInTheColour) {
    ASSERT_TRUE(BrevaltoGlyph::imageAvailable());
    QImage image(40, 40, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    BrevaltoGlyph::paint(painter, QRectF(0, 0, 40, 40), 20, QColor(255, 0, 0));
    painter.end();
    int covered = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() < 250) continue;
            ++covered;
            EXPECT_EQ(pixel.rgb(), QColor(255, 0, 0).rgb()) << x << "," << y;
            // Only the centred 20-point square is painted.
            EXPECT_TRUE(x >= 10 && x < 30 && y >= 10 && y < 30) << x << "," << y;
        }
    EXPECT_GT(covered, 20);
}

}  // namespace
}  // namespace brevalto
