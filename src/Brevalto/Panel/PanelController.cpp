#include "Panel/PanelController.h"

#include "AI/AIActionModel.h"
#include "AI/TranslatedImageModel.h"
#include "Clipboard/ClipboardMonitor.h"
#include "Document/ScreenshotDocumentSession.h"
#include "Editor/Canvas/ScreenshotCanvasView.h"
#include "Editor/Inspectors/InspectorSheet.h"
#include "Editor/ScreenshotEditorController.h"
#include "Panel/NotchPanel.h"
#include "Panel/NotchSurface.h"
#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
#include "Errors/AIError.h"
#include "Panel/PasteBack.h"
#include "Platform/Defaults.h"

#include <QApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <cmath>

namespace brevalto {

namespace {

constexpr int kHoverIntervalMs = 100;
constexpr int kFrameAnimationMs = 250;
constexpr int kMappingCheckMs = 250;
constexpr double kHoverMargin = 12;
constexpr char kHoverOpenKey[] = "hoverOpen";

}  // namespace

PanelController::Workspace PanelController::Workspace::editor(std::shared_ptr<ScreenshotDocumentSession> session) {
    Workspace workspace(Kind::editor);
    workspace.session_ = std::move(session);
    return workspace;
}

PanelController::Workspace PanelController::Workspace::imageAI(std::shared_ptr<AIActionModel> model) {
    Workspace workspace(Kind::imageAI);
    workspace.aiModel_ = std::move(model);
    return workspace;
}

PanelController::Workspace PanelController::Workspace::regions(std::shared_ptr<TranslatedImageModel> model) {
    Workspace workspace(Kind::regions);
    workspace.regionsModel_ = std::move(model);
    return workspace;
}

PanelController::PanelController(ClipStore& store, ClipboardMonitor& monitor, Screens& screens, Apps& apps,
                                 Defaults& defaults, QObject* parent)
    : QObject(parent), store_(store), monitor_(monitor), screens_(screens), apps_(apps), defaults_(defaults) {
    panel_ = new NotchPanel(screens_.hasCompositor());
    surface_ = new NotchSurface(this, panel_);
    auto* layout = new QVBoxLayout(panel_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetNoConstraint);  // the frame rule alone sizes the window
    layout->addWidget(surface_);

    connect(&screens_, &Screens::screensChanged, this, &PanelController::displayChanged);
    connect(&screens_, &Screens::didWake, this, &PanelController::displayChanged);
    connect(&screens_, &Screens::willSleep, this, &PanelController::sleeping);

    // The hover tick is deferred by one event-loop hop, so it never runs inside another operation.
    // It runs only while it can matter (see armHover), so that a collapsed panel with the pointer
    // elsewhere costs nothing.
    hoverTimer_ = new QTimer(this);
    hoverTimer_->setInterval(kHoverIntervalMs);
    connect(hoverTimer_, &QTimer::timeout, this,
            [this] { QMetaObject::invokeMethod(this, &PanelController::hoverTick, Qt::QueuedConnection); });

    // The desktop announces each change of the active window.
    connect(&apps_, &Apps::frontmostChanged, this, [this] {
        const std::optional<AppIdentity> app = apps_.frontmost();
        if (app == lastFrontmost_) return;
        lastFrontmost_ = app;
        applicationActivated(app);
    });
    // Whether the panel is really on screen is looked at once after it is first shown and after
    // each change of window manager, which may have been starting meanwhile.
    mappingCheck_ = new QTimer(this);
    mappingCheck_->setSingleShot(true);
    mappingCheck_->setInterval(kMappingCheckMs);
    connect(mappingCheck_, &QTimer::timeout, this, &PanelController::ensureMapped);
    connect(&screens_, &Screens::windowManagerChanged, this, &PanelController::windowManagerChanged);

    qApp->installEventFilter(this);

    frameAnimation_ = new QVariantAnimation(this);
    frameAnimation_->setDuration(kFrameAnimationMs);
    frameAnimation_->setEasingCurve(QEasingCurve::OutCubic);
    connect(frameAnimation_, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { panel_->setGeometry(value.toRect()); });

    if (!dragActive_) {
        updateGeometry();
        updatePanelFrame(false);
        orderFront();
        mappingCheck_->start();
    }
    armHover();
}

PanelController::~PanelController() {
    qApp->removeEventFilter(this);
    frameAnimation_->stop();
    delete panel_;
}

void PanelController::setExpanded(bool expanded) {
    if (expanded_ == expanded) return;
    expanded_ = expanded;
    armHover();  // open: watched until it closes; closed: one look whether the pointer is on it
    emit expandedChanged(expanded_);
}

void PanelController::setDragActive(bool active) {
    dragActive_ = active;
    if (!active) armHover();
}

void PanelController::setCaptureActive(bool active) {
    captureActive_ = active;
    if (!active) armHover();
}

void PanelController::armHover() {
    if (!hoverTimer_->isActive()) hoverTimer_->start();
}

bool PanelController::hoverArmed() const { return hoverTimer_->isActive(); }

void PanelController::setPreviewExpandedFlag(bool open) {
    if (previewExpanded_ == open) return;
    previewExpanded_ = open;
    emit previewExpandedChanged(previewExpanded_);
}

void PanelController::updateGeometry() {
    screen_ = screenContaining(screens_.screens(), screens_.mouseLocation(), screens_.mainScreen());
    if (!screen_) return;
    const NotchGeometry measured = NotchGeometry::measure(*screen_);
    if (measured == geometry_) return;
    geometry_ = measured;
    emit geometryChanged();
}

QRectF PanelController::currentFrame() const {
    // While the frame animates, the frame it is heading for: what the panel has become for the
    // user, so that hover never judges the mouse against a half-grown or half-shrunk window.
    const QRect frame = frameAnimation_->state() == QAbstractAnimation::Running
                            ? frameAnimation_->endValue().toRect()
                            : panel_->geometry();
    return screens_.geometry().fromQt(QRectF(frame));
}

void PanelController::updatePanelFrame(bool animated) {
    const QRectF frame =
        screens_.geometry().toQt(panelFrame(expanded_, previewExpanded_, workspace_.has_value(), geometry_));
    if (!std::isfinite(frame.x()) || !std::isfinite(frame.y()) || !std::isfinite(frame.width()) ||
        !std::isfinite(frame.height()))
        return;
    const QRect target(qRound(frame.x()), qRound(frame.y()), std::max(1, qRound(frame.width())),
                       std::max(1, qRound(frame.height())));
    panel_->setOutline(NotchOutline{geometry_.safeTop > 0}, !(panel_->translucent() && screens_.hasCompositor()));
    frameAnimation_->stop();
    if (animated && panel_->isVisible() && !screens_.reduceMotion() && panel_->geometry() != target) {
        frameAnimation_->setStartValue(panel_->geometry());
        frameAnimation_->setEndValue(target);
        frameAnimation_->start();
    } else {
        panel_->setGeometry(target);
    }
    panel_->update();
}

void PanelController::orderFront() {
    if (!panel_->isVisible()) {
        panel_->winId();  // the native window, so that it can be dressed before it maps
        screens_.prepareOverlayWindow(panel_->windowHandle());
        panel_->show();
    }
    panel_->raise();
}

void PanelController::makeKeyAndOrderFront() {
    orderFront();
    panel_->activateWindow();
}

void PanelController::orderOut() {
    frameAnimation_->stop();
    panel_->hide();
}

void PanelController::rememberFrontmost(const std::optional<AppIdentity>& app) {
    if (!app)
        target_.reset();
    else if (app->processId != QCoreApplication::applicationPid())
        target_ = app;
}

void PanelController::expandPanel(bool makeKey) {
    if (dragActive_) return;
    rememberFrontmost(apps_.frontmost());
    updateGeometry();
    pinnedOpen_ = makeKey;
    setExpanded(true);
    setPreviewExpandedFlag(false);
    updatePanelFrame(true);
    if (makeKey)
        makeKeyAndOrderFront();
    else
        orderFront();
    emit brevaltoShown(makeKey);
}

void PanelController::collapsePanel() {
    if (dragActive_) return;
    emit brevaltoHidden();
    // Give up the keyboard: to the application the user came from, when the panel had it.
    const bool hadKeyboard = panel_->isActiveWindow();
    if (QWidget* focus = QApplication::focusWidget(); focus && focus->window() == panel_) focus->clearFocus();
    if (hadKeyboard && target_) apps_.activate(*target_);
    setExpanded(false);
    setPreviewExpandedFlag(false);
    closeWorkspace(false);
    pinnedOpen_ = false;
    updatePanelFrame(true);
    // The collapsed notch stays visible, except off screen around a capture (the workflow brings
    // it back when the capture ends).
    if (!captureActive_) orderFront();
}

void PanelController::finishParentEditing() {
    if (ScreenshotActions* actions = screenshots(); actions && actions->editor()) actions->editor()->finishEditing();
}

void PanelController::showWorkspace(Workspace workspace, std::function<void()> onClose) {
    if (!expanded_) expandPanel(true);
    std::shared_ptr<ScreenshotDocumentSession> kept;
    if (workspace.kind() != Workspace::Kind::editor) {
        if (workspace_ && workspace_->kind() == Workspace::Kind::editor)
            kept = workspace_->session();
        else
            kept = parentEditor_;
    }
    closeWorkspace(kept != nullptr);
    parentEditor_ = std::move(kept);
    workspace_ = std::move(workspace);
    onClose_ = std::move(onClose);
    emit workspaceChanged();
    setPreviewExpandedFlag(true);
    pinnedOpen_ = true;
    updatePanelFrame(true);
    makeKeyAndOrderFront();
}

void PanelController::closeWorkspace(bool keepParent) {
    if (translation_) {
        translation_->cancel();
        translation_.reset();
        emit translationChanged();
    }
    if (!keepParent && parentEditor_) {
        finishParentEditing();
        parentEditor_.reset();
    }
    if (workspace_) {
        switch (workspace_->kind()) {
        case Workspace::Kind::imageAI:
            if (workspace_->aiModel()) workspace_->aiModel()->cancel();
            break;
        case Workspace::Kind::regions:
            if (workspace_->regionsModel()) workspace_->regionsModel()->cancel();
            break;
        case Workspace::Kind::editor:
            if (!keepParent) finishParentEditing();
            break;
        }
        workspace_.reset();
        emit workspaceChanged();
    }
    if (onClose_) {
        // Taken before it runs, so that it runs once even when it reopens a workspace.
        std::function<void()> run = std::move(onClose_);
        onClose_ = nullptr;
        run();
    }
}

void PanelController::showTranslationModel(std::shared_ptr<AIActionModel> model, std::function<void()> onClose) {
    std::shared_ptr<ScreenshotDocumentSession> kept =
        workspace_ && workspace_->kind() == Workspace::Kind::editor ? workspace_->session() : parentEditor_;
    closeWorkspace(kept != nullptr);
    parentEditor_ = std::move(kept);
    translation_ = std::move(model);
    emit translationChanged();
    onClose_ = std::move(onClose);
    setPreviewExpandedFlag(true);
    pinnedOpen_ = true;
    updatePanelFrame(true);
}

std::shared_ptr<AIActionModel> PanelController::makeAIModel(const Clip& clip, bool ocr,
                                                            std::optional<QUrl> sourceURL, const QImage& pixels) {
    if (!aiActions_) return nullptr;
    return std::make_shared<AIActionModel>(clip, ocr, defaults_, *aiActions_, std::move(sourceURL), pixels);
}

void PanelController::showTranslation(const Clip& clip) {
    if (translation_) translation_->cancel();
    auto model = makeAIModel(clip, false);
    if (!model) return;
    translation_ = model;
    emit translationChanged();
    if (!workspace_ && onClose_) {
        // The preview it replaces is closed: its close callback runs now, once.
        std::function<void()> run = std::move(onClose_);
        onClose_ = nullptr;
        run();
    }
    if (!previewExpanded_) {
        setPreviewExpandedFlag(true);
        pinnedOpen_ = true;
        updatePanelFrame(true);
    }
    model->submit(store_.root());
}

void PanelController::showOCR(const Clip& clip, bool translate) {
    if (!expanded()) expandPanel(true);
    auto model = makeAIModel(clip, true);
    if (!model) return;
    model->showsTranslation = translate;
    std::weak_ptr<AIActionModel> weakModel = model;
    QPointer<PanelController> weakController(this);
    model->replaceText = [weakController, weakModel, clip] {
        if (!weakController) throw AIError("Image not found.");
        weakController->showRegionTranslator(clip, weakModel);
    };
    showTranslationModel(model);
    model->runOCR(store_.root());
}

void PanelController::showRegionTranslator(const Clip& clip, const std::weak_ptr<AIActionModel>& model) {
    const auto owner = model.lock();
    if (!owner || !clip.imageFile) throw AIError("Image not found.");
    if (!aiActions_) return;
    const QUrl file = QUrl::fromLocalFile(QString::fromStdString((store_.root() / *clip.imageFile).string()));
    std::shared_ptr<TranslatedImageModel> regions;
    try {
        regions = std::make_shared<TranslatedImageModel>(file, owner->target(), false, defaults_, *aiActions_);
    } catch (const std::exception& error) {
        store_.setMessage(QString::fromUtf8(error.what()));
        return;
    }
    showWorkspace(Workspace::regions(regions));
    regions->detectRegions();
}

void PanelController::closeCurrentWorkspace() {
    if (!workspace_) return;
    if (parentEditor_) {
        showWorkspace(Workspace::editor(parentEditor_));
        return;
    }
    closeWorkspace(false);
    setPreviewExpandedFlag(false);
    updatePanelFrame(true);
}

void PanelController::setPreviewExpanded(bool open) {
    if (previewExpanded_ == open) return;
    if (open) {
        setPreviewExpandedFlag(true);
        pinnedOpen_ = true;
        updatePanelFrame(true);
    } else if (parentEditor_) {
        showWorkspace(Workspace::editor(parentEditor_));
    } else {
        setPreviewExpandedFlag(false);
        closeWorkspace(false);
        updatePanelFrame(true);
    }
}

void PanelController::displayChanged() {
    if (dragActive_) return;
    armHover();
    updateGeometry();
    updatePanelFrame(false);
    // A capture keeps the panel off screen until it ends; the workflow brings it back.
    if (!captureActive_) orderFront();
}

void PanelController::windowManagerChanged() {
    mappingAttempts_ = 0;
    mappingCheck_->start();
}

void PanelController::ensureMapped() {
    // Off screen around a capture: the workflow brings it back.
    if (!panel_->isVisible()) return;
    if (screens_.isViewable(panel_->windowHandle())) {
        updatePanelFrame(false);  // a window manager may have placed it by its own rules
        return;
    }
    // Not mapped yet by a window manager that is starting, or asked of one that has left: asked
    // again, never hidden and shown (see Screens::mapAgain), so it keeps its state.
    if (++mappingAttempts_ > kMappingAttempts) return;
    screens_.mapAgain(panel_->windowHandle());
    mappingCheck_->start();
}

void PanelController::sleeping() {
    collapsePanel();
    orderOut();
}

void PanelController::applicationActivated(const std::optional<AppIdentity>& app) {
    if (app && app->processId != QCoreApplication::applicationPid()) target_ = app;
}

void PanelController::setKeyboard(Keyboard& keyboard) {
    keyboard_ = &keyboard;
    delete pasteBack_;
    pasteBack_ = new PasteBack(*this, apps_, keyboard, screens_);
}

void PanelController::paste(const Clip& clip, bool direct) {
    if (pasteBack_)
        pasteBack_->paste(clip, direct);
    else if (monitor_.copy(clip))  // no keys to send: the user pastes by hand
        collapsePanel();
}

void PanelController::dropPaste(const Clip& clip, bool accepted, QPointF point) {
    if (pasteBack_) pasteBack_->dropPaste(clip, accepted, point);
}

void PanelController::hoverTick() {
    // While collapsed the tick only matters with the pointer on the notch (the window tells us
    // when it enters) or, with several screens, wherever the pointer is, since the notch follows
    // it to another screen. Otherwise the timer rests until the next entry or change of state.
    const bool followsScreens = screens_.screens().size() > 1;
    auto rest = [&] {
        if (!expanded_ && !followsScreens) hoverTimer_->stop();
    };
    if (dragActive_ || captureActive_) return rest();
    const QPointF mouse = screens_.mouseLocation();
    if (expanded_) {
        if (pinnedOpen_) return;
        if (rectContains(currentFrame().adjusted(-kHoverMargin, -kHoverMargin, kHoverMargin, kHoverMargin), mouse))
            return;
        collapsePanel();
        return;
    }
    // Collapsed: the notch follows the mouse to another screen.
    for (const ScreenInfo& screen : screens_.screens()) {
        if (!rectContains(screen.frame, mouse)) continue;
        if (!screen_ || *screen_ != screen) {
            updateGeometry();
            updatePanelFrame(false);
        }
        break;
    }
    if (!panel_->isVisible() || !rectContains(currentFrame(), mouse)) return rest();
    if (!defaults_.boolValue(kHoverOpenKey)) return;  // the pointer may stay while the setting changes
    expandPanel(false);
}

bool PanelController::inPanel(QObject* object) const {
    auto* widget = qobject_cast<QWidget*>(object);
    return widget && widget->window() == panel_;
}

bool PanelController::handleEscape() {
    QWidget* responder = QApplication::focusWidget();
    if (responder && responder->window() != panel_) responder = nullptr;
    if (responder && composing_) return false;  // Escape belongs to the input method
    if (workspace_) {
        // The canvas uses Escape itself, and the editor's open sheet closes on it.
        if (workspace_->kind() == Workspace::Kind::editor && responder) {
            if (qobject_cast<ScreenshotCanvasView*>(responder)) return false;
            for (QWidget* w = responder; w; w = w->parentWidget())
                if (qobject_cast<InspectorSheet*>(w)) return false;
        }
        closeCurrentWorkspace();
        return true;
    }
    if (previewExpanded_) {
        setPreviewExpanded(false);
        return true;
    }
    collapsePanel();
    return true;
}

bool PanelController::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::InputMethod:
        if (inPanel(watched)) composing_ = !static_cast<QInputMethodEvent*>(event)->preeditString().isEmpty();
        break;
    case QEvent::FocusOut:
        if (inPanel(watched)) composing_ = false;
        break;
    case QEvent::Enter:
        if (watched == panel_) armHover();
        break;
    case QEvent::KeyPress:
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && expanded_ && inPanel(watched))
            return handleEscape();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace brevalto
