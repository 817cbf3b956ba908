#include "Capture/FrozenCaptureView.h"

#include "Platform/Geometry.h"

#include <QFontDatabase>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace brevalto {

namespace {

using Selection = CaptureCoordinator::Selection;

}  // namespace

FrozenCaptureView::FrozenCaptureView(QImage image, double scale, std::shared_ptr<FrozenCaptureSelection> shared,
                                     QPointF imageOrigin, bool finishesOnMouseUp, Completed completed,
                                     std::function<void()> changed, QWidget* parent)
    : QWidget(parent) {
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::CrossCursor);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(QStringLiteral("Frozen screenshot region selector"));
    reset(std::move(image), scale, std::move(shared), imageOrigin, finishesOnMouseUp, std::move(completed),
          std::move(changed));
    resize(static_cast<int>(std::ceil(image_.width() / scale_)), static_cast<int>(std::ceil(image_.height() / scale_)));
}

void FrozenCaptureView::reset(QImage image, double scale, std::shared_ptr<FrozenCaptureSelection> shared,
                              QPointF imageOrigin, bool finishesOnMouseUp, Completed completed,
                              std::function<void()> changed) {
    image_ = std::move(image);
    scale_ = scale > 0 ? scale : 1;
    shared_ = std::move(shared);
    imageOrigin_ = imageOrigin;
    finishesOnMouseUp_ = finishesOnMouseUp;
    completed_ = std::move(completed);
    changed_ = std::move(changed);
    setAccessibleDescription(
        finishesOnMouseUp_ ? QStringLiteral("Drag a viewport. Release to start scrolling; Escape cancels.")
                           : QStringLiteral("Drag a region. Arrow keys move it by one pixel; Shift uses ten pixels; "
                                            "Alt resizes. Return captures, Escape cancels, Space chooses a window."));
    update();
}

void FrozenCaptureView::release() {
    image_ = QImage();
    completed_ = nullptr;
    changed_ = nullptr;
    shared_ = std::make_shared<FrozenCaptureSelection>();
}

QPointF FrozenCaptureView::imagePoint(QPointF viewPoint, double scale, QPointF imageOrigin, QSize imageSize) {
    const double x = std::round(viewPoint.x() * scale + imageOrigin.x());
    const double y = std::round(viewPoint.y() * scale + imageOrigin.y());
    return {std::clamp(x, 0.0, static_cast<double>(imageSize.width())),
            std::clamp(y, 0.0, static_cast<double>(imageSize.height()))};
}

QString FrozenCaptureView::sizeLabel(const QRectF& pixels, double scale) {
    return QStringLiteral("%1 x %2 px | %3 x %4 pt\n")
        .arg(static_cast<long long>(pixels.width()))
        .arg(static_cast<long long>(pixels.height()))
        .arg(QString::asprintf("%.1f", pixels.width() / scale))
        .arg(QString::asprintf("%.1f", pixels.height() / scale));
}

QString FrozenCaptureView::hint(bool finishesOnMouseUp, double scale) {
    if (finishesOnMouseUp) return QStringLiteral("Drag a viewport. Release to start scrolling. Esc cancels.");
    return QStringLiteral("Drag region, then Return. Esc cancels. Space chooses a window.\nArrows: move 1 px. "
                          "Shift: 10 px. Alt: resize. Output scale: ") +
           QString::asprintf("%.1f", scale) + QStringLiteral("x.");
}

QRectF FrozenCaptureView::dragRect(QPointF anchor, QPointF point, QSize imageSize) {
    const QRectF raw(std::min(point.x(), anchor.x()), std::min(point.y(), anchor.y()), std::abs(point.x() - anchor.x()),
                     std::abs(point.y() - anchor.y()));
    const double x0 = std::max(raw.x(), 0.0);
    const double y0 = std::max(raw.y(), 0.0);
    const double x1 = std::min(raw.x() + raw.width(), static_cast<double>(imageSize.width()));
    const double y1 = std::min(raw.y() + raw.height(), static_cast<double>(imageSize.height()));
    return {x0, y0, std::max(x1 - x0, 0.0), std::max(y1 - y0, 0.0)};
}

std::optional<QRectF> FrozenCaptureView::nudged(const QRectF& rect, const KeyPress& key, QSize imageSize) {
    if (key.code != KeyPress::left && key.code != KeyPress::right && key.code != KeyPress::down &&
        key.code != KeyPress::up) {
        return std::nullopt;
    }
    const double step = (key.flags & KeyPress::shift) ? 10 : 1;
    const double dx = key.code == KeyPress::left ? -step : key.code == KeyPress::right ? step : 0;
    const double dy = key.code == KeyPress::up ? -step : key.code == KeyPress::down ? step : 0;
    const double w = imageSize.width();
    const double h = imageSize.height();
    QRectF r = rect;
    if (key.flags & KeyPress::option) {
        r.setWidth(std::min(std::max(rect.width() + dx, 1.0), w - rect.x()));
        r.setHeight(std::min(std::max(rect.height() + dy, 1.0), h - rect.y()));
    } else {
        r.moveTo(std::min(std::max(rect.x() + dx, 0.0), w - rect.width()),
                 std::min(std::max(rect.y() + dy, 0.0), h - rect.height()));
    }
    return r;
}

QRect FrozenCaptureView::loupeSource(QPointF pointer, QSize imageSize) {
    double x = std::min(pointer.x() - 10, static_cast<double>(imageSize.width() - 20));
    double y = std::min(pointer.y() - 10, static_cast<double>(imageSize.height() - 20));
    x = std::max(x, 0.0);
    y = std::max(y, 0.0);
    const QRect square(static_cast<int>(std::floor(x)), static_cast<int>(std::floor(y)), 20, 20);
    return square.intersected(QRect(QPoint(0, 0), imageSize));
}

QPointF FrozenCaptureView::pixelOf(const QMouseEvent& event) const {
    return imagePoint(event.position(), scale_, imageOrigin_, image_.size());
}

void FrozenCaptureView::notify() {
    update();
    if (changed_) changed_();
}

void FrozenCaptureView::report(const Selection& selection) {
    if (completed_) completed_(selection);
}

void FrozenCaptureView::drag(QPointF point) {
    if (!shared_->anchor) return;
    shared_->pointer = point;
    shared_->rect = dragRect(*shared_->anchor, point, image_.size());
    notify();
}

void FrozenCaptureView::mouseMoveEvent(QMouseEvent* event) {
    const QPointF p = pixelOf(*event);
    if (event->buttons() & Qt::LeftButton) return drag(p);
    shared_->pointer = p;
    notify();
}

void FrozenCaptureView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    activateWindow();
    setFocus(Qt::MouseFocusReason);
    const QPointF p = pixelOf(*event);
    shared_->anchor = p;
    shared_->pointer = p;
    shared_->rect.reset();
    notify();
}

void FrozenCaptureView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
    drag(pixelOf(*event));
    shared_->anchor.reset();
    if (finishesOnMouseUp_ && shared_->rect && isFiniteNonEmpty(*shared_->rect)) report(Selection::region(*shared_->rect));
}

bool FrozenCaptureView::handleKey(const KeyPress& key) {
    switch (key.code) {
    case KeyPress::returnKey:
    case KeyPress::keypadEnter:
        if (shared_->rect && isFiniteNonEmpty(*shared_->rect)) report(Selection::region(*shared_->rect));
        return true;
    case KeyPress::space:
        // A viewport is a region of the screen that later frames are matched against; a window
        // capture cannot stand in for it.
        if (!finishesOnMouseUp_) report(Selection::window());
        return true;
    case KeyPress::escape:
        report(Selection::cancel());
        return true;
    default:
        break;
    }
    const auto moved = nudged(shared_->rect.value_or(QRectF()), key, image_.size());
    if (!moved) return false;
    if (!shared_->rect) return true;
    shared_->rect = *moved;
    notify();
    return true;
}

void FrozenCaptureView::keyPressEvent(QKeyEvent* event) {
    const auto key = keyPressOf(*event);
    if (key && handleKey(*key)) return event->accept();
    QWidget::keyPressEvent(event);
}

void FrozenCaptureView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const double s = scale_;
    const QPointF o = imageOrigin_;
    const QRectF bounds = rect();

    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QRectF(-o.x() / s, -o.y() / s, image_.width() / s, image_.height() / s), image_);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);

    std::optional<QRectF> selection;
    if (shared_->rect) {
        const QRectF r = *shared_->rect;
        selection = QRectF((r.x() - o.x()) / s, (r.y() - o.y()) / s, r.width() / s, r.height() / s);
    }
    // The dimming covers the bounds except the selection: up to four bands around it.
    const QColor dim(0, 0, 0, static_cast<int>(std::lround(0.35 * 255)));
    if (!selection) {
        painter.fillRect(bounds, dim);
    } else {
        const QRectF hole = selection->intersected(bounds);
        if (hole.isEmpty()) {
            painter.fillRect(bounds, dim);
        } else {
            painter.fillRect(QRectF(bounds.left(), bounds.top(), bounds.width(), hole.top() - bounds.top()), dim);
            painter.fillRect(QRectF(bounds.left(), hole.bottom(), bounds.width(), bounds.bottom() - hole.bottom()),
                             dim);
            painter.fillRect(QRectF(bounds.left(), hole.top(), hole.left() - bounds.left(), hole.height()), dim);
            painter.fillRect(QRectF(hole.right(), hole.top(), bounds.right() - hole.right(), hole.height()), dim);
        }
    }

    painter.setBrush(Qt::NoBrush);
    if (selection) {
        painter.setPen(QPen(Qt::white, 1));
        painter.drawRect(*selection);
    }

    const QPointF p((shared_->pointer.x() - o.x()) / s, (shared_->pointer.y() - o.y()) / s);
    painter.setPen(QPen(Qt::white, 0.5));
    painter.drawLine(QPointF(0, p.y()), QPointF(bounds.right(), p.y()));
    painter.drawLine(QPointF(p.x(), 0), QPointF(p.x(), bounds.bottom()));

    const QRect source = loupeSource(shared_->pointer, image_.size());
    if (!source.isEmpty()) {
        const double maxX = bounds.width();
        const double maxY = bounds.height();
        const QRectF loupe(std::min(p.x() + 24, maxX - 130), std::min(p.y() + 24, maxY - 190), 120, 120);
        painter.save();
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawImage(loupe, image_, QRectF(source));
        painter.restore();
        painter.setPen(QPen(Qt::white, 1));
        painter.drawRect(loupe);
    }

    const QString text = (shared_->rect ? sizeLabel(*shared_->rect, s) : QString()) + hint(finishesOnMouseUp_, s);
    const QRectF box(24, bounds.height() - 104, std::min(bounds.width() - 48, 780.0), 80);
    painter.setRenderHint(QPainter::Antialiasing, true);
    QPainterPath rounded;
    rounded.addRoundedRect(box, 12, 12);
    painter.fillPath(rounded, QColor(0, 0, 0, static_cast<int>(std::lround(0.85 * 255))));
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(12);
    font.setWeight(QFont::Medium);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(box.adjusted(12, 10, -12, -10), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
}

}  // namespace brevalto
