#pragma once

#include <QColor>
#include <QRectF>
#include <QWidget>

class QPainter;

namespace brevalto {

// The product glyph: the "BrevaltoGlyph" template image painted in the foreground colour of its
// surroundings, or the "clipboard" symbol when the image is missing.
class BrevaltoGlyph : public QWidget {
    Q_OBJECT
public:
    // size: the side of the square the glyph occupies, in points.
    explicit BrevaltoGlyph(double size, QWidget* parent = nullptr);

    QSize sizeHint() const override;

    // Whether the glyph image could be read; decided once per process.
    static bool imageAvailable();
    // Paints the glyph centred in the square of side `size` centred in rect.
    static void paint(QPainter& painter, const QRectF& rect, double size, const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double size_;
};

}  // namespace brevalto
