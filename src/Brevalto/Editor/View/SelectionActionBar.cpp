#include "Editor/View/SelectionActionBar.h"

#include "Document/ScreenshotDocumentSession.h"
#include "Editor/View/EditorControls.h"
#include "Editor/View/ScreenshotEditorView.h"

#include <QHBoxLayout>

#include <functional>

namespace brevalto {

SelectionActionBar::SelectionActionBar(ScreenshotEditorView& view, QWidget* parent) : EditorControlRow(parent) {
    setObjectName(QStringLiteral("selectionBar"));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);

    auto* crop = new EditorTextButton(QStringLiteral("Crop"), QStringLiteral("cropSelection"), this);
    crop->setToolTip(QStringLiteral("Crop to selection (Enter)"));
    connect(crop, &QAbstractButton::clicked, this,
            [&view] { view.attemptSession([](ScreenshotDocumentSession& s) { s.crop(); }); });
    row->addWidget(crop);
    row->addSpacing(4);

    struct Item {
        const char* symbol;
        const char* help;
        const char* name;
        std::function<void()> run;
    };
    const Item items[] = {
        {"doc.on.doc", "Copy selection", "copySelection", [&view] { view.copySelection(); }},
        {"arrow.up.left.and.arrow.down.right", "Zoom to selection", "zoomToSelection",
         [&view] { view.session().sendViewport(QStringLiteral("selection")); }},
        {"text.viewfinder", "Recognize text (OCR)", "recognizeText",
         [&view] { view.sendAction(ScreenshotEditorAction::ocr); }},
        {"eye.slash", "Blur text in selection (local OCR)", "blurText",
         [&view] {
             if (view.controller()) view.controller()->runTextMasks(ScreenshotLayerKind::blur, false);
         }},
        {"eraser", "Erase with background color", "eraseSelection",
         [&view] { view.coverSelection(ScreenshotLayerKind::erase); }},
        {"rectangle.fill", "Redact (opaque)", "redactSelection",
         [&view] { view.coverSelection(ScreenshotLayerKind::redact); }},
        {"xmark.circle", "Cancel selection (Esc)", "cancelSelection", [&view] { view.cancelSelection(); }},
    };
    for (const Item& item : items) {
        auto* button = new EditorIconButton(QString::fromUtf8(item.symbol), QString::fromUtf8(item.help),
                                            QString::fromUtf8(item.name), this);
        connect(button, &QAbstractButton::clicked, this, item.run);
        row->addWidget(button);
    }
}

}  // namespace brevalto
