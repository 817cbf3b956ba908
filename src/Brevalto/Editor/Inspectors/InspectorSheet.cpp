#include "Editor/Inspectors/InspectorSheet.h"

#include "ClipCore/UnicodeText.h"
#include "Document/DocumentValidation.h"
#include "Document/ScreenshotDocumentSession.h"
#include "Editor/Inspectors/ColorContrastPage.h"
#include "Editor/Inspectors/CompositionPages.h"
#include "Editor/Inspectors/DecimalField.h"
#include "Editor/Inspectors/ExportOptionsPage.h"
#include "Editor/Inspectors/InspectorRows.h"
#include "Editor/Inspectors/ScreenshotObjectInspector.h"
#include "Editor/Inspectors/ScreenshotSelectionInspector.h"
#include "Editor/View/EditorControls.h"
#include "Editor/View/ScreenshotEditorView.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cmath>

namespace brevalto {

namespace {

using Property = ScreenshotDocumentSession::Property;

constexpr int kSheetWidth = 400;
constexpr int kSheetHeight = 480;
constexpr double kMaxPadding = 2000;
constexpr int kToleranceSteps = 1000;  // slider steps over 0 ... 0.5

using InspectorRows::button;
using InspectorRows::caption;
using InspectorRows::headline;

}  // namespace

InspectorSheet::InspectorSheet(ScreenshotEditorView& view)
    : QWidget(&view), view_(view), session_(view.session()) {
    setObjectName(QStringLiteral("inspectorOverlay"));
    hide();
    view.installEventFilter(this);

    frame_ = new QFrame(this);
    frame_->setObjectName(QStringLiteral("inspectorSheet"));
    frame_->setFrameShape(QFrame::StyledPanel);
    frame_->setAutoFillBackground(true);
    frame_->setFixedSize(kSheetWidth, kSheetHeight);
    frame_->setFocusPolicy(Qt::StrongFocus);
    auto* stack = new QVBoxLayout(frame_);
    stack->setContentsMargins(16, 16, 16, 16);
    stack->setSpacing(12);
    title_ = headline({}, frame_);
    title_->setObjectName(QStringLiteral("inspectorTitle"));
    stack->addWidget(title_);
    scroll_ = new QScrollArea(frame_);
    scroll_->setObjectName(QStringLiteral("inspectorScroll"));
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    stack->addWidget(scroll_, 1);
    auto* last = new QHBoxLayout;
    last->addStretch(1);
    done_ = new QPushButton(QStringLiteral("Done"), frame_);
    done_->setObjectName(QStringLiteral("inspectorDone"));
    done_->setDefault(true);
    connect(done_, &QPushButton::clicked, this, &InspectorSheet::close);
    last->addWidget(done_);
    stack->addLayout(last);

    // Under the panel's style sheet a widget takes no palette from its parent: the sheet hands the
    // editor's dark one to each of its widgets, also to those its pages make later.
    dark_ = editorDarkPalette(palette());
    darken(this);

    connect(&view, &ScreenshotEditorView::panelChanged, this, &InspectorSheet::showPanel);
    connect(&session_, &ScreenshotDocumentSession::changed, this, [this](Property property) {
        const std::optional<EditorPanel>& panel = view_.panel();
        if (!panel) return;
        if (*panel == EditorPanel::layers && (property == Property::document || property == Property::selectedID))
            refillLayers();
        else if (*panel == EditorPanel::selection && property == Property::selection) {
            auto* inspector = page_ ? page_->findChild<ScreenshotSelectionInspector*>() : nullptr;
            if (inspector && session_.selection())
                inspector->setRect(*session_.selection());
            else
                showPanel(panel);
        } else if (*panel == EditorPanel::style && property == Property::style)
            applyStyleToSelectedLayer();
        else if (*panel == EditorPanel::object && property == Property::selectedID)
            showPanel(panel);
        else if (*panel == EditorPanel::object && property == Property::document)
            followSelectedLayer();
    });
}

ScreenshotObjectInspector* InspectorSheet::objectInspector() const {
    return page_ ? page_->findChild<ScreenshotObjectInspector*>() : nullptr;
}

void InspectorSheet::followSelectedLayer() {
    ScreenshotObjectInspector* inspector = objectInspector();
    if (!inspector) return;
    if (const std::optional<ScreenshotLayer> layer = session_.selectedLayer()) {
        inspector->setLayer(*layer);
        return;
    }
    // The layer went away (Delete, Undo) inside a session operation that is still running. Leaving
    // the page closes the inspector's open step, which from in there would take the operation's own
    // save, and its failure, away from it: the page is rebuilt once the operation has returned.
    if (rebuildQueued_) return;
    rebuildQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            rebuildQueued_ = false;
            if (view_.panel() == EditorPanel::object && objectInspector() && !session_.selectedLayer())
                showPanel(view_.panel());
        },
        Qt::QueuedConnection);
}

void InspectorSheet::darken(QWidget* widget) {
    QList<QWidget*> widgets = widget->findChildren<QWidget*>();
    widgets.prepend(widget);
    for (QWidget* each : widgets) {
        // Colours a widget has of its own (the selected layer's accent, a swatch) stay.
        const QPalette plain = QApplication::palette(each);
        const QPalette own = each->palette();
        QPalette palette = dark_;
        for (int group = 0; group < QPalette::NColorGroups; ++group)
            for (int role = 0; role < QPalette::NColorRoles; ++role) {
                const auto g = QPalette::ColorGroup(group);
                const auto r = QPalette::ColorRole(role);
                if (own.brush(g, r) != plain.brush(g, r)) palette.setBrush(g, r, own.brush(g, r));
            }
        if (palette != own) each->setPalette(palette);
        each->installEventFilter(this);
    }
}

bool InspectorSheet::eventFilter(QObject* watched, QEvent* event) {
    // The view's other children keep their own colours.
    if (watched != &view_ && (event->type() == QEvent::ChildAdded || event->type() == QEvent::ChildPolished)) {
        QObject* child = static_cast<QChildEvent*>(event)->child();
        // A widget still being made only gets the filter; it takes the palette once polished.
        if (child->isWidgetType() && event->type() == QEvent::ChildAdded)
            child->installEventFilter(this);
        else if (child->isWidgetType())
            darken(static_cast<QWidget*>(child));
        return false;
    }
    if (watched == &view_ && event->type() == QEvent::Resize && isVisible()) {
        setGeometry(view_.rect());
        frame_->move((width() - frame_->width()) / 2, (height() - frame_->height()) / 2);
    }
    return QWidget::eventFilter(watched, event);
}

void InspectorSheet::paintEvent(QPaintEvent*) {
    QPainter(this).fillRect(rect(), QColor(0, 0, 0, 90));  // the editor behind is blocked
}

void InspectorSheet::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter: close(); return;
    default: QWidget::keyPressEvent(event);
    }
}

void InspectorSheet::close() { view_.setPanel(std::nullopt); }

void InspectorSheet::showPanel(std::optional<EditorPanel> panel) {
    if (page_) {
        if (ScreenshotObjectInspector* inspector = objectInspector()) inspector->commitPending();
        page_->deleteLater();
    }
    page_ = nullptr;
    if (!panel) {
        hide();
        view_.setFocus(Qt::OtherFocusReason);
        return;
    }
    title_->setText(title(*panel));
    page_ = buildPage(*panel);
    scroll_->setWidget(page_);
    darken(page_);
    setGeometry(view_.rect());
    frame_->move((width() - frame_->width()) / 2, (height() - frame_->height()) / 2);
    show();
    raise();
    frame_->setFocus(Qt::OtherFocusReason);
}

QWidget* InspectorSheet::buildPage(EditorPanel panel) {
    switch (panel) {
    case EditorPanel::style: return stylePage();
    case EditorPanel::object: {
        auto* page = new QWidget;
        page->setObjectName(QStringLiteral("objectPage"));
        auto* stack = new QVBoxLayout(page);
        stack->setContentsMargins(0, 0, 0, 0);
        stack->setAlignment(Qt::AlignTop);
        if (const std::optional<ScreenshotLayer> layer = session_.selectedLayer())
            stack->addWidget(new ScreenshotObjectInspector(session_, *layer, page));
        else
            stack->addWidget(caption(QStringLiteral("Select an object first."), page));
        return page;
    }
    case EditorPanel::layers: return layersPage();
    case EditorPanel::selection: return selectionPage();
    case EditorPanel::composition: return compositionPage(view_);
    case EditorPanel::resize: return resizePage(view_);
    case EditorPanel::export_: return exportOptionsPage(view_);
    case EditorPanel::color: return new ColorContrastPage(view_);
    }
    return nullptr;
}

// ---- Layers

QString InspectorSheet::layerRowTitle(const ScreenshotLayer& layer) {
    const std::string_view text = unicode::graphemePrefix(layer.text, 16);  // characters as the user sees them
    return QString::fromUtf8(title(layer.kind).data(), qsizetype(title(layer.kind).size())) + QLatin1Char(' ') +
           QString::fromUtf8(text.data(), qsizetype(text.size()));
}

QWidget* InspectorSheet::layersPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("layersPage"));
    layerRows_ = new QVBoxLayout(page);
    layerRows_->setContentsMargins(0, 0, 0, 0);
    layerRows_->setSpacing(6);
    layerRows_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    page_ = page;
    refillLayers();
    return page;
}

void InspectorSheet::refillLayers() {
    if (!layerRows_) return;
    QWidget* page = layerRows_->parentWidget();
    for (QWidget* row : page->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) row->deleteLater();
    const ScreenshotDocument& document = session_.document();
    for (std::size_t index = 0; index < document.layers.size(); ++index) {
        const ScreenshotLayer& layer = document.layers[index];
        auto* row = new QWidget(page);
        row->setObjectName(QStringLiteral("layerRow%1").arg(index));
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(0, 0, 0, 0);
        auto* name = button(layerRowTitle(layer), QStringLiteral("layerTitle"), row);
        name->setFlat(true);
        name->setStyleSheet(QStringLiteral("text-align: left; border: none;"));
        QPalette colours = name->palette();
        const bool selected = session_.selectedID() == layer.id;
        colours.setColor(QPalette::ButtonText, selected ? palette().color(QPalette::Highlight)
                                                        : palette().color(QPalette::WindowText));
        name->setPalette(colours);
        name->setProperty("selectedRow", selected);
        connect(name, &QPushButton::clicked, this, [this, layer] { selectLayer(layer); });
        line->addWidget(name, 1);
        auto* hide = button(layer.hidden ? QStringLiteral("Show") : QStringLiteral("Hide"),
                            QStringLiteral("layerHidden"), row);
        connect(hide, &QPushButton::clicked, this, [this, layer] { toggleLayerHidden(layer); });
        line->addWidget(hide);
        layerRows_->addWidget(row);
    }
}

void InspectorSheet::selectLayer(const ScreenshotLayer& layer) {
    session_.setSelectedID(layer.id);
    session_.setStyle(layer.style);
    session_.setTool(QStringLiteral("select"));
}

void InspectorSheet::toggleLayerHidden(const ScreenshotLayer& layer) {
    view_.attemptSession([&layer](ScreenshotDocumentSession& s) {
        s.edit([&layer](ScreenshotDocument& document) {
            for (ScreenshotLayer& each : document.layers)
                if (each.id == layer.id) {
                    each.hidden = !each.hidden;
                    return;
                }
        });
    });
}

// ---- Tool style

void InspectorSheet::changeStyle(const std::function<void(ScreenshotStyle&)>& change) {
    ScreenshotStyle style = session_.style();
    change(style);
    session_.setStyle(std::move(style));
}

namespace {

QColor qColor(const ScreenshotColor::RGBA& c) { return c.qColor(); }

ScreenshotColor::RGBA rgba(const QColor& color) { return ScreenshotColor::RGBA::fromQColor(color); }

void paintSwatch(QPushButton* swatch, const ScreenshotColor::RGBA& color) {
    InspectorRows::paintSwatch(swatch, qColor(color));
}

}  // namespace

QWidget* InspectorSheet::stylePage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("stylePage"));
    auto* stack = new QVBoxLayout(page);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(8);
    stack->setAlignment(Qt::AlignTop);
    stack->addWidget(headline(QStringLiteral("Tool style"), page));
    const ScreenshotStyle& style = session_.style();
    auto labelled = [&](const QString& label, QWidget* control) {
        auto* row = new QHBoxLayout;
        row->addWidget(new QLabel(label, page));
        row->addWidget(control, 1);
        control->setAccessibleName(label);
        stack->addLayout(row);
    };

    using Color = ScreenshotColor::RGBA ScreenshotStyle::*;
    for (auto [label, name, member] : {std::tuple{"Stroke / text", "strokeColor", Color(&ScreenshotStyle::stroke)},
                                       std::tuple{"Fill", "fillColor", Color(&ScreenshotStyle::fill)}}) {
        auto* swatch = button({}, QString::fromUtf8(name), page);
        paintSwatch(swatch, style.*member);
        connect(swatch, &QPushButton::clicked, this, [this, swatch, member] {
            auto* dialog = new QColorDialog(qColor(session_.style().*member), window());
            dialog->setObjectName(QStringLiteral("styleColorDialog"));
            dialog->setOption(QColorDialog::ShowAlphaChannel);
            dialog->setAttribute(Qt::WA_DeleteOnClose);
            const ScreenshotColor::RGBA before = session_.style().*member;
            connect(dialog, &QColorDialog::currentColorChanged, this, [this, swatch, member](const QColor& color) {
                changeStyle([&](ScreenshotStyle& s) { s.*member = rgba(color); });
                paintSwatch(swatch, session_.style().*member);
            });
            connect(dialog, &QColorDialog::rejected, this, [this, swatch, member, before] {
                changeStyle([&](ScreenshotStyle& s) { s.*member = before; });
                paintSwatch(swatch, before);
            });
            dialog->open();
        });
        labelled(QString::fromUtf8(label), swatch);
    }

    using Flag = bool ScreenshotStyle::*;
    auto toggle = [&](const char* label, const char* name, Flag member) {
        auto* box = new QCheckBox(QString::fromUtf8(label), page);
        box->setObjectName(QString::fromUtf8(name));
        box->setChecked(style.*member);
        connect(box, &QCheckBox::toggled, this,
                [this, member](bool on) { changeStyle([&](ScreenshotStyle& s) { s.*member = on; }); });
        stack->addWidget(box);
    };
    toggle("Fill shape", "filledToggle", &ScreenshotStyle::filled);

    // A size the document refuses would make every layer drawn with it fail to save: the field
    // keeps the last one it accepts.
    using Number = double ScreenshotStyle::*;
    for (auto [label, name, member] : {std::tuple{"Stroke px", "strokeWidthField", Number(&ScreenshotStyle::strokeWidth)},
                                       std::tuple{"Font size", "fontSizeField", Number(&ScreenshotStyle::fontSize)}}) {
        auto* field = new DecimalField(QString::fromUtf8(name), style.*member, page);
        field->setAcceptance([this, member](double value) {
            ScreenshotStyle s = session_.style();
            s.*member = value;
            return styleIsValid(s);
        });
        connect(field, &DecimalField::valueEdited, this,
                [this, member](double value) { changeStyle([&](ScreenshotStyle& s) { s.*member = value; }); });
        labelled(QString::fromUtf8(label), field);
    }

    auto* font = new QLineEdit(QString::fromStdString(style.fontName), page);
    font->setObjectName(QStringLiteral("fontNameField"));
    connect(font, &QLineEdit::textEdited, this, [this](const QString& text) {
        changeStyle([&](ScreenshotStyle& s) { s.fontName = text.toStdString(); });
    });
    labelled(QStringLiteral("Font name"), font);

    stack->addWidget(caption(QStringLiteral("Opacity"), page));
    auto* opacity = new QSlider(Qt::Horizontal, page);
    opacity->setObjectName(QStringLiteral("opacitySlider"));
    opacity->setAccessibleName(QStringLiteral("Opacity"));
    opacity->setRange(0, 1000);
    opacity->setValue(int(std::lround(std::clamp(style.opacity, 0.0, 1.0) * 1000)));
    connect(opacity, &QSlider::valueChanged, this,
            [this](int step) { changeStyle([&](ScreenshotStyle& s) { s.opacity = step / 1000.0; }); });
    stack->addWidget(opacity);

    toggle("Hand-drawn style", "handDrawnToggle", &ScreenshotStyle::handDrawn);

    auto* remember = button(QStringLiteral("Remember tool style"), QStringLiteral("rememberStyle"), page);
    connect(remember, &QPushButton::clicked, this, [this] { session_.saveStyle(); });
    stack->addWidget(remember, 0, Qt::AlignLeft);

    auto* counter = new QSpinBox(page);
    counter->setObjectName(QStringLiteral("nextCounter"));
    counter->setRange(1, 9999);
    counter->setPrefix(QStringLiteral("Next counter: "));
    counter->setValue(session_.nextCounter());
    connect(counter, &QSpinBox::valueChanged, this, [this](int next) { session_.setNextCounter(next); });
    stack->addWidget(counter, 0, Qt::AlignLeft);
    return page;
}

void InspectorSheet::applyStyleToSelectedLayer() {
    const std::optional<ScreenshotLayer> selected = session_.selectedLayer();
    if (!selected || selected->kind == ScreenshotLayerKind::image) return;
    const ScreenshotDocument& document = session_.document();
    for (std::size_t index = 0; index < document.layers.size(); ++index) {
        if (document.layers[index].id != selected->id) continue;
        if (document.layers[index].style == session_.style()) return;
        session_.beginGesture();
        ScreenshotDocument changed = document;
        changed.layers[index].style = session_.style();
        session_.setDocument(std::move(changed));
        session_.scheduleRender();
        return;
    }
}

// ---- Selection

std::optional<QRectF> InspectorSheet::paddedSelection(const QRectF& selection, double padding,
                                                      const ScreenshotDocument& document) {
    if (!std::isfinite(padding) || std::abs(padding) > kMaxPadding) return std::nullopt;
    const QRectF visible = document.crop ? document.crop->normalized() : QRectF(QPointF(0, 0), document.canvas);
    const QRectF grown = selection.normalized().adjusted(-padding, -padding, padding, padding);
    if (grown.width() <= 0 || grown.height() <= 0) return std::nullopt;
    // Whole pixels, rounded outwards, inside the visible image: what the session accepts.
    const QRectF whole(QPointF(std::floor(grown.left()), std::floor(grown.top())),
                       QPointF(std::ceil(grown.right()), std::ceil(grown.bottom())));
    const QRectF clipped = whole.intersected(
        QRectF(QPointF(std::ceil(visible.left()), std::ceil(visible.top())),
               QPointF(std::floor(visible.right()), std::floor(visible.bottom()))));
    if (clipped.isEmpty() || clipped.width() < 1 || clipped.height() < 1) return std::nullopt;
    return clipped;
}

void InspectorSheet::padSelection() {
    if (!session_.selection()) return;
    if (auto padded = paddedSelection(*session_.selection(), view_.state().padding, session_.document()))
        session_.setSelectionRect(padded);
}

QWidget* InspectorSheet::selectionPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("selectionPage"));
    auto* stack = new QVBoxLayout(page);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(8);
    stack->setAlignment(Qt::AlignTop);
    if (const std::optional<QRectF>& selection = session_.selection())
        stack->addWidget(new ScreenshotSelectionInspector(session_, *selection, page));
    else
        stack->addWidget(caption(QStringLiteral("Drag on the image with the Select tool to create a selection."), page));
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("Padding px"), page));
    auto* padding = new DecimalField(QStringLiteral("paddingField"), view_.state().padding, page);
    padding->setAccessibleName(QStringLiteral("Padding px"));
    connect(padding, &DecimalField::valueEdited, this, [this](double value) { view_.state().padding = value; });
    row->addWidget(padding);
    stack->addLayout(row);
    auto* pad = button(QStringLiteral("Pad selection"), QStringLiteral("padSelection"), page);
    connect(pad, &QPushButton::clicked, this, &InspectorSheet::padSelection);
    stack->addWidget(pad, 0, Qt::AlignLeft);
    stack->addWidget(caption(QStringLiteral("Smart / ruler tolerance"), page));
    auto* tolerance = new QSlider(Qt::Horizontal, page);
    tolerance->setObjectName(QStringLiteral("toleranceSlider"));
    tolerance->setRange(0, kToleranceSteps);
    tolerance->setValue(int(std::lround(session_.tolerance() / 0.5 * kToleranceSteps)));
    connect(tolerance, &QSlider::valueChanged, this,
            [this](int step) { session_.setTolerance(0.5 * step / kToleranceSteps); });
    stack->addWidget(tolerance);
    return page;
}

}  // namespace brevalto
