#include "Editor/View/EditorControls.h"

#include "Platform/Symbols.h"

#include <QApplication>
#include <QHash>
#include <QPainter>
#include <QMenu>
#include <QMouseEvent>
#include <QPainterPath>

#include <algorithm>

namespace brevalto {

namespace {

constexpr int kSymbolSize = 17;
const QColor kForeground(255, 255, 255, 230);
const QColor kSecondary(255, 255, 255, 140);

// Replaces a readout's texts, laying the bar out again only when its size changes.
void replaceTexts(QWidget& widget, QString& value, QString& caption, const QString& newValue, const QString& newCaption) {
    if (newValue == value && newCaption == caption) return;
    const QSize before = widget.sizeHint();
    value = newValue;
    caption = newCaption;
    if (widget.sizeHint() != before) widget.updateGeometry();
    widget.update();
}

}  // namespace

EditorIconButton::EditorIconButton(const QString& symbol, const QString& help, const QString& objectName,
                                   QWidget* parent, const QString& accessibleName)
    : QAbstractButton(parent), symbol_(symbol) {
    setObjectName(objectName);
    setToolTip(help);
    setAccessibleName(accessibleName.isEmpty() ? help : accessibleName);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
    setFixedSize(sizeHint());
}

void EditorIconButton::setActive(bool active) {
    if (active_ == active) return;
    active_ = active;
    update();
}

QMenu* EditorIconButton::ensureMenu() {
    if (!menu_ && menuFactory_) {
        menu_ = menuFactory_();
        connect(menu_, &QMenu::aboutToHide, this, [this] { setDown(false); });
    }
    return menu_;
}

void EditorIconButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && ensureMenu()) {
        setDown(true);
        menu_->popup(mapToGlobal(QPoint(0, height())));
        event->accept();
        return;
    }
    QAbstractButton::mousePressEvent(event);
}

void EditorIconButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    int tint = 0;
    if (active_) tint = 31;  // 12 % of the primary colour
    if (isEnabled() && isDown()) tint = std::max(tint, 46);
    else if (isEnabled() && underMouse()) tint = std::max(tint, 20);
    if (tint > 0) {
        QPainterPath path;
        path.addRoundedRect(frame, 6, 6);
        painter.fillPath(path, QColor(255, 255, 255, tint));
    }
    const QImage& image =
        cachedSymbol(symbol_, kSymbolSize, isEnabled() ? kForeground : QColor(255, 255, 255, 80), devicePixelRatioF());
    if (image.isNull()) return;
    const QPointF topLeft((width() - kSymbolSize) / 2.0, (height() - kSymbolSize) / 2.0);
    painter.drawImage(QRectF(topLeft, QSizeF(kSymbolSize, kSymbolSize)), image);
}

const QImage& cachedSymbol(const QString& symbol, int size, const QColor& color, qreal ratio) {
    static QHash<QString, QImage> cache;
    const QString key = symbol + QLatin1Char('/') + QString::number(size) + QLatin1Char('/') +
                        QString::number(color.rgba(), 16) + QLatin1Char('/') + QString::number(ratio);
    auto found = cache.find(key);
    if (found == cache.end()) found = cache.insert(key, Symbols::image(symbol, QSizeF(size, size), color, ratio));
    return *found;
}

EditorReadout::EditorReadout(const QString& objectName, QWidget* parent) : QWidget(parent) {
    setObjectName(objectName);
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

const QFont& EditorReadout::valueFont() {
    static const QFont font = [] {
        QFont f = QApplication::font();
        f.setPixelSize(12);
        f.setWeight(QFont::DemiBold);
        return f;
    }();
    return font;
}

const QFont& EditorReadout::captionFont() {
    static const QFont font = [] {
        QFont f = QApplication::font();
        f.setPixelSize(10);
        return f;
    }();
    return font;
}

const QFontMetrics& EditorReadout::valueMetrics() {
    static const QFontMetrics metrics(valueFont());
    return metrics;
}

const QFontMetrics& EditorReadout::captionMetrics() {
    static const QFontMetrics metrics(captionFont());
    return metrics;
}

void EditorReadout::setTexts(const QString& value, const QString& caption) {
    replaceTexts(*this, value_, caption_, value, caption);
}

QSize EditorReadout::sizeHint() const {
    const QFontMetrics &value = valueMetrics(), &caption = captionMetrics();
    return QSize(std::max(value.horizontalAdvance(value_), caption.horizontalAdvance(caption_)) + 2,
                 value.height() + caption.height());
}

void EditorReadout::paintTexts(QPainter& painter, const QWidget& widget, double x, const QString& value,
                               const QString& caption) {
    const QFont &vf = valueFont(), &cf = captionFont();
    const QFontMetrics &vm = valueMetrics(), &cm = captionMetrics();
    const double top = (widget.height() - vm.height() - cm.height()) / 2.0;
    painter.setFont(vf);
    painter.setPen(kForeground);
    painter.drawText(QPointF(x, top + vm.ascent()), value);
    painter.setFont(cf);
    painter.setPen(kSecondary);
    painter.drawText(QPointF(x, top + vm.height() + cm.ascent()), caption);
}

void EditorReadout::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintTexts(painter, *this, 0, value_, caption_);
}

EditorReadoutButton::EditorReadoutButton(const QString& objectName, const QString& help, bool swatch, QWidget* parent)
    : QAbstractButton(parent), swatch_(swatch) {
    setObjectName(objectName);
    setToolTip(help);
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void EditorReadoutButton::setTexts(const QString& value, const QString& caption) {
    replaceTexts(*this, value_, caption_, value, caption);
}

void EditorReadoutButton::setSwatchColor(const QColor& color) {
    if (color == swatchColor_) return;
    swatchColor_ = color;
    update();
}

QSize EditorReadoutButton::sizeHint() const {
    const QFontMetrics &value = EditorReadout::valueMetrics(), &caption = EditorReadout::captionMetrics();
    // The colour readout keeps one width for every colour: "#" and six even-width digits.
    const QString widest = swatch_ ? QStringLiteral("#DDDDDD") : value_;
    const int text = std::max(value.horizontalAdvance(widest), caption.horizontalAdvance(caption_)) + 2;
    return QSize(text + (swatch_ ? 27 : 0), std::max(28, value.height() + caption.height()));
}

void EditorReadoutButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    double x = 0;
    if (swatch_) {
        const QRectF circle(0.5, (height() - 20) / 2.0 + 0.5, 19, 19);
        painter.setBrush(swatchColor_);
        painter.setPen(QPen(QColor(255, 255, 255, 51), 1));
        painter.drawEllipse(circle);
        x = 27;
    }
    EditorReadout::paintTexts(painter, *this, x, value_, caption_);
}

EditorTextButton::EditorTextButton(const QString& text, const QString& objectName, QWidget* parent,
                                   const QString& symbol, const QColor& accent)
    : QAbstractButton(parent), symbol_(symbol), accent_(accent) {
    setText(text);
    setObjectName(objectName);
    setAccessibleName(text);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    QFont small = font();
    small.setPixelSize(12);
    setFont(small);
}

QSize EditorTextButton::sizeHint() const {
    const int icon = symbol_.isEmpty() ? 0 : 18;
    return QSize(fontMetrics().horizontalAdvance(text()) + 18 + icon, 24);
}

void EditorTextButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
    QColor fill = accent_.isValid() ? accent_ : QColor(255, 255, 255, 26);
    if (isDown())
        fill = fill.darker(120);
    else if (underMouse())
        fill = accent_.isValid() ? accent_.lighter(112) : QColor(255, 255, 255, 46);
    painter.fillPath(path, fill);
    painter.setPen(QColor(255, 255, 255, accent_.isValid() ? 0 : 40));
    painter.drawPath(path);
    int x = 9;
    if (!symbol_.isEmpty()) {
        painter.drawImage(QRectF(x, (height() - 14) / 2.0, 14, 14), cachedSymbol(symbol_, 14, Qt::white, devicePixelRatioF()));
        x += 18;
    }
    painter.setPen(isEnabled() ? QColor(Qt::white) : QColor(255, 255, 255, 100));
    painter.drawText(QRect(x, 0, width() - x - 9, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
}

namespace {

// A line of the light separator colour: the whole widget, or a centred vertical line of a height.
class Line : public QWidget {
public:
    explicit Line(QWidget* parent, int height = 0) : QWidget(parent), height_(height) {}

protected:
    void paintEvent(QPaintEvent*) override {
        const QColor color(255, 255, 255, 42);
        if (height_ == 0)
            QPainter(this).fillRect(rect(), color);
        else
            QPainter(this).fillRect(QRect(width() / 2, (height() - height_) / 2, 1, height_), color);
    }

private:
    int height_;
};

}  // namespace

QPalette editorDarkPalette(QPalette dark) {
    dark.setColor(QPalette::Window, QColor(44, 44, 46));
    dark.setColor(QPalette::WindowText, Qt::white);
    dark.setColor(QPalette::ButtonText, Qt::white);
    dark.setColor(QPalette::Button, QColor(58, 58, 60));
    dark.setColor(QPalette::Base, QColor(28, 28, 30));
    dark.setColor(QPalette::AlternateBase, QColor(44, 44, 46));
    dark.setColor(QPalette::Text, Qt::white);
    dark.setColor(QPalette::PlaceholderText, QColor(255, 255, 255, 110));
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(QPalette::Disabled, role, QColor(255, 255, 255, 90));
    dark.setColor(QPalette::Disabled, QPalette::Light, Qt::transparent);
    return dark;
}

QWidget* editorSeparator(QWidget* parent) {
    auto* line = new Line(parent, 22);
    line->setFixedWidth(9);
    return line;
}

QWidget* editorDivider(QWidget* parent) {
    auto* line = new Line(parent);
    line->setFixedHeight(1);
    return line;
}

}  // namespace brevalto
