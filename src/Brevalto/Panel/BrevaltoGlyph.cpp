#include "Panel/BrevaltoGlyph.h"

#include "Platform/Symbols.h"

#include <QPainter>

namespace brevalto {

BrevaltoGlyph::BrevaltoGlyph(double size, QWidget* parent) : QWidget(parent), size_(size) {
    setAccessibleName(QStringLiteral("Brevalto"));
    setAttribute(Qt::WA_TranslucentBackground);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize BrevaltoGlyph::sizeHint() const {
    const int side = qRound(size_);
    return {side, side};
}

bool BrevaltoGlyph::imageAvailable() {
    static const bool available =
        !Symbols::templateImage(QStringLiteral("BrevaltoGlyph"), QSizeF(18, 18), Qt::black).isNull();
    return available;
}

void BrevaltoGlyph::paint(QPainter& painter, const QRectF& rect, double size, const QColor& color) {
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QRectF square(rect.center().x() - size / 2, rect.center().y() - size / 2, size, size);
    const QImage image = imageAvailable()
                             ? Symbols::templateImage(QStringLiteral("BrevaltoGlyph"), square.size(), color, ratio)
                             : Symbols::image(QStringLiteral("clipboard"), square.size(), color, ratio);
    if (!image.isNull()) painter.drawImage(square, image);
}

void BrevaltoGlyph::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    paint(painter, QRectF(rect()), size_, palette().color(foregroundRole()));
}

}  // namespace brevalto
