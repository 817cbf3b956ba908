#pragma once

#include <QMenu>
#include <QString>

#include <functional>
#include <vector>

namespace brevalto {

class ScreenshotEditorView;

// One entry of the editor's More menu: a button, or a toggle when `checked` is set. Items have no
// keyboard shortcut; the canvas's keys do the same work.
struct EditorMenuItem {
    QString title;
    QString objectName;
    std::function<void(ScreenshotEditorView&)> run;
    std::function<bool(ScreenshotEditorView&)> enabled;  // none: always enabled
    std::function<bool(ScreenshotEditorView&)> checked;  // set for toggles
};

struct EditorMenuSection {
    QString title;
    std::vector<EditorMenuItem> items;
};

// The toolbar's "More" menu, built from one table of titled sections in order: "Selection",
// "AI & text", "Composition", "Export", "Canvas", "View". A section without items is left out.
// Enabled and checked states follow the session as it changes.
class EditorMoreMenu : public QMenu {
    Q_OBJECT
public:
    static std::vector<EditorMenuSection> sections();

    explicit EditorMoreMenu(ScreenshotEditorView& view, QWidget* parent = nullptr);

    // Enabled and checked states from the session as it is now.
    void refresh();

private:
    struct Entry {
        QAction* action;
        EditorMenuItem item;
    };
    ScreenshotEditorView& view_;
    std::vector<Entry> entries_;
};

}  // namespace brevalto
