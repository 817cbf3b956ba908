#include "Document/ScreenshotDragView.h"

#include "Document/ScreenshotFilePromise.h"
#include "Document/ScreenshotOutput.h"
#include "Platform/Symbols.h"

#include <QDrag>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

#include <cmath>

namespace brevalto {

ScreenshotDragView::ScreenshotDragView(QWidget* parent) : QWidget(parent) {
    setAccessibleName(accessibleLabel);
    setCursor(Qt::OpenHandCursor);
}

ScreenshotDragView::~ScreenshotDragView() = default;

void ScreenshotDragView::paintEvent(QPaintEvent*) {
    const QSizeF size(15, 15);
    const QImage symbol = Symbols::image(QStringLiteral("arrow.up.doc"), size, palette().color(QPalette::WindowText),
                                         devicePixelRatioF());
    if (symbol.isNull()) return;
    QPainter painter(this);
    painter.drawImage(QRectF(QPointF(width() - size.width(), height() - size.height()) / 2, size), symbol);
}

void ScreenshotDragView::mousePressEvent(QMouseEvent* event) {
    start_ = event->scenePosition();
    event->accept();
}

void ScreenshotDragView::mouseMoveEvent(QMouseEvent* event) {
    if (active_ || !start_ || !(event->buttons() & Qt::LeftButton)) return;
    const QPointF delta = event->scenePosition() - *start_;
    if (std::hypot(delta.x(), delta.y()) <= 4 || !makeImage) return;
    startDrag();
}

void ScreenshotDragView::startDrag() {
    QImage image;
    QByteArray png;
    try {
        image = makeImage();
        if (!folder) return;
        png = ScreenshotOutput::encode(image, ScreenshotOutput::Format::png, QColor(Qt::white), false, 1, 0.9);
    } catch (const std::exception& error) {
        if (failed) failed(error);
        return;
    }
    const QString name = ScreenshotOutput::fileName(QStringLiteral("Brevalto"), referenceDateNow()) +
                         QStringLiteral(".png");
    promise_ = std::make_shared<ScreenshotFilePromise>(std::move(png), name, *folder);

    // On the heap, as Qt asks: the platform may keep the drag for a while to answer late requests
    // and deletes it itself; this view, its parent, deletes it otherwise.
    auto* drag = new QDrag(this);
    drag->setMimeData(ScreenshotFilePromise::mimeData(promise_));
    drag->setPixmap(QPixmap::fromImage(image.scaled(140, 90, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    active_ = true;
    runDrag(*drag);
    active_ = false;
    start_.reset();
}

void ScreenshotDragView::runDrag(QDrag& drag) { drag.exec(Qt::CopyAction); }

}  // namespace brevalto
