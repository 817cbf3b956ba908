#include "Editor/View/EditorControls.h"

#include "Platform/Symbols.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace brevalto {

namespace {

constexpr int kSymbolSize = 17;
const QColor kForeground(255, 255, 255, 230);
const QColor kSecondary(255, 255, 255, 140);

}  // namespace

EditorIconButton::EditorIconButton(const QString& symbol, const QString& help, const QString& objectName,
                                   QWidget* parent, const QString& accessibleName)
    : QToolButton(parent), symbol_(symbol) {
    setObjectName(objectName);
    setToolTip(help);
    setAccessibleName(accessibleName.isEmpty() ? help : accessibleName);
    setFocusPolicy(Qt::NoFocus);
    setAutoRaise(true);
    setAttribute(Qt::WA_Hover);
    setFixedSize(sizeHint());
}

void EditorIconButton::setActive(bool active) {
    if (active_ == active) return;
    active_ = active;
    update();
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
    const qreal ratio = devicePixelRatioF();
    if (ratio != ratio_ || normal_.isNull()) {
        ratio_ = ratio;
        normal_ = Symbols::image(symbol_, QSizeF(kSymbolSize, kSymbolSize), kForeground, ratio);
        disabled_ = Symbols::image(symbol_, QSizeF(kSymbolSize, kSymbolSize), QColor(255, 255, 255, 80), ratio);
    }
    const QImage& image = isEnabled() ? normal_ : disabled_;
    if (image.isNull()) return;
    const QPointF topLeft((width() - kSymbolSize) / 2.0, (height() - kSymbolSize) / 2.0);
    painter.drawImage(QRectF(topLeft, QSizeF(kSymbolSize, kSymbolSize)), image);
}

EditorReadout::EditorReadout(const QString& objectName, QWidget* parent) : QWidget(parent) {
    setObjectName(objectName);
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QFont EditorReadout::valueFont(const QFont& base) {
    QFont font = base;
    font.setPixelSize(12);
    font.setWeight(QFont::DemiBold);
    return font;
}

QFont EditorReadout::captionFont(const QFont& base) {
    QFont font = base;
    font.setPixelSize(10);
    return font;
}

void EditorReadout::setTexts(const QString& value, const QString& caption) {
    if (value == value_ && caption == caption_) return;
    const QSize before = sizeHint();
    value_ = value;
    caption_ = caption;
    if (sizeHint() != before) updateGeometry();
    update();
}

QSize EditorReadout::sizeHint() const {
    const QFontMetrics value(valueFont(font())), caption(captionFont(font()));
    return QSize(std::max(value.horizontalAdvance(value_), caption.horizontalAdvance(caption_)) + 2,
                 value.height() + caption.height());
}

void EditorReadout::paintTexts(QPainter& painter, const QWidget& widget, double x, const QString& value,
                               const QString& caption) {
    const QFont vf = valueFont(widget.font()), cf = captionFont(widget.font());
    const QFontMetrics vm(vf), cm(cf);
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
    if (value == value_ && caption == caption_) return;
    const QSize before = sizeHint();
    value_ = value;
    caption_ = caption;
    if (sizeHint() != before) updateGeometry();
    update();
}

void EditorReadoutButton::setSwatchColor(const QColor& color) {
    if (color == swatchColor_) return;
    swatchColor_ = color;
    update();
}

QSize EditorReadoutButton::sizeHint() const {
    const QFontMetrics value(EditorReadout::valueFont(font())), caption(EditorReadout::captionFont(font()));
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

QWidget* editorSeparator(QWidget* parent) {
    auto* box = new QWidget(parent);
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(4, 0, 4, 0);
    auto* line = new QFrame(box);
    line->setFrameShape(QFrame::NoFrame);
    line->setFixedSize(1, 22);
    line->setStyleSheet(QStringLiteral("background: rgba(255,255,255,46);"));
    layout->addWidget(line);
    box->setFixedWidth(9);
    return box;
}

}  // namespace brevalto
