#include "Editor/View/EditorTool.h"

namespace brevalto {

namespace {

EditorTool tool(const char* id, const char* title, const char* icon, const char* key) {
    return {QString::fromUtf8(id), QString::fromUtf8(title), QString::fromUtf8(icon), QString::fromUtf8(key)};
}

}  // namespace

const std::vector<EditorTool>& EditorTool::palette() {
    static const std::vector<EditorTool> tools{
        tool("select", "Select / area", "cursorarrow", "V"),
        tool("arrow", "Arrow", "arrow.up.right", "A"),
        tool("text", "Text", "textformat", "T"),
        tool("rectangle", "Rectangle", "rectangle", "R"),
        tool("effect", "Blur / Erase", "drop", "B"),
        tool("freehand", "Freehand", "pencil.tip", "P"),
        tool("counter", "Counter", "1.circle", "N"),
        tool("oval", "Oval", "oval", "O"),
        tool("highlighter", "Highlighter", "highlighter", "H"),
    };
    return tools;
}

const std::vector<EditorTool>& EditorTool::moreTools() {
    static const std::vector<EditorTool> tools{
        tool("callout", "Callout", "text.bubble", ""),
        tool("curvedArrow", "Curved arrow", "arrow.turn.up.right", ""),
        tool("spotlight", "Spotlight", "light.max", ""),
        tool("magnifier", "Magnifier", "plus.magnifyingglass", "M"),
        tool("pixelate", "Pixelate (not secret-safe)", "square.grid.3x3", ""),
        tool("smart", "Smart selection", "wand.and.rays", ""),
        tool("ruler", "Ruler / edge / gap", "ruler", ""),
        tool("color", "Sample pixel", "eyedropper", ""),
        tool("pan", "Pan", "hand.raised", ""),
    };
    return tools;
}

QString rawValue(EditorPanel panel) {
    switch (panel) {
    case EditorPanel::style: return QStringLiteral("style");
    case EditorPanel::object: return QStringLiteral("object");
    case EditorPanel::layers: return QStringLiteral("layers");
    case EditorPanel::selection: return QStringLiteral("selection");
    case EditorPanel::composition: return QStringLiteral("composition");
    case EditorPanel::resize: return QStringLiteral("resize");
    case EditorPanel::export_: return QStringLiteral("export");
    case EditorPanel::color: return QStringLiteral("color");
    }
    return {};
}

QString title(EditorPanel panel) {
    switch (panel) {
    case EditorPanel::style: return QStringLiteral("Tool style");
    case EditorPanel::object: return QStringLiteral("Object details");
    case EditorPanel::layers: return QStringLiteral("Layers");
    case EditorPanel::selection: return QStringLiteral("Selection");
    case EditorPanel::composition: return QStringLiteral("Composition");
    case EditorPanel::resize: return QStringLiteral("Resize");
    case EditorPanel::export_: return QStringLiteral("Export options");
    case EditorPanel::color: return QStringLiteral("Color & contrast");
    }
    return {};
}

std::optional<EditorPanel> editorPanelFromRaw(const QString& raw) {
    for (EditorPanel panel : allEditorPanels)
        if (rawValue(panel) == raw) return panel;
    return std::nullopt;
}

}  // namespace brevalto
