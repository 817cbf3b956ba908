#include "Editor/Inspectors/CompositionPages.h"

#include "Document/ScreenshotDocumentSession.h"
#include "Editor/Inspectors/DecimalField.h"
#include "Editor/Inspectors/InspectorRows.h"
#include "Editor/View/ScreenshotEditorView.h"

#include <QCheckBox>
#include <QComboBox>

#include <algorithm>

namespace brevalto {

using namespace InspectorRows;

QWidget* compositionPage(ScreenshotEditorView& view) {
    auto* page = new QWidget;
    QVBoxLayout* stack = pageStack(page, QStringLiteral("compositionPage"));
    const ScreenshotEditorView::State& state = view.state();
    stack->addWidget(headline(QStringLiteral("Composition / imports"), page));

    auto* vertical = new QCheckBox(QStringLiteral("Stack vertically"), page);
    vertical->setObjectName(QStringLiteral("stackVertically"));
    vertical->setChecked(state.vertical);
    QObject::connect(vertical, &QCheckBox::toggled, page,
                     [&view](bool on) { view.setComposition(on, view.state().spacing, view.state().alignment); });
    stack->addWidget(vertical);

    auto* spacing = new DecimalField(QStringLiteral("compositionSpacing"), state.spacing, page);
    QObject::connect(spacing, &DecimalField::valueEdited, page, [&view](double value) {
        view.setComposition(view.state().vertical, value, view.state().alignment);
    });
    labelled(stack, QStringLiteral("Spacing px"), spacing);

    auto* alignment = new QComboBox(page);
    alignment->setObjectName(QStringLiteral("compositionAlignment"));
    alignment->addItem(QStringLiteral("Start"), 0.0);
    alignment->addItem(QStringLiteral("Center"), 0.5);
    alignment->addItem(QStringLiteral("End"), 1.0);
    alignment->setCurrentIndex(std::max(0, alignment->findData(state.alignment)));
    QObject::connect(alignment, &QComboBox::currentIndexChanged, page, [&view, alignment](int) {
        view.setComposition(view.state().vertical, view.state().spacing, alignment->currentData().toDouble());
    });
    labelled(stack, QStringLiteral("Alignment"), alignment);

    stack->addWidget(caption(QStringLiteral("Import multiple image files, or drop history files onto canvas. Canvas "
                                            "expands without stretching source images."),
                             page));
    auto* arrange = button(QStringLiteral("Arrange image layers"), QStringLiteral("arrangeImageLayers"), page);
    QObject::connect(arrange, &QPushButton::clicked, page, [&view] { view.attempt([&view] { view.arrangeImageLayers(); }); });
    stack->addWidget(arrange, 0, Qt::AlignLeft);
    auto* expand = button(QStringLiteral("Expand canvas to objects"), QStringLiteral("expandCanvas"), page);
    QObject::connect(expand, &QPushButton::clicked, page, [&view] { view.expandCanvasToObjects(); });
    stack->addWidget(expand, 0, Qt::AlignLeft);
    auto* rasterize = button(QStringLiteral("Rasterize (Undo available)"), QStringLiteral("compositionRasterize"), page);
    QObject::connect(rasterize, &QPushButton::clicked, page,
                     [&view] { view.attemptSession([](ScreenshotDocumentSession& s) { s.flatten(); }); });
    stack->addWidget(rasterize, 0, Qt::AlignLeft);
    return page;
}

QWidget* resizePage(ScreenshotEditorView& view) {
    auto* page = new QWidget;
    QVBoxLayout* stack = pageStack(page, QStringLiteral("resizePage"));
    ScreenshotEditorView::State& state = view.state();
    stack->addWidget(headline(QStringLiteral("Resize canvas and layers"), page));

    auto* width = new DecimalField(QStringLiteral("resizeWidth"), state.width, page);
    QObject::connect(width, &DecimalField::valueEdited, page, [&state](double value) {
        state.width = value;
        state.editedWidth = true;
    });
    labelled(stack, QStringLiteral("Width px"), width);
    auto* height = new DecimalField(QStringLiteral("resizeHeight"), state.height, page);
    QObject::connect(height, &DecimalField::valueEdited, page, [&state](double value) {
        state.height = value;
        state.editedWidth = false;
    });
    labelled(stack, QStringLiteral("Height px"), height);

    auto* aspect = new QCheckBox(QStringLiteral("Lock aspect (last edited dimension)"), page);
    aspect->setObjectName(QStringLiteral("lockAspect"));
    aspect->setChecked(state.aspect);
    QObject::connect(aspect, &QCheckBox::toggled, page, [&state](bool on) { state.aspect = on; });
    stack->addWidget(aspect);
    auto* dimensions = button(QStringLiteral("Apply dimensions"), QStringLiteral("applyDimensions"), page);
    QObject::connect(dimensions, &QPushButton::clicked, page, [&view] { view.applyDimensions(); });
    stack->addWidget(dimensions, 0, Qt::AlignLeft);

    auto* percent = new DecimalField(QStringLiteral("resizePercent"), state.percent, page);
    QObject::connect(percent, &DecimalField::valueEdited, page, [&state](double value) { state.percent = value; });
    labelled(stack, QStringLiteral("Percent"), percent);
    auto* apply = button(QStringLiteral("Apply percent"), QStringLiteral("applyPercent"), page);
    QObject::connect(apply, &QPushButton::clicked, page, [&view] { view.attempt([&view] { view.applyPercent(); }); });
    stack->addWidget(apply, 0, Qt::AlignLeft);
    return page;
}

}  // namespace brevalto
