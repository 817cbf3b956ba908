#include "Capture/CaptureOverlays.h"

#include "Capture/FrozenCaptureView.h"
#include "Platform/RawKeyWatcher.h"
#include "Platform/Screens.h"
#include "Platform/Symbols.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include <utility>
#include <QVBoxLayout>
#include <QWindow>

#include <cmath>

namespace brevalto {

CaptureCountdownPanel::CaptureCountdownPanel(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus),
      label_(new QLabel(this)) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    auto* icon = new QLabel(this);
    icon->setPixmap(Symbols::icon(QStringLiteral("timer"), palette().color(QPalette::WindowText)).pixmap(18, 18));
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setShortcut(QKeySequence(Qt::Key_Escape));
    cancel->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(icon, 0, Qt::AlignVCenter);
    layout->addWidget(label_, 1, Qt::AlignVCenter);
    layout->addWidget(cancel, 0, Qt::AlignVCenter);
    connect(cancel, &QPushButton::clicked, this, &CaptureCountdownPanel::cancelRequested);
    setFixedSize(250, 80);
}

void CaptureCountdownPanel::setSeconds(int seconds) {
    label_->setText(QStringLiteral("Capture in %1s").arg(static_cast<long long>(seconds)));
}

QString CaptureCountdownPanel::text() const { return label_->text(); }

QRect CaptureCountdownPanel::frameOn(const Screens& screens) {
    std::optional<ScreenInfo> screen = screens.mainScreen();
    if (!screen) {
        const auto all = screens.screens();
        if (!all.empty()) screen = all.front();
    }
    QPointF origin(520, 30);
    if (screen) {
        const QRectF v = screen->visibleFrame;
        origin = QPointF(v.x() + v.width() - 280, v.y() + 30);
    }
    return screens.geometry().toQt(QRectF(origin, QSizeF(250, 80))).toRect();
}

CaptureOverlays::CaptureOverlays(Screens& screens, QObject* parent) : QObject(parent), screens_(screens) {
    grabRetry_.setInterval(10);
    connect(&grabRetry_, &QTimer::timeout, this, &CaptureOverlays::grabInput);
}

CaptureOverlays::~CaptureOverlays() {
    closeChooser();
    closeOverlays();
    for (const auto& view : views_) delete view.data();
}

void CaptureOverlays::choose(const Choice& choice, std::function<void(std::optional<int>)> answer) {
    closeChooser();
    auto* dialog = new QDialog(nullptr, Qt::Dialog | Qt::WindowStaysOnTopHint);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setModal(true);
    dialog->setWindowTitle(choice.message);
    auto* layout = new QVBoxLayout(dialog);
    auto* message = new QLabel(choice.message, dialog);
    QFont bold = message->font();
    bold.setBold(true);
    message->setFont(bold);
    auto* informative = new QLabel(choice.informative, dialog);
    informative->setWordWrap(true);
    auto* list = new QListWidget(dialog);
    list->addItems(choice.items);
    list->setCurrentRow(0);
    list->setMinimumWidth(480);
    auto* buttons = new QDialogButtonBox(dialog);
    QPushButton* accept = buttons->addButton(choice.accept, QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    accept->setDefault(true);
    layout->addWidget(message);
    layout->addWidget(informative);
    layout->addWidget(list);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    connect(list, &QListWidget::itemActivated, dialog, &QDialog::accept);

    answer_ = std::move(answer);
    chooser_ = dialog;
    connect(dialog, &QDialog::finished, this, [this, dialog, list](int result) {
        if (chooser_ != dialog) return;
        chooser_ = nullptr;
        auto reply = std::move(answer_);
        answer_ = nullptr;
        const int row = list->currentRow();
        if (reply) reply(result == QDialog::Accepted && row >= 0 ? std::optional<int>(row) : std::nullopt);
    });
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

void CaptureOverlays::closeChooser() {
    if (chooser_) chooser_->reject();
}

void CaptureOverlays::showCountdown(int seconds, std::function<void()> cancel) {
    cancelCountdown_ = std::move(cancel);
    if (!countdown_) {
        countdown_ = new CaptureCountdownPanel();
        connect(countdown_, &CaptureCountdownPanel::cancelRequested, this, [this] {
            if (cancelCountdown_) cancelCountdown_();
        });
    }
    countdown_->setSeconds(seconds);
    countdown_->setGeometry(CaptureCountdownPanel::frameOn(screens_));
    if (countdown_->windowHandle() == nullptr) countdown_->winId();
    screens_.prepareOverlayWindow(countdown_->windowHandle());
    countdown_->show();
    countdown_->raise();
}

void CaptureOverlays::showSelection(const Selection& selection,
                                    std::function<void(CaptureCoordinator::Selection)> completed) {
    closeOverlays();
    auto shared = std::make_shared<FrozenCaptureSelection>();
    const double s = selection.scale > 0 ? selection.scale : 1;
    const QRectF S = selection.surface.frame;
    const ScreenGeometry geometry = screens_.geometry();
    const QPointF mouse = screens_.mouseLocation();
    // The crosshair and the loupe start where the pointer is, not in the corner of the image.
    shared->pointer = FrozenCaptureView::imagePoint(QPointF(mouse.x() - S.x(), S.y() + S.height() - mouse.y()), s,
                                                    QPointF(), selection.image.size());
    auto repaintAll = [this] {
        for (const auto& v : views_) {
            if (v) v->update();
        }
    };
    // Windows of the previous selection are shown again: a new window costs its creation and a
    // new backing store, which the first frame would otherwise wait for.
    while (views_.size() > selection.displays.size()) {
        delete views_.back().data();
        views_.pop_back();
    }
    std::erase_if(views_, [](const QPointer<FrozenCaptureView>& v) { return v.isNull(); });
    for (std::size_t i = 0; i < selection.displays.size(); ++i) {
        const QRectF f = selection.displays[i].frame;
        const QPointF origin(s * (f.x() - S.x()), s * ((S.y() + S.height()) - (f.y() + f.height())));
        FrozenCaptureView* view = nullptr;
        if (i < views_.size()) {
            view = views_[i];
            view->reset(selection.image, s, shared, origin, selection.finishesOnMouseUp, completed, repaintAll);
        } else {
            view = new FrozenCaptureView(selection.image, s, shared, origin, selection.finishesOnMouseUp, completed,
                                         repaintAll);
            view->setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                 Qt::X11BypassWindowManagerHint);
            views_.push_back(view);
        }
        view->setGeometry(geometry.toQt(f).toRect());
        if (!keyView_ && rectContains(f, mouse)) keyView_ = view;
    }
    if (!keyView_ && !views_.empty()) keyView_ = views_.front();
    for (const auto& view : views_) {
        view->show();
        view->raise();
    }
    shown_ = true;
    if (keys_ && !watching_) {
        QPointer<CaptureOverlays> self(this);
        watching_ = keys_->start([self](int key) {
            if (self && key == Qt::Key_Escape && self->shown_ && self->keyView_)
                self->keyView_->handleKey(KeyPress{KeyPress::escape, 0});
        });
    }
    if (keyView_) {
        keyView_->activateWindow();
        keyView_->setFocus(Qt::OtherFocusReason);
        grabAttempts_ = 0;
        grabInput();
    }
}

void CaptureOverlays::grabInput() {
    if (!keyView_) return grabRetry_.stop();
    keyView_->grabKeyboard();
    keyView_->grabMouse();
    QWindow* window = keyView_->windowHandle();
    // The display server refuses a grab until the window is viewable: try again shortly.
    const bool held = window && window->setKeyboardGrabEnabled(true) && window->setMouseGrabEnabled(true);
    grabbed_ = held;
    if (held || ++grabAttempts_ > 200) {
        grabRetry_.stop();
    } else if (!grabRetry_.isActive()) {
        grabRetry_.start();
    }
}

void CaptureOverlays::releaseInput() {
    grabRetry_.stop();
    grabbed_ = false;
    if (!keyView_) return;
    keyView_->releaseKeyboard();
    keyView_->releaseMouse();
    if (QWindow* window = keyView_->windowHandle()) {
        window->setKeyboardGrabEnabled(false);
        window->setMouseGrabEnabled(false);
    }
    keyView_ = nullptr;
}

void CaptureOverlays::closeOverlays() {
    if (std::exchange(watching_, false)) keys_->stop();
    releaseInput();
    shown_ = false;
    for (const auto& view : views_) {
        if (!view) continue;
        view->hide();
        view->release();
    }
    if (countdown_) {
        countdown_->hide();
        countdown_->deleteLater();
        countdown_ = nullptr;
    }
    cancelCountdown_ = nullptr;
}

int CaptureOverlays::overlayCount() const {
    int count = countdown_ && countdown_->isVisible() ? 1 : 0;
    for (const auto& view : views_) {
        if (view && view->isVisible()) ++count;
    }
    return count;
}

std::vector<FrozenCaptureView*> CaptureOverlays::selectionViews() const {
    std::vector<FrozenCaptureView*> out;
    if (!shown_) return out;
    for (const auto& view : views_) {
        if (view) out.push_back(view.data());
    }
    return out;
}

QtCaptureTimer::QtCaptureTimer() {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        auto fire = std::move(fire_);
        fire_ = nullptr;
        if (fire) fire();
    });
}

void QtCaptureTimer::start(double seconds, std::function<void()> fire) {
    fire_ = std::move(fire);
    timer_.start(static_cast<int>(std::lround(seconds * 1000)));
}

void QtCaptureTimer::stop() {
    timer_.stop();
    fire_ = nullptr;
}

}  // namespace brevalto
