#include "Editor/View/BackdropPopover.h"

#include "Document/ScreenshotDocumentSession.h"

#include <QColorDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

namespace brevalto {

namespace {

struct SliderRow {
    const char* label;
    const char* name;
    int maximum;
    double ScreenshotBackdrop::*field;
};

const SliderRow kRows[] = {
    {"Backdrop", "backdropPadding", 300, &ScreenshotBackdrop::padding},
    {"Shadow", "backdropShadow", 100, &ScreenshotBackdrop::shadow},
    {"Radius", "backdropRadius", 100, &ScreenshotBackdrop::radius},
    {"Angle", "backdropAngle", 360, &ScreenshotBackdrop::angle},
};

ScreenshotColor::RGBA rgba(const double (&c)[4]) { return {c[0], c[1], c[2], c[3]}; }

// A preset's button: a 34 x 26 rounded swatch of its gradient, top-leading to bottom-trailing.
class PresetSwatch : public QToolButton {
public:
    PresetSwatch(const BackdropPopover::Preset& preset, QWidget* parent) : QToolButton(parent), preset_(preset) {
        setFixedSize(34, 26);
        setFocusPolicy(Qt::NoFocus);
        setAutoRaise(true);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QLinearGradient gradient(QPointF(0, 0), QPointF(width(), height()));
        gradient.setColorAt(0, rgba(preset_.first).qColor());
        gradient.setColorAt(1, rgba(preset_.second).qColor());
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
        painter.fillPath(path, gradient);
        if (underMouse()) painter.strokePath(path, QPen(QColor(255, 255, 255, 160), 1));
    }

private:
    BackdropPopover::Preset preset_;
};

}  // namespace

const std::array<BackdropPopover::Preset, 6>& BackdropPopover::gradientPresets() {
    static const std::array<Preset, 6> presets{{
        {{0.12, 0.42, 1.0, 1.0}, {0.5, 0.83, 1.0, 1.0}},
        {{0.04, 0.12, 0.23, 1.0}, {0.23, 0.48, 0.84, 1.0}},
        {{0.1, 0.1, 0.18, 1.0}, {0.91, 0.27, 0.38, 1.0}},
        {{1.0, 0.0, 0.8, 1.0}, {1.0, 0.7, 0.28, 1.0}},
        {{0.08, 0.22, 0.18, 1.0}, {0.65, 0.8, 0.55, 1.0}},
        {{0.79, 0.84, 1.0, 1.0}, {0.89, 0.89, 0.89, 1.0}},
    }};
    return presets;
}

BackdropPopover::BackdropPopover(ScreenshotDocumentSession& session, QWidget* parent)
    : QFrame(parent, Qt::Popup), session_(session) {
    setObjectName(QStringLiteral("backdropPopover"));
    setAttribute(Qt::WA_NoMouseReplay);  // a click on the backdrop button only closes it
    setFrameShape(QFrame::StyledPanel);
    setFixedWidth(300);
    // Dark like the panel it opens from, whatever the desktop's theme.
    setStyleSheet(QStringLiteral(
        "QFrame#backdropPopover { background: rgb(36,36,38); border: 1px solid rgba(255,255,255,50); }"
        "QLabel { color: white; }"
        "QPushButton { color: white; background: rgba(255,255,255,30); border: 1px solid rgba(255,255,255,50);"
        " border-radius: 5px; padding: 3px 12px; }"
        "QPushButton:hover { background: rgba(255,255,255,50); }"
        "QPushButton:disabled { color: rgba(255,255,255,90); }"
        "QPushButton:default { border-color: rgba(120,170,255,200); }"));
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(14, 14, 14, 14);
    stack->setSpacing(10);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(14);
    grid->setVerticalSpacing(8);
    for (int i = 0; i < 4; ++i) {
        const SliderRow& row = kRows[i];
        grid->addWidget(new QLabel(QString::fromUtf8(row.label), this), i, 0);
        auto* slider = new QSlider(Qt::Horizontal, this);
        slider->setObjectName(QString::fromUtf8(row.name));
        slider->setAccessibleName(QString::fromUtf8(row.label));
        slider->setRange(0, row.maximum);
        // Showing a value the slider holds only rounded or clamped never writes that back.
        connect(slider, &QSlider::valueChanged, this, [this, field = row.field](int value) {
            if (loading_) return;
            backdrop_.*field = value;
            edited();
        });
        grid->addWidget(slider, i, 1);
        sliders_[std::size_t(i)] = slider;
    }
    stack->addLayout(grid);

    auto* presets = new QHBoxLayout;
    presets->setSpacing(6);
    presets->addStretch(1);
    for (std::size_t i = 0; i < gradientPresets().size(); ++i) {
        const Preset& preset = gradientPresets()[i];
        auto* swatch = new PresetSwatch(preset, this);
        const QString name = QStringLiteral("Gradient %1").arg(i + 1);
        swatch->setObjectName(QStringLiteral("gradient%1").arg(i + 1));
        swatch->setAccessibleName(name);
        swatch->setToolTip(name);
        connect(swatch, &QToolButton::clicked, this, [this, preset] {
            backdrop_.first = rgba(preset.first);
            backdrop_.second = rgba(preset.second);
            showColors();
            edited();
        });
        presets->addWidget(swatch);
    }
    presets->addStretch(1);
    stack->addLayout(presets);

    auto* colors = new QHBoxLayout;
    colors->addStretch(1);
    for (const bool first : {true, false}) {
        auto* button = new QPushButton(first ? QStringLiteral("Start") : QStringLiteral("End"), this);
        button->setObjectName(first ? QStringLiteral("backdropStart") : QStringLiteral("backdropEnd"));
        connect(button, &QPushButton::clicked, this, [this, first] { chooseColor(first); });
        colors->addWidget(button);
        colors_[first ? 0 : 1] = button;
    }
    colors->addStretch(1);
    stack->addLayout(colors);

    auto* buttons = new QHBoxLayout;
    remove_ = new QPushButton(QStringLiteral("Remove"), this);
    remove_->setObjectName(QStringLiteral("removeBackdrop"));
    connect(remove_, &QPushButton::clicked, this, [this] { emit removeRequested(); });
    buttons->addWidget(remove_);
    buttons->addStretch(1);
    auto* done = new QPushButton(QStringLiteral("Done"), this);
    done->setObjectName(QStringLiteral("backdropDone"));
    done->setDefault(true);
    connect(done, &QPushButton::clicked, this, [this] { emit closed(); });
    buttons->addWidget(done);
    stack->addLayout(buttons);

    connect(&session_, &ScreenshotDocumentSession::changed, this, [this](ScreenshotDocumentSession::Property p) {
        if (p == ScreenshotDocumentSession::Property::document)
            remove_->setEnabled(session_.document().backdrop.enabled);
    });
}

void BackdropPopover::load() {
    loading_ = true;
    for (int i = 0; i < 4; ++i) sliders_[std::size_t(i)]->setValue(int(std::lround(backdrop_.*kRows[i].field)));
    remove_->setEnabled(session_.document().backdrop.enabled);
    showColors();
    loading_ = false;
}

void BackdropPopover::showColors() {
    // Each colour button leads with a swatch of its colour.
    const ScreenshotBackdrop& backdrop = backdrop_;
    for (int i = 0; i < 2; ++i) {
        QPixmap swatch(14, 14);
        swatch.fill((i == 0 ? backdrop.first : backdrop.second).qColor());
        colors_[std::size_t(i)]->setIcon(QIcon(swatch));
    }
}

void BackdropPopover::showUnder(QWidget* button, const ScreenshotBackdrop& backdrop) {
    backdrop_ = backdrop;
    load();
    adjustSize();
    QPoint below = button->mapToGlobal(QPoint(button->width() / 2 - width() / 2, button->height() + 4));
    below.setX(std::max(below.x(), button->window()->geometry().left()));
    move(below);
    show();
    raise();
    activateWindow();
}

void BackdropPopover::edited() {
    emit backdropEdited(backdrop_);
}

void BackdropPopover::chooseColor(bool first) {
    ScreenshotColor::RGBA& field = first ? backdrop_.first : backdrop_.second;
    const QColor chosen = QColorDialog::getColor(field.qColor(), parentWidget(), first ? QStringLiteral("Start") : QStringLiteral("End"),
                                                 QColorDialog::ShowAlphaChannel);
    if (!chosen.isValid()) return;
    field = ScreenshotColor::RGBA::fromQColor(chosen);
    showColors();
    edited();
}

void BackdropPopover::hideEvent(QHideEvent* event) {
    QFrame::hideEvent(event);
    emit closed();
}

void BackdropPopover::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Escape) {
        emit closed();
        return;
    }
    QFrame::keyPressEvent(event);
}

}  // namespace brevalto
