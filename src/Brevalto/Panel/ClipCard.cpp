#include "Panel/ClipCard.h"

#include "ClipCore/ReferenceDate.h"
#include "Clipboard/ClipStore.h"
#include "Panel/ClipboardView.h"
#include "Panel/DragSourceView.h"
#include "Panel/OCRActionButton.h"
#include "Panel/PanelController.h"
#include "Platform/Symbols.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QDateTime>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>
#include <QToolButton>

namespace brevalto {

namespace {

const QColor kSelectedFill = QColor::fromRgbF(0.15f, 0.18f, 0.14f);
const QColor kFill = QColor::fromRgbF(0.095f, 0.095f, 0.095f);
const QColor kSelectedBorder = QColor::fromRgbF(0.65f, 0.75f, 0.58f);
const QColor kBorder = QColor::fromRgbF(1, 1, 1, 0.15f);
const QColor kSecondary = QColor(255, 255, 255, 140);
const QColor kPrimary = QColor(255, 255, 255, 230);
const QColor kIconColor = QColor(255, 255, 255, 210);

// Image cards offer assistive technology one action: marking the card for a group drag.
class ClipCardAccessible : public QAccessibleWidget {
public:
    explicit ClipCardAccessible(ClipCard* card) : QAccessibleWidget(card, QAccessible::Grouping) {}
    ClipCard* card() const { return static_cast<ClipCard*>(widget()); }
    QStringList actionNames() const override {
        if (card()->clip().kind != Clip::Kind::image) return {};
        return {card()->groupActionName()};
    }
    void doAction(const QString& action) override {
        if (card()->clip().kind == Clip::Kind::image && action == card()->groupActionName())
            QMetaObject::invokeMethod(card(), "toggleGroup");
    }
};

QAccessibleInterface* clipCardAccessible(const QString&, QObject* object) {
    if (auto* card = qobject_cast<ClipCard*>(object)) return new ClipCardAccessible(card);
    return nullptr;
}

// Draws the first lines of the text as they wrap in the rectangle (at word boundaries, inside a
// word only when it is wider than the line); the rest is left out.
void drawLines(QPainter& painter, const QString& text, const QFont& font, const QRectF& rect, int maxLines) {
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    double y = 0;
    for (int n = 0; n < maxLines; ++n) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) break;
        line.setLineWidth(rect.width());
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout.endLayout();
    layout.draw(&painter, rect.topLeft());
}

}  // namespace

ClipCard::ClipCard(ClipboardView& view, const Clip& clip, QWidget* parent) : QWidget(parent), view_(view) {
    static const bool accessible = (QAccessible::installFactory(clipCardAccessible), true);
    (void)accessible;
    setFixedSize(kWidth, kHeight);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setObjectName(QStringLiteral("card-") + QString::fromStdString(clip.id.string()));
    dragSource_ = new DragSourceView(this);
    dragSource_->setGeometry(bodyRect());
    setClip(clip);
    connect(&view_.store(), &ClipStore::thumbnailFinished, this, [this](const QString& digest) {
        if (clip_.kind == Clip::Kind::image && digest == QString::fromStdString(clip_.digest)) loadThumbnail();
    });
    // A long text's texts arrive later; its controls are named anew with the title.
    connect(&view_.store(), &ClipStore::cardTextsFinished, this, [this](const QString& digest) {
        if (!textsPending_ || digest != QString::fromStdString(clip_.digest)) return;
        showTexts(view_.store().cardTexts(clip_));
        if (textsPending_) return;
        buildControls();
        updateDragHandle();
        update();
    });
}

void ClipCard::showTexts(const std::shared_ptr<const ClipStore::CardTexts>& made) {
    // Until the masked texts are made the card shows bullets, never the text itself.
    textsPending_ = made == nullptr;
    const ClipStore::CardTexts& texts = made ? *made : *ClipStore::maskedCardTexts();
    title_ = QString::fromStdString(texts.title);
    preview_ = QString::fromStdString(texts.preview);
    // Line breaks of the text break the preview's lines.
    preview_.replace(QStringLiteral("\r\n"), QString(QChar::LineSeparator));
    preview_.replace(QLatin1Char('\n'), QChar::LineSeparator);
    preview_.replace(QLatin1Char('\r'), QChar::LineSeparator);
}

QString ClipCard::groupActionName() const {
    return QStringLiteral("Select ") + title_ + QStringLiteral(" for group drag");
}

void ClipCard::setClip(const Clip& clip) {
    const bool first = actionRow_ == nullptr;
    bool rebuild = first || clip.pinned != clip_.pinned || clip.id != clip_.id ||
                   uploadsShown_ != uploadsAvailable() || uploadState_ != uploadState();
    if (first || clip.digest != clip_.digest || clip.id != clip_.id) {
        showTexts(view_.store().cardTexts(clip));
        const QDateTime created = QDateTime::fromMSecsSinceEpoch(qint64(unixSeconds(clip.createdAt) * 1000.0));
        time_ = QLocale::system().toString(created.time(), QLocale::ShortFormat);
    } else if (textsPending_) {
        // Asked again: work dropped with a clear-all whose write failed is started anew.
        showTexts(view_.store().cardTexts(clip));
        rebuild = rebuild || !textsPending_;
    }
    // Actions look the clip up in the store by its identifier, so they act on its latest state.
    clip_ = clip;
    setToolTip(clip.kind == Clip::Kind::image
                   ? QStringLiteral("Ctrl-click several images, then drag any selected card.")
                   : QStringLiteral("Drag into another app. If the app does not accept dropped text, "
                                    "Brevalto pastes it there."));
    if (clip.kind == Clip::Kind::image && thumbnail_.isNull()) loadThumbnail();
    if (rebuild) buildControls();
    updateDragHandle();
    update();
}

void ClipCard::loadThumbnail() {
    ClipStore& store = view_.store();
    switch (store.requestThumbnail(clip_)) {
    case ClipStore::ThumbnailState::ready:
        if (auto hit = store.thumbnails().find(clip_.digest); hit != store.thumbnails().end()) thumbnail_ = hit->second;
        thumbnailPending_ = false;
        break;
    case ClipStore::ThumbnailState::pending:
        thumbnailPending_ = true;
        break;
    case ClipStore::ThumbnailState::failed:
        thumbnailPending_ = false;
        break;
    }
    update();
}

void ClipCard::setHighlight(bool selected, bool grouped) {
    // Called on every change of the group, which is what a drag of this card carries.
    updateDragHandle();
    if (selected == selected_ && grouped == grouped_) return;
    selected_ = selected;
    grouped_ = grouped;
    update();
}

ClipCard::ControlTexts ClipCard::controlTexts(ItemAction action, Clip::Kind kind, bool pinned, const QString& title,
                                              bool liveUpload) {
    const bool image = kind == Clip::Kind::image;
    switch (action) {
    case ItemAction::copy:
        return {"Copy", "doc.on.doc", "Copy " + title, "Copy this item", "copy-"};
    case ItemAction::paste:
        return {"Paste", "doc.on.clipboard", "Paste " + title, "Paste this item into the previous app", "paste-"};
    case ItemAction::edit:
        return {"Edit", "pencil", "Edit " + title, "Edit this image", "edit-"};
    case ItemAction::ocr:
        return {OCRActionButton::title(false), OCRActionButton::symbol(false), "OCR " + title,
                "Recognize text. Shift-click to recognize and translate.", "ocr-"};
    case ItemAction::upload:
        if (liveUpload) return {"Copy link", "link.icloud", "Copy link of " + title, "Copy the uploaded link", "upload-"};
        return {"Upload and copy link", "icloud.and.arrow.up", "Upload " + title,
                "Upload to the configured destination and copy its link. Anyone with a public URL can view the "
                "image.",
                "upload-"};
    case ItemAction::float_:
        return {"Float", "macwindow.on.rectangle", "Float " + title, "Open a floating image", "float-"};
    case ItemAction::ai:
        if (image)
            return {"Image AI", "wand.and.stars", "Image with Claude and Image Playground " + title, "Image AI", "ai-"};
        return {"Translate", "translate", "Translate with Claude " + title, "Translate with Claude", "ai-"};
    case ItemAction::pin:
        if (pinned) return {"Unpin item", "pin.slash", "Unpin " + title, "Unpin this item", "pin-"};
        return {"Pin item", "pin", "Pin " + title, "Pin this item", "pin-"};
    case ItemAction::preview:
        return {"Show preview", "rectangle.expand.vertical", "Preview " + title, "Show this item's preview",
                "preview-"};
    case ItemAction::delete_:
        return {"Delete item", "trash", "Delete " + title, "Delete this item", "delete-"};
    }
    return {};
}

void ClipCard::buildControls() {
    // The old row may hold the control whose click led here: it goes once that click is over.
    if (actionRow_) {
        actionRow_->hide();
        actionRow_->deleteLater();
    }
    menu_ = nullptr;
    actionRow_ = new QWidget(this);
    actionRow_->setGeometry(kPadding, kHeight - kPadding - kActionRowHeight, kWidth - 2 * kPadding, kActionRowHeight);
    auto* layout = new QHBoxLayout(actionRow_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);

    const QString uuid = QString::fromStdString(clip_.id.string());
    const QString title = title_;
    const bool uploads = uploadsShown_ = uploadsAvailable();
    uploadState_ = uploadState();
    const auto [liveUpload, uploadBusy] = uploadState_;
    auto texts = [this, live = liveUpload](ItemAction action) {
        return controlTexts(action, clip_.kind, clip_.pinned, title_, live);
    };
    const Uuid id = clip_.id;
    ClipboardView* view = &view_;
    auto run = [view, id](ItemAction action, bool translate) {
        for (const Clip& clip : view->store().items())
            if (clip.id == id) {
                view->perform(action, clip, translate);
                return;
            }
    };

    const std::vector<ItemAction>& actions = itemActions(clip_.kind);
    const int n = int(actions.size());
    const int k = cardActionCount(n, actionRow_->width());
    QFont font = this->font();
    font.setPixelSize(12);
    for (int i = 0; i < k; ++i) {
        const ItemAction action = actions[std::size_t(i)];
        if (action == ItemAction::upload && !uploads) continue;
        const ControlTexts t = texts(action);
        QToolButton* button;
        if (action == ItemAction::ocr) {
            button = new OCRActionButton([run](bool translate) { run(ItemAction::ocr, translate); },
                                         QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier),
                                         actionRow_);
        } else {
            button = new QToolButton(actionRow_);
            button->setText(t.title);
            button->setIcon(Symbols::icon(t.symbol, kIconColor));
            connect(button, &QToolButton::clicked, this, [run, action] { run(action, false); });
        }
        button->setObjectName(t.prefix + uuid);
        button->setToolTip(t.help);
        button->setAccessibleName(t.label);
        button->setToolButtonStyle(Qt::ToolButtonIconOnly);
        button->setAutoRaise(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setFixedSize(24, 24);
        button->setIconSize(QSize(14, 14));
        button->setFont(font);
        if (action == ItemAction::upload) button->setEnabled(!uploadBusy);
        layout->addWidget(button);
    }
    if (k < n) {
        auto* more = new QToolButton(actionRow_);
        more->setObjectName(QStringLiteral("actions-") + uuid);
        more->setAccessibleName(QStringLiteral("Actions for ") + title);
        more->setToolTip(QStringLiteral("More actions for this item"));
        more->setIcon(Symbols::icon(QStringLiteral("ellipsis"), kIconColor));
        more->setAutoRaise(true);
        more->setFocusPolicy(Qt::NoFocus);
        more->setFixedSize(24, 24);
        more->setIconSize(QSize(14, 14));
        more->setPopupMode(QToolButton::InstantPopup);
        more->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; width: 0px; }"));
        menu_ = new QMenu(more);
        menu_->setObjectName(QStringLiteral("actionsMenu-") + uuid);
        for (int i = k; i < n; ++i) {
            const ItemAction action = actions[std::size_t(i)];
            if (action == ItemAction::upload && !uploads) continue;
            const ControlTexts t = texts(action);
            QAction* entry = menu_->addAction(Symbols::icon(t.symbol, QColor(Qt::white)), t.title);
            entry->setObjectName(t.prefix + uuid);
            entry->setToolTip(t.help);
            entry->setStatusTip(t.label);
            if (action == ItemAction::upload) entry->setEnabled(!uploadBusy);
            if (action == ItemAction::ocr) {
                connect(entry, &QAction::triggered, this, [run] {
                    run(ItemAction::ocr, QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier));
                });
            } else {
                connect(entry, &QAction::triggered, this, [run, action] { run(action, false); });
            }
        }
        // The menu's entry for OCR follows Shift when it opens.
        connect(menu_, &QMenu::aboutToShow, menu_, [menu = menu_, uuid] {
            const bool shift = QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ShiftModifier);
            for (QAction* entry : menu->actions())
                if (entry->objectName() == QStringLiteral("ocr-") + uuid) {
                    entry->setText(OCRActionButton::title(shift));
                    entry->setIcon(Symbols::icon(OCRActionButton::symbol(shift), QColor(Qt::white)));
                }
        });
        more->setMenu(menu_);
        // Keeps the panel open while the menu is used, even when the mouse leaves it.
        connect(more, &QToolButton::pressed, this, [view] { view->controller().setPinnedOpen(true); });
        layout->addWidget(more);
    }
    layout->addStretch();
    actionRow_->show();
}

QRect ClipCard::bodyRect() const {
    return QRect(kPadding, kPadding, kWidth - 2 * kPadding, kHeight - 2 * kPadding - kActionRowHeight - 8);
}

void ClipCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF card = QRectF(rect());
    const double border = 1;
    QPainterPath outline;
    outline.addRoundedRect(card, 14, 14);
    painter.fillPath(outline, selected_ ? kSelectedFill : kFill);
    QPainterPath edge;
    edge.addRoundedRect(card.adjusted(border / 2, border / 2, -border / 2, -border / 2), 14 - border / 2,
                        14 - border / 2);
    painter.setPen(QPen(selected_ || grouped_ ? kSelectedBorder : kBorder, border));
    painter.drawPath(edge);

    const QRect body = bodyRect();
    QFont small = font();
    small.setPixelSize(11);
    painter.setFont(small);
    const int lineHeight = QFontMetrics(small).height();
    const qreal ratio = devicePixelRatioF();

    // Header line: kind symbol, source (cut in the middle), pin.
    const QRectF kindIcon(body.left(), body.top() + (lineHeight - 12) / 2.0, 12, 12);
    painter.drawImage(kindIcon, Symbols::image(clip_.kind == Clip::Kind::image ? QStringLiteral("photo")
                                                                                : QStringLiteral("text.alignleft"),
                                               kindIcon.size(), kSecondary, ratio));
    double right = body.right() + 1;
    if (clip_.pinned) {
        const QRectF pin(right - 12, kindIcon.top(), 12, 12);
        painter.drawImage(pin, Symbols::image(QStringLiteral("pin.fill"), pin.size(), kSecondary, ratio));
        right -= 16;
    }
    painter.setPen(kSecondary);
    const QRectF sourceRect(kindIcon.right() + 5, body.top(), right - kindIcon.right() - 5, lineHeight);
    painter.drawText(sourceRect, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
                     QFontMetrics(small).elidedText(QString::fromStdString(clip_.source), Qt::ElideMiddle,
                                                    int(sourceRect.width())));

    // Footer line: kind and time.
    const QRectF footer(body.left(), body.bottom() + 1 - lineHeight, body.width(), lineHeight);
    painter.drawText(footer, Qt::AlignVCenter | Qt::AlignLeft,
                     clip_.kind == Clip::Kind::image ? QStringLiteral("Image") : QStringLiteral("Text"));
    painter.drawText(footer, Qt::AlignVCenter | Qt::AlignRight, time_);

    // Preview between them.
    const QRectF preview(body.left(), body.top() + lineHeight + 8, body.width(),
                         footer.top() - 8 - (body.top() + lineHeight + 8));
    if (!thumbnail_.isNull()) {
        QSizeF fitted = QSizeF(thumbnail_.size());
        fitted.scale(preview.size(), Qt::KeepAspectRatio);
        const QRectF target(preview.center().x() - fitted.width() / 2, preview.center().y() - fitted.height() / 2,
                            fitted.width(), fitted.height());
        QPainterPath clip;
        clip.addRoundedRect(target, 6, 6);
        painter.save();
        painter.setClipPath(clip);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, thumbnail_);
        painter.restore();
    } else if (thumbnailPending_) {
        QPainterPath placeholder;
        placeholder.addRoundedRect(preview, 6, 6);
        painter.fillPath(placeholder, QColor(255, 255, 255, 18));
        const QRectF icon(preview.center().x() - 10, preview.center().y() - 10, 20, 20);
        painter.drawImage(icon, Symbols::image(QStringLiteral("photo"), icon.size(), QColor(255, 255, 255, 60), ratio));
    } else {
        QFont text = font();
        text.setPixelSize(13);
        painter.setPen(kPrimary);
        painter.save();
        painter.setClipRect(preview);
        drawLines(painter, preview_, text, preview, 4);
        painter.restore();
    }
}

void ClipCard::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !bodyRect().contains(event->position().toPoint())) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    const Uuid id = clip_.id;
    if (clip_.kind == Clip::Kind::image && event->modifiers().testFlag(Qt::ControlModifier)) {
        view_.toggleImageSelection(id);
    } else {
        for (const Clip& clip : view_.store().items())
            if (clip.id == id) {
                view_.handleCardClick(clip);
                break;
            }
    }
    event->accept();
}

void ClipCard::updateDragHandle() {
    std::vector<Clip> group;
    const std::set<Uuid>& selection = view_.imageSelection();
    for (const Clip& clip : view_.store().items())
        if (clip.kind == Clip::Kind::image && selection.count(clip.id)) group.push_back(clip);
    ClipboardView* view = &view_;
    const Uuid id = clip_.id;
    auto clicked = [view, id] {
        for (const Clip& clip : view->store().items())
            if (clip.id == id) {
                view->handleCardClick(clip);
                break;
            }
    };
    DragHandle handle = DragHandle::forCard(view_.controller(), clip_, std::move(group), std::move(clicked),
                                            [view, id] { view->toggleImageSelection(id); });
    handle.title = title_;
    dragSource_->update(std::move(handle));
}

bool ClipCard::uploadsAvailable() const {
    ScreenshotActions* screenshots = view_.controller().screenshots();
    return screenshots && screenshots->uploadsAvailable();
}

std::pair<bool, bool> ClipCard::uploadState() const {
    ScreenshotActions* screenshots = view_.controller().screenshots();
    if (!screenshots || !screenshots->uploadsAvailable()) return {false, false};
    return {screenshots->hasLiveUpload(clip_.id), screenshots->uploadBusy()};
}

void ClipCard::toggleGroup() {
    if (clip_.kind == Clip::Kind::image) view_.toggleImageSelection(clip_.id);
}

}  // namespace brevalto
