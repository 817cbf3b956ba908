#pragma once

#include "Panel/NotchGeometry.h"
#include "Panel/ScreenshotActions.h"
#include "Platform/Apps.h"

#include <QImage>
#include <QObject>
#include <QPointer>

#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class QTimer;
class QVariantAnimation;

namespace brevalto {

class AIActionBackend;
class AIActionModel;
class AutomationDispatcher;
class ClipStore;
class ClipboardMonitor;
class Defaults;
class Keyboard;
class PasteBack;
struct Clip;
class NotchPanel;
class NotchSurface;
class ScreenshotDocumentSession;
class TranslatedImageModel;

// The one owner of the notch panel: it builds the overlay window at the top centre of the screen
// under the mouse and decides when it is open. It opens on hover or on request, stays open while
// the user works in it, collapses when the mouse leaves or on Escape, and can replace the clip
// list by a workspace (the screenshot editor, the image-AI view or the region translator) with at
// most one editor kept underneath.
class PanelController : public QObject {
    Q_OBJECT
public:
    // What replaces the clip list.
    class Workspace {
    public:
        enum class Kind { editor, imageAI, regions };

        static Workspace editor(std::shared_ptr<ScreenshotDocumentSession> session);
        static Workspace imageAI(std::shared_ptr<AIActionModel> model);
        static Workspace regions(std::shared_ptr<TranslatedImageModel> model);

        Kind kind() const { return kind_; }
        // The payload of the matching kind (null for the others).
        const std::shared_ptr<ScreenshotDocumentSession>& session() const { return session_; }
        const std::shared_ptr<AIActionModel>& aiModel() const { return aiModel_; }
        const std::shared_ptr<TranslatedImageModel>& regionsModel() const { return regionsModel_; }

    private:
        explicit Workspace(Kind kind) : kind_(kind) {}
        Kind kind_;
        std::shared_ptr<ScreenshotDocumentSession> session_;
        std::shared_ptr<AIActionModel> aiModel_;
        std::shared_ptr<TranslatedImageModel> regionsModel_;
    };

    // Builds the window and puts the collapsed notch on screen.
    PanelController(ClipStore& store, ClipboardMonitor& monitor, Screens& screens, Apps& apps, Defaults& defaults,
                    QObject* parent = nullptr);
    ~PanelController() override;

    ClipStore& store() const { return store_; }
    ClipboardMonitor& monitor() const { return monitor_; }
    NotchPanel* panel() const { return panel_; }
    NotchSurface* surface() const { return surface_; }

    // Published state.
    bool expanded() const { return expanded_; }
    bool previewExpanded() const { return previewExpanded_; }
    const std::shared_ptr<AIActionModel>& translation() const { return translation_; }
    const std::optional<Workspace>& workspace() const { return workspace_; }
    const NotchGeometry& geometry() const { return geometry_; }

    // The editor kept underneath an image-AI or region workspace.
    const std::shared_ptr<ScreenshotDocumentSession>& parentEditor() const { return parentEditor_; }
    // The screen the geometry was taken from.
    const std::optional<ScreenInfo>& screen() const { return screen_; }
    // The application to paste into (the last other application that was frontmost).
    const std::optional<AppIdentity>& target() const { return target_; }

    // A clip card is being dragged out: opening, closing, screen changes and hover stand still.
    bool dragActive() const { return dragActive_; }
    void setDragActive(bool active);
    // The panel stays open when the mouse leaves. Cleared only by collapsing.
    bool pinnedOpen() const { return pinnedOpen_; }
    void setPinnedOpen(bool pinned) { pinnedOpen_ = pinned; }
    // A screenshot capture is running: hover stands still and the panel stays off screen.
    bool captureActive() const { return captureActive_; }
    void setCaptureActive(bool active);

    // Shows the model in the preview pane (OCR text or translation), keeping an editor that is
    // shown or kept underneath. onClose runs once when the preview closes or is replaced.
    void showTranslationModel(std::shared_ptr<AIActionModel> model, std::function<void()> onClose = {});
    // Cancels the current translation and shows a new one of the clip's text in the preview pane,
    // pinned open, and starts it.
    void showTranslation(const Clip& clip);
    // Expands the panel and recognises the image clip's text into the preview pane (translating
    // it as well when asked), with "replace in image" opening the region translator.
    void showOCR(const Clip& clip, bool translate);
    // Opens the region translator on the clip's image with the model's target language. Throws
    // AIError "Image not found." when the model is gone or the clip has no image file.
    void showRegionTranslator(const Clip& clip, const std::weak_ptr<AIActionModel>& model);

    // Where AI action models run their work; without it the AI actions do nothing.
    AIActionBackend* aiActions() const { return aiActions_; }
    void setAIActions(AIActionBackend* backend) { aiActions_ = backend; }
    // A new model for the clip (or the image file at sourceURL) over the panel's backend and
    // settings; null without a backend. `pixels`: the image at sourceURL, when it is in memory.
    std::shared_ptr<AIActionModel> makeAIModel(const Clip& clip, bool ocr, std::optional<QUrl> sourceURL = std::nullopt,
                                               const QImage& pixels = QImage());

    // The screenshot side (the workflow), held weakly.
    ScreenshotActions* screenshots() const { return screenshots_.data(); }
    // The screenshot side; its upload state changes are passed on as uploadStateChanged.
    void setScreenshots(ScreenshotActions* actions) {
        screenshots_ = actions;
        if (actions) connect(actions, &ScreenshotActions::uploadStateChanged, this, &PanelController::uploadStateChanged);
    }

    // The app's automation dispatcher (not owned), through which the header opens the settings
    // window; none until the app sets it.
    AutomationDispatcher* dispatcher() const { return dispatcher_; }
    void setDispatcher(AutomationDispatcher* dispatcher) { dispatcher_ = dispatcher; }
    // The app's quit steps, run by the header's "Quit Brevalto".
    void setQuitHandler(std::function<void()> quit) { quit_ = std::move(quit); }
    void quit() const {
        if (quit_) quit_();
    }

    // Chooses the screen under the mouse (else the main screen) and publishes its geometry.
    void updateGeometry();
    // Applies the frame rule to the window, animated only when asked and motion is not reduced.
    void updatePanelFrame(bool animated);
    // The frame the window has now, or the one a running frame animation ends at, in
    // bottom-left points.
    QRectF currentFrame() const;

    void expandPanel(bool makeKey);
    void collapsePanel();
    void showWorkspace(Workspace workspace, std::function<void()> onClose = {});
    void closeWorkspace(bool keepParent);
    // Escape on a workspace: back to the kept editor, else to the list.
    void closeCurrentWorkspace();
    void setPreviewExpanded(bool open);

    // Shows the window without taking the keyboard / taking it / takes it off screen.
    void orderFront();
    void makeKeyAndOrderFront();
    void orderOut();

    // Screen parameters changed or the system woke.
    void displayChanged();
    // The system is about to sleep.
    void sleeping();
    // A window manager started, quit or was replaced: shortly after, a panel that should be on
    // screen and is not is mapped again in the state it has, so that the new one takes it in.
    void windowManagerChanged();
    // That check: a visible panel that the display server has not mapped is mapped again (a few
    // times at most, a moment apart); one that is on screen gets its frame again.
    void ensureMapped();
    static constexpr int kMappingAttempts = 8;
    // Another application became active.
    void applicationActivated(const std::optional<AppIdentity>& app);

    // Paste back into the target application. Without a keyboard (setKeyboard) a clip is only
    // copied and the panel collapses.
    void setKeyboard(Keyboard& keyboard);
    PasteBack* pasteBack() const { return pasteBack_; }
    Keyboard* keyboard() const { return keyboard_; }
    // Return (direct false), Alt+Return and the card's paste action (direct true).
    void paste(const Clip& clip, bool direct);
    // A text clip's drag ended at point (bottom-left screen points) without Escape held.
    void dropPaste(const Clip& clip, bool accepted, QPointF point);

    // One firing of the 0.1 s hover timer (the timer defers it by one event-loop hop). The timer
    // runs while the panel is open, from the pointer's entry into the collapsed notch until it is
    // gone again, around changes of state, and always with several screens.
    void hoverTick();
    bool hoverArmed() const;
    // Escape while the panel is expanded and has the key event; true when it was used.
    bool handleEscape();

signals:
    // The screenshot side's upload history, busy state or destination changed.
    void uploadStateChanged();
    void expandedChanged(bool expanded);
    void previewExpandedChanged(bool previewExpanded);
    void translationChanged();
    void workspaceChanged();
    void geometryChanged();
    // "BrevaltoShown": the panel opened; tookKeyboard says whether it took the keyboard.
    void brevaltoShown(bool tookKeyboard);
    // "BrevaltoHidden": the panel collapses.
    void brevaltoHidden();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setExpanded(bool expanded);
    void setPreviewExpandedFlag(bool open);
    void armHover();
    void finishParentEditing();
    void rememberFrontmost(const std::optional<AppIdentity>& app);
    bool inPanel(QObject* object) const;

    ClipStore& store_;
    ClipboardMonitor& monitor_;
    Screens& screens_;
    Apps& apps_;
    Defaults& defaults_;

    NotchPanel* panel_ = nullptr;
    NotchSurface* surface_ = nullptr;
    bool expanded_ = false;
    bool previewExpanded_ = false;
    std::shared_ptr<AIActionModel> translation_;
    std::optional<Workspace> workspace_;
    std::function<void()> onClose_;
    std::shared_ptr<ScreenshotDocumentSession> parentEditor_;
    NotchGeometry geometry_;
    QTimer* hoverTimer_ = nullptr;
    QTimer* mappingCheck_ = nullptr;
    int mappingAttempts_ = 0;
    std::optional<ScreenInfo> screen_;
    std::optional<AppIdentity> target_;
    std::optional<AppIdentity> lastFrontmost_;
    bool dragActive_ = false;
    bool pinnedOpen_ = false;
    bool captureActive_ = false;
    QPointer<ScreenshotActions> screenshots_;
    AIActionBackend* aiActions_ = nullptr;
    AutomationDispatcher* dispatcher_ = nullptr;
    std::function<void()> quit_;
    PasteBack* pasteBack_ = nullptr;  // a child
    Keyboard* keyboard_ = nullptr;

    QVariantAnimation* frameAnimation_ = nullptr;
    bool composing_ = false;  // an input method is composing text in the panel
};

}  // namespace brevalto
