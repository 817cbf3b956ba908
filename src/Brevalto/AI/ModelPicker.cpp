#include "AI/ModelPicker.h"

#include "ClipCore/UnicodeText.h"
#include "Platform/Defaults.h"
#include "Platform/Symbols.h"

#include <QEnterEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace brevalto {

namespace {

constexpr const char* kRecentModels = "recentModels";
constexpr int kTitleWidth = 240;

QString qs(const std::string& text) { return QString::fromStdString(text); }

QFont scaled(QFont font, qreal factor, QFont::Weight weight = QFont::Normal) {
    font.setPointSizeF(font.pointSizeF() * factor);
    font.setWeight(weight);
    return font;
}

// Down, Up and Return in the filter field move and choose; Escape closes.
class FilterKeys : public QObject {
public:
    explicit FilterKeys(ModelPicker* picker) : QObject(picker), picker_(picker) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Down: picker_->moveHighlight(+1); return true;
        case Qt::Key_Up: picker_->moveHighlight(-1); return true;
        case Qt::Key_Return:
        case Qt::Key_Enter: picker_->chooseHighlighted(); return true;
        case Qt::Key_Escape: picker_->setOpen(false); return true;
        default: return false;
        }
    }

private:
    ModelPicker* picker_;
};

}  // namespace

QLabel* secondaryLabel(const QString& text, qreal scale, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(scaled(label->font(), scale));
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

ModelPopover::ModelPopover(QWidget* parent) : QFrame(parent, Qt::Popup) {
    setObjectName(QStringLiteral("modelPopover"));
    setFrameShape(QFrame::StyledPanel);
    setFixedSize(ModelPicker::popoverWidth, ModelPicker::popoverHeight);
    // A click outside only closes it: replayed on the chooser, it would open it again at once.
    setAttribute(Qt::WA_NoMouseReplay);
}

void ModelPopover::hideEvent(QHideEvent* event) {
    QFrame::hideEvent(event);
    emit closed();
}

ModelRow::ModelRow(std::string id, QWidget* parent) : QWidget(parent), id_(std::move(id)) {
    setObjectName(QStringLiteral("modelRow-") + qs(id_));
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
}

void ModelRow::setHighlighted(bool highlighted) {
    if (highlighted_ == highlighted) return;
    highlighted_ = highlighted;
    update();
}

void ModelRow::enterEvent(QEnterEvent* event) {
    QWidget::enterEvent(event);
    emit hovered();
}

void ModelRow::mouseReleaseEvent(QMouseEvent* event) {
    QWidget::mouseReleaseEvent(event);
    if (rect().contains(event->position().toPoint())) emit clicked();
}

void ModelRow::paintEvent(QPaintEvent*) {
    if (!highlighted_) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor accent = palette().color(QPalette::Highlight);
    accent.setAlphaF(0.25);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(4, 0, -4, 0), 5, 5);
    painter.fillPath(path, accent);
}

ModelPicker::ModelPicker(Defaults& defaults, ModelListLoader loader, std::string provider, std::string model,
                         QWidget* parent, TaskExecutor& executor)
    : QWidget(parent),
      defaults_(defaults),
      loader_(std::move(loader)),
      executor_(executor),
      provider_(std::move(provider)),
      model_(std::move(model)) {
    setObjectName(QStringLiteral("modelPicker"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    auto* label = new QLabel(QStringLiteral("Model"), this);
    row->addWidget(label);

    chooser_ = new QPushButton(this);
    chooser_->setObjectName(QStringLiteral("modelChooser"));
    chooser_->setAutoDefault(false);
    // The chevron follows the title.
    chooser_->setLayoutDirection(Qt::RightToLeft);
    chooser_->setIcon(Symbols::icon(QStringLiteral("chevron.up.chevron.down"), palette().color(QPalette::PlaceholderText)));
    chooser_->setIconSize(QSize(10, 10));
    label->setBuddy(chooser_);
    connect(chooser_, &QPushButton::clicked, this, [this] { setOpen(!open_); });
    row->addWidget(chooser_);

    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("modelLoading"));
    progress_->setRange(0, 0);
    progress_->setTextVisible(false);
    progress_->setFixedSize(40, 8);
    progress_->setAccessibleName(QStringLiteral("Loading models"));
    row->addWidget(progress_);

    reloadButton_ = new QToolButton(this);
    reloadButton_->setObjectName(QStringLiteral("reloadModels"));
    reloadButton_->setAutoRaise(true);
    reloadButton_->setIcon(Symbols::icon(QStringLiteral("arrow.clockwise"), palette().color(QPalette::WindowText)));
    reloadButton_->setToolTip(QStringLiteral("Reload models"));
    reloadButton_->setAccessibleName(QStringLiteral("Reload models"));
    connect(reloadButton_, &QToolButton::clicked, this, &ModelPicker::reload);
    row->addWidget(reloadButton_);
    row->addStretch(1);
    column->addLayout(row);

    errorLabel_ = new QLabel(this);
    errorLabel_->setObjectName(QStringLiteral("modelError"));
    errorLabel_->setWordWrap(true);
    errorLabel_->setFont(scaled(errorLabel_->font(), 0.85));
    errorLabel_->setStyleSheet(QStringLiteral("color: #d70015;"));
    column->addWidget(errorLabel_);

    popover_ = new ModelPopover(this);
    auto* popoverLayout = new QVBoxLayout(popover_);
    popoverLayout->setContentsMargins(0, 0, 0, 0);
    popoverLayout->setSpacing(0);
    filter_ = new QLineEdit(popover_);
    filter_->setObjectName(QStringLiteral("filterModels"));
    filter_->setAccessibleName(QStringLiteral("Filter models"));
    filter_->setPlaceholderText(QStringLiteral("Filter or type a model ID"));
    filter_->installEventFilter(new FilterKeys(this));
    connect(filter_, &QLineEdit::textChanged, this, &ModelPicker::setQuery);
    auto* filterBox = new QVBoxLayout;
    filterBox->setContentsMargins(8, 8, 8, 8);
    filterBox->addWidget(filter_);
    popoverLayout->addLayout(filterBox);
    auto* divider = new QFrame(popover_);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    popoverLayout->addWidget(divider);
    scroll_ = new QScrollArea(popover_);
    scroll_->setObjectName(QStringLiteral("modelList"));
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    popoverLayout->addWidget(scroll_, 1);
    connect(popover_, &ModelPopover::closed, this, [this] {
        if (!open_) return;
        open_ = false;
        refresh();
    });

    refresh();
}

ModelPicker::~ModelPicker() { loadTask_.cancel(); }

void ModelPicker::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (shown_) return;
    shown_ = true;
    load();
}

void ModelPicker::setProvider(const std::string& provider) {
    if (provider == provider_) return;
    provider_ = provider;
    if (shown_) load();
}

void ModelPicker::setModel(const std::string& model) {
    if (model == model_) return;
    model_ = model;
    refresh();
}

std::vector<std::string> ModelPicker::recent() const {
    std::vector<std::string> ids;
    for (const QString& line : qs(defaults_.string(kRecentModels).value_or("")).split(u'\n', Qt::SkipEmptyParts))
        ids.push_back(line.toStdString());
    return ids;
}

std::vector<ModelCatalog::Section> ModelPicker::sections() const {
    return ModelCatalog::sections(models_, recent(), model_, query_.toStdString());
}

std::optional<std::string> ModelPicker::typedID() const {
    const std::string query = query_.toStdString();
    const std::string typed(unicode::trimmed(query));
    if (typed.empty()) return std::nullopt;
    for (const auto& section : sections())
        for (const AIModel& model : section.models)
            if (model.id == typed) return std::nullopt;
    return typed;
}

std::vector<std::string> ModelPicker::selectableIDs() const {
    std::vector<std::string> ids;
    for (const auto& section : sections())
        for (const AIModel& model : section.models) ids.push_back(model.id);
    if (auto typed = typedID()) ids.push_back(*typed);
    return ids;
}

void ModelPicker::load() {
    loadTask_.cancel();
    const std::uint64_t token = loadToken_.next();
    loading_ = true;
    error_.clear();
    refresh();
    loadTask_ = Task::run(executor_, this, loader_(provider_),
                          [this, token](TaskResult<std::vector<AIModel>>& result) {
                              if (!loadToken_.isCurrent(token)) return;
                              loading_ = false;
                              if (result.ok()) {
                                  models_ = std::move(result.get());
                              } else {
                                  models_.clear();
                                  if (!isCancellation(result.error()))
                                      error_ = errorMessage(result.error(), QStringLiteral("Could not list models."));
                              }
                              refresh();
                          });
}

void ModelPicker::choose(const std::string& id) {
    std::vector<std::string> recentIDs{id};
    for (const std::string& old : recent())
        if (old != id) recentIDs.push_back(old);
    recentIDs.resize(std::min<std::size_t>(recentIDs.size(), maxRecent));
    std::string joined;
    for (const std::string& recentID : recentIDs) joined += (joined.empty() ? "" : "\n") + recentID;
    defaults_.set(kRecentModels, joined);
    model_ = id;
    setOpen(false);
    refresh();
    emit modelChanged(qs(model_));
}

void ModelPicker::moveHighlight(int delta) {
    const std::vector<std::string> ids = selectableIDs();
    if (ids.empty()) return;
    const auto count = static_cast<int>(ids.size());
    int start = delta > 0 ? -1 : count;
    if (highlighted_)
        if (auto at = std::find(ids.begin(), ids.end(), *highlighted_); at != ids.end())
            start = static_cast<int>(at - ids.begin());
    setHighlighted(ids[static_cast<std::size_t>(std::clamp(start + delta, 0, count - 1))]);
}

void ModelPicker::chooseHighlighted() {
    if (highlighted_) {
        choose(*highlighted_);
        return;
    }
    const std::vector<std::string> ids = selectableIDs();
    if (!ids.empty()) choose(ids.front());
}

void ModelPicker::setHighlighted(const std::optional<std::string>& id) {
    highlighted_ = id;
    showHighlight();
}

void ModelPicker::setOpen(bool open) {
    if (open == open_) return;
    open_ = open;
    if (!open) {
        popover_->hide();
        refresh();
        return;
    }
    // The filter starts empty; the highlight is set after the query is cleared, so that it
    // rests on the current model whatever was typed the last time.
    {
        const QSignalBlocker blocker(filter_);
        filter_->clear();
    }
    query_.clear();
    highlighted_ = model_.empty() ? std::nullopt : std::optional<std::string>(model_);
    // Below the chooser, kept on its screen.
    QPoint at = chooser_->mapToGlobal(QPoint(0, chooser_->height()));
    if (const QScreen* screen = chooser_->screen()) {
        const QRect area = screen->availableGeometry();
        if (at.y() + popoverHeight > area.bottom() + 1) at.setY(chooser_->mapToGlobal(QPoint(0, 0)).y() - popoverHeight);
        at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() + 1 - popoverWidth)));
        at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() + 1 - popoverHeight)));
    }
    popover_->move(at);
    popover_->show();
    filter_->setFocus(Qt::PopupFocusReason);
    refresh();
}

void ModelPicker::setQuery(const QString& query) {
    if (query == query_) return;
    query_ = query;
    if (filter_->text() != query) {
        const QSignalBlocker blocker(filter_);
        filter_->setText(query);
    }
    rebuildRows();
    const std::vector<std::string> ids = selectableIDs();
    setHighlighted(ids.empty() ? std::nullopt : std::optional<std::string>(ids.front()));
}

QString ModelPicker::highlightedTitle(const QString& text) const {
    const std::string utf8 = text.toStdString();
    const auto offsets = query_.isEmpty() ? std::nullopt : ModelCatalog::fuzzyMatch(query_.toStdString(), utf8);
    if (!offsets) return text.toHtmlEscaped();
    const QString secondary = palette().color(QPalette::PlaceholderText).name();
    QString html;
    int index = 0;
    for (const std::string& character : ModelCatalog::characters(utf8)) {
        const QString escaped = qs(character).toHtmlEscaped();
        if (std::find(offsets->begin(), offsets->end(), index) != offsets->end())
            html += QStringLiteral("<b>") + escaped + QStringLiteral("</b>");
        else
            html += QStringLiteral("<span style=\"color:") + secondary + QStringLiteral("\">") + escaped +
                    QStringLiteral("</span>");
        ++index;
    }
    return html;
}

QString ModelPicker::title() const {
    for (const AIModel& model : models_)
        if (model.id == model_) return qs(model.name.value_or(model.id));
    if (!model_.empty()) return qs(model_);
    return QStringLiteral("Choose a model");
}

QWidget* ModelPicker::popover() const { return popover_; }

void ModelPicker::refresh() {
    const QString full = title();
    chooser_->setText(chooser_->fontMetrics().elidedText(full, Qt::ElideMiddle, kTitleWidth));
    chooser_->setToolTip(qs(model_));
    chooser_->setAccessibleName(full);
    progress_->setVisible(loading_);
    // The keyboard stays in the row rather than jumping to the next control.
    if (loading_ && reloadButton_->hasFocus()) chooser_->setFocus(Qt::OtherFocusReason);
    reloadButton_->setEnabled(!loading_);
    errorLabel_->setText(error_);
    errorLabel_->setVisible(!error_.isEmpty());
    if (open_) {
        rebuildRows();
        showHighlight();
    }
}

ModelRow* ModelPicker::addRow(const std::string& id, QWidget* list, QVBoxLayout* listLayout) {
    auto* row = new ModelRow(id, list);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(14, 4, 14, 4);
    layout->setSpacing(6);
    listLayout->addWidget(row);
    rows_.push_back(row);
    connect(row, &ModelRow::hovered, this, [this, row] { setHighlighted(row->id()); });
    connect(row, &ModelRow::clicked, this, [this, row] { choose(row->id()); });
    return row;
}

void ModelPicker::rebuildRows() {
    // A fresh list replaces the old one, which goes once the current event is done.
    rows_.clear();
    if (QWidget* old = scroll_->takeWidget()) old->deleteLater();
    auto* list = new QWidget;
    auto* listLayout = new QVBoxLayout(list);
    listLayout->setContentsMargins(0, 0, 0, 6);
    listLayout->setSpacing(0);
    const QColor text = palette().color(QPalette::WindowText);
    const QSize symbolSize(12, 12);

    for (const auto& section : sections()) {
        auto* header = secondaryLabel(qs(section.id), 0.85, list);
        header->setObjectName(QStringLiteral("modelSection-") + qs(section.id));
        header->setFont(scaled(header->font(), 1.0, QFont::DemiBold));
        header->setContentsMargins(10, 8, 10, 2);
        listLayout->addWidget(header);
        for (const AIModel& model : section.models) {
            ModelRow* row = addRow(model.id, list, listLayout);
            auto* layout = static_cast<QHBoxLayout*>(row->layout());
            // The checkmark keeps its place on every row; only the chosen one shows it.
            auto* check = new QLabel(row);
            check->setObjectName(QStringLiteral("checkmark"));
            check->setFixedSize(symbolSize);
            if (model.id == model_)
                check->setPixmap(Symbols::icon(QStringLiteral("checkmark"), text).pixmap(symbolSize, devicePixelRatioF()));
            layout->addWidget(check);
            const QString name = qs(model.name.value_or(model.id));
            auto* title = new QLabel(highlightedTitle(row->fontMetrics().elidedText(name, Qt::ElideMiddle, 200)), row);
            title->setObjectName(QStringLiteral("title"));
            title->setTextFormat(Qt::RichText);
            row->setAccessibleName(name);
            layout->addWidget(title);
            layout->addSpacing(8);
            layout->addStretch(1);
            if (model.name) {
                auto* id = secondaryLabel(row->fontMetrics().elidedText(qs(model.id), Qt::ElideMiddle, 150), 0.85, row);
                id->setObjectName(QStringLiteral("id"));
                layout->addWidget(id);
            }
            // Marks IDs from the recent list or the setting rather than from the loaded list.
            if (!models_.empty() && std::find(models_.begin(), models_.end(), model) == models_.end()) {
                auto* tag = secondaryLabel(QStringLiteral("saved"), 0.75, row);
                tag->setObjectName(QStringLiteral("saved"));
                layout->addWidget(tag);
            }
        }
    }
    if (const auto typed = typedID()) {
        auto* divider = new QFrame(list);
        divider->setFrameShape(QFrame::HLine);
        divider->setFrameShadow(QFrame::Sunken);
        divider->setContentsMargins(0, 4, 0, 4);
        listLayout->addWidget(divider);
        ModelRow* row = addRow(*typed, list, listLayout);
        row->setObjectName(QStringLiteral("useTypedModel"));
        auto* plus = new QLabel(row);
        plus->setFixedSize(symbolSize);
        plus->setPixmap(Symbols::icon(QStringLiteral("plus"), text).pixmap(symbolSize, devicePixelRatioF()));
        row->layout()->addWidget(plus);
        const QString use = QStringLiteral("Use \u201C") + qs(*typed) + QStringLiteral("\u201D");
        auto* title = new QLabel(row->fontMetrics().elidedText(use, Qt::ElideMiddle, popoverWidth - 80), row);
        title->setObjectName(QStringLiteral("title"));
        row->setAccessibleName(use);
        static_cast<QHBoxLayout*>(row->layout())->addWidget(title, 1);
    }
    if (rows_.empty()) {
        auto* empty = secondaryLabel(loading_ ? QStringLiteral("Loading models...") : QStringLiteral("No models"), 1.0, list);
        empty->setObjectName(QStringLiteral("modelListEmpty"));
        empty->setContentsMargins(10, 10, 10, 10);
        listLayout->addWidget(empty);
    }
    listLayout->addStretch(1);
    scroll_->setWidget(list);
    list->show();
}

void ModelPicker::showHighlight() {
    for (ModelRow* row : rows_) {
        const bool on = highlighted_ && row->id() == *highlighted_;
        row->setHighlighted(on);
        if (on && open_) scroll_->ensureWidgetVisible(row, 0, 0);
    }
}

}  // namespace brevalto
