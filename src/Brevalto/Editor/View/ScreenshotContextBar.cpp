#include "Editor/View/ScreenshotContextBar.h"

#include "Document/ImageEffects.h"
#include "Document/ScreenshotDocumentSession.h"
#include "Editor/ScreenshotEditorController.h"
#include "Editor/View/EditorControls.h"
#include "Platform/Symbols.h"

#include <QButtonGroup>
#include <QColorDialog>
#include <QEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QSlider>
#include <QToolButton>

#include <algorithm>
#include <cmath>
#include <utility>

namespace brevalto {

namespace {

using Kind = ScreenshotLayerKind;
using Property = ScreenshotDocumentSession::Property;

constexpr int kScale = 100;  // slider steps per unit
constexpr int kInset = 12;
// Room around the bar for its soft shadow (blur 8, 2 px down), drawn by the bar itself: a
// shadow effect would render the whole bar again for every repaint of one of its controls.
constexpr QMargins kShadow(8, 8, 8, 10);

struct SliderInfo {
    QString label;
    double low;
    double high;
};

SliderInfo sliderInfo(ScreenshotContextBar::Slider slider) {
    switch (slider) {
        case ScreenshotContextBar::Slider::fontSize: return {QStringLiteral("Font size"), 8, 160};
        case ScreenshotContextBar::Slider::strength: return {QStringLiteral("Strength"), 2, 60};
        case ScreenshotContextBar::Slider::thickness: return {QStringLiteral("Thickness"), 1, 30};
        case ScreenshotContextBar::Slider::none: break;
    }
    return {};
}

bool textBearing(Kind kind) { return kind == Kind::text || kind == Kind::callout || kind == Kind::counter; }

QToolButton* symbolButton(const QString& symbol, const QString& objectName, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setObjectName(objectName);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setIcon(Symbols::icon(symbol, parent->palette().color(QPalette::WindowText)));
    button->setIconSize(QSize(16, 16));
    return button;
}

}  // namespace

const std::vector<ScreenshotContextBar::Variant>& ScreenshotContextBar::effectVariants() {
    static const std::vector<Variant> variants = {
        {QStringLiteral("blur"), QStringLiteral("Blur")},
        {QStringLiteral("blurText"), QStringLiteral("Blur Text")},
        {QStringLiteral("erase"), QStringLiteral("Erase")},
        {QStringLiteral("eraseText"), QStringLiteral("Erase Text")},
        {QStringLiteral("redact"), QStringLiteral("Redact")},
    };
    return variants;
}

ScreenshotContextBar::Subject ScreenshotContextBar::subject(const ScreenshotDocumentSession& session) {
    Subject s;
    if (auto layer = session.selectedLayer(); layer && layer->kind != Kind::image) s.layer = std::move(layer);
    if (s.layer) {
        s.kind = s.layer->kind;
        s.style = s.layer->style;
        s.effect = s.kind == Kind::blur || s.kind == Kind::pixelate || s.kind == Kind::erase || s.kind == Kind::redact;
    } else {
        s.effect = session.tool() == QLatin1String("effect");
        s.kind = s.effect ? std::optional(Kind::blur) : screenshotLayerKind(session.tool().toStdString());
        s.style = session.style();
    }
    return s;
}

bool ScreenshotContextBar::shows(const Subject& s) {
    return s.kind && *s.kind != Kind::image && *s.kind != Kind::translatedText;
}

bool ScreenshotContextBar::fillColored(std::optional<ScreenshotLayerKind> kind) {
    return kind == Kind::counter || kind == Kind::callout;
}

ScreenshotContextBar::Slider ScreenshotContextBar::slider(const Subject& s) {
    if (!s.kind) return Slider::none;
    switch (*s.kind) {
        case Kind::text:
        case Kind::callout:
        case Kind::counter: return Slider::fontSize;
        case Kind::blur:
        case Kind::pixelate: return s.layer ? Slider::strength : Slider::none;
        case Kind::image:
        case Kind::spotlight:
        case Kind::redact:
        case Kind::erase:
        case Kind::translatedText: return Slider::none;
        default: return Slider::thickness;
    }
}

ScreenshotContextBar::Picker ScreenshotContextBar::picker(const Subject& s) {
    if (s.effect) return Picker::effect;
    if (s.kind == Kind::arrow || s.kind == Kind::curvedArrow) return Picker::arrow;
    if (s.kind == Kind::text) return Picker::text;
    if (s.kind == Kind::rectangle || s.kind == Kind::oval) return Picker::shape;
    if (s.kind == Kind::magnifier) return Picker::lens;
    return Picker::none;
}

int ScreenshotContextBar::pickerIndex(const Subject& s, const ScreenshotDocumentSession& session) {
    switch (picker(s)) {
        case Picker::effect: {
            QString id = session.effectMode();
            if (s.layer)
                id = s.kind == Kind::erase ? QStringLiteral("erase")
                     : s.kind == Kind::redact ? QStringLiteral("redact")
                                              : QStringLiteral("blur");
            const auto& variants = effectVariants();
            const auto found = std::find_if(variants.begin(), variants.end(), [&](const Variant& v) { return v.id == id; });
            return found == variants.end() ? 0 : int(found - variants.begin());
        }
        case Picker::arrow: return s.kind == Kind::curvedArrow ? 1 : s.style.handDrawn ? 2 : 0;
        case Picker::text: return s.style.filled ? 1 : 0;
        case Picker::shape: return s.style.handDrawn ? 2 : s.style.filled ? 1 : 0;
        case Picker::lens: return s.style.filled ? 0 : 1;
        case Picker::none: break;
    }
    return -1;
}

ScreenshotContextBar::ScreenshotContextBar(ScreenshotDocumentSession& session, ScreenshotEditorController* controller,
                                           std::function<void()> openStyle, std::function<void()> openObject,
                                           QWidget* parent)
    : QWidget(parent),
      session_(session),
      controller_(controller),
      openStyle_(std::move(openStyle)),
      openObject_(std::move(openObject)) {
    setObjectName(QStringLiteral("contextBar"));
    hide();
    connect(&session_, &ScreenshotDocumentSession::changed, this, [this](Property property) {
        if (property == Property::selectedID || property == Property::tool || property == Property::style ||
            property == Property::effectMode || property == Property::document)
            refresh();
    });
    if (parent) parent->installEventFilter(this);
    refresh();
}

// The controls are made when the bar first has something to show: an editor opened with the
// select tool never pays for them.
void ScreenshotContextBar::build() {
    setPalette(editorDarkPalette(palette()));

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12 + kShadow.left(), 8 + kShadow.top(), 12 + kShadow.right(), 8 + kShadow.bottom());
    row->setSpacing(10);

    back_ = symbolButton(QStringLiteral("chevron.left"), QStringLiteral("contextBack"), this);
    connect(back_, &QToolButton::clicked, this, [this] { backToSelect(); });
    row->addWidget(back_);

    color_ = new QToolButton(this);
    color_->setObjectName(QStringLiteral("contextColor"));
    color_->setToolTip(QStringLiteral("Color"));
    color_->setAccessibleName(QStringLiteral("Color"));
    color_->setFixedSize(28, 22);
    color_->setFocusPolicy(Qt::NoFocus);
    connect(color_, &QToolButton::clicked, this, [this] {
        auto* dialog = new QColorDialog(shownColor_, this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setOption(QColorDialog::ShowAlphaChannel);
        dialog->setWindowTitle(QStringLiteral("Color"));
        connect(dialog, &QColorDialog::currentColorChanged, this, [this](const QColor& c) { pickColor(c); });
        dialog->open();
    });
    row->addWidget(color_);

    slider_ = new QSlider(Qt::Horizontal, this);
    slider_->setObjectName(QStringLiteral("contextSlider"));
    slider_->setFixedWidth(110);
    slider_->setFocusPolicy(Qt::NoFocus);
    connect(slider_, &QSlider::valueChanged, this,
            [this](int v) { slide(double(v) / kScale, !slider_->isSliderDown()); });
    connect(slider_, &QSlider::sliderReleased, this, [this] { commit(); });
    row->addWidget(slider_);

    text_ = new QLineEdit(this);
    text_->setObjectName(QStringLiteral("contextText"));
    text_->setPlaceholderText(QStringLiteral("Text"));
    text_->setAccessibleName(QStringLiteral("Text"));
    text_->setFixedWidth(150);
    connect(text_, &QLineEdit::textEdited, this, [this](const QString& t) { editText(t); });
    connect(text_, &QLineEdit::returnPressed, this, [this] { submitText(); });
    // Under the panel's style sheet a widget takes no palette from its parent.
    text_->setPalette(palette());
    row->addWidget(text_);

    picker_ = new QWidget(this);
    picker_->setObjectName(QStringLiteral("contextPicker"));
    picker_->setStyleSheet(QStringLiteral(
        "QToolButton { color: white; background: rgba(255,255,255,20); border: 1px solid rgba(255,255,255,40);"
        " padding: 2px 8px; min-height: 18px; }"
        "QToolButton:checked { background: rgba(255,255,255,70); }"
        "QToolButton:hover:!checked { background: rgba(255,255,255,40); }"));
    auto* segments = new QHBoxLayout(picker_);
    segments->setContentsMargins(0, 0, 0, 0);
    segments->setSpacing(0);
    segments_ = new QButtonGroup(picker_);
    segments_->setExclusive(true);
    connect(segments_, &QButtonGroup::idClicked, this, [this](int id) { choose(id); });
    row->addWidget(picker_);

    more_ = symbolButton(QStringLiteral("ellipsis.circle"), QStringLiteral("contextMore"), this);
    auto* menu = new QMenu(more_);
    menu->setObjectName(QStringLiteral("contextMoreMenu"));
    menu->addAction(QStringLiteral("Style options\u2026"), this, [this] { if (openStyle_) openStyle_(); })
        ->setObjectName(QStringLiteral("contextStyleOptions"));
    menu->addAction(QStringLiteral("Position, rotation && order\u2026"), this, [this] { if (openObject_) openObject_(); })
        ->setObjectName(QStringLiteral("contextObjectOptions"));
    connect(more_, &QToolButton::clicked, this, [this] {
        if (subject(session_).layer) more_->showMenu();
        else if (openStyle_) openStyle_();
    });
    more_->setProperty("menu", QVariant::fromValue(static_cast<QObject*>(menu)));
    more_->setPopupMode(QToolButton::InstantPopup);
    more_->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; width: 0; }"));
    row->addWidget(more_);
}

QRect ScreenshotContextBar::barRect() const { return geometry() - kShadow; }

void ScreenshotContextBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRectF bar = QRectF(rect() - kShadow).adjusted(0.5, 0.5, -0.5, -0.5);
    if (shadow_.size() != size() * devicePixelRatioF()) {
        // Black at 15 % under the bar, 2 px down, blurred by 8 px: made once per size.
        shadow_ = QImage(size() * devicePixelRatioF(), QImage::Format_ARGB32_Premultiplied);
        shadow_.setDevicePixelRatio(devicePixelRatioF());
        shadow_.fill(Qt::transparent);
        QPainter shape(&shadow_);
        shape.setRenderHint(QPainter::Antialiasing);
        QPainterPath outline;
        outline.addRoundedRect(bar.translated(0, 2), 12, 12);
        shape.fillPath(outline, QColor(0, 0, 0, 38));
        shape.end();
        ImageEffects::gaussianBlur(shadow_, 4 * devicePixelRatioF());
    }
    painter.drawImage(QPointF(0, 0), shadow_);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(bar, 12, 12);
    painter.fillPath(path, palette().color(QPalette::Window));
    QColor outline = palette().color(QPalette::WindowText);
    outline.setAlphaF(0.12);
    painter.setPen(QPen(outline, 1));
    painter.drawPath(path);
}

bool ScreenshotContextBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parent() && event->type() == QEvent::Resize && back_) place();
    return QWidget::eventFilter(watched, event);
}

void ScreenshotContextBar::place() {
    layout()->activate();
    adjustSize();
    if (auto* host = parentWidget())
        move(host->width() - kInset - (width() - kShadow.left()), kInset - kShadow.top());
}

void ScreenshotContextBar::refresh() {
    const Subject s = subject(session_);
    if (!shows(s)) {
        hide();
        return;
    }
    if (!back_) build();
    const bool selected = s.layer.has_value();
    const QString backText = selected ? QStringLiteral("Deselect") : QStringLiteral("Back to Select");
    back_->setToolTip(backText);
    back_->setAccessibleName(backText);

    color_->setVisible(!s.effect && s.kind != Kind::spotlight);
    const ScreenshotColor::RGBA rgba = fillColored(s.kind) ? s.style.fill : s.style.stroke;
    const QColor swatchColor = QColor::fromRgbF(float(rgba.red), float(rgba.green), float(rgba.blue), float(rgba.alpha));
    if (swatchColor != shownColor_ || color_->icon().isNull()) {
        // A new swatch only when the colour changed: a slider drag repaints nothing here.
        shownColor_ = swatchColor;
        QPixmap swatch(24, 16);
        swatch.fill(shownColor_);
        color_->setIcon(QIcon(swatch));
        color_->setIconSize(swatch.size());
    }

    const Slider kind = slider(s);
    slider_->setVisible(kind != Slider::none);
    if (kind != Slider::none) {
        const SliderInfo info = sliderInfo(kind);
        const double value = kind == Slider::fontSize ? s.style.fontSize
                             : kind == Slider::thickness ? s.style.strokeWidth
                                                         : s.layer->value;
        const QSignalBlocker block(slider_);
        slider_->setRange(int(info.low * kScale), int(info.high * kScale));
        slider_->setValue(int(std::lround(std::clamp(value, info.low, info.high) * kScale)));
        slider_->setToolTip(info.label);
        slider_->setAccessibleName(info.label);
    }

    const bool showText = selected && textBearing(*s.kind);
    text_->setVisible(showText);
    if (showText) {
        const QString text = QString::fromStdString(s.layer->text);
        if (text_->text() != text) text_->setText(text);
    }

    const Picker shown = picker(s);
    if (shown != shownPicker_) {
        for (QAbstractButton* button : segments_->buttons()) {
            segments_->removeButton(button);
            delete button;
        }
        shownPicker_ = shown;
        QStringList titles;
        QStringList symbols;
        switch (shown) {
            case Picker::effect:
                for (const Variant& v : effectVariants()) titles << v.title;
                break;
            case Picker::arrow: titles = {"Straight", "Curved", "Hand-drawn"}; break;
            case Picker::text: titles = {"Plain", "Box"}; break;
            case Picker::shape: titles = {"Outline", "Filled", "Hand-drawn"}; break;
            case Picker::lens:
                titles = {"Square lens", "Rounded lens"};
                symbols = {"square", "app"};
                break;
            case Picker::none: break;
        }
        const QString title = shown == Picker::lens ? QStringLiteral("Lens shape") : QStringLiteral("Variant");
        picker_->setAccessibleName(title);
        picker_->setToolTip(shown == Picker::effect ? secretHelp : shown == Picker::lens ? title : QString());
        for (int i = 0; i < titles.size(); ++i) {
            auto* segment = new QToolButton(picker_);
            segment->setObjectName(QStringLiteral("contextVariant%1").arg(i));
            segment->setCheckable(true);
            segment->setFocusPolicy(Qt::NoFocus);
            segment->setAccessibleName(titles[i]);
            if (symbols.isEmpty()) {
                segment->setText(titles[i]);
            } else {
                segment->setIcon(Symbols::icon(symbols[i], palette().color(QPalette::WindowText)));
                segment->setToolTip(titles[i]);
            }
            segments_->addButton(segment, i);
            picker_->layout()->addWidget(segment);
            // Shown now, not when the layout gets round to it, so the bar is sized with it.
            segment->show();
            segment->ensurePolished();  // the style sheet's padding counts in the bar's size
        }
    }
    picker_->setVisible(shown != Picker::none);
    if (auto* checked = segments_->button(pickerIndex(s, session_))) checked->setChecked(true);

    const QString moreText = selected ? QStringLiteral("More options") : QStringLiteral("More style options");
    more_->setToolTip(moreText);
    more_->setAccessibleName(moreText);
    more_->setMenu(selected ? qobject_cast<QMenu*>(more_->property("menu").value<QObject*>()) : nullptr);

    const bool wasHidden = isHidden();
    show();
    place();
    if (wasHidden) raise();
}

void ScreenshotContextBar::report(const std::exception& error) {
    if (controller_ && controller_->session()) controller_->session()->setStatus(QString::fromUtf8(error.what()));
}

void ScreenshotContextBar::commit() {
    try {
        session_.commitGesture();
    } catch (const std::exception& error) {
        session_.setStatus(QString::fromUtf8(error.what()));
    }
}

void ScreenshotContextBar::updateLayer(const std::function<void(ScreenshotLayer&)>& change) {
    const Subject s = subject(session_);
    if (!s.layer) return;
    const ScreenshotLayerList& layers = session_.document().layers;
    const auto found = std::find_if(layers.begin(), layers.end(),
                                    [&](const ScreenshotLayer& l) { return l.id == s.layer->id; });
    if (found == layers.end()) return;
    const auto index = std::size_t(found - layers.begin());
    session_.beginGesture();
    ScreenshotDocument document = session_.document();
    change(document.layers[index]);
    session_.setDocument(std::move(document));
    session_.scheduleRender();
}

void ScreenshotContextBar::backToSelect() {
    if (subject(session_).layer) session_.setSelectedID(std::nullopt);
    else session_.selectTool(QStringLiteral("select"));
}

void ScreenshotContextBar::pickColor(const QColor& color) {
    const QColor srgb = color.isValid() ? color.toRgb() : QColor(Qt::black);
    const ScreenshotColor::RGBA rgba = ScreenshotColor::RGBA::fromQColor(srgb);
    const bool fill = fillColored(subject(session_).kind);
    ScreenshotStyle style = session_.style();
    (fill ? style.fill : style.stroke) = rgba;
    session_.setStyle(style);
    updateLayer([&](ScreenshotLayer& layer) { (fill ? layer.style.fill : layer.style.stroke) = rgba; });
}

void ScreenshotContextBar::slide(double value, bool released) {
    const Slider kind = slider(subject(session_));
    if (kind == Slider::none) return;
    if (kind == Slider::strength) {
        updateLayer([&](ScreenshotLayer& layer) { layer.value = value; });
    } else {
        ScreenshotStyle style = session_.style();
        (kind == Slider::fontSize ? style.fontSize : style.strokeWidth) = value;
        session_.setStyle(style);
        updateLayer([&](ScreenshotLayer& layer) {
            (kind == Slider::fontSize ? layer.style.fontSize : layer.style.strokeWidth) = value;
        });
    }
    if (released) commit();
}

void ScreenshotContextBar::editText(const QString& text) {
    updateLayer([&](ScreenshotLayer& layer) { layer.text = text.toStdString(); });
}

void ScreenshotContextBar::submitText() {
    commit();
    // Return ends the typing: the keyboard goes back to the canvas, so tool letters work again.
    if (QWidget* canvas = parentWidget()) canvas->setFocus(Qt::OtherFocusReason);
}

void ScreenshotContextBar::choose(int index) {
    const Subject s = subject(session_);
    const bool selected = s.layer.has_value();
    try {
        switch (picker(s)) {
            case Picker::effect: chooseEffect(index, s); return;
            case Picker::arrow: {
                ScreenshotStyle style = session_.style();
                style.handDrawn = index == 2;
                session_.setStyle(style);
                if (selected) session_.setArrowVariant(index);
                else session_.setTool(index == 1 ? QStringLiteral("curvedArrow") : QStringLiteral("arrow"));
                return;
            }
            case Picker::text:
            case Picker::lens: {
                const bool filled = picker(s) == Picker::text ? index == 1 : index == 0;
                ScreenshotStyle style = session_.style();
                style.filled = filled;
                session_.setStyle(style);
                if (selected) session_.updateSelectedStyle([&](ScreenshotStyle& st) { st.filled = filled; });
                return;
            }
            case Picker::shape: {
                ScreenshotStyle style = session_.style();
                style.filled = index == 1;
                style.handDrawn = index == 2;
                session_.setStyle(style);
                if (selected)
                    session_.updateSelectedStyle([&](ScreenshotStyle& st) {
                        st.filled = index == 1;
                        st.handDrawn = index == 2;
                    });
                return;
            }
            case Picker::none: return;
        }
    } catch (const std::exception& error) {
        report(error);
    }
}

void ScreenshotContextBar::chooseEffect(int index, const Subject& s) {
    const auto& variants = effectVariants();
    if (index < 0 || index >= int(variants.size())) return;
    const QString id = variants[std::size_t(index)].id;
    session_.setEffectMode(id);
    if (!s.layer) return;
    if (!id.endsWith(QLatin1String("Text"))) {
        try {
            session_.applyEffectMode(id);
        } catch (const std::exception& error) {
            report(error);
        }
        return;
    }
    const ScreenshotDocument& document = session_.document();
    const QRectF visible = document.crop ? *document.crop : QRectF(QPointF(), document.canvas);
    const QRectF frame = s.layer->frame.normalized();
    const QRectF whole(QPointF(std::floor(frame.left()), std::floor(frame.top())),
                       QPointF(std::ceil(frame.right()), std::ceil(frame.bottom())));
    const QRectF r = whole.intersected(visible);
    if (r.width() < 1 || r.height() < 1) {
        session_.setStatus(outsideStatus);
        return;
    }
    const Uuid id0 = s.layer->id;
    try {
        session_.edit([&](ScreenshotDocument& d) {
            for (std::size_t i = d.layers.size(); i-- > 0;)
                if (std::as_const(d.layers)[i].id == id0) d.layers.erase(d.layers.cbegin() + std::ptrdiff_t(i));
        });
    } catch (const std::exception& error) {
        report(error);
    }
    session_.setSelectedID(std::nullopt);
    session_.setSelectionRect(r);
    if (controller_) controller_->runTextMasks(id == QLatin1String("blurText") ? Kind::blur : Kind::erase, false);
}

}  // namespace brevalto
