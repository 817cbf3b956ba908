#include "Editor/View/ToolPalette.h"

#include "Document/ScreenshotDocumentSession.h"
#include "Editor/View/EditorControls.h"
#include "Editor/View/ScreenshotEditorView.h"
#include "Platform/Symbols.h"

#include <QHBoxLayout>
#include <QMenu>
#include <QResizeEvent>

namespace brevalto {

namespace {

constexpr int kButtonWidth = 30;
constexpr int kSpacing = 2;
// The panel's menus are dark.
const QColor menuIconColor(255, 255, 255, 220);

}  // namespace

ToolPalette::ToolPalette(ScreenshotEditorView& view, QWidget* parent) : EditorControlRow(parent), view_(view) {
    setObjectName(QStringLiteral("toolPalette"));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(kSpacing);
    for (const EditorTool& tool : EditorTool::palette()) {
        auto* button = new EditorIconButton(tool.icon, tool.help(), QStringLiteral("tool.") + tool.id, this);
        connect(button, &QAbstractButton::clicked, this, [this, tool] { view_.chooseTool(tool); });
        row->addWidget(button);
        buttons_.push_back(button);
    }
    more_ = new EditorIconButton(QStringLiteral("ellipsis"), QStringLiteral("More tools"), QStringLiteral("moreTools"), this);
    more_->setMenuFactory([this] {
        menu_ = new QMenu(more_);
        menu_->setObjectName(QStringLiteral("moreToolsMenu"));
        connect(menu_, &QMenu::aboutToShow, this, &ToolPalette::fillMenu);
        fillMenu();
        return menu_;
    });
    row->addWidget(more_);
    row->addStretch(1);
    show(rowSizes[0]);
    refreshActive();
}

int ToolPalette::rowWidth(int n) { return (n + 1) * kButtonWidth + n * kSpacing; }

QSize ToolPalette::sizeHint() const { return QSize(rowWidth(rowSizes[0]), 28); }

QSize ToolPalette::minimumSizeHint() const { return QSize(rowWidth(rowSizes[std::size(rowSizes) - 1]), 28); }

void ToolPalette::resizeEvent(QResizeEvent* event) {
    EditorControlRow::resizeEvent(event);
    int n = rowSizes[std::size(rowSizes) - 1];
    for (int candidate : rowSizes) {
        if (rowWidth(candidate) <= event->size().width()) {
            n = candidate;
            break;
        }
    }
    show(n);
}

void ToolPalette::show(int n) {
    if (n == shown_) return;
    shown_ = n;
    // Only the buttons that change: showing one that is not hidden still costs a round of events.
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
        const bool visible = static_cast<int>(i) < n;
        if (buttons_[i]->isHidden() == visible) buttons_[i]->setVisible(visible);
    }
    if (menu_) fillMenu();
}

QMenu* ToolPalette::moreTools() const { return more_->ensureMenu(); }

void ToolPalette::fillMenu() {
    // The palette tools left out of the row, then the more-tools table.
    const auto& palette = EditorTool::palette();
    if (filled_ == shown_) return;
    filled_ = shown_;
    menu_->clear();
    std::vector<EditorTool> listed(palette.begin() + shown_, palette.end());
    listed.insert(listed.end(), EditorTool::moreTools().begin(), EditorTool::moreTools().end());
    for (const EditorTool& tool : listed) {
        QAction* action = menu_->addAction(Symbols::icon(tool.icon, menuIconColor), tool.title);
        action->setObjectName(QStringLiteral("tool.") + tool.id);
        connect(action, &QAction::triggered, this, [this, tool] { view_.chooseTool(tool); });
    }
}

void ToolPalette::refreshActive() {
    const QString& current = view_.session().tool();
    const auto& palette = EditorTool::palette();
    for (std::size_t i = 0; i < buttons_.size(); ++i) buttons_[i]->setActive(palette[i].id == current);
}

}  // namespace brevalto
