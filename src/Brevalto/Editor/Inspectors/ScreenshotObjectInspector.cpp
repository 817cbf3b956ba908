#include "Editor/Inspectors/ScreenshotObjectInspector.h"

#include "Document/ScreenshotDocumentSession.h"
#include "Editor/Canvas/ScreenshotCanvasView.h"
#include "Editor/Inspectors/DecimalField.h"

#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace brevalto {

namespace {

constexpr double kDuplicateOffset = 12;
const QString kEditingTextStatus =
    QStringLiteral("Editing text. It becomes one Undo step when you leave the field or export.");

bool textKind(ScreenshotLayerKind kind) {
    return kind == ScreenshotLayerKind::text || kind == ScreenshotLayerKind::callout ||
           kind == ScreenshotLayerKind::counter || kind == ScreenshotLayerKind::translatedText;
}

QString valueTitle(ScreenshotLayerKind kind) {
    switch (kind) {
    case ScreenshotLayerKind::magnifier: return QStringLiteral("Magnification");
    case ScreenshotLayerKind::blur:
    case ScreenshotLayerKind::pixelate: return QStringLiteral("Effect px");
    default: return {};
    }
}

QString qString(const std::string& text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

QPushButton* button(const QString& text, const QString& name, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setAutoDefault(false);
    return b;
}

}  // namespace

ScreenshotObjectInspector::ScreenshotObjectInspector(ScreenshotDocumentSession& session, ScreenshotLayer layer,
                                                     QWidget* parent)
    : QWidget(parent),
      session_(session),
      layer_(std::move(layer)),
      text_(qString(layer_.text)),
      x_(layer_.frame.x()),
      y_(layer_.frame.y()),
      width_(layer_.frame.width()),
      height_(layer_.frame.height()),
      rotation_(layer_.rotation),
      value_(layer_.value) {
    setObjectName(QStringLiteral("objectInspector"));
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(8);
    const std::string_view kind = title(layer_.kind);
    auto* heading = new QLabel(QStringLiteral("Selected: ") + QString::fromUtf8(kind.data(), qsizetype(kind.size())), this);
    QFont headline = heading->font();
    headline.setBold(true);
    heading->setFont(headline);
    stack->addWidget(heading);

    if (textKind(layer_.kind)) {
        editor_ = new QPlainTextEdit(text_, this);
        editor_->setObjectName(QStringLiteral("layerText"));
        editor_->setFixedHeight(80);
        // Not growing, so the page keeps its rows together at the top.
        editor_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        editor_->installEventFilter(this);
        connect(editor_, &QPlainTextEdit::textChanged, this, [this] {
            if (!loading_) updateText(editor_->toPlainText());
        });
        stack->addWidget(editor_);
    }

    double* states[6] = {&x_, &y_, &width_, &height_, &rotation_, &value_};
    const QString names[6] = {QStringLiteral("X"),      QStringLiteral("Y"),
                              QStringLiteral("Width"),  QStringLiteral("Height"),
                              QStringLiteral("Rotation degrees"), valueTitle(layer_.kind)};
    for (int i = 0; i < 6; ++i) {
        if (i == 5 && names[i].isEmpty()) break;
        fields_[i] = new DecimalField(names[i], *states[i], this);
        fields_[i]->setAccessibleName(names[i]);
        connect(fields_[i], &DecimalField::valueEdited, this, [this, state = states[i]](double value) {
            *state = value;
            applyGeometry();
        });
    }
    auto pair = [&](int first, int second) {
        auto* row = new QHBoxLayout;
        for (int i : {first, second}) {
            row->addWidget(new QLabel(names[i], this));
            row->addWidget(fields_[i], 1);
        }
        stack->addLayout(row);
    };
    pair(0, 1);
    pair(2, 3);
    for (int i : {4, 5}) {
        if (!fields_[i]) continue;
        auto* row = new QHBoxLayout;
        row->addWidget(new QLabel(names[i], this));
        row->addWidget(fields_[i], 1);
        stack->addLayout(row);
    }

    auto buttons = [&](std::initializer_list<std::tuple<const char*, const char*, std::function<void()>>> list) {
        auto* row = new QHBoxLayout;
        for (const auto& [label, name, run] : list) {
            auto* b = button(QString::fromUtf8(label), QString::fromUtf8(name), this);
            connect(b, &QPushButton::clicked, this, run);
            row->addWidget(b);
        }
        row->addStretch(1);
        stack->addLayout(row);
    };
    buttons({{"Duplicate", "duplicateLayer", [this] { duplicate(); }},
             {"Delete", "deleteLayer", [this] { remove(); }}});
    buttons({{"Forward", "forwardLayer", [this] { move(+1); }},
             {"Backward", "backwardLayer", [this] { move(-1); }}});

    if (layer_.originalText) {
        auto* original = new QLabel(QStringLiteral("Original: ") + qString(*layer_.originalText), this);
        original->setObjectName(QStringLiteral("originalText"));
        original->setWordWrap(true);
        original->setTextFormat(Qt::PlainText);
        original->setTextInteractionFlags(Qt::TextSelectableByMouse);
        QFont caption = original->font();
        caption.setPixelSize(11);
        original->setFont(caption);
        stack->addWidget(original);
    }
}

bool ScreenshotObjectInspector::eventFilter(QObject* watched, QEvent* event) {
    if (watched == editor_ && event->type() == QEvent::FocusOut) commitText();
    return QWidget::eventFilter(watched, event);
}

void ScreenshotObjectInspector::report(const std::exception& error) {
    session_.setStatus(QString::fromUtf8(error.what()));
}

std::optional<std::size_t> ScreenshotObjectInspector::index() const {
    const auto& layers = session_.document().layers;
    for (std::size_t i = 0; i < layers.size(); ++i)
        if (layers[i].id == layer_.id) return i;
    return std::nullopt;
}

void ScreenshotObjectInspector::updateText(const QString& text) {
    text_ = text;
    const std::optional<std::size_t> at = index();
    if (!at) return;
    session_.beginGesture();
    ScreenshotDocument document = session_.document();
    document.layers[*at].text = text.toStdString();
    session_.setDocument(std::move(document));
    session_.scheduleRender();
    session_.setStatus(kEditingTextStatus);
}

std::optional<long long> ScreenshotObjectInspector::counterNumber(const QString& text) {
    static const QRegularExpression digits(QStringLiteral("^[+-]?[0-9]+$"));
    if (!digits.match(text).hasMatch()) return std::nullopt;
    bool ok = false;
    const long long number = text.toLongLong(&ok);  // an overflow reads as not a number
    if (!ok) return std::nullopt;
    return number;
}

void ScreenshotObjectInspector::commitText() {
    // A refused text brings the old one back into the fields while the commit runs: the counter
    // goes on from what was typed, and not at all when the document refused it.
    const QString typed = text_;
    const bool counter = layer_.kind == ScreenshotLayerKind::counter;
    try {
        session_.commitGesture();
    } catch (const std::exception& error) {
        report(error);
        return;
    }
    if (!counter) return;
    if (const std::optional<long long> n = counterNumber(typed); n && *n >= 1 && *n <= 9999)
        session_.setNextCounter(int(std::min<long long>(*n, 9998) + 1));
}

void ScreenshotObjectInspector::applyGeometry() {
    for (double v : {x_, y_, width_, height_, rotation_, value_})
        if (!std::isfinite(v)) return;
    if (width_ < 1 || height_ < 1) return;
    const std::optional<std::size_t> at = index();
    if (!at) return;
    const ScreenshotLayer& current = session_.document().layers[*at];
    const QRectF frame(x_, y_, width_, height_);
    if (sameRect(current.frame, frame) && current.rotation == rotation_ && current.value == value_) return;
    session_.beginGesture();
    ScreenshotDocument document = session_.document();
    ScreenshotLayer& changed = document.layers[*at];
    changed.frame = frame;
    changed.rotation = rotation_;
    changed.value = value_;
    session_.setDocument(std::move(document));
    session_.scheduleRender();
}

void ScreenshotObjectInspector::setLayer(const ScreenshotLayer& layer) {
    if (layer == layer_) return;
    layer_ = layer;
    loadFields();
}

void ScreenshotObjectInspector::loadFields() {
    x_ = layer_.frame.x();
    y_ = layer_.frame.y();
    width_ = layer_.frame.width();
    height_ = layer_.frame.height();
    rotation_ = layer_.rotation;
    value_ = layer_.value;
    const double values[6] = {x_, y_, width_, height_, rotation_, value_};
    for (int i = 0; i < 6; ++i)
        if (fields_[i] && !fields_[i]->hasFocus()) fields_[i]->setValue(values[i]);
    const QString text = qString(layer_.text);
    if (text != text_) {
        text_ = text;
        if (editor_) {
            loading_ = true;
            editor_->setPlainText(text);
            loading_ = false;
        }
    }
}

void ScreenshotObjectInspector::commitPending() {
    try {
        session_.commitGesture();
    } catch (const std::exception& error) {
        report(error);
    }
}

void ScreenshotObjectInspector::duplicate() {
    ScreenshotLayer copy = layer_;
    copy.id = Uuid::random();
    copy.frame.translate(kDuplicateOffset, kDuplicateOffset);
    try {
        session_.addLayer(copy);
    } catch (const std::exception& error) {
        report(error);
    }
}

void ScreenshotObjectInspector::remove() {
    // A host may rebuild its page on the edit's change notification and delete this inspector:
    // nothing of it is touched from here on.
    const Uuid id = layer_.id;
    ScreenshotCanvasView::deleteLayer(session_, id);
}

void ScreenshotObjectInspector::move(int step) {
    const Uuid id = layer_.id;
    try {
        session_.edit([id, step](ScreenshotDocument& document) {
            auto& layers = document.layers;
            for (std::size_t i = 0; i < layers.size(); ++i)
                if (layers[i].id == id) {
                    const auto j = std::size_t(std::clamp<long long>(
                        static_cast<long long>(i) + step, 0, static_cast<long long>(layers.size()) - 1));
                    if (j != i) std::swap(layers[i], layers[j]);
                    return;
                }
        });
    } catch (const std::exception& error) {
        report(error);
    }
}

}  // namespace brevalto
