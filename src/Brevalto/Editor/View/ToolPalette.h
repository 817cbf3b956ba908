#pragma once

#include "Editor/View/EditorControls.h"
#include "Editor/View/EditorTool.h"

#include <vector>

class QMenu;

namespace brevalto {

class EditorIconButton;
class ScreenshotEditorView;

// The toolbar's tool palette: the first n tools of the palette table (n the first of 9, 7, 5 and 3
// whose row fits the width the bar gives it, chosen on every resize) and the "More tools" menu
// with the palette tools left out, then every tool of the more-tools table.
class ToolPalette : public EditorControlRow {
    Q_OBJECT
public:
    static constexpr int rowSizes[] = {9, 7, 5, 3};

    explicit ToolPalette(ScreenshotEditorView& view, QWidget* parent = nullptr);

    // How many palette tools the row shows.
    int shown() const { return shown_; }
    // The "More tools" menu (made when first needed).
    QMenu* moreTools() const;
    const std::vector<EditorIconButton*>& buttons() const { return buttons_; }
    // Marks the button of the session's tool.
    void refreshActive();
    // The width of a row of n tools and the "More tools" button.
    static int rowWidth(int n);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void show(int n);
    void fillMenu();

    ScreenshotEditorView& view_;
    std::vector<EditorIconButton*> buttons_;
    EditorIconButton* more_ = nullptr;
    QMenu* menu_ = nullptr;
    int shown_ = 0;
    int filled_ = 0;  // the row size the menu's entries were made for
};

}  // namespace brevalto
