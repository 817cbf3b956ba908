#include "Editor/View/EditorControls.h"

#include "Platform/Symbols.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QBoxLayout>
#include <QHash>
#include <QPainter>
#include <QMenu>
#include <QMouseEvent>
#include <QPainterPath>

#include <algorithm>
#include <array>
#include <cmath>

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

// Assistive technology reads the bar's buttons as buttons that can be pressed. Made here rather
// than by Qt's lookup through each class of the button, which an editor with thirty of them
// would pay for on every opening.
class EditorButtonAccessible : public QAccessibleWidget {
public:
    explicit EditorButtonAccessible(QAbstractButton* button) : QAccessibleWidget(button, QAccessible::Button) {}

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.pressed = static_cast<QAbstractButton*>(widget())->isDown();
        return state;
    }
    QString text(QAccessible::Text kind) const override {
        QString text = QAccessibleWidget::text(kind);
        if (kind == QAccessible::Name && text.isEmpty()) text = static_cast<QAbstractButton*>(widget())->text();
        return text;
    }
    QStringList actionNames() const override { return QStringList{pressAction()} + QAccessibleWidget::actionNames(); }
    void doAction(const QString& action) override {
        if (action == pressAction())
            static_cast<QAbstractButton*>(widget())->click();
        else
            QAccessibleWidget::doAction(action);
    }
};

QAccessibleInterface* editorButtonAccessible(const QString& key, QObject* object) {
    // Asked about every object and each of its classes: Qt's own are passed on at once.
    if (!key.startsWith(QLatin1String("brevalto::"))) return nullptr;
    if (qobject_cast<EditorIconButton*>(object) || qobject_cast<EditorReadoutButton*>(object) ||
        qobject_cast<EditorTextButton*>(object))
        return new EditorButtonAccessible(static_cast<QAbstractButton*>(object));
    return nullptr;
}

void installAccessibility() {
    static const bool installed = (QAccessible::installFactory(editorButtonAccessible), true);
    (void)installed;
}

}  // namespace

EditorIconButton::EditorIconButton(const QString& symbol, const QString& help, const QString& objectName,
                                   QWidget* parent, const QString& accessibleName)
    : QAbstractButton(parent), symbol_(symbol) {
    installAccessibility();
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

void EditorRowControl::paintUnlessInRow(QWidget& control) const {
    if (qobject_cast<const EditorControlRow*>(control.parentWidget())) return;
    QPainter painter(&control);
    paintControl(painter);
}

void EditorControlRow::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    paintControls(painter, event->region());
}

void EditorControlRow::paintControls(QPainter& painter, const QRegion& region) const {
    for (QObject* child : children()) {
        if (!child->isWidgetType()) continue;
        const auto* widget = static_cast<const QWidget*>(child);
        if (widget->isHidden() || !region.intersects(widget->geometry())) continue;
        if (const auto* control = dynamic_cast<const EditorRowControl*>(widget)) {
            const QPoint at = widget->pos();
            painter.translate(at);
            control->paintControl(painter);
            painter.translate(-at);
        }
    }
}

void EditorIconButton::paintEvent(QPaintEvent*) {
    paintUnlessInRow(*this);
}

void EditorIconButton::paintControl(QPainter& painter) const {
    const qreal ratio = devicePixelRatioF();
    int tint = 0;
    if (active_) tint = 31;  // 12 % of the primary colour
    if (isEnabled() && isDown()) tint = std::max(tint, 46);
    else if (isEnabled() && underMouse()) tint = std::max(tint, 20);
    if (tint > 0) painter.drawImage(QPoint(0, 0), cachedChip(size(), 6, QColor(255, 255, 255, tint), QColor(), ratio));
    const QColor color = isEnabled() ? kForeground : QColor(255, 255, 255, 80);
    if (shownColor_ != color.rgba() || shownRatio_ != ratio) {
        shown_ = cachedSymbol(symbol_, kSymbolSize, color, ratio);
        shownColor_ = color.rgba();
        shownRatio_ = ratio;
    }
    if (shown_.isNull()) return;
    // Whole points, so that the symbol is copied rather than resampled.
    painter.drawImage(QPoint((width() - kSymbolSize) / 2, (height() - kSymbolSize) / 2), shown_);
}

namespace {

// What a drawing of the caches below depends on: a text or symbol name, up to four whole numbers
// (sizes, radius, font), up to two colours and the pixel ratio.
struct DrawingKey {
    QString name;
    std::array<int, 4> numbers{};
    std::array<QRgb, 2> colors{};
    qreal ratio = 1;
    bool operator==(const DrawingKey&) const = default;
};

size_t qHash(const DrawingKey& key, size_t seed = 0) {
    return qHashMulti(seed, key.name, key.numbers[0], key.numbers[1], key.numbers[2], key.numbers[3], key.colors[0],
                      key.colors[1], key.ratio);
}

// The caches hold what the editors of a session draw; values that change with the pointer (the
// colour readout) would grow them without end, so each one starts over at a bound.
constexpr qsizetype kCacheBound = 512;

// The cached drawing of the key, made by make when missing.
template <class Value, class Make>
const Value& cached(QHash<DrawingKey, Value>& cache, DrawingKey key, Make make) {
    auto found = cache.constFind(key);
    if (found != cache.constEnd()) return *found;
    if (cache.size() >= kCacheBound) cache.clear();
    return *cache.insert(std::move(key), make());
}

}  // namespace

const QImage& cachedSymbol(const QString& symbol, int size, const QColor& color, qreal ratio) {
    static QHash<DrawingKey, QImage> cache;
    return cached(cache, DrawingKey{symbol, {size}, {color.rgba()}, ratio},
                  [&] { return Symbols::image(symbol, QSizeF(size, size), color, ratio); });
}

const QImage& cachedChip(QSize size, int radius, const QColor& fill, const QColor& outline, qreal ratio) {
    static QHash<DrawingKey, QImage> cache;
    const QRgb line = outline.isValid() ? outline.rgba() : 0;
    return cached(cache, DrawingKey{{}, {size.width(), size.height(), radius}, {fill.rgba(), line}, ratio}, [&] {
        QImage chip((QSizeF(size) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
        chip.setDevicePixelRatio(ratio);
        chip.fill(Qt::transparent);
        QPainter painter(&chip);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(size)).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
        painter.fillPath(path, fill);
        if (qAlpha(line) > 0) {
            painter.setPen(QPen(outline, 1));
            painter.drawPath(path);
        }
        painter.end();
        return chip;
    });
}

const QFont& editorFont(EditorFont font) {
    static const std::array<QFont, 4> fonts = [] {
        std::array<QFont, 4> made;
        for (QFont& f : made) f = QApplication::font();
        made[int(EditorFont::value)].setPixelSize(12);
        made[int(EditorFont::value)].setWeight(QFont::DemiBold);
        made[int(EditorFont::caption)].setPixelSize(10);
        made[int(EditorFont::button)].setPixelSize(12);
        made[int(EditorFont::status)].setPixelSize(11);
        return made;
    }();
    return fonts[int(font)];
}

const QStaticText& cachedText(const QString& text, EditorFont font, int width) {
    static QHash<DrawingKey, QStaticText> cache;
    return cached(cache, DrawingKey{text, {int(font), width}}, [&] {
        QStaticText laid(text);
        laid.setTextFormat(Qt::PlainText);
        if (width > 0) laid.setTextWidth(width);
        laid.setPerformanceHint(QStaticText::AggressiveCaching);
        laid.prepare(QTransform(), editorFont(font));
        return laid;
    });
}

const QImage& cachedTextImage(const QString& text, EditorFont font, const QColor& color, qreal ratio, QSize box) {
    static QHash<DrawingKey, QImage> cache;
    return cached(cache, DrawingKey{text, {int(font), box.width(), box.height()}, {color.rgba()}, ratio}, [&] {
        // A text that fits the box's width stays on one line, in an image no wider than itself.
        const bool wrapped = box.width() > 0 && cachedText(text, font).size().width() > box.width();
        const QStaticText laid = cachedText(text, font, wrapped ? box.width() : -1);
        QSize size = laid.size().toSize() + QSize(1, 1);
        if (box.isValid()) size = size.boundedTo(box);
        QImage image((QSizeF(size) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setFont(editorFont(font));
        painter.setPen(color);
        painter.drawStaticText(QPointF(0, 0), laid);
        painter.end();
        return image;
    });
}

namespace {

const QFontMetrics& metrics(EditorFont font) {
    static const std::array<QFontMetrics, 4> all{QFontMetrics(editorFont(EditorFont::value)),
                                                 QFontMetrics(editorFont(EditorFont::caption)),
                                                 QFontMetrics(editorFont(EditorFont::button)),
                                                 QFontMetrics(editorFont(EditorFont::status))};
    return all[int(font)];
}

}  // namespace

EditorReadout::EditorReadout(const QString& objectName, QWidget* parent) : QWidget(parent) {
    setObjectName(objectName);
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void EditorReadout::setTexts(const QString& value, const QString& caption) {
    replaceTexts(*this, value_, caption_, value, caption);
}

QSize EditorReadout::textsSize(const QString& value, const QString& caption, int minimum) {
    const QSizeF top = cachedText(value, EditorFont::value).size(), bottom = cachedText(caption, EditorFont::caption).size();
    return QSize(std::max({int(std::ceil(top.width())), int(std::ceil(bottom.width())), minimum}) + 2,
                 metrics(EditorFont::value).height() + metrics(EditorFont::caption).height());
}

QSize EditorReadout::sizeHint() const { return textsSize(value_, caption_); }

void EditorReadout::paintTexts(QPainter& painter, const QWidget& widget, double x, const QString& value,
                               const QString& caption) {
    const QFontMetrics &vm = metrics(EditorFont::value), &cm = metrics(EditorFont::caption);
    const double top = std::round((widget.height() - vm.height() - cm.height()) / 2.0);
    const qreal ratio = widget.devicePixelRatioF();
    const QPoint at{int(x), int(top)};
    painter.drawImage(at, cachedTextImage(value, EditorFont::value, kForeground, ratio));
    painter.drawImage(at + QPoint(0, vm.height()), cachedTextImage(caption, EditorFont::caption, kSecondary, ratio));
}

void EditorReadout::paintEvent(QPaintEvent*) {
    paintUnlessInRow(*this);
}

void EditorReadout::paintControl(QPainter& painter) const { paintTexts(painter, *this, 0, value_, caption_); }

EditorReadoutButton::EditorReadoutButton(const QString& objectName, const QString& help, bool swatch, QWidget* parent)
    : QAbstractButton(parent), swatch_(swatch) {
    installAccessibility();
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
    // The colour readout keeps one width for every colour: "#" and six even-width digits.
    const QSize texts = swatch_ ? EditorReadout::textsSize(QStringLiteral("#DDDDDD"), caption_)
                                : EditorReadout::textsSize(value_, caption_);
    return QSize(texts.width() + (swatch_ ? 27 : 0), std::max(28, texts.height()));
}

void EditorReadoutButton::paintEvent(QPaintEvent*) {
    paintUnlessInRow(*this);
}

void EditorReadoutButton::paintControl(QPainter& painter) const {
    double x = 0;
    if (swatch_) {
        painter.drawImage(QPoint(0, (height() - 20) / 2),
                          cachedChip(QSize(20, 20), 10, swatchColor_, QColor(255, 255, 255, 51), devicePixelRatioF()));
        x = 27;
    }
    EditorReadout::paintTexts(painter, *this, x, value_, caption_);
}

EditorTextButton::EditorTextButton(const QString& text, const QString& objectName, QWidget* parent,
                                   const QString& symbol, const QColor& accent)
    : QAbstractButton(parent), symbol_(symbol), accent_(accent) {
    installAccessibility();
    setText(text);
    setObjectName(objectName);
    setAccessibleName(text);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize EditorTextButton::sizeHint() const {
    const int icon = symbol_.isEmpty() ? 0 : 18;
    return QSize(int(std::ceil(cachedText(text(), EditorFont::button).size().width())) + 18 + icon, 24);
}

void EditorTextButton::paintEvent(QPaintEvent*) {
    paintUnlessInRow(*this);
}

void EditorTextButton::paintControl(QPainter& painter) const {
    QColor fill = accent_.isValid() ? accent_ : QColor(255, 255, 255, 26);
    if (isDown())
        fill = fill.darker(120);
    else if (underMouse())
        fill = accent_.isValid() ? accent_.lighter(112) : QColor(255, 255, 255, 46);
    const qreal ratio = devicePixelRatioF();
    painter.drawImage(QPoint(0, 0), cachedChip(size(), 5, fill, QColor(255, 255, 255, accent_.isValid() ? 0 : 40), ratio));
    int x = 9;
    if (!symbol_.isEmpty()) {
        painter.drawImage(QPoint(x, (height() - 14) / 2), cachedSymbol(symbol_, 14, Qt::white, ratio));
        x += 18;
    }
    const QImage& label = cachedTextImage(text(), EditorFont::button,
                                          isEnabled() ? QColor(Qt::white) : QColor(255, 255, 255, 100), ratio);
    painter.drawImage(QPoint(x, (height() - int(label.deviceIndependentSize().height()) + 1) / 2), label);
}

namespace {

constexpr QMargins kStatusMargins(12, 5, 12, 5);
const QColor kStatusColor(255, 255, 255, 210);

}  // namespace

EditorStatusLine::EditorStatusLine(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setContentsMargins(kStatusMargins);
    setFont(editorFont(EditorFont::status));
    QPalette secondary = palette();
    secondary.setColor(QPalette::WindowText, kStatusColor);
    setPalette(secondary);
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

QSize EditorStatusLine::sizeHint() const {
    static const int height = 2 * metrics(EditorFont::status).lineSpacing() + kStatusMargins.top() + kStatusMargins.bottom();
    return QSize(0, height);
}

void EditorStatusLine::announce(const QString& status) {
    if (status != text()) {
        setText(status);
        return;
    }
    // What QLabel::setText raises for a new text.
    if (accessibleName().isEmpty()) {
        QAccessibleEvent event(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
}

void EditorStatusLine::paintEvent(QPaintEvent* event) {
    if (selectable()) {
        QLabel::paintEvent(event);
        return;
    }
    const QRect area = contentsRect();
    QPainter(this).drawImage(area.topLeft(),
                             cachedTextImage(text(), EditorFont::status, kStatusColor, devicePixelRatioF(), area.size()));
}

void EditorStatusLine::enterEvent(QEnterEvent* event) {
    QLabel::enterEvent(event);
    if (selectable()) return;
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    setFocusPolicy(Qt::NoFocus);  // the keys stay with the canvas
}

QPalette editorDarkPalette(QPalette dark) {
    dark.setColor(QPalette::Window, QColor(44, 44, 46));
    dark.setColor(QPalette::WindowText, Qt::white);
    dark.setColor(QPalette::ButtonText, Qt::white);
    dark.setColor(QPalette::Button, QColor(58, 58, 60));
    dark.setColor(QPalette::Base, QColor(28, 28, 30));
    dark.setColor(QPalette::AlternateBase, QColor(44, 44, 46));
    dark.setColor(QPalette::Text, Qt::white);
    dark.setColor(QPalette::PlaceholderText, QColor(255, 255, 255, 150));
    dark.setColor(QPalette::ToolTipBase, QColor(44, 44, 46));
    dark.setColor(QPalette::ToolTipText, Qt::white);
    dark.setColor(QPalette::Link, QColor(100, 170, 255));
    dark.setColor(QPalette::LinkVisited, QColor(100, 170, 255));
    // Disabled texts stay dimmer than enabled ones and still read at 3:1 on a button's face.
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(QPalette::Disabled, role, QColor(255, 255, 255, 130));
    dark.setColor(QPalette::Disabled, QPalette::Light, Qt::transparent);
    return dark;
}

QSpacerItem* addEditorSeparator(QBoxLayout& row) {
    auto* item = new QSpacerItem(9, 22, QSizePolicy::Fixed, QSizePolicy::Fixed);
    row.addItem(item);
    return item;
}

QSpacerItem* addEditorDivider(QBoxLayout& column) {
    auto* item = new QSpacerItem(0, 1, QSizePolicy::Expanding, QSizePolicy::Fixed);
    column.addItem(item);
    return item;
}

void paintEditorLines(QPainter& painter, const std::vector<QSpacerItem*>& separators,
                      const std::vector<QSpacerItem*>& dividers) {
    const QColor color(255, 255, 255, 42);
    for (const QSpacerItem* item : separators) {
        const QRect frame = item->geometry();
        painter.fillRect(QRect(frame.x() + frame.width() / 2, frame.y() + (frame.height() - 22) / 2, 1, 22), color);
    }
    for (const QSpacerItem* item : dividers) painter.fillRect(item->geometry(), color);
}

}  // namespace brevalto
