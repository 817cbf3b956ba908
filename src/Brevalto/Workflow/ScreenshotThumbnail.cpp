#include "Workflow/ScreenshotThumbnail.h"

#include "Panel/DragSourceView.h"
#include "Platform/Keyboard.h"
#include "Platform/Symbols.h"
#include "Workflow/FloatingThumbnail.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

namespace brevalto {

namespace {

constexpr int kTitleHeight = 20;
constexpr int kButtonSide = 32;
constexpr int kSymbolSide = 20;

const QColor kSymbolColor(255, 255, 255);

// The bar that moves the window when dragged.
class ThumbnailGrip : public QWidget {
public:
    explicit ThumbnailGrip(QWidget* parent) : QWidget(parent) {
        setObjectName(QStringLiteral("grip"));
        setToolTip(QStringLiteral("Move preview"));
        setAccessibleName(QStringLiteral("Move preview"));
        setFixedHeight(kTitleHeight);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setCursor(Qt::SizeAllCursor);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        QColor secondary = kSymbolColor;
        secondary.setAlphaF(0.55f);
        const QImage symbol = Symbols::image(QStringLiteral("line.3.horizontal"), QSizeF(13, 13), secondary,
                                             devicePixelRatioF());
        painter.drawImage(QPointF((width() - 13) / 2.0, (height() - 13) / 2.0), symbol);
    }
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && window()->windowHandle()) window()->windowHandle()->startSystemMove();
        event->accept();
    }
};

QToolButton* iconButton(QWidget* parent, const char* name, const QString& title, const QString& symbol,
                        const QString& tip, int side) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAccessibleName(title);
    button->setToolTip(tip);
    button->setIcon(Symbols::icon(symbol, kSymbolColor));
    button->setIconSize(side > kTitleHeight ? QSize(kSymbolSide, kSymbolSide) : QSize(12, 12));
    button->setFixedSize(side, side);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

}  // namespace

ScreenshotThumbnailPreview::ScreenshotThumbnailPreview(QImage image, DragSourceView* drag, QWidget* parent)
    : QWidget(parent), image_(std::move(image)), drag_(drag) {
    setObjectName(QStringLiteral("preview"));
    setAccessibleName(accessibleLabel);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMinimumSize(1, 1);
    drag_->setParent(this);
}

void ScreenshotThumbnailPreview::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath back;
    back.addRoundedRect(QRectF(rect()), 10, 10);
    painter.fillPath(back, QColor(255, 255, 255, 18));
    if (image_.isNull()) return;
    const QSizeF fitted = QSizeF(image_.size()).scaled(QSizeF(size()), Qt::KeepAspectRatio);
    painter.drawImage(QRectF(QPointF((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted),
                      image_);
}

void ScreenshotThumbnailPreview::resizeEvent(QResizeEvent*) { drag_->setGeometry(rect()); }

ScreenshotThumbnail::ScreenshotThumbnail(Clip item, FloatingThumbnail& workflow, ClipStore& store,
                                         Keyboard* keyboard, bool opaque, QWidget* parent)
    : QWidget(parent), item_(std::move(item)), workflow_(workflow), opaque_(opaque) {
    setObjectName(QStringLiteral("screenshotThumbnail"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(10, 10, 10, 10);
    column->setSpacing(8);

    auto* title = new QHBoxLayout;
    title->setSpacing(0);
    auto* close = iconButton(this, "close", QStringLiteral("Close preview"), QStringLiteral("xmark"),
                             QStringLiteral("Close preview"), kTitleHeight);
    close->setShortcut(QKeySequence(Qt::Key_Escape));
    connect(close, &QToolButton::clicked, &workflow_, &FloatingThumbnail::dismissThumbnail);
    title->addWidget(close);
    title->addWidget(new ThumbnailGrip(this));
    title->addSpacing(kTitleHeight);
    column->addLayout(title);

    if (std::optional<QImage> image = store.thumbnail(item_)) {
        auto* drag = new DragSourceView;
        DragHandle handle;
        handle.item = item_;
        handle.store = &store;
        handle.showsLabel = false;
        QPointer<FloatingThumbnail> owner(&workflow_);
        handle.began = [owner] {
            if (owner) owner->setDragging(true);
        };
        handle.ended = [owner] {
            if (owner) owner->setDragging(false);
        };
        handle.clicked = [owner] {
            if (owner) owner->edit();
        };
        if (keyboard) handle.escapeHeld = [keyboard] { return keyboard->isEscapeHeld(); };
        drag->update(std::move(handle));
        preview_ = new ScreenshotThumbnailPreview(std::move(*image), drag, this);
        column->addWidget(preview_, 1);
    } else {
        column->addStretch(1);
    }

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    struct Row {
        const char* name;
        QString title, symbol, tip;
        void (FloatingThumbnail::*action)();
    };
    const Row rows[] = {
        {"edit", QStringLiteral("Edit"), QStringLiteral("pencil"), QStringLiteral("Open screenshot editor"),
         &FloatingThumbnail::edit},
        {"copy", QStringLiteral("Copy"), QStringLiteral("doc.on.doc"), QStringLiteral("Copy image"),
         &FloatingThumbnail::copy},
        {"screenshot.preview.upload", QStringLiteral("Upload and copy link"), QStringLiteral("icloud.and.arrow.up"),
         QStringLiteral("Upload to the configured destination and copy its link. Anyone with a public URL can view "
                        "the image."),
         &FloatingThumbnail::upload},
        {"save", QStringLiteral("Save"), QStringLiteral("square.and.arrow.down"), QStringLiteral("Save image as PNG"),
         &FloatingThumbnail::save},
        {"ocr", QStringLiteral("OCR"), QStringLiteral("text.viewfinder"), QStringLiteral("Recognize text and translate"),
         &FloatingThumbnail::recognizeText},
        {"pin", QStringLiteral("Pin"), QStringLiteral("pin"), QStringLiteral("Open a floating image"),
         &FloatingThumbnail::pin},
    };
    for (const Row& row : rows) {
        QToolButton* button = iconButton(this, row.name, row.title, row.symbol, row.tip, kButtonSide);
        connect(button, &QToolButton::clicked, &workflow_, row.action);
        buttons->addWidget(button);
        if (row.action == &FloatingThumbnail::upload) upload_ = button;
    }
    buttons->addStretch(1);
    column->addLayout(buttons);

    statusRow_ = new QWidget(this);
    statusRow_->setObjectName(QStringLiteral("uploadStatus"));
    auto* statusLayout = new QHBoxLayout(statusRow_);
    statusLayout->setContentsMargins(0, 0, 0, 0);
    statusLayout->setSpacing(6);
    progress_ = new QProgressBar(statusRow_);
    progress_->setRange(0, 0);
    progress_->setTextVisible(false);
    progress_->setFixedSize(24, 8);
    status_ = new QLabel(statusRow_);
    status_->setObjectName(QStringLiteral("uploadStatusText"));
    QFont caption = status_->font();
    caption.setPointSizeF(std::max(6.0, caption.pointSizeF() - 2));
    status_->setFont(caption);
    status_->setWordWrap(true);
    status_->setMaximumHeight(QFontMetrics(caption).lineSpacing() * 2 + 2);
    statusLayout->addWidget(progress_);
    statusLayout->addWidget(status_, 1);
    column->addWidget(statusRow_);

    connect(&workflow_, &FloatingThumbnail::uploadStateChanged, this, &ScreenshotThumbnail::updateUploadState);
    updateUploadState();
}

void ScreenshotThumbnail::updateUploadState() {
    upload_->setEnabled(workflow_.uploadsAvailable() && !workflow_.thumbnailUploading());
    const QString& status = workflow_.thumbnailUploadStatus();
    statusRow_->setVisible(!status.isEmpty());
    progress_->setVisible(workflow_.thumbnailUploading());
    status_->setText(status);
    status_->setToolTip(status);
}

void ScreenshotThumbnail::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath outline;
    outline.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 18, 18);
    if (opaque_) painter.fillRect(rect(), QColor(30, 30, 32));
    painter.fillPath(outline, QColor(30, 30, 32, opaque_ ? 255 : 236));
    painter.setPen(QPen(QColor(255, 255, 255, 40), 1));
    painter.drawPath(outline);
}

void ScreenshotThumbnail::enterEvent(QEnterEvent*) { workflow_.setHovered(true); }

void ScreenshotThumbnail::leaveEvent(QEvent*) { workflow_.setHovered(false); }

}  // namespace brevalto
