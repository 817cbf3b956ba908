#pragma once

#include <QString>

#include <array>
#include <optional>
#include <vector>

namespace brevalto {

// One tool of the editor: its id (the session's tool and the suffix of its stored style key), the
// title shown in help texts and menus, the symbol of its button and its key letter (empty when it
// has none).
struct EditorTool {
    QString id;
    QString title;
    QString icon;
    QString key;

    // The tools of the toolbar palette, in order, and those offered only under "More tools".
    static const std::vector<EditorTool>& palette();
    static const std::vector<EditorTool>& moreTools();
    // "Arrow (A)": the tool button's help text and accessible name.
    QString help() const { return title + QStringLiteral(" (") + key + QLatin1Char(')'); }
};

// The panels of the inspector sheet; one is open at a time.
enum class EditorPanel { style, object, layers, selection, composition, resize, export_, color };

inline constexpr std::array<EditorPanel, 8> allEditorPanels{EditorPanel::style,       EditorPanel::object,
                                                            EditorPanel::layers,      EditorPanel::selection,
                                                            EditorPanel::composition, EditorPanel::resize,
                                                            EditorPanel::export_,     EditorPanel::color};
// The case's name ("style" ... "export", "color") and the title the sheet shows for it.
QString rawValue(EditorPanel panel);
QString title(EditorPanel panel);
// The case named exactly so, or none.
std::optional<EditorPanel> editorPanelFromRaw(const QString& raw);

}  // namespace brevalto
