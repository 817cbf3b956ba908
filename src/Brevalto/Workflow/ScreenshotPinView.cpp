#include "Workflow/ScreenshotPinView.h"

#include "Workflow/ScreenshotPinState.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace brevalto {

namespace {

// The caption fonts of the pin: a step and two steps below the window's font.
QFont captionFont(const QWidget* widget, double points) {
    QFont font = widget->font();
    font.setPointSizeF(std::max(6.0, font.pointSizeF() - points));
    return font;
}

int sliderPosition(double value) { return static_cast<int>(std::lround(value * ScreenshotPinView::kSliderScale)); }

}  // namespace

ScreenshotPinImage::ScreenshotPinImage(const ScreenshotPinState& state, bool fadeImage, QWidget* parent)
    : QWidget(parent), state_(state), fadeImage_(fadeImage) {
    setAccessibleName(QStringLiteral("Pinned screenshot"));
    setObjectName(QStringLiteral("pinnedImage"));
}

void ScreenshotPinImage::paintEvent(QPaintEvent*) {
    const QImage& image = state_.image();
    if (image.isNull() || width() <= 0 || height() <= 0) return;
    QPainter painter(this);
    if (fadeImage_) painter.setOpacity(state_.opacity());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QSize target = size() * devicePixelRatioF();
    if (target.width() < image.width() && target.height() < image.height()) {
        // A reduction samples every pixel once for this size instead of skipping most of them
        // on each repaint.
        if (scaled_.size() != target)
            scaled_ = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        painter.drawImage(rect(), scaled_);
    } else {
        scaled_ = QImage();
        painter.drawImage(rect(), image);
    }
}

void ScreenshotPinImage::mousePressEvent(QMouseEvent* event) {
    // The image belongs to the scroll view: pressing it does not drag the window.
    event->accept();
}

ScreenshotPinImageArea::ScreenshotPinImageArea(const ScreenshotPinState& state, bool fadeImage, QWidget* parent)
    : QScrollArea(parent), state_(state), image_(new ScreenshotPinImage(state, fadeImage)) {
    setObjectName(QStringLiteral("imageArea"));
    setFrameShape(QFrame::NoFrame);
    setAlignment(Qt::AlignCenter);
    setWidgetResizable(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setWidget(image_);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMinimumSize(1, 1);
}

QSize ScreenshotPinImageArea::imageFrame(QSize image, QSize area, double zoom) {
    if (image.isEmpty() || area.isEmpty()) return {0, 0};
    const double fit = std::min(double(area.height()) / image.height(), double(area.width()) / image.width());
    // Whole points, rounded down so that the image at zoom 1 never overflows its area.
    const auto side = [&](int pixels) { return std::max(1, int(std::floor(pixels * fit * zoom + 1e-9))); };
    return {side(image.width()), side(image.height())};
}

void ScreenshotPinImageArea::layoutImage() {
    image_->resize(imageFrame(state_.image().size(), size(), state_.zoom()));
    image_->update();
}

void ScreenshotPinImageArea::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    layoutImage();
}

ScreenshotPinView::ScreenshotPinView(ScreenshotPinState& state, bool fadeImage, QWidget* parent)
    : QWidget(parent), state_(state) {
    state.setParent(this);
    auto* column = new QVBoxLayout(this);
    column->setSpacing(6);
    column->setContentsMargins(8, 8, 8, 8);

    auto* toolbar = new QHBoxLayout;
    lock_ = new QPushButton(QStringLiteral("Lock"));
    lock_->setObjectName(QStringLiteral("lock"));
    auto* editor = new QPushButton(QStringLiteral("Editor"));
    editor->setObjectName(QStringLiteral("editor"));
    auto* close = new QPushButton(QStringLiteral("Close"));
    close->setObjectName(QStringLiteral("close"));
    for (QPushButton* button : {lock_, editor, close}) {
        button->setFlat(true);
        button->setFocusPolicy(Qt::NoFocus);
    }
    toolbar->addWidget(lock_);
    toolbar->addWidget(editor);
    toolbar->addStretch(1);
    toolbar->addWidget(close);
    column->addLayout(toolbar);

    auto* sliders = new QHBoxLayout;
    auto* opacityLabel = new QLabel(QStringLiteral("Opacity"));
    auto* opacity = new QSlider(Qt::Horizontal);
    opacity->setObjectName(QStringLiteral("opacity"));
    opacity->setRange(sliderPosition(ScreenshotPinState::kMinimumOpacity), sliderPosition(1.0));
    opacity->setValue(sliderPosition(state.opacity()));
    auto* zoomLabel = new QLabel(QStringLiteral("Zoom"));
    zoom_ = new QSlider(Qt::Horizontal);
    zoom_->setObjectName(QStringLiteral("zoom"));
    zoom_->setRange(sliderPosition(ScreenshotPinState::kMinimumZoom), sliderPosition(ScreenshotPinState::kMaximumZoom));
    zoom_->setValue(sliderPosition(state.zoom()));
    for (QLabel* label : {opacityLabel, zoomLabel}) label->setFont(captionFont(this, 2));
    for (QSlider* slider : {opacity, zoom_}) {
        slider->setFocusPolicy(Qt::NoFocus);
        slider->setTracking(true);
    }
    sliders->addWidget(opacityLabel);
    sliders->addWidget(opacity, 1);
    sliders->addWidget(zoomLabel);
    sliders->addWidget(zoom_, 1);
    column->addLayout(sliders);

    area_ = new ScreenshotPinImageArea(state, fadeImage);
    column->addWidget(area_, 1);

    auto* footnote = new QLabel(QString::fromUtf8(kFootnote));
    footnote->setObjectName(QStringLiteral("footnote"));
    footnote->setFont(captionFont(this, 3));
    footnote->setWordWrap(true);
    footnote->setAlignment(Qt::AlignHCenter);
    footnote->setForegroundRole(QPalette::PlaceholderText);
    column->addWidget(footnote);

    connect(lock_, &QPushButton::clicked, &state, &ScreenshotPinState::toggleLock);
    connect(editor, &QPushButton::clicked, &state, &ScreenshotPinState::reopen);
    connect(close, &QPushButton::clicked, &state, &ScreenshotPinState::close);
    connect(opacity, &QSlider::valueChanged, &state,
            [&state](int value) { state.setOpacity(double(value) / kSliderScale); });
    connect(zoom_, &QSlider::valueChanged, &state, [&state](int value) { state.setZoom(double(value) / kSliderScale); });
    connect(&state, &ScreenshotPinState::zoomChanged, area_, &ScreenshotPinImageArea::layoutImage);
    connect(&state, &ScreenshotPinState::opacityChanged, area_->image(), qOverload<>(&QWidget::update));
    connect(&state, &ScreenshotPinState::lockedChanged, this, &ScreenshotPinView::showLocked);
}

void ScreenshotPinView::showLocked(bool locked) {
    lock_->setText(locked ? QStringLiteral("Unlock") : QStringLiteral("Lock"));
    zoom_->setEnabled(!locked);
}

}  // namespace brevalto
