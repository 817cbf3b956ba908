#include "Workflow/FloatingThumbnail.h"

#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
#include "Panel/NotchPanel.h"
#include "Panel/PanelController.h"
#include "Platform/Clock.h"
#include "Platform/Screens.h"
#include "Workflow/CaptureSettings.h"
#include "Workflow/ScreenshotThumbnail.h"

#include <QEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace brevalto {

namespace {

// The frame moved into the area: first onto its minimum edges, then off its maximum ones.
QRectF clampInto(QRectF frame, const QRectF& area) {
    double x = std::max(frame.x(), area.x());
    x = std::min(x, area.x() + area.width() - frame.width());
    double y = std::max(frame.y(), area.y());
    y = std::min(y, area.y() + area.height() - frame.height());
    frame.moveTo(x, y);
    return frame;
}

}  // namespace

FloatingThumbnail::FloatingThumbnail(ClipStore& store, ClipboardMonitor& monitor, PanelController& controller,
                                     Screens& screens, const Defaults& defaults, Clock& clock, Actions actions,
                                     QObject* parent)
    : QObject(parent),
      store_(store),
      monitor_(monitor),
      controller_(controller),
      screens_(screens),
      defaults_(defaults),
      clock_(clock),
      actions_(std::move(actions)),
      expiry_(new QTimer(this)) {
    expiry_->setInterval(kTickMilliseconds);
    connect(expiry_, &QTimer::timeout, this, [this] { thumbnailTick(timeout_); });
    connect(&screens_, &Screens::screensChanged, this, &FloatingThumbnail::keepOnScreen);
    connect(&screens_, &Screens::windowManagerChanged, this, [this] {
        QTimer::singleShot(kMappingInterval, this, [this] { ensureMapped(kMappingAttempts); });
    });
}

FloatingThumbnail::~FloatingThumbnail() {
    if (NotchPanel* window = window_.data()) {
        forget(window);
        delete window;
    }
}

void FloatingThumbnail::forget(NotchPanel* window) {
    // The filters go first: the window's destruction sends events that must not reach them.
    window_.clear();
    view_.clear();
    window->removeEventFilter(this);
    if (QWindow* handle = window->windowHandle()) handle->removeEventFilter(this);
}

QRectF FloatingThumbnail::thumbnailFrame(QPointF mouse, const QRectF& area) {
    const double width = std::min(area.width(), kMaximumWidth);
    const double height = std::min(area.height(), kMaximumHeight);
    double x = mouse.x() + kPointerGap;
    if (mouse.x() + kPointerGap + width > area.x() + area.width()) x = mouse.x() - kPointerGap - width;
    double y = mouse.y() - kPointerGap - height;
    if (y < area.y()) y = mouse.y() + kPointerGap;
    return clampInto(QRectF(x, y, width, height), area);
}

QRectF FloatingThumbnail::visibleArea(const Screens& screens, QPointF point) {
    for (const ScreenInfo& screen : screens.screens())
        if (rectContains(screen.frame, point)) return screen.visibleFrame;
    if (const auto main = screens.mainScreen()) return main->visibleFrame;
    return QRectF(0, 0, 900, 700);
}

void FloatingThumbnail::showThumbnail(const Clip& clip) {
    dismissThumbnail();
    const QPointF mouse = screens_.mouseLocation();
    const QRectF frame = screens_.geometry().toQt(thumbnailFrame(mouse, visibleArea(screens_, mouse)));

    item_ = clip;
    const bool translucent = screens_.hasCompositor();
    auto* window = new NotchPanel(translucent);
    window->setObjectName(QStringLiteral("thumbnail"));
    window->setWindowTitle(QStringLiteral("Screenshot"));
    window->setAttribute(Qt::WA_QuitOnClose, false);
    if (!translucent) window->setOutline(NotchOutline{false}, true);
    view_ = new ScreenshotThumbnail(clip, *this, store_, controller_.keyboard(), !translucent, window);
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);
    window->setGeometry(frame.toRect());
    window->setFixedSize(frame.toRect().size());
    window->installEventFilter(this);
    window_ = window;

    window->winId();
    if (QWindow* handle = window->windowHandle()) handle->installEventFilter(this);
    present();

    const std::optional<double> timeout = CaptureSettings::thumbnailTimeout(defaults_);
    if (!timeout) return;
    timeout_ = *timeout;
    deadline_ = clock_.now() + timeout_;
    expiry_->start();
}

void FloatingThumbnail::dismissThumbnail() {
    const bool uploadChanged = thumbnailUploading_ || !thumbnailUploadStatus_.isEmpty();
    thumbnailUpload_.cancel();
    thumbnailUpload_ = TaskHandle();
    thumbnailUploading_ = false;
    thumbnailUploadStatus_.clear();
    expiry_->stop();
    if (NotchPanel* window = window_.data()) {
        forget(window);
        window->hide();
        window->deleteLater();
    }
    item_.reset();
    hovered_ = false;
    dragging_ = false;
    if (uploadChanged) emit uploadStateChanged();
}

void FloatingThumbnail::thumbnailTick(double timeout) {
    const Date now = clock_.now();
    if (hovered_ || dragging_ || thumbnailUploading_) {
        deadline_ = now + timeout;
        return;
    }
    // A clock set back never stretches the wait beyond one timeout.
    deadline_ = std::min(deadline_, now + timeout);
    if (deadline_ <= now) dismissThumbnail();
}

NotchPanel* FloatingThumbnail::thumbnail() const { return window_.data(); }

ScreenshotThumbnail* FloatingThumbnail::view() const { return view_.data(); }

bool FloatingThumbnail::expiryRunning() const { return expiry_->isActive(); }

void FloatingThumbnail::startThumbnailUpload(TaskHandle task) {
    thumbnailUpload_ = std::move(task);
    thumbnailUploading_ = true;
    thumbnailUploadStatus_ = uploadingStatus;
    emit uploadStateChanged();
}

void FloatingThumbnail::setThumbnailUploadStatus(const QString& status) {
    thumbnailUploadStatus_ = status;
    emit uploadStateChanged();
}

void FloatingThumbnail::finishThumbnailUpload(const TaskHandle& task, const QString& status) {
    if (task.isCancelled() || !thumbnailUploading_) return;
    thumbnailUploading_ = false;
    thumbnailUpload_ = TaskHandle();
    thumbnailUploadStatus_ = status;
    emit uploadStateChanged();
}

void FloatingThumbnail::edit() {
    if (item_ && actions_.openInEditor) actions_.openInEditor(Clip(*item_));
}

void FloatingThumbnail::copy() {
    if (item_) monitor_.copy(*item_);
}

void FloatingThumbnail::upload() {
    if (item_ && actions_.upload && !thumbnailUploading_) actions_.upload(Clip(*item_));
}

void FloatingThumbnail::save() {
    if (!item_ || !actions_.saveAs) return;
    // The failure goes to the status line, as after a capture.
    if (const std::optional<QString> failure = actions_.saveAs(Clip(*item_))) store_.setMessage(*failure);
}

void FloatingThumbnail::pin() {
    if (item_ && actions_.pin) actions_.pin(Clip(*item_));
}

void FloatingThumbnail::recognizeText() {
    if (!item_) return;
    const Clip clip = *item_;
    controller_.showOCR(clip, false);
}

bool FloatingThumbnail::eventFilter(QObject* watched, QEvent* event) {
    if (window_ && watched == window_.data() && event->type() == QEvent::Close) {
        // Closed by the window manager: the same as the close button.
        dismissThumbnail();
        return false;
    }
    // Shown without the keyboard; a click takes it, so that Escape reaches the close button.
    if (window_ && watched == window_->windowHandle() && event->type() == QEvent::MouseButtonPress &&
        !window_->isActiveWindow())
        window_->activateWindow();
    return QObject::eventFilter(watched, event);
}

void FloatingThumbnail::present() {
    if (QWindow* handle = window_->windowHandle()) screens_.prepareOverlayWindow(handle);
    window_->show();
    window_->raise();
}

void FloatingThumbnail::ensureMapped(int attemptsLeft) {
    if (!window_ || screens_.isViewable(window_->windowHandle())) return;
    screens_.mapAgain(window_->windowHandle());
    if (attemptsLeft > 1)
        QTimer::singleShot(kMappingInterval, this, [this, attemptsLeft] { ensureMapped(attemptsLeft - 1); });
}

void FloatingThumbnail::keepOnScreen() {
    if (!window_) return;
    const ScreenGeometry geometry = screens_.geometry();
    const QRectF frame = geometry.fromQt(QRectF(window_->geometry()));
    const QRectF area = visibleArea(screens_, frame.center());
    if (area.contains(frame)) return;
    QRectF placed(frame.topLeft(), QSizeF(std::min(area.width(), frame.width()), std::min(area.height(), frame.height())));
    const QRect target = geometry.toQt(clampInto(placed, area)).toRect();
    window_->setFixedSize(target.size());
    window_->setGeometry(target);
}

}  // namespace brevalto
