#include "Workflow/ScreenshotReferencePanel.h"

#include "Platform/Screens.h"
#include "Workflow/ScreenshotPinState.h"
#include "Workflow/ScreenshotPinView.h"

#include <QCloseEvent>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <QWindow>

namespace brevalto {

ScreenshotReferencePanel::ScreenshotReferencePanel(QImage image, std::function<void()> reopen, Screens* screens,
                                                   bool shownInTaskbar, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      screens_(screens),
      shownInTaskbar_(shownInTaskbar),
      fadeWindow_(screens && screens->hasCompositor()) {
    setObjectName(QStringLiteral("pin"));
    setWindowTitle(QStringLiteral("Brevalto Reference"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setAttribute(Qt::WA_QuitOnClose, false);
    setFocusPolicy(Qt::NoFocus);
    setMinimumSize(kMinimumWidth, kMinimumHeight);

    auto* state = new ScreenshotPinState(std::move(image), this, std::move(reopen));
    view_ = new ScreenshotPinView(*state, !fadeWindow_, this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);

    connect(state, &ScreenshotPinState::opacityChanged, this, [this](double opacity) {
        if (fadeWindow_) setWindowOpacity(opacity);
    });
}

ScreenshotReferencePanel::~ScreenshotReferencePanel() = default;

ScreenshotPinState& ScreenshotReferencePanel::state() const { return view_->state(); }

void ScreenshotReferencePanel::present() {
    winId();
    if (screens_) {
        if (QWindow* window = windowHandle()) {
            screens_->prepareOverlayWindow(window);
            screens_->setShownInTaskbar(window, shownInTaskbar_);
            if (!movable_) screens_->setWindowFixed(window, true);
        }
    }
    show();
    raise();
}

void ScreenshotReferencePanel::setShownInTaskbar(bool shown) {
    shownInTaskbar_ = shown;
    if (!screens_) return;
    if (QWindow* window = windowHandle()) screens_->setShownInTaskbar(window, shown);
}

void ScreenshotReferencePanel::applyLock(bool locked) {
    movable_ = !locked;
    if (locked) {
        setFixedSize(size());
    } else {
        setMinimumSize(kMinimumWidth, kMinimumHeight);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
    if (screens_) {
        if (QWindow* window = windowHandle()) screens_->setWindowFixed(window, locked);
    }
}

void ScreenshotReferencePanel::closeEvent(QCloseEvent* event) {
    event->accept();
    emit closed(this);
}

void ScreenshotReferencePanel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && movable_) {
        if (QWindow* window = windowHandle()) window->startSystemMove();
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

}  // namespace brevalto
