#include "Panel/NotchSurface.h"

#include "Clipboard/ClipStore.h"
#include "Panel/BrevaltoGlyph.h"
#include "Panel/ClipboardView.h"
#include "Panel/NotchGeometry.h"
#include "Panel/NotchOutline.h"
#include "Panel/PanelController.h"
#include "Platform/Counts.h"
#include "Platform/Symbols.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>

namespace brevalto {

// The collapsed notch: the whole notch is one flat button that opens the panel.
class NotchButton : public QAbstractButton {
public:
    explicit NotchButton(QWidget* parent) : QAbstractButton(parent) {
        setObjectName(QStringLiteral("openClipboard"));
        setAccessibleName(QStringLiteral("Open clipboard"));
        setFocusPolicy(Qt::NoFocus);
        setCursor(Qt::PointingHandCursor);
        setState(0, false, 0);
    }

    qint64 count() const { return count_; }

    void setState(qint64 count, bool paused, double housingWidth) {
        count_ = count;
        paused_ = paused;
        housingWidth_ = housingWidth;
        QWidget::update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor foreground(255, 255, 255, 204);
        QFont font = this->font();
        font.setPixelSize(12);
        font.setWeight(QFont::Medium);
        painter.setFont(font);
        const QString number = QString::number(count_);
        const QRectF area = QRectF(rect()).adjusted(kPadding, 0, -kPadding, 0);
        const double iconSide = paused_ ? 12 : 16;
        const double textWidth = painter.fontMetrics().horizontalAdvance(number);
        // Icon left, count right; at least the housing's width between them.
        const double content = iconSide + kSpacing + std::max(housingWidth_, 0.0) + kSpacing + textWidth;
        const double left = content > area.width() ? area.center().x() - content / 2 : area.left();
        const double right = content > area.width() ? left + content : area.right();
        const QRectF iconRect(left, area.center().y() - iconSide / 2, iconSide, iconSide);
        if (paused_) {
            const QImage pause = Symbols::image(QStringLiteral("pause.fill"), iconRect.size(), foreground,
                                                devicePixelRatioF());
            painter.drawImage(iconRect, pause);
        } else {
            BrevaltoGlyph::paint(painter, iconRect, 16, foreground);
        }
        painter.setPen(foreground);
        painter.drawText(QRectF(right - textWidth, area.top(), textWidth, area.height()),
                         Qt::AlignVCenter | Qt::AlignRight | Qt::TextSingleLine, number);
    }

private:
    static constexpr double kPadding = 22;
    static constexpr double kSpacing = 8;
    qint64 count_ = 0;
    bool paused_ = false;
    double housingWidth_ = 0;
};

namespace {

// Assistive technology reads the notch as the button "Open clipboard" whose value is the number
// of clips.
class NotchButtonAccessible : public QAccessibleWidget {
public:
    explicit NotchButtonAccessible(NotchButton* button) : QAccessibleWidget(button, QAccessible::Button) {}

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Value)
            return counted(static_cast<NotchButton*>(widget())->count(), QStringLiteral("item"), QStringLiteral("items"));
        return QAccessibleWidget::text(kind);
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& action) override {
        if (action == pressAction()) static_cast<NotchButton*>(widget())->click();
    }
};

QAccessibleInterface* notchButtonAccessible(const QString&, QObject* object) {
    if (auto* button = dynamic_cast<NotchButton*>(object)) return new NotchButtonAccessible(button);
    return nullptr;
}

}  // namespace

NotchSurface::NotchSurface(PanelController* controller, QWidget* parent)
    : QWidget(parent), controller_(controller), button_(new NotchButton(this)) {
    setObjectName(QStringLiteral("notchSurface"));
    static const bool accessible = (QAccessible::installFactory(notchButtonAccessible), true);
    (void)accessible;
    setAttribute(Qt::WA_TranslucentBackground);
    // The clipboard view is made when it is first needed (the pointer comes near, the panel
    // opens), so that start-up shows the collapsed panel with nothing but its own set-up.
    connect(button_, &QAbstractButton::clicked, controller_, [this] { controller_->expandPanel(true); });
    connect(controller_, &PanelController::expandedChanged, this, &NotchSurface::refresh);
    connect(controller_, &PanelController::previewExpandedChanged, this, &NotchSurface::refresh);
    connect(controller_, &PanelController::workspaceChanged, this, &NotchSurface::refresh);
    connect(controller_, &PanelController::geometryChanged, this, &NotchSurface::refresh);
    connect(&controller_->store(), &ClipStore::itemsChanged, this, &NotchSurface::refreshNotch);
    connect(&controller_->store(), &ClipStore::pausedChanged, this, &NotchSurface::refreshNotch);
    refresh();
}

QAbstractButton* NotchSurface::notchButton() const {
    return button_;
}

void NotchSurface::setContent(QWidget* content) {
    if (content_) content_->deleteLater();
    content_ = content;
    content_->setParent(this);
    content_->lower();
    refresh();
}

QWidget* NotchSurface::content() {
    if (!content_) setContent(new ClipboardView(*controller_));
    return content_;
}

void NotchSurface::enterEvent(QEnterEvent* event) {
    QWidget::enterEvent(event);
    content();  // made while the hover delay runs, not when the panel opens
}

void NotchSurface::refreshNotch() {
    const ClipStore& store = controller_->store();
    button_->setState(static_cast<qint64>(store.items().size()), store.paused(), controller_->geometry().hardwareWidth);
}

void NotchSurface::refresh() {
    const NotchGeometry& geometry = controller_->geometry();
    const bool expanded = controller_->expanded();
    const bool hasWorkspace = controller_->workspace().has_value();
    // The content keeps its expanded size whatever the window's current frame.
    const double width = panelFrame(true, false, hasWorkspace, geometry).width();
    const double height = panelFrame(true, controller_->previewExpanded(), hasWorkspace, geometry).height();
    const int w = qRound(width), h = qRound(height);
    if (expanded || hasWorkspace) content();
    if (content_) {
        content_->setGeometry((this->width() - w) / 2, 0, w, h);
        // Collapsed, the content can be neither clicked, tabbed to nor read by assistive technology.
        content_->setVisible(expanded);
    }
    button_->setGeometry(rect());
    button_->setVisible(!expanded);
    refreshNotch();
    update();
}

void NotchSurface::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    refresh();
}

void NotchSurface::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const NotchOutline outline{controller_->geometry().safeTop > 0};
    painter.fillPath(outline.path(QRectF(rect())), Qt::black);
}

}  // namespace brevalto
