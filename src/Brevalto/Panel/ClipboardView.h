#pragma once

#include "ClipCore/Clip.h"
#include "ClipCore/Uuid.h"
#include "Panel/ClipList.h"

#include <QString>
#include <QWidget>

#include <memory>
#include <optional>
#include <set>
#include <vector>

class QLabel;
class QLineEdit;
class QToolButton;
class QButtonGroup;

namespace brevalto {

class ImageAIView;
class ScreenshotEditorView;
class TranslatedImageHistory;
class TranslatedImageView;

class ClipCardRow;
class ClipStore;
class PanelAlerts;
class PanelController;
class PreviewPane;
class StatusBar;

// The content of the expanded notch panel: a header row, then the clip browser (the search field
// with the filter chips, the horizontal row of clip cards, the status line and the preview
// pane's place) or, while the controller shows a workspace, the workspace's place. It owns the
// browser's state (query, filter, selection, image group, focus), handles the arrow keys and
// Return whichever part has the keyboard, and runs the actions of the cards.
class ClipboardView : public QWidget {
    Q_OBJECT
public:
    enum class Focus { search, history };

    static constexpr int kMaxGroupImages = 32;
    static inline const QString groupLimitMessage = QStringLiteral("Select at most 32 images per drag.");
    static inline const QString clearAlertTitle = QStringLiteral("Delete all clipboard history, including pins?");

    explicit ClipboardView(PanelController& controller, QWidget* parent = nullptr);
    ~ClipboardView() override;

    PanelController& controller() const { return controller_; }
    ClipStore& store() const;

    // Where confirmations are asked (not owned); none asks with message boxes above the panel.
    void setAlerts(PanelAlerts* alerts) { alerts_ = alerts; }

    // View state.
    const QString& query() const { return query_; }
    void setQuery(const QString& query);
    const QString& filter() const { return filter_; }
    void setFilter(const QString& filter);
    const std::optional<Uuid>& selected() const { return selected_; }
    void setSelected(const std::optional<Uuid>& selected);
    const std::set<Uuid>& imageSelection() const { return imageSelection_; }
    void clearImageSelection();
    bool clearAlert() const { return clearAlert_; }
    // The one clip whose secrets the preview shows in clear.
    const std::optional<Uuid>& revealed() const { return revealed_; }
    void setRevealed(const std::optional<Uuid>& revealed);
    std::optional<Focus> focusState() const;
    void setFocusState(std::optional<Focus> focus);

    // The clips shown, in order, and the one that keys and the preview act on.
    std::vector<Clip> visibleClips();
    std::optional<Clip> currentClip();
    bool matchesFilter(const Clip& clip);

    // Key handlers: true when the key was used.
    bool moveSelection(int offset);
    bool handleHorizontalKey(int offset);
    bool handleReturn(Qt::KeyboardModifiers modifiers);

    // Card interactions.
    void handleCardClick(const Clip& clip);
    void toggleImageSelection(const Uuid& id);
    bool isGroupSelected(const Clip& clip) const;
    // Runs one action on a clip; translate is the OCR action's Shift decision.
    void perform(ItemAction action, const Clip& clip, bool translate = false);

    // Asks whether to delete the whole history, and does it when confirmed.
    void askClearAll();
    void clearAllHistory();

    QLineEdit* searchField() const { return search_; }
    ClipCardRow* cardRow() const { return row_; }

signals:
    void stateChanged();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The visible clips and the current one, as pointers into the store's list (valid until it
    // changes), so that keys and redraws copy no clip.
    std::vector<const Clip*> visible();
    const Clip* current();
    bool editorShown() const;
    bool composing() const;
    bool handleKey(QKeyEvent* event);
    void refresh();
    void refreshLayout();
    void itemsChanged();
    void queryOrFilterChanged();
    void workspaceChanged();
    void showRegionsView();

    PanelController& controller_;
    PanelAlerts* alerts_ = nullptr;
    std::unique_ptr<PanelAlerts> messageBoxAlerts_;
    ClipSearch search_engine_;

    QString query_;
    QString filter_ = QStringLiteral("All");
    std::optional<Uuid> selected_;
    std::set<Uuid> imageSelection_;
    std::optional<Uuid> revealed_;
    bool clearAlert_ = false;
    bool composing_ = false;
    bool editorWasHidden_ = true;

    QWidget* header_;
    QWidget* browser_;
    QWidget* workspaceArea_;
    // The editor of the editor workspace's session, while the editor is shown.
    ScreenshotEditorView* editor_ = nullptr;
    // The region translator of the regions workspace, while it is shown.
    TranslatedImageView* regionsView_ = nullptr;
    // The image-prompt pane of the image-AI workspace, while it is shown.
    ImageAIView* imageAIView_ = nullptr;
    std::unique_ptr<TranslatedImageHistory> imageHistory_;
    PreviewPane* previewArea_;
    QLineEdit* search_;
    QToolButton* clearSearch_;
    QButtonGroup* filterButtons_;
    ClipCardRow* row_;
    StatusBar* status_;
};

}  // namespace brevalto
