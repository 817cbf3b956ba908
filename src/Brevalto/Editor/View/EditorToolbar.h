#pragma once

#include "Editor/View/EditorControls.h"

#include <vector>

class QHBoxLayout;
class QSpacerItem;
class QTimer;

namespace brevalto {

class EditorIconButton;
class EditorMoreMenu;
class EditorReadout;
class EditorTextButton;
class ScreenshotDragView;
class ScreenshotEditorView;
class ScreenshotShareButton;
class SelectionActionBar;
class ToolPalette;

// The editor's toolbar row, 52 points high: copy, save, pin, drag, share and backdrop; the mode
// group (smart-selection confirmation, the selection bar, or the tool palette); the secret
// warning; undo and redo; the colour, size and zoom readouts; the More menu and Done. Each item
// follows the session's change signal for what it shows; nothing is rebuilt per change.
class EditorToolbar : public EditorControlRow {
    Q_OBJECT
public:
    explicit EditorToolbar(ScreenshotEditorView& view, QWidget* parent = nullptr);

    EditorIconButton* backdropButton() const { return backdrop_; }
    ToolPalette* palette() const { return palette_; }
    // The parts that are made when first needed.
    SelectionActionBar* selectionBar();
    QWidget* smartGroup();
    ScreenshotShareButton* shareButton() const { return share_; }
    ScreenshotDragView* dragButton() const { return drag_; }
    EditorMoreMenu* moreMenu();
    EditorReadout* sizeReadout() const { return size_; }
    QWidget* colorReadout() const { return color_; }
    QWidget* zoomReadout() const { return zoom_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refreshMode();
    void refreshDocument();
    void refreshSize();
    void refreshZoom();
    void refreshHoverColor();
    void hoverColorChanged();
    void refreshSecrets();

    ScreenshotEditorView& view_;
    EditorIconButton* backdrop_ = nullptr;
    ScreenshotDragView* drag_ = nullptr;
    ScreenshotShareButton* share_ = nullptr;
    QHBoxLayout* row_ = nullptr;
    QWidget* smart_ = nullptr;
    SelectionActionBar* selectionBar_ = nullptr;
    ToolPalette* palette_ = nullptr;
    EditorTextButton* redactSecrets_ = nullptr;
    EditorIconButton* dismissSecrets_ = nullptr;
    EditorIconButton* undo_ = nullptr;
    EditorIconButton* redo_ = nullptr;
    QWidget* color_ = nullptr;
    EditorReadout* size_ = nullptr;
    QWidget* zoom_ = nullptr;
    EditorIconButton* more_ = nullptr;
    EditorMoreMenu* moreMenu_ = nullptr;
    std::vector<QSpacerItem*> separators_;
    // The colour readout repaints at most once a frame, however fast the pointer moves.
    QTimer* hoverFrame_ = nullptr;
    bool hoverPending_ = false;
};

}  // namespace brevalto
