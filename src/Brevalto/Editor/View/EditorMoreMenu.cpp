#include "Editor/View/EditorMoreMenu.h"

#include "Document/ScreenshotDocumentSession.h"
#include "Editor/View/ScreenshotEditorView.h"

namespace brevalto {

namespace {

using View = ScreenshotEditorView;

EditorMenuItem item(const char* title, const char* name, std::function<void(View&)> run,
                    std::function<bool(View&)> enabled = {}) {
    return {QString::fromUtf8(title), QString::fromUtf8(name), std::move(run), std::move(enabled), {}};
}

EditorMenuItem toggle(const char* title, const char* name, std::function<bool(View&)> checked,
                      std::function<void(View&, bool)> set) {
    return {QString::fromUtf8(title), QString::fromUtf8(name),
            [checked, set](View& v) { set(v, !checked(v)); }, {}, checked};
}

void viewport(View& v, const char* command) { v.session().sendViewport(QString::fromUtf8(command)); }

void save(View& v, bool copyURL) {
    v.attemptOutput(View::Output::save, [&v, copyURL] { v.saveImage(copyURL); });
}

void textMasks(View& v, bool wholeImage) {
    if (v.controller()) v.controller()->runTextMasks(std::nullopt, wholeImage);
}

}  // namespace

std::vector<EditorMenuSection> EditorMoreMenu::sections() {
    return {
        {QStringLiteral("Selection"),
         {
             item("Crop selection", "cropToSelection",
                  [](View& v) { v.attemptSession([](ScreenshotDocumentSession& s) { s.crop(); }); },
                  [](View& v) { return v.session().selection().has_value(); }),
             item("Reset crop", "resetCrop", [](View& v) { v.resetCrop(); },
                  [](View& v) { return v.session().document().crop.has_value(); }),
             item("Auto-adjust selection", "autoAdjustSelection", [](View& v) { v.autoAdjustSelection(); }),
             item("Text-only masks (local OCR)", "textMasks", [](View& v) { textMasks(v, false); }),
             item("Find secrets (local OCR)", "findSecrets", [](View& v) { textMasks(v, true); }),
             item("Cancel mask OCR", "cancelMaskOCR", [](View& v) { v.cancelMaskOCR(); }),
             item("Selection\u2026", "selectionPanel", [](View& v) { v.setPanel(EditorPanel::selection); }),
         }},
        {QStringLiteral("AI & text"),
         {
             item("OCR", "ocr", [](View& v) { v.sendAction(ScreenshotEditorAction::ocr); }),
             item("Translate text", "translateText", [](View& v) { v.sendAction(ScreenshotEditorAction::translateText); }),
             item("Translate image", "translateImage",
                  [](View& v) { v.sendAction(ScreenshotEditorAction::translateImage); }),
         }},
        {QStringLiteral("Composition"),
         {
             item("Add Capture", "addCapture", [](View& v) { v.sendAction(ScreenshotEditorAction::captureAppend); }),
             item("Import files\u2026", "importFiles",
                  [](View& v) {
                      if (v.controller()) v.controller()->importFiles();
                  }),
             item("Import clipboard", "importClipboard",
                  [](View& v) {
                      if (v.controller()) v.controller()->importClipboard();
                  }),
             item("Arrange image layers", "arrangeImageLayers",
                  [](View& v) { v.attempt([&v] { v.arrangeImageLayers(); }); }),
             item("Expand canvas to objects", "expandCanvasToObjects", [](View& v) { v.expandCanvasToObjects(); }),
             item("Composition options\u2026", "compositionPanel", [](View& v) { v.setPanel(EditorPanel::composition); }),
         }},
        {QStringLiteral("Export"),
         {
             item("Save As\u2026", "menuSaveAs", [](View& v) { save(v, false); }),
             item("Copy File URL", "copyFileURL", [](View& v) { save(v, true); }),
             item("Upload and copy link", "uploadAndCopyLink",
                  [](View& v) { v.sendAction(ScreenshotEditorAction::upload); }),
             item("Save as new history item", "saveAsNewItem",
                  [](View& v) { v.sendAction(ScreenshotEditorAction::saveAsNewItem); }),
             item("Print\u2026", "print", [](View& v) { v.printImage(); }),
             item("Before/after GIF\u2026", "beforeAfterGIF",
                  [](View& v) { v.attemptOutput(View::Output::save, [&v] { v.saveBeforeAfterGIF(); }); }),
             item("Export options\u2026", "exportPanel", [](View& v) { v.setPanel(EditorPanel::export_); }),
         }},
        {QStringLiteral("Canvas"),
         {
             item("Resize\u2026", "resizePanel", [](View& v) { v.setPanel(EditorPanel::resize); }),
             item("Rasterize (Undo available)", "rasterize",
                  [](View& v) { v.attemptSession([](ScreenshotDocumentSession& s) { s.flatten(); }); }),
             item("Layers\u2026", "layersPanel", [](View& v) { v.setPanel(EditorPanel::layers); }),
             item("Color & contrast\u2026", "colorPanel", [](View& v) { v.setPanel(EditorPanel::color); }),
             item("Tool style\u2026", "toolStylePanel", [](View& v) { v.openToolStyle(); }),
         }},
        {QStringLiteral("View"),
         {
             item("Actual size", "actualSize", [](View& v) { viewport(v, "actual"); }),
             item("Fit", "fit", [](View& v) { viewport(v, "fit"); }),
             item("Fit selection", "fitSelection", [](View& v) { viewport(v, "selection"); }),
             toggle("Snap to objects / canvas", "snap", [](View& v) { return v.session().snap(); },
                    [](View& v, bool on) { v.session().setSnap(on); }),
             toggle("Show guides", "guides", [](View& v) { return v.session().guides(); },
                    [](View& v, bool on) { v.session().setGuides(on); }),
         }},
    };
}

EditorMoreMenu::EditorMoreMenu(ScreenshotEditorView& view, QWidget* parent) : QMenu(parent), view_(view) {
    setObjectName(QStringLiteral("moreMenu"));
    for (EditorMenuSection& section : sections()) {
        if (section.items.empty()) continue;
        addSection(section.title)->setObjectName(QStringLiteral("section.") + section.title);
        for (EditorMenuItem& entry : section.items) {
            QAction* action = addAction(QString(entry.title).replace(QLatin1Char('&'), QStringLiteral("&&")));
            action->setObjectName(entry.objectName);
            action->setCheckable(bool(entry.checked));
            connect(action, &QAction::triggered, this, [this, run = entry.run] { run(view_); });
            entries_.push_back({action, std::move(entry)});
        }
    }
    connect(this, &QMenu::aboutToShow, this, &EditorMoreMenu::refresh);
    refresh();
}

void EditorMoreMenu::refresh() {
    for (Entry& entry : entries_) {
        if (entry.item.enabled) entry.action->setEnabled(entry.item.enabled(view_));
        if (entry.item.checked) entry.action->setChecked(entry.item.checked(view_));
    }
}

}  // namespace brevalto
