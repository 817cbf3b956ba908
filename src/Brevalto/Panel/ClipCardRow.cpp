#include "Panel/ClipCardRow.h"

#include "Clipboard/ClipStore.h"
#include "Panel/ClipCard.h"
#include "Panel/ClipboardView.h"
#include "Platform/Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>

namespace brevalto {

namespace {

constexpr int kBuildMargin = 3;  // cards built beyond each side of the viewport
constexpr int kPlace = ClipCard::kWidth + ClipCardRow::kSpacing;

}  // namespace

ClipCardRow::ClipCardRow(ClipboardView& view, QWidget* parent) : QScrollArea(parent), view_(view) {
    setObjectName(QStringLiteral("cardRow"));
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setWidgetResizable(false);
    setFocusPolicy(Qt::NoFocus);
    viewport()->setAutoFillBackground(false);
    strip_ = new QWidget;
    strip_->setObjectName(QStringLiteral("cardStrip"));
    strip_->setAutoFillBackground(false);
    setWidget(strip_);

    emptyBox_ = new QWidget(strip_);
    emptyBox_->setObjectName(QStringLiteral("emptyState"));
    auto* emptyLayout = new QVBoxLayout(emptyBox_);
    emptyLayout->setSpacing(8);
    emptyLayout->addStretch();
    auto* icon = new QLabel(emptyBox_);
    icon->setAlignment(Qt::AlignCenter);
    icon->setPixmap(QPixmap::fromImage(
        Symbols::image(QStringLiteral("clipboard"), QSizeF(24, 24), QColor(255, 255, 255, 140), devicePixelRatioF())));
    emptyLayout->addWidget(icon);
    empty_ = new QLabel(emptyBox_);
    empty_->setObjectName(QStringLiteral("emptyMessage"));
    empty_->setAlignment(Qt::AlignCenter);
    empty_->setTextFormat(Qt::PlainText);
    emptyLayout->addWidget(empty_);
    emptyLayout->addStretch();
    emptyBox_->hide();

    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, [this] { buildNearViewport(); });
}

void ClipCardRow::setClips(const std::vector<const Clip*>& clips, const std::optional<Uuid>& selected,
                           const std::set<Uuid>& group, const QString& empty, int emptyWidth) {
    selected_ = selected;
    group_ = group;
    ids_.clear();
    ids_.reserve(clips.size());
    std::unordered_map<Uuid, std::size_t> places;
    for (const Clip* clip : clips) {
        places.emplace(clip->id, ids_.size());
        ids_.push_back(clip->id);
    }
    // Cards of clips that left the row go (later: one of them may be running the action that
    // removed it); the others move to their new places.
    for (auto it = cards_.begin(); it != cards_.end();) {
        auto place = places.find(it->first);
        if (place == places.end()) {
            it->second->hide();
            it->second->deleteLater();
            it = cards_.erase(it);
            continue;
        }
        ClipCard* card = it->second;
        card->setClip(*clips[place->second]);
        card->setHighlight(selected == it->first, group.count(it->first) > 0);
        card->move(placeX(place->second), kInset);
        ++it;
    }
    if (ids_.empty()) {
        empty_->setText(empty);
        emptyBox_->setFixedSize(std::max(1, emptyWidth), 138);
        emptyBox_->move(kInset, kInset + (kHeight - 2 * kInset - 138) / 2);
        emptyBox_->show();
        strip_->resize(emptyWidth + 2 * kInset, kHeight);
    } else {
        emptyBox_->hide();
        strip_->resize(placeX(ids_.size() - 1) + ClipCard::kWidth + kInset, kHeight);
    }
    // Cards pushed away from the viewport by new clips are made again when scrolled to; while
    // the row is hidden they go, so that copies made with the panel closed hold no cards.
    dropFarCards();
    buildNearViewport();
}

std::pair<int, int> ClipCardRow::nearViewport() const {
    const int left = horizontalScrollBar()->value();
    return {std::max(0, (left - kInset) / kPlace - kBuildMargin),
            std::min(int(ids_.size()) - 1, (left + viewport()->width()) / kPlace + kBuildMargin)};
}

void ClipCardRow::dropFarCards() {
    // Only while no one can be using a card: hidden, nothing is pressed, dragged or open.
    if (isVisible()) return;
    const auto [first, last] = nearViewport();
    for (int i = 0; i < int(ids_.size()); ++i) {
        if (i >= first && i <= last) continue;
        auto it = cards_.find(ids_[std::size_t(i)]);
        if (it == cards_.end()) continue;
        it->second->hide();
        it->second->deleteLater();
        cards_.erase(it);
    }
}

void ClipCardRow::hideEvent(QHideEvent* event) {
    QScrollArea::hideEvent(event);
    dropFarCards();
}

void ClipCardRow::buildNearViewport() {
    if (ids_.empty()) return;
    const auto [first, last] = nearViewport();
    std::vector<std::size_t> missing;
    for (int i = first; i <= last; ++i)
        if (!cards_.count(ids_[std::size_t(i)])) missing.push_back(std::size_t(i));
    if (missing.empty()) return;
    const std::vector<Clip>& items = view_.store().items();
    for (std::size_t index : missing) {
        const Uuid& id = ids_[index];
        auto clip = std::find_if(items.begin(), items.end(), [&](const Clip& c) { return c.id == id; });
        if (clip == items.end()) continue;
        auto* card = new ClipCard(view_, *clip, strip_);
        card->setHighlight(selected_ == id, group_.count(id) > 0);
        card->move(placeX(index), kInset);
        card->show();
        cards_.emplace(id, card);
    }
}

void ClipCardRow::scrollToClip(const Uuid& id) {
    auto it = std::find(ids_.begin(), ids_.end(), id);
    if (it == ids_.end()) return;
    const int x = placeX(std::size_t(it - ids_.begin()));
    QScrollBar* bar = horizontalScrollBar();
    const int width = viewport()->width();
    if (x < bar->value())
        bar->setValue(x - kInset);
    else if (x + ClipCard::kWidth > bar->value() + width)
        bar->setValue(x + ClipCard::kWidth + kInset - width);
    buildNearViewport();
}

ClipCard* ClipCardRow::card(const Uuid& id) const {
    auto it = cards_.find(id);
    return it == cards_.end() ? nullptr : it->second;
}

std::vector<ClipCard*> ClipCardRow::cards() const {
    std::vector<ClipCard*> built;
    for (const Uuid& id : ids_)
        if (ClipCard* c = card(id)) built.push_back(c);
    return built;
}

void ClipCardRow::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    buildNearViewport();
}

void ClipCardRow::wheelEvent(QWheelEvent* event) {
    // The row scrolls sideways whichever way the wheel turns.
    const QPoint delta = event->angleDelta();
    const int step = delta.x() != 0 ? delta.x() : delta.y();
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() - step);
    event->accept();
}

}  // namespace brevalto
