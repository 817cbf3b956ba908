#pragma once

#include "ClipCore/Uuid.h"

#include <QScrollArea>

#include <optional>
#include <set>
#include <unordered_map>
#include <vector>

class QLabel;

namespace brevalto {

class ClipCard;
class ClipboardView;
struct Clip;

// The horizontally scrolling row of clip cards. Cards have a fixed size, so the row lays out
// places for every visible clip but builds cards only for the places in and near its viewport,
// building more as it scrolls. With no clip to show it shows the empty state instead.
class ClipCardRow : public QScrollArea {
    Q_OBJECT
public:
    static constexpr int kSpacing = 10;
    static constexpr int kInset = 2;
    static constexpr int kHeight = 174;

    explicit ClipCardRow(ClipboardView& view, QWidget* parent = nullptr);

    // Shows these clips, in order, with the selection and the image group; `empty` is the
    // message shown when there is none and `emptyWidth` its width.
    void setClips(const std::vector<const Clip*>& clips, const std::optional<Uuid>& selected,
                  const std::set<Uuid>& group, const QString& empty, int emptyWidth);
    // Scrolls the card into view, as little as it takes.
    void scrollToClip(const Uuid& id);

    const std::vector<Uuid>& ids() const { return ids_; }
    // The built card of a clip, if it is near the viewport.
    ClipCard* card(const Uuid& id) const;
    // The built cards in row order.
    std::vector<ClipCard*> cards() const;
    // The empty state (shown while no clip is) and its message.
    QWidget* emptyState() const { return emptyBox_; }
    QLabel* emptyMessage() const { return empty_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    // The places of the cards that are built: the viewport's and a few on each side.
    std::pair<int, int> nearViewport() const;
    void dropFarCards();
    void buildNearViewport();
    static int placeX(std::size_t index) { return kInset + int(index) * (155 + kSpacing); }

    ClipboardView& view_;
    QWidget* strip_;
    QWidget* emptyBox_;
    QLabel* empty_;
    std::vector<Uuid> ids_;
    std::optional<Uuid> selected_;
    std::set<Uuid> group_;
    std::unordered_map<Uuid, ClipCard*> cards_;
};

}  // namespace brevalto
