#include "Editor/View/ScreenshotEditorView.h"

#include "Document/ScreenshotDocumentSession.h"
#include "Editor/Canvas/ScreenshotCanvasView.h"
#include "Editor/Inspectors/InspectorSheet.h"
#include "Editor/View/BackdropPopover.h"
#include "Editor/View/EditorControls.h"
#include "Editor/View/EditorToolbar.h"
#include "Editor/View/ScreenshotContextBar.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QResizeEvent>
#include <QTimer>
#include <QVBoxLayout>

#include <iterator>
#include <stdexcept>

namespace brevalto {

namespace {

using Property = ScreenshotDocumentSession::Property;

constexpr int kCornerRadius = 10;

// Rounds the widget's corners as the panel shows it.
class RoundedCorners : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize) {
            auto* widget = static_cast<QWidget*>(watched);
            widget->setMask(mask(widget->size()));
        }
        return false;
    }

private:
    // The region of the last size asked for: every editor of the panel has the same size.
    static const QRegion& mask(const QSize& size) {
        static QSize last;
        static QRegion region;
        if (size != last) {
            QPainterPath path;
            path.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(size)), kCornerRadius, kCornerRadius);
            region = QRegion(path.toFillPolygon().toPolygon());
            last = size;
        }
        return region;
    }
};

// The backdrop popover is a popup window, which Qt leaves out of the application's windows in
// the accessibility tree, so assistive technology could not reach its sliders and presets.
// While it shows, it is the editor view's last child there.
class EditorViewAccessible final : public QAccessibleWidget {
public:
    explicit EditorViewAccessible(ScreenshotEditorView* view) : QAccessibleWidget(view) {}

    int childCount() const override { return QAccessibleWidget::childCount() + (popover() ? 1 : 0); }
    QAccessibleInterface* child(int index) const override {
        if (BackdropPopover* shown = popover(); shown && index == QAccessibleWidget::childCount())
            return QAccessible::queryAccessibleInterface(shown);
        return QAccessibleWidget::child(index);
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        if (BackdropPopover* shown = popover(); shown && child && child->object() == shown)
            return QAccessibleWidget::childCount();
        return QAccessibleWidget::indexOfChild(child);
    }

private:
    BackdropPopover* popover() const {
        BackdropPopover* popover = static_cast<ScreenshotEditorView*>(widget())->backdropPopover();
        return popover && popover->isVisible() ? popover : nullptr;
    }
};

QAccessibleInterface* editorViewAccessible(const QString& key, QObject* object) {
    if (key != QLatin1String("brevalto::ScreenshotEditorView")) return nullptr;
    auto* view = qobject_cast<ScreenshotEditorView*>(object);
    return view ? new EditorViewAccessible(view) : nullptr;
}

}  // namespace

ScreenshotEditorView::ScreenshotEditorView(std::shared_ptr<ScreenshotDocumentSession> session,
                                           ScreenshotEditorController& controller, std::function<void()> done,
                                           QWidget* parent)
    : QWidget(parent),
      session_(std::move(session)),
      controller_(&controller),
      done_(std::move(done)),
      dialogs_(&ScreenshotOutput::systemDialogs()) {
    setObjectName(QStringLiteral("screenshotEditor"));
    static const bool accessible = (QAccessible::installFactory(editorViewAccessible), true);
    (void)accessible;
    installEventFilter(new RoundedCorners(this));

    auto* stack = new QVBoxLayout(this);
    // The view lives inside the panel's workspace, whose layout sizes it: its own layout need
    // not work out a window's minimum size.
    stack->setSizeConstraint(QLayout::SetNoConstraint);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);

    toolbar_ = new EditorToolbar(*this);
    stack->addWidget(toolbar_);
    dividers_.push_back(addEditorDivider(*stack));

    canvas_ = new ScreenshotCanvasView(session_, this);
    canvas_->setMinimumWidth(360);
    canvas_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    canvas_->setCopyColor([this] { copyHoverColor(); });
    canvas_->setMaskText([this](std::optional<ScreenshotLayerKind> kind) {
        if (controller_) controller_->runTextMasks(kind, false);
    });
    canvas_->setClose([this] { this->done(); });
    canvas_->setDropLayout(state_.vertical, state_.spacing, state_.alignment);
    // A click on a control that takes no focus gives it to the nearest ancestor that does: here
    // the view, which hands it on to the canvas, so that keys keep reaching it.
    setFocusPolicy(Qt::ClickFocus);
    setFocusProxy(canvas_);
    stack->addWidget(canvas_, 1);
    if (ScreenshotContextBar::shows(ScreenshotContextBar::subject(*session_))) contextBar();
    dividers_.push_back(addEditorDivider(*stack));

    status_ = new EditorStatusLine(this);
    status_->setObjectName(QStringLiteral("editorStatus"));
    status_->setText(session_->status());
    stack->addWidget(status_);

    connect(session_.get(), &ScreenshotDocumentSession::changed, this, [this](Property property) {
        if (property == Property::status) status_->setText(session_->status());
        // Nothing blocks the render any more (an Undo, a resize): the refusal is over.
        if (property == Property::preview && !refusal_.isEmpty()) {
            if (session_->status() == refusal_) session_->setStatus({});
            refusal_.clear();
        }
        // The context bar is made the first time it has something to show; it follows the
        // session itself from then on.
        if (!contextBar_ && (property == Property::tool || property == Property::selectedID || property == Property::document) &&
            ScreenshotContextBar::shows(ScreenshotContextBar::subject(*session_)))
            contextBar();
    });
}

ScreenshotEditorView::~ScreenshotEditorView() = default;

ScreenshotContextBar* ScreenshotEditorView::contextBar() {
    if (!contextBar_)
        contextBar_ = new ScreenshotContextBar(*session_, controller_, [this] { openToolStyle(); },
                                               [this] { setPanel(EditorPanel::object); }, canvas_);
    return contextBar_;
}

void ScreenshotEditorView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintEditorLines(painter, {}, dividers_);
}

void ScreenshotEditorView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    const ScreenshotDocument& document = session_->document();
    state_.width = document.canvas.width();
    state_.height = document.canvas.height();
    focusCanvas();
}

void ScreenshotEditorView::focusCanvas() {
    // The first tool letter must reach the canvas without a click: it takes the keyboard when the
    // view is shown, and again once the panel has finished opening around it, unless a control
    // of the editor has it by then.
    canvas_->setFocus(Qt::OtherFocusReason);
    QTimer::singleShot(0, canvas_, [this] {
        QWidget* focus = QApplication::focusWidget();
        if (canvas_->isVisible() && !(focus && isAncestorOf(focus))) canvas_->setFocus(Qt::OtherFocusReason);
    });
}

void ScreenshotEditorView::setPanel(std::optional<EditorPanel> panel) {
    if (panel == panel_) return;
    panel_ = panel;
    // The sheet is made the first time a panel opens.
    if (panel_ && !findChild<InspectorSheet*>(QString(), Qt::FindDirectChildrenOnly)) new InspectorSheet(*this);
    emit panelChanged(panel_);
    // The sheet has closed: what was changed in it ends as one undo step.
    if (!panel_) attemptSession([](ScreenshotDocumentSession& s) { s.commitGesture(); });
}

void ScreenshotEditorView::setShowBackdrop(bool show) {
    if (show == showBackdrop_) return;
    showBackdrop_ = show;
    if (show) {
        if (!popover_) {
            popover_ = new BackdropPopover(*session_, this);
            connect(popover_, &BackdropPopover::backdropEdited, this, &ScreenshotEditorView::applyBackdrop);
            connect(popover_, &BackdropPopover::removeRequested, this, &ScreenshotEditorView::removeBackdrop);
            connect(popover_, &BackdropPopover::closed, this, [this] { setShowBackdrop(false); });
        }
        popover_->showUnder(toolbar_->backdropButton(), session_->document().backdrop);
    } else {
        if (popover_ && popover_->isVisible()) popover_->hide();
        // The popover has closed: everything changed in it ends as one undo step.
        attempt([this] { session_->commitGesture(); });
    }
    emit showBackdropChanged(show);
}

void ScreenshotEditorView::reportError(const std::exception& error, const QString& prefix) {
    if (!controller_ || !controller_->session()) return;
    ScreenshotDocumentSession& session = *controller_->session();
    const QString status = prefix + QString::fromUtf8(error.what());
    const bool repeated = session.status() == status;
    session.setStatus(status);
    if (repeated && &session == session_.get()) status_->announce(status);
}

QString ScreenshotEditorView::refusedStatus(Output output, const QString& reason) {
    // In the order of Output.
    static constexpr const char* done[] = {"copied", "saved", "shared", "uploaded", "printed", "pinned", "dragged"};
    static_assert(std::size(done) == static_cast<std::size_t>(Output::drag) + 1);
    return QStringLiteral("Not ") + QLatin1String(done[static_cast<int>(output)]) + QStringLiteral(": ") + reason;
}

void ScreenshotEditorView::attemptOutput(Output output, const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& error) {
        refuse(output, error);
    }
}

void ScreenshotEditorView::refuse(Output output, const std::exception& error) {
    const std::optional<Uuid> blocking = controller_ && controller_->session() == session_
                                             ? controller_->blockingLayer(QString::fromUtf8(error.what()))
                                             : std::nullopt;
    if (blocking) {
        if (session_->tool() != QLatin1String("select")) session_->selectTool(QStringLiteral("select"));
        session_->setSelectedID(*blocking);
    }
    reportError(error, refusedStatus(output, {}));
    refusal_ = blocking ? session_->status() : QString();
}

void ScreenshotEditorView::attempt(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& error) {
        reportError(error);
    }
}

void ScreenshotEditorView::attemptSession(const std::function<void(ScreenshotDocumentSession&)>& operation) {
    attempt([&] { operation(*session_); });
}

void ScreenshotEditorView::sendAction(ScreenshotEditorAction action) {
    if (!controller_) return;
    const auto perform = [&] { controller_->perform(action); };
    if (action == ScreenshotEditorAction::upload)
        attemptOutput(Output::upload, perform);
    else if (action == ScreenshotEditorAction::saveAsNewItem)
        attemptOutput(Output::save, perform);
    else
        attempt(perform);
}

void ScreenshotEditorView::chooseTool(const EditorTool& tool) {
    session_->setSelectionRect(std::nullopt);
    session_->selectTool(tool.id);
}

void ScreenshotEditorView::openToolStyle() {
    if (const auto layer = session_->selectedLayer(); layer && layer->kind != ScreenshotLayerKind::image)
        session_->setStyle(layer->style);
    setPanel(EditorPanel::style);
}

std::vector<double> ScreenshotEditorView::compositionExtents(const std::vector<std::size_t>& indices,
                                                             const ScreenshotDocument& document) const {
    std::vector<double> extents;
    extents.reserve(indices.size());
    for (std::size_t index : indices) {
        if (index >= document.layers.size()) throw std::out_of_range("no layer at that index");
        const QRectF& frame = document.layers[index].frame;
        extents.push_back(state_.vertical ? frame.width() : frame.height());
    }
    return extents;
}

void ScreenshotEditorView::done() {
    if (done_) done_();
}

}  // namespace brevalto
