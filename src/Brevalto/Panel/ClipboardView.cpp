#include "Panel/ClipboardView.h"

#include "AI/AIActionModel.h"
#include "AI/ImageAIView.h"
#include "AI/ImagePlayground.h"
#include "AI/TranslatedImageView.h"
#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
#include "Editor/ScreenshotEditorController.h"
#include "Editor/View/ScreenshotEditorView.h"
#include "Panel/ClipCard.h"
#include "Panel/ClipCardRow.h"
#include "Panel/NotchGeometry.h"
#include "Panel/NotchPanel.h"
#include "Panel/PanelAlerts.h"
#include "Panel/PanelController.h"
#include "Panel/PanelHeader.h"
#include "Panel/PreviewPane.h"
#include "Panel/ScreenshotActions.h"
#include "Panel/StatusBar.h"
#include "Panel/TranslatedImageHistory.h"
#include "Platform/Symbols.h"

#include <QApplication>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace brevalto {

namespace {

constexpr int kFilterWidth = 258;

const char* kStyle = R"(
brevalto--ClipboardView { color: rgba(255,255,255,230); }
QWidget#searchBox { background: rgba(255,255,255,26); border-radius: 10px; }
QLineEdit#search { background: transparent; border: none; color: white; font-size: 13px;
                   selection-background-color: rgba(160,190,150,120); }
QToolButton#clearSearch { border: none; background: transparent; }
QWidget#filter { background: rgba(255,255,255,26); border-radius: 7px; }
QWidget#filter QToolButton { border: none; border-radius: 6px; color: rgba(255,255,255,200);
                             font-size: 12px; padding: 2px 0px; background: transparent; }
QWidget#filter QToolButton:checked { background: rgba(255,255,255,64); color: white; }
QScrollArea#cardRow, QWidget#cardStrip, QWidget#emptyState { background: transparent; }
QLabel#emptyMessage { color: rgba(255,255,255,140); font-size: 13px; }
QToolButton { color: white; }
QToolButton:hover { background: rgba(255,255,255,30); border-radius: 5px; }
)";

// Controls under the panel's style sheets fall back to the desktop's light palette: a workspace's
// buttons and fields take the panel's dark one.
void drawDarkOnPanel(QWidget& view, const QPalette& dark) {
    view.setPalette(dark);
    for (QWidget* control : view.findChildren<QWidget*>()) control->setPalette(dark);
}

}  // namespace

ClipboardView::ClipboardView(PanelController& controller, QWidget* parent)
    : QWidget(parent), controller_(controller), search_engine_([this] { refresh(); }) {
    setObjectName(QStringLiteral("clipboardView"));
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_MacShowFocusRect, false);
    setStyleSheet(QString::fromLatin1(kStyle));

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(24, 0, 24, 16);
    root->setSpacing(12);

    header_ = new PanelHeader(*this, this);
    root->addWidget(header_);

    browser_ = new QWidget(this);
    browser_->setObjectName(QStringLiteral("browser"));
    auto* browser = new QVBoxLayout(browser_);
    browser->setContentsMargins(0, 0, 0, 0);
    browser->setSpacing(12);
    root->addWidget(browser_, 1);

    // Search and filter row.
    auto* searchRow = new QHBoxLayout;
    searchRow->setSpacing(12);
    auto* searchBox = new QWidget(browser_);
    searchBox->setObjectName(QStringLiteral("searchBox"));
    searchBox->setAttribute(Qt::WA_StyledBackground);
    searchBox->setFixedHeight(32);
    auto* box = new QHBoxLayout(searchBox);
    box->setContentsMargins(10, 0, 10, 0);
    box->setSpacing(8);
    auto* glass = new QLabel(searchBox);
    glass->setPixmap(QPixmap::fromImage(Symbols::image(QStringLiteral("magnifyingglass"), QSizeF(14, 14),
                                                       QColor(255, 255, 255, 140), devicePixelRatioF())));
    glass->setAccessibleName(QString());
    box->addWidget(glass);
    search_ = new QLineEdit(searchBox);
    search_->setObjectName(QStringLiteral("search"));
    search_->setPlaceholderText(QStringLiteral("Search clipboard"));
    search_->setAccessibleName(QStringLiteral("Search clipboard"));
    QPalette palette = search_->palette();
    palette.setColor(QPalette::PlaceholderText, QColor(255, 255, 255, 110));
    palette.setColor(QPalette::Text, Qt::white);
    search_->setPalette(palette);
    search_->installEventFilter(this);
    box->addWidget(search_, 1);
    clearSearch_ = new QToolButton(searchBox);
    clearSearch_->setObjectName(QStringLiteral("clearSearch"));
    clearSearch_->setIcon(Symbols::icon(QStringLiteral("xmark.circle.fill"), QColor(255, 255, 255, 140)));
    clearSearch_->setToolTip(QStringLiteral("Clear search"));
    clearSearch_->setAccessibleName(QStringLiteral("Clear search"));
    clearSearch_->setFocusPolicy(Qt::NoFocus);
    clearSearch_->setFixedSize(18, 18);
    clearSearch_->hide();
    box->addWidget(clearSearch_);
    searchRow->addWidget(searchBox, 1);

    auto* filter = new QWidget(browser_);
    filter->setObjectName(QStringLiteral("filter"));
    filter->setAttribute(Qt::WA_StyledBackground);
    filter->setAccessibleName(QStringLiteral("Filter"));
    filter->setFixedSize(kFilterWidth, 26);
    auto* segments = new QHBoxLayout(filter);
    segments->setContentsMargins(2, 2, 2, 2);
    segments->setSpacing(2);
    filterButtons_ = new QButtonGroup(this);
    filterButtons_->setExclusive(true);
    for (const QString& value : kClipFilters) {
        auto* segment = new QToolButton(filter);
        segment->setObjectName(QStringLiteral("filter-") + value);
        segment->setText(value);
        segment->setAccessibleName(value);
        segment->setCheckable(true);
        segment->setChecked(value == filter_);
        segment->setFocusPolicy(Qt::NoFocus);
        segment->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        filterButtons_->addButton(segment);
        segments->addWidget(segment);
        // The filter follows the checked segment however it became checked: a click, the
        // accessibility tree's Toggle action (which toggles without a click) or setChecked.
        connect(segment, &QToolButton::toggled, this, [this, value](bool checked) {
            if (checked) setFilter(value);
        });
    }
    searchRow->addWidget(filter);
    browser->addLayout(searchRow);

    row_ = new ClipCardRow(*this, browser_);
    row_->setFixedHeight(ClipCardRow::kHeight);
    browser->addWidget(row_);

    status_ = new StatusBar(*this, browser_);
    browser->addWidget(status_);

    previewArea_ = new PreviewPane(*this, browser_);
    browser->addWidget(previewArea_, 1);
    browser->addStretch(0);

    workspaceArea_ = new QWidget(this);
    workspaceArea_->setObjectName(QStringLiteral("workspace"));
    auto* workspace = new QVBoxLayout(workspaceArea_);
    workspace->setContentsMargins(0, 0, 0, 0);
    workspace->setSpacing(8);
    workspace->addWidget(new WorkspaceHeader(controller_, workspaceArea_));
    workspace->addStretch(1);
    root->addWidget(workspaceArea_, 1);

    connect(search_, &QLineEdit::textChanged, this, [this](const QString& text) { setQuery(text); });
    connect(clearSearch_, &QToolButton::clicked, this, [this] { setQuery(QString()); });

    ClipStore& store = controller_.store();
    connect(&store, &ClipStore::itemsChanged, this, &ClipboardView::itemsChanged);
    connect(&controller_, &PanelController::brevaltoShown, this, [this](bool tookKeyboard) {
        setSelected(std::nullopt);
        setFocusState(tookKeyboard ? std::optional(Focus::search) : std::nullopt);
    });
    connect(&controller_, &PanelController::brevaltoHidden, this, [this] { setFocusState(std::nullopt); });
    connect(&controller_, &PanelController::workspaceChanged, this, &ClipboardView::workspaceChanged);
    connect(&controller_, &PanelController::previewExpandedChanged, this, &ClipboardView::refreshLayout);
    connect(&controller_, &PanelController::uploadStateChanged, this, [this] { refresh(); });
    connect(&controller_, &PanelController::geometryChanged, this, [this] {
        refreshLayout();
        refresh();
    });
    refreshLayout();
    refresh();
    // Made while a workspace is already open: it shows it at once.
    if (controller_.workspace()) workspaceChanged();
}

ClipboardView::~ClipboardView() = default;

ClipStore& ClipboardView::store() const {
    return controller_.store();
}

bool ClipboardView::editorShown() const {
    const auto& workspace = controller_.workspace();
    return workspace && workspace->kind() == PanelController::Workspace::Kind::editor;
}

bool ClipboardView::composing() const {
    return composing_;
}

std::optional<ClipboardView::Focus> ClipboardView::focusState() const {
    QWidget* focus = window()->focusWidget();
    if (focus == search_) return Focus::search;
    if (focus == this) return Focus::history;
    return std::nullopt;
}

void ClipboardView::setFocusState(std::optional<Focus> focus) {
    if (!focus) {
        QWidget* current = window()->focusWidget();
        if (current && (current == this || isAncestorOf(current))) current->clearFocus();
        return;
    }
    if (*focus == Focus::search)
        search_->setFocus(Qt::OtherFocusReason);
    else
        setFocus(Qt::OtherFocusReason);
}

void ClipboardView::setQuery(const QString& query) {
    if (query == query_) return;
    query_ = query;
    if (search_->text() != query) search_->setText(query);
    clearSearch_->setVisible(!query_.isEmpty());
    queryOrFilterChanged();
}

void ClipboardView::setFilter(const QString& filter) {
    for (QAbstractButton* segment : filterButtons_->buttons())
        if (segment->text() == filter && !segment->isChecked()) segment->setChecked(true);
    if (filter == filter_) return;
    filter_ = filter;
    queryOrFilterChanged();
}

void ClipboardView::queryOrFilterChanged() {
    selected_.reset();
    controller_.setPreviewExpanded(false);
    refresh();
}

void ClipboardView::setSelected(const std::optional<Uuid>& selected) {
    const bool changed = selected != selected_;
    selected_ = selected;
    refresh();
    if (changed && selected_) row_->scrollToClip(*selected_);
}

void ClipboardView::setRevealed(const std::optional<Uuid>& revealed) {
    revealed_ = revealed;
    emit stateChanged();
}

void ClipboardView::clearImageSelection() {
    imageSelection_.clear();
    refresh();
}

void ClipboardView::itemsChanged() {
    // Only the browser reacts: a workspace the user works in stays whatever arrives meanwhile.
    if (!controller_.workspace() && visible().empty()) controller_.setPreviewExpanded(false);
    refresh();
}

void ClipboardView::workspaceChanged() {
    // The editor workspace shows the editor of its session (while the screenshot side is there),
    // made anew when the session changes.
    const auto& shown = controller_.workspace();
    ScreenshotActions* actions = controller_.screenshots();
    const std::shared_ptr<ScreenshotDocumentSession> session =
        shown && shown->kind() == PanelController::Workspace::Kind::editor && actions && actions->editor()
            ? shown->session()
            : nullptr;
    if (!editor_ || !session || &editor_->session() != session.get()) {
        auto* layout = static_cast<QVBoxLayout*>(workspaceArea_->layout());
        if (editor_) {
            // The editor may be the one asking to close (Escape, Done): delete it once its event is done.
            editor_->hide();
            layout->removeWidget(editor_);
            editor_->deleteLater();
            editor_ = nullptr;
            layout->setStretch(1, 1);
        }
        if (session) {
            editor_ = new ScreenshotEditorView(session, *actions->editor(),
                                               [this] { controller_.closeCurrentWorkspace(); }, workspaceArea_);
            layout->insertWidget(1, editor_, 1);
            layout->setStretch(2, 0);
        }
    }
    showRegionsView();
    const bool editorHidden = !editorShown();
    if (editorHidden != editorWasHidden_) {
        editorWasHidden_ = editorHidden;
        if (editorHidden && controller_.expanded()) setFocusState(Focus::history);
    }
    refreshLayout();
}

void ClipboardView::showRegionsView() {
    // The region translator's view below the workspace header, made anew for each model.
    const auto& shown = controller_.workspace();
    const auto model = shown && shown->kind() == PanelController::Workspace::Kind::regions ? shown->regionsModel() : nullptr;
    if (regionsView_ && (!model || &regionsView_->model() != model.get())) {
        regionsView_->hide();
        regionsView_->deleteLater();
        regionsView_ = nullptr;
    }
    if (model && !regionsView_) {
        if (!imageHistory_) imageHistory_ = std::make_unique<TranslatedImageHistory>(store());
        regionsView_ = new TranslatedImageView(model, *imageHistory_, workspaceArea_);
        drawDarkOnPanel(*regionsView_, controller_.panel()->palette());
        static_cast<QVBoxLayout*>(workspaceArea_->layout())->insertWidget(1, regionsView_, 1);
    }
    // The image-prompt pane of the image-AI workspace, likewise. Linux has no image generator.
    static UnavailableImagePlayground playground;
    const auto aiModel = shown && shown->kind() == PanelController::Workspace::Kind::imageAI ? shown->aiModel() : nullptr;
    if (imageAIView_ && (!aiModel || &imageAIView_->model() != aiModel.get())) {
        imageAIView_->hide();
        imageAIView_->deleteLater();
        imageAIView_ = nullptr;
    }
    if (aiModel && !imageAIView_) {
        imageAIView_ = new ImageAIView(aiModel, store(), controller_.monitor(), playground, workspaceArea_);
        drawDarkOnPanel(*imageAIView_, controller_.panel()->palette());
        static_cast<QVBoxLayout*>(workspaceArea_->layout())->insertWidget(1, imageAIView_, 1);
    }
}

void ClipboardView::refreshLayout() {
    const NotchGeometry& geometry = controller_.geometry();
    header_->setFixedHeight(int(std::max(geometry.safeTop + 8, 40.0)));
    const bool workspace = controller_.workspace().has_value();
    browser_->setVisible(!workspace);
    workspaceArea_->setVisible(workspace);
    previewArea_->setVisible(controller_.previewExpanded());
}

std::vector<Clip> ClipboardView::visibleClips() {
    std::vector<Clip> clips;
    for (const Clip* clip : visible()) clips.push_back(*clip);
    return clips;
}

std::vector<const Clip*> ClipboardView::visible() {
    return search_engine_.visible(store().items(), filter_, query_);
}

const Clip* ClipboardView::current() {
    const std::vector<const Clip*> shown = visible();
    if (selected_)
        for (const Clip* clip : shown)
            if (clip->id == *selected_) return clip;
    return shown.empty() ? nullptr : shown.front();
}

std::optional<Clip> ClipboardView::currentClip() {
    const Clip* clip = current();
    return clip ? std::optional<Clip>(*clip) : std::nullopt;
}

bool ClipboardView::matchesFilter(const Clip& clip) {
    return search_engine_.matchesFilter(clip, filter_, query_);
}

void ClipboardView::refresh() {
    const std::vector<const Clip*> shown = visible();
    const QString empty = store().items().empty() ? QStringLiteral("Copy text or an image to get started.")
                                        : QStringLiteral("No matching items. Try another search.");
    const double w = controller_.geometry().screenFrame.width() - 32;
    const int emptyWidth = w < 740 ? int(std::max(w, 1.0) - 48) : 692;
    row_->setClips(shown, selected_, imageSelection_, empty, emptyWidth);
    emit stateChanged();
}

bool ClipboardView::moveSelection(int offset) {
    if (editorShown()) return false;
    if (composing()) return false;
    const std::vector<const Clip*> shown = visible();
    if (shown.empty()) return false;
    auto it = selected_ ? std::find_if(shown.begin(), shown.end(), [&](const Clip* c) { return c->id == *selected_; })
                        : shown.end();
    if (it == shown.end()) {
        setSelected(shown.front()->id);
        return true;
    }
    const long position = std::clamp<long>(long(it - shown.begin()) + offset, 0, long(shown.size()) - 1);
    setSelected(shown[std::size_t(position)]->id);
    return true;
}

bool ClipboardView::handleHorizontalKey(int offset) {
    if (focusState() == Focus::search) return false;
    return moveSelection(offset);
}

bool ClipboardView::handleReturn(Qt::KeyboardModifiers modifiers) {
    if (composing()) return false;
    if (editorShown()) return false;
    const Clip* clip = current();
    if (!clip) return true;
    const Clip chosen = *clip;  // the store may change under the paste
    controller_.paste(chosen, modifiers.testFlag(Qt::AltModifier));
    return true;
}

bool ClipboardView::handleKey(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Up:
        return moveSelection(-1);
    case Qt::Key_Down:
        return moveSelection(1);
    case Qt::Key_Left:
        return handleHorizontalKey(-1);
    case Qt::Key_Right:
        return handleHorizontalKey(1);
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (event->isAutoRepeat()) return false;
        return handleReturn(event->modifiers());
    default:
        return false;
    }
}

void ClipboardView::keyPressEvent(QKeyEvent* event) {
    if (handleKey(event)) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool ClipboardView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == search_) {
        switch (event->type()) {
        case QEvent::KeyPress:
            if (handleKey(static_cast<QKeyEvent*>(event))) return true;
            break;
        case QEvent::InputMethod:
            composing_ = !static_cast<QInputMethodEvent*>(event)->preeditString().isEmpty();
            break;
        case QEvent::FocusOut:
            composing_ = false;
            break;
        case QEvent::MouseButtonPress:
            // Typing keeps the panel open even when the mouse leaves it.
            controller_.setPinnedOpen(true);
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ClipboardView::handleCardClick(const Clip& clip) {
    const Clip* shown = current();
    const bool previewed = controller_.previewExpanded() && shown && shown->id == clip.id;
    imageSelection_.clear();
    selected_ = previewed ? std::nullopt : std::optional(clip.id);
    setFocusState(Focus::history);
    controller_.setPinnedOpen(true);
    refresh();
    controller_.setPreviewExpanded(!previewed);
}

bool ClipboardView::isGroupSelected(const Clip& clip) const {
    return clip.kind == Clip::Kind::image && imageSelection_.count(clip.id) > 0;
}

void ClipboardView::toggleImageSelection(const Uuid& id) {
    controller_.setPinnedOpen(true);
    const std::vector<Clip>& items = store().items();
    auto find = [&](const Uuid& wanted) {
        return std::find_if(items.begin(), items.end(), [&](const Clip& c) { return c.id == wanted; });
    };
    std::erase_if(imageSelection_, [&](const Uuid& member) { return find(member) == items.end(); });
    if (selected_) {
        const Uuid single = *selected_;
        auto clip = find(single);
        if (single != id && clip != items.end() && clip->kind == Clip::Kind::image &&
            imageSelection_.size() < std::size_t(kMaxGroupImages))
            imageSelection_.insert(single);
        selected_.reset();
        controller_.setPreviewExpanded(false);
    }
    if (imageSelection_.count(id)) {
        imageSelection_.erase(id);
    } else if (imageSelection_.size() >= std::size_t(kMaxGroupImages)) {
        store().setMessage(groupLimitMessage);
    } else {
        imageSelection_.insert(id);
    }
    refresh();
}

void ClipboardView::perform(ItemAction action, const Clip& given, bool translate) {
    const Clip clip = given;  // the store's copy may change under the action
    ScreenshotActions* screenshots = controller_.screenshots();
    switch (action) {
    case ItemAction::copy:
        if (controller_.monitor().copy(clip)) controller_.collapsePanel();
        return;
    case ItemAction::paste:
        controller_.paste(clip, true);
        return;
    case ItemAction::edit:
        if (screenshots) screenshots->openInEditor(clip);
        return;
    case ItemAction::upload:
        if (screenshots) screenshots->uploadAndCopyLink(clip);
        return;
    case ItemAction::float_:
        if (screenshots) screenshots->pin(clip);
        return;
    case ItemAction::ocr: {
        // Selected after showing: a panel that closed meanwhile (the pointer left it) opens
        // again with nothing selected.
        controller_.showOCR(clip, translate);
        setSelected(clip.id);
        return;
    }
    case ItemAction::ai: {
        if (clip.kind == Clip::Kind::image) {
            if (auto model = controller_.makeAIModel(clip, false))
                controller_.showWorkspace(PanelController::Workspace::imageAI(std::move(model)));
        } else {
            setSelected(clip.id);
            controller_.showTranslation(clip);
        }
        return;
    }
    case ItemAction::pin:
        store().togglePin(clip.id);
        return;
    case ItemAction::preview:
        setSelected(clip.id);
        if (!controller_.previewExpanded()) controller_.setPreviewExpanded(true);
        return;
    case ItemAction::delete_: {
        // The newest list, changes still being written included.
        std::vector<Clip> kept;
        kept.reserve(store().current().size());
        for (const Clip& item : store().current())
            if (item.id != clip.id) kept.push_back(item);
        store().commit(kept);
        return;
    }
    }
}

void ClipboardView::askClearAll() {
    controller_.setPinnedOpen(true);
    clearAlert_ = true;
    if (!alerts_) {
        if (!messageBoxAlerts_) messageBoxAlerts_ = std::make_unique<MessageBoxPanelAlerts>(window());
        alerts_ = messageBoxAlerts_.get();
    }
    const bool confirmed = alerts_->confirmDestructive(clearAlertTitle, QStringLiteral("Delete all"));
    clearAlert_ = false;
    if (confirmed) clearAllHistory();
}

void ClipboardView::clearAllHistory() {
    store().clearAll();
}

}  // namespace brevalto
