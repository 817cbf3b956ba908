#include "Capture/ScrollingCaptureView.h"

#include "Platform/Counts.h"

#include <QComboBox>
#include <QFormLayout>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace brevalto {

namespace {

QLabel* caption(const QString& text, bool secondary) {
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    label->setFont(font);
    if (secondary) label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

QComboBox* picker(QFormLayout* form, const QString& label, const QStringList& items) {
    auto* box = new QComboBox;
    box->addItems(items);
    form->addRow(label, box);
    return box;
}

}  // namespace

QString ScrollingCaptureView::formatInteger(int value) { return QLocale().toString(value); }

std::optional<int> ScrollingCaptureView::parseInteger(const QString& text) {
    bool ok = false;
    const int value = QLocale().toInt(text.trimmed(), &ok);
    if (!ok) return std::nullopt;
    return value;
}

ScrollingCaptureView::ScrollingCaptureView(ScrollingCapture& capture, QWidget* parent)
    : QWidget(parent), capture_(capture) {
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(12);
    layout->setContentsMargins(20, 20, 20, 20);

    progress_ = new QLabel;
    progress_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    status_ = new QLabel;
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(progress_);
    layout->addWidget(status_);

    auto* buttons = new QHBoxLayout;
    select_ = new QPushButton(tr("Select Viewport"));
    pause_ = new QPushButton;
    stop_ = new QPushButton(tr("Stop and Save (Esc)"));
    auto* cancel = new QPushButton(tr("Cancel"));
    for (auto* b : {select_, pause_, stop_, cancel}) buttons->addWidget(b);
    buttons->addStretch();
    layout->addLayout(buttons);
    connect(select_, &QPushButton::clicked, &capture, &ScrollingCapture::start);
    connect(pause_, &QPushButton::clicked, &capture, &ScrollingCapture::togglePause);
    connect(stop_, &QPushButton::clicked, &capture, &ScrollingCapture::stopAndSave);
    connect(cancel, &QPushButton::clicked, &capture, &ScrollingCapture::cancel);

    layout->addWidget(caption(tr("Scrolls automatically. At the end or on Esc, saves the captured image."), true));

    optionsToggle_ = new QToolButton;
    optionsToggle_->setText(tr("Options"));
    optionsToggle_->setCheckable(true);
    optionsToggle_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    optionsToggle_->setArrowType(Qt::RightArrow);
    optionsToggle_->setAutoRaise(true);
    layout->addWidget(optionsToggle_);
    options_ = new QWidget;
    options_->setVisible(false);
    layout->addWidget(options_);
    connect(optionsToggle_, &QToolButton::toggled, this, [this](bool open) {
        optionsToggle_->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
        options_->setVisible(open);
        // The window grows with the options and shrinks back when they close.
        fitWindow();
    });

    auto* optionsLayout = new QVBoxLayout(options_);
    optionsLayout->setContentsMargins(0, 0, 0, 0);
    optionsLayout->setSpacing(12);
    auto* pickers = new QFormLayout;
    optionsLayout->addLayout(pickers);
    mode_ = picker(pickers, tr("Mode"), {tr("Manual"), tr("Auto")});
    direction_ = picker(pickers, tr("Direction"), {tr("Down"), tr("Up")});
    speed_ = picker(pickers, tr("Speed"), {tr("Slow"), tr("Normal"), tr("Fast")});
    const auto update = [this](auto change) {
        auto settings = capture_.settings();
        change(settings);
        capture_.setSettings(settings);
    };
    connect(mode_, &QComboBox::currentIndexChanged, this, [=](int i) { update([i](auto& s) { s.automatic = i == 1; }); });
    connect(direction_, &QComboBox::currentIndexChanged, this, [=](int i) { update([i](auto& s) { s.upward = i == 1; }); });
    connect(speed_, &QComboBox::currentIndexChanged, this, [=](int i) { update([i](auto& s) { s.speed = i; }); });

    auto* overlapRow = new QHBoxLayout;
    overlap_ = new QSlider(Qt::Horizontal);
    overlap_->setRange(200, 850);  // thousandths
    overlapValue_ = new QLabel;
    overlapRow->addWidget(new QLabel(tr("Overlap")));
    overlapRow->addWidget(overlap_, 1);
    overlapRow->addWidget(overlapValue_);
    optionsLayout->addLayout(overlapRow);
    connect(overlap_, &QSlider::valueChanged, this, [=](int v) { update([v](auto& s) { s.overlap = v / 1000.0; }); });

    setup_ = new QWidget;
    auto* setupLayout = new QVBoxLayout(setup_);
    setupLayout->setContentsMargins(0, 0, 0, 0);
    setupLayout->addWidget(integerRow(tr("Fixed top (px)"), tr("Fixed top"), &ScrollingCapture::Settings::trimTop));
    setupLayout->addWidget(integerRow(tr("Fixed bottom (px)"), tr("Fixed bottom"), &ScrollingCapture::Settings::trimBottom));
    setupLayout->addWidget(integerRow(tr("Memory budget (MiB)"), tr("Memory budget"), &ScrollingCapture::Settings::memoryMB));
    setupLayout->addWidget(integerRow(tr("Disk budget (MiB)"), tr("Disk budget"), &ScrollingCapture::Settings::diskMB));
    setupLayout->addWidget(integerRow(tr("Height limit (px)"), tr("Height limit"), &ScrollingCapture::Settings::maximumHeight));
    optionsLayout->addWidget(setup_);

    manual_ = new QWidget;
    auto* manualLayout = new QVBoxLayout(manual_);
    manualLayout->setContentsMargins(0, 0, 0, 0);
    manualLayout->addWidget(integerRow(tr("Displacement (px, 0 = automatic)"), tr("Manual displacement"),
                                       &ScrollingCapture::Settings::manualOffset));
    manualLayout->addWidget(caption(tr("Manual alignment needs seam inspection. Scroll back to recover lost overlap."), false));
    optionsLayout->addWidget(manual_);

    export_ = new QPushButton(tr("Export"));
    connect(export_, &QPushButton::clicked, &capture, &ScrollingCapture::exportAccepted);
    auto* exportRow = new QHBoxLayout;
    exportRow->addWidget(export_);
    exportRow->addStretch();
    optionsLayout->addLayout(exportRow);
    optionsLayout->addWidget(caption(tr("Only vertical, visible content. Sticky headers may need trimming. Virtualized "
                                        "content must load on screen. Low-confidence matches pause instead of silently "
                                        "adding pixels."),
                                     true));
    layout->addStretch();

    connect(&capture, &ScrollingCapture::changed, this, &ScrollingCaptureView::refresh);
    refresh();
}

QWidget* ScrollingCaptureView::integerRow(const QString& label, const QString& title, IntField field) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* edit = new QLineEdit;
    edit->setFixedWidth(100);
    edit->setPlaceholderText(title);
    edit->setAccessibleName(title);
    layout->addWidget(new QLabel(label), 1);
    layout->addWidget(edit);
    connect(edit, &QLineEdit::textEdited, this, [this, field](const QString& text) {
        if (const auto value = parseInteger(text)) {
            auto settings = capture_.settings();
            settings.*field = *value;
            capture_.setSettings(settings);
        }
    });
    connect(edit, &QLineEdit::editingFinished, this, &ScrollingCaptureView::refresh);
    fields_.emplace_back(edit, field);
    return row;
}

void ScrollingCaptureView::refresh() {
    const auto& c = capture_;
    const auto& s = c.settings();
    progress_->setText(counted(c.frames(), QStringLiteral("frame"), QStringLiteral("frames")) +
                       QStringLiteral(" | %1 px high").arg(c.height()));
    status_->setText(c.status());
    const bool idle = !c.running() && c.frames() == 0;
    select_->setVisible(idle);
    pause_->setVisible(!idle);
    stop_->setVisible(!idle);
    pause_->setText(c.paused() ? tr("Resume") : tr("Pause"));
    pause_->setEnabled(!c.finishing());
    stop_->setEnabled(!c.finishing());
    {
        const QSignalBlocker a(mode_), b(direction_), d(speed_), e(overlap_);
        mode_->setCurrentIndex(s.automatic ? 1 : 0);
        direction_->setCurrentIndex(s.upward ? 1 : 0);
        speed_->setCurrentIndex(s.speed);
        if (overlap_->value() != int(std::lround(s.overlap * 1000))) overlap_->setValue(int(std::lround(s.overlap * 1000)));
    }
    overlapValue_->setText(QStringLiteral("%1%").arg(int(s.overlap * 100)));
    for (auto& [edit, field] : fields_) {
        // A field being typed in keeps the user's text.
        if (!edit->hasFocus()) edit->setText(formatInteger(s.*field));
    }
    const bool rowsChanged = setup_->isVisibleTo(this) != !c.running() || manual_->isVisibleTo(this) != c.paused() ||
                      export_->isVisibleTo(this) != (c.frames() >= 1);
    setup_->setVisible(!c.running());
    manual_->setVisible(c.paused());
    export_->setVisible(c.frames() >= 1);
    // Open options that gain or lose rows resize the window with them.
    if (rowsChanged && options_->isVisibleTo(this) && window()->isVisible()) fitWindow();
}

void ScrollingCaptureView::fitWindow() {
    // Rows shown or hidden inside the options only reach the window's size hint once the nested
    // layouts have taken them in, which they otherwise do on a later turn of the event loop.
    for (QWidget* w = options_; w; w = w->parentWidget()) {
        if (w->layout()) w->layout()->activate();
        if (w->isWindow()) break;
    }
    window()->adjustSize();
}

QWidget* ScrollingCaptureView::makePanel(ScrollingCapture& capture) {
    auto* panel = new QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint);
    panel->setWindowTitle(tr("Scrolling Capture"));
    panel->setAttribute(Qt::WA_ShowWithoutActivating);
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new ScrollingCaptureView(capture, panel));
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), panel);
    QObject::connect(escape, &QShortcut::activated, &capture, [&capture] {
        if (capture.running()) capture.stopAndSave();
    });
    capture.setPanel(panel);
    return panel;
}

}  // namespace brevalto
