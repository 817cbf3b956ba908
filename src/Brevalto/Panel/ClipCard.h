#pragma once

#include "ClipCore/Clip.h"
#include "Clipboard/ClipStore.h"
#include "Panel/ClipList.h"

#include <QImage>
#include <QString>
#include <QWidget>

class QToolButton;
class QMenu;

namespace brevalto {

class ClipboardView;
class DragSourceView;

// One clip in the card row: a fixed 155 x 170 card with its header line (kind and source, a pin
// when pinned), its preview (the image's thumbnail, or the first lines of its text with secrets
// masked), its footer line (kind and time) and its row of action controls with an overflow menu
// for those that do not fit. A click selects it and opens the preview; a Ctrl-click on an image
// card marks it for a group drag; dragging its body drags the clip (or the group it belongs to)
// out of the panel.
class ClipCard : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 155;
    static constexpr int kHeight = 170;
    static constexpr int kPadding = 12;
    static constexpr int kActionRowHeight = 24;
    static constexpr std::size_t kPreviewCharacters = ClipStore::kCardPreviewCharacters;

    ClipCard(ClipboardView& view, const Clip& clip, QWidget* parent = nullptr);

    const Clip& clip() const { return clip_; }
    // Shows the clip's current state (rebuilds the controls when its pin changed).
    void setClip(const Clip& clip);
    void setHighlight(bool selected, bool grouped);
    bool isSelected() const { return selected_; }
    bool isGrouped() const { return grouped_; }
    // The preview shows the thumbnail (false while it is being made, or when there is none).
    bool showsThumbnail() const { return !thumbnail_.isNull(); }
    bool thumbnailPending() const { return thumbnailPending_; }
    // The text the preview shows (masked).
    const QString& previewText() const { return preview_; }
    // The clip's title as the card and its controls' names use it (masked).
    const QString& title() const { return title_; }
    // The masked texts of a long text are still being made: the card shows bullets meanwhile.
    bool textsPending() const { return textsPending_; }
    // The overflow menu, when not every action fits.
    QMenu* overflowMenu() const { return menu_; }
    // The name of the accessibility action of image cards.
    QString groupActionName() const;
    // The drag source laid over the card's body.
    DragSourceView* dragSource() const { return dragSource_; }

    // Control texts of an action for a clip: title, symbol, accessibility label, help text and
    // identifier prefix.
    struct ControlTexts {
        QString title, symbol, label, help, prefix;
    };
    // liveUpload: the clip's upload on the active destination is live, so the upload control
    // copies its link.
    static ControlTexts controlTexts(ItemAction action, Clip::Kind kind, bool pinned, const QString& title,
                                     bool liveUpload = false);

    // Marks or unmarks the card for a group drag (its accessibility action).
    Q_INVOKABLE void toggleGroup();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void buildControls();
    void loadThumbnail();
    void showTexts(const std::shared_ptr<const ClipStore::CardTexts>& texts);
    bool uploadsAvailable() const;
    // The upload control's state now: live (copies the link) and busy (disabled).
    std::pair<bool, bool> uploadState() const;
    QRect bodyRect() const;
    // Hands the drag source the clip and the current group.
    void updateDragHandle();

    ClipboardView& view_;
    Clip clip_;
    QString title_;
    QString preview_;
    QString time_;
    QImage thumbnail_;
    bool thumbnailPending_ = false;
    bool textsPending_ = false;
    bool selected_ = false;
    bool grouped_ = false;
    bool uploadsShown_ = false;
    std::pair<bool, bool> uploadState_{false, false};
    QWidget* actionRow_ = nullptr;
    QMenu* menu_ = nullptr;
    DragSourceView* dragSource_ = nullptr;
};

}  // namespace brevalto
