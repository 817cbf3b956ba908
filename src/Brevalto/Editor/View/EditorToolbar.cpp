#include "Editor/View/EditorToolbar.h"

#include "Document/ScreenshotDocumentSession.h"
#include "Document/ScreenshotDragView.h"
#include "Editor/View/EditorControls.h"
#include "Editor/View/EditorMoreMenu.h"
#include "Editor/View/ScreenshotEditorView.h"
#include "Editor/View/ScreenshotShareButton.h"
#include "Editor/View/SelectionActionBar.h"
#include "Editor/View/ToolPalette.h"
#include "Platform/Symbols.h"

#include <QHBoxLayout>
#include <QPaintEvent>
#include <QPainter>
#include <QTimer>

#include <cmath>

namespace brevalto {

namespace {

using Property = ScreenshotDocumentSession::Property;

constexpr int kFrameMs = 16;

// The drag item drawn like the bar's icon buttons, from the symbol images kept for the process.
class EditorDragButton : public ScreenshotDragView, public EditorRowControl {
public:
    using ScreenshotDragView::ScreenshotDragView;

    void paintControl(QPainter& painter) const override {
        constexpr int size = 15;
        const QImage& symbol =
            cachedSymbol(QStringLiteral("arrow.up.doc"), size, QColor(255, 255, 255, 230), devicePixelRatioF());
        if (!symbol.isNull()) painter.drawImage(QPoint((width() - size) / 2, (height() - size) / 2), symbol);
    }

protected:
    void paintEvent(QPaintEvent*) override { paintUnlessInRow(*this); }
};

}  // namespace

EditorToolbar::EditorToolbar(ScreenshotEditorView& view, QWidget* parent) : EditorControlRow(parent), view_(view) {
    setObjectName(QStringLiteral("editorToolbar"));
    setFixedHeight(52);
    ScreenshotDocumentSession& session = view_.session();
    auto* row = row_ = new QHBoxLayout(this);
    row->setContentsMargins(10, 0, 10, 0);
    row->setSpacing(4);

    auto* copy = new EditorIconButton(QStringLiteral("doc.on.doc"), QStringLiteral("Copy image"), QStringLiteral("copyImage"), this);
    connect(copy, &QAbstractButton::clicked, this, [this] { view_.copyImage(); });
    row->addWidget(copy);
    auto* save = new EditorIconButton(QStringLiteral("square.and.arrow.down"), QStringLiteral("Save As\u2026"),
                                      QStringLiteral("saveAs"), this);
    connect(save, &QAbstractButton::clicked, this,
            [this] { view_.attemptOutput(ScreenshotEditorView::Output::save, [this] { view_.saveImage(false); }); });
    row->addWidget(save);
    auto* pin = new EditorIconButton(QStringLiteral("pin"), QStringLiteral("Pin floating"), QStringLiteral("pin"), this);
    connect(pin, &QAbstractButton::clicked, this, [this] { view_.pinReference(); });
    row->addWidget(pin);

    const auto render = [this] {
        if (!view_.controller()) throw std::runtime_error(ScreenshotEditorController::noDocumentMessage.toStdString());
        return view_.controller()->selectionImage(true, true);
    };
    const auto failed = [this](ScreenshotEditorView::Output output) {
        return [this, output](const std::exception& error) { view_.refuse(output, error); };
    };
    drag_ = new EditorDragButton(this);
    drag_->setObjectName(QStringLiteral("drag"));
    drag_->setToolTip(QStringLiteral("Drag PNG file to another app"));
    drag_->setFixedSize(30, 28);
    drag_->setFocusPolicy(Qt::NoFocus);
    drag_->makeImage = render;
    drag_->folder = session.directory() / "Drag";
    drag_->failed = failed(ScreenshotEditorView::Output::drag);
    row->addWidget(drag_);
    share_ = new ScreenshotShareButton(view_, this);
    share_->image = render;
    share_->failed = failed(ScreenshotEditorView::Output::share);
    row->addWidget(share_);
    backdrop_ = new EditorIconButton(QStringLiteral("rectangle.inset.filled"), QStringLiteral("Backdrop"),
                                     QStringLiteral("backdrop"), this);
    connect(backdrop_, &QAbstractButton::clicked, this, [this] { view_.toggleBackdrop(); });
    row->addWidget(backdrop_);
    separators_.push_back(addEditorSeparator(*row));

    // The mode group: exactly one of the palette, the selection bar and the proposal's buttons,
    // the last two made when first needed and placed before the palette. The palette takes the
    // row's free width; while it is hidden the stretch after it does.
    palette_ = new ToolPalette(view_, this);
    row->addWidget(palette_, 1);
    row->addSpacing(8);
    row->addStretch(0);

    undo_ = new EditorIconButton(QStringLiteral("arrow.uturn.backward"), QStringLiteral("Undo Ctrl+Z"), QStringLiteral("undo"), this);
    connect(undo_, &QAbstractButton::clicked, this, [this] { view_.session().undo(); });
    row->addWidget(undo_);
    redo_ = new EditorIconButton(QStringLiteral("arrow.uturn.forward"), QStringLiteral("Redo Ctrl+Shift+Z"),
                                 QStringLiteral("redo"), this);
    connect(redo_, &QAbstractButton::clicked, this, [this] { view_.session().redo(); });
    row->addWidget(redo_);
    separators_.push_back(addEditorSeparator(*row));

    color_ = new EditorReadoutButton(QStringLiteral("hoverColor"),
                                     QStringLiteral("Color under the pointer. Click or press Tab to copy."), true, this);
    connect(static_cast<EditorReadoutButton*>(color_), &QAbstractButton::clicked, this, [this] { view_.copyHoverColor(); });
    row->addWidget(color_);
    separators_.push_back(addEditorSeparator(*row));
    size_ = new EditorReadout(QStringLiteral("sizeReadout"), this);
    row->addWidget(size_);
    separators_.push_back(addEditorSeparator(*row));
    zoom_ = new EditorReadoutButton(QStringLiteral("zoom"), QStringLiteral("Toggle 100% and Fit"), false, this);
    connect(static_cast<EditorReadoutButton*>(zoom_), &QAbstractButton::clicked, this, [this] { view_.toggleZoom(); });
    row->addWidget(zoom_);

    more_ = new EditorIconButton(QStringLiteral("line.3.horizontal"), QStringLiteral("More"), QStringLiteral("more"),
                                 this, QStringLiteral("More actions"));
    more_->setMenuFactory([this] { return moreMenu_ = new EditorMoreMenu(view_, more_); });
    row->addWidget(more_);
    auto* done = new EditorTextButton(QStringLiteral("Done"), QStringLiteral("done"), this);
    done->setToolTip(QStringLiteral("Close the editor. Changes are saved."));
    done->setAccessibleName(QStringLiteral("Done"));
    connect(done, &QAbstractButton::clicked, this, [this] { view_.done(); });
    row->addWidget(done);

    hoverFrame_ = new QTimer(this);
    hoverFrame_->setSingleShot(true);
    hoverFrame_->setInterval(kFrameMs);
    connect(hoverFrame_, &QTimer::timeout, this, [this] {
        if (hoverPending_) refreshHoverColor();
    });

    connect(&session, &ScreenshotDocumentSession::changed, this, [this](Property property) {
        switch (property) {
        case Property::document:
            refreshDocument();
            break;
        case Property::selection:
        case Property::smartCandidate:
            refreshMode();
            refreshSize();
            if (moreMenu_) moreMenu_->refresh();
            break;
        case Property::tool: palette_->refreshActive(); break;
        case Property::zoom: refreshZoom(); break;
        case Property::hoverColor: hoverColorChanged(); break;
        case Property::secretCandidates: refreshSecrets(); break;
        case Property::snap:
        case Property::guides:
            if (moreMenu_) moreMenu_->refresh();
            break;
        default: break;
        }
    });
    refreshMode();
    refreshDocument();
    refreshZoom();
    refreshHoverColor();
}

void EditorToolbar::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    paintEditorLines(painter, separators_);
    paintControls(painter, event->region());
}

QWidget* EditorToolbar::smartGroup() {
    if (!smart_) {
        smart_ = new QWidget(this);
        smart_->setObjectName(QStringLiteral("smartGroup"));
        smart_->hide();
        auto* row = new QHBoxLayout(smart_);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(4);
        auto* apply = new EditorTextButton(QStringLiteral("Apply selection"), QStringLiteral("applySelection"), smart_);
        connect(apply, &QAbstractButton::clicked, this, [this] { view_.applySmartCandidate(); });
        row->addWidget(apply);
        auto* cancel = new EditorTextButton(QStringLiteral("Cancel"), QStringLiteral("cancelSmartSelection"), smart_);
        connect(cancel, &QAbstractButton::clicked, this, [this] { view_.cancelSmartCandidate(); });
        row->addWidget(cancel);
        row_->insertWidget(row_->indexOf(palette_), smart_);
    }
    return smart_;
}

SelectionActionBar* EditorToolbar::selectionBar() {
    if (!selectionBar_) {
        selectionBar_ = new SelectionActionBar(view_, this);
        selectionBar_->hide();
        row_->insertWidget(row_->indexOf(palette_), selectionBar_);
    }
    return selectionBar_;
}

EditorMoreMenu* EditorToolbar::moreMenu() {
    more_->ensureMenu();
    return moreMenu_;
}

void EditorToolbar::refreshMode() {
    const ScreenshotDocumentSession& s = view_.session();
    const bool smart = s.smartCandidate().has_value();
    const bool selection = !smart && s.selection().has_value();
    // Shows or hides only what changes (a widget that is shown already still gets a round of
    // events when shown again).
    const auto set = [](QWidget* widget, bool visible) {
        if (widget->isHidden() == visible) widget->setVisible(visible);
    };
    if (smart || smart_) set(smartGroup(), smart);
    if (selection || selectionBar_) set(selectionBar(), selection);
    set(palette_, !smart && !selection);
}

void EditorToolbar::refreshDocument() {
    const ScreenshotDocumentSession& s = view_.session();
    backdrop_->setActive(s.document().backdrop.enabled);
    undo_->setEnabled(!s.undoStack().empty());
    redo_->setEnabled(!s.redoStack().empty());
    refreshSize();
    refreshSecrets();
    if (moreMenu_) moreMenu_->refresh();
}

void EditorToolbar::refreshSize() {
    size_->setTexts(view_.sizeText(), view_.session().selection() ? QStringLiteral("Selection size") : QStringLiteral("Image size"));
}

void EditorToolbar::refreshZoom() {
    const long percent = std::lround(view_.session().zoom() * 100);
    auto* zoom = static_cast<EditorReadoutButton*>(zoom_);
    zoom->setTexts(QString::number(percent) + QLatin1Char('%'), QStringLiteral("Zoom"));
    zoom->setAccessibleName(QStringLiteral("Zoom %1 percent. Toggle 100% and Fit").arg(percent));
}

void EditorToolbar::hoverColorChanged() {
    if (hoverFrame_->isActive()) {
        hoverPending_ = true;
        return;
    }
    refreshHoverColor();
    hoverFrame_->start();
}

void EditorToolbar::refreshHoverColor() {
    hoverPending_ = false;
    const auto& color = view_.session().hoverColor();
    const QString hex = color ? QString::fromStdString(color->hex()) : QStringLiteral("#------");
    auto* readout = static_cast<EditorReadoutButton*>(color_);
    readout->setTexts(hex, QStringLiteral("Tab to copy"));
    readout->setSwatchColor(color ? color->qColor() : QColor(Qt::white));
    readout->setAccessibleName(QStringLiteral("Color under pointer ") + hex + QStringLiteral(". Copy"));
}

void EditorToolbar::refreshSecrets() {
    const std::size_t count = view_.session().secretFrames().size();
    if (count == 0 && !redactSecrets_) return;
    if (!redactSecrets_) {
        redactSecrets_ = new EditorTextButton(QString(), QStringLiteral("redactSecrets"), this,
                                              QStringLiteral("exclamationmark.shield"), QColor(230, 126, 20));
        redactSecrets_->setToolTip(QStringLiteral(
            "On-device OCR found likely keys, tokens or emails (orange boxes). Click to cover them with opaque masks."));
        connect(redactSecrets_, &QAbstractButton::clicked, this, [this] {
            if (view_.controller()) view_.controller()->redactSecrets();
        });
        const int after = row_->indexOf(palette_) + 1;
        row_->insertWidget(after, redactSecrets_);
        dismissSecrets_ = new EditorIconButton(QStringLiteral("xmark"), QStringLiteral("Dismiss secret warning"),
                                               QStringLiteral("dismissSecrets"), this);
        connect(dismissSecrets_, &QAbstractButton::clicked, this,
                [this] { view_.session().setSecretCandidates(std::nullopt); });
        row_->insertWidget(after + 1, dismissSecrets_);
    }
    redactSecrets_->setVisible(count > 0);
    dismissSecrets_->setVisible(count > 0);
    if (count > 0) {
        redactSecrets_->setText(QStringLiteral("Redact %1 secret%2").arg(count).arg(count == 1 ? "" : "s"));
        redactSecrets_->updateGeometry();
    }
}

}  // namespace brevalto
