#include "Workflow/ScreenshotSettingsView.h"

#include "Platform/Defaults.h"
#include "Workflow/CaptureSettings.h"
#include "Workflow/WorkflowDialogs.h"
#include "Platform/Counts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cmath>

namespace brevalto {

namespace {

const QString kFolderPrompt = QStringLiteral("Choose auto-save folder");

QString stringSetting(const Defaults& defaults, std::string_view k, std::string_view fallback) {
    return QString::fromStdString(defaults.string(k).value_or(std::string(fallback)));
}

}  // namespace

QString ScreenshotSettingsView::delayLabel(int seconds) {
    return QStringLiteral("Capture delay: ") + counted(seconds, QStringLiteral("second"), QStringLiteral("seconds"));
}

QString ScreenshotSettingsView::timeoutLabel(double seconds) {
    return QStringLiteral("Thumbnail timeout: %1s (0 stays open)").arg(static_cast<long long>(std::trunc(seconds)));
}

ScreenshotSettingsView::ScreenshotSettingsView(Defaults& defaults, WorkflowDialogs& dialogs, QWidget* parent)
    : QWidget(parent), defaults_(defaults), dialogs_(dialogs) {
    setObjectName(QStringLiteral("settings-screenshots"));
    auto* outer = new QVBoxLayout(this);
    auto* section = new QGroupBox(QStringLiteral("Screenshots"), this);
    auto* layout = new QVBoxLayout(section);
    outer->addWidget(section);
    outer->addStretch();

    auto toggle = [&](const char* name, const QString& label, std::string_view k, bool fallback) {
        auto* box = new QCheckBox(label, section);
        box->setObjectName(QString::fromLatin1(name));
        box->setChecked(defaults_.contains(k) ? defaults_.boolValue(k) : fallback);
        connect(box, &QCheckBox::toggled, this, [this, k](bool on) { defaults_.set(k, on); });
        layout->addWidget(box);
    };
    auto picker = [&](const char* name, const QString& label, std::string_view k, std::string_view fallback,
                      std::initializer_list<std::pair<const char*, const char*>> items) {
        auto* combo = new QComboBox(section);
        combo->setObjectName(QString::fromLatin1(name));
        for (const auto& [title, tag] : items) combo->addItem(QString::fromUtf8(title), QString::fromUtf8(tag));
        // A stored value outside the tags leaves the picker without a selection.
        combo->setCurrentIndex(combo->findData(stringSetting(defaults_, k, fallback)));
        connect(combo, &QComboBox::activated, this, [this, combo, k](int index) {
            defaults_.set(k, combo->itemData(index).toString().toStdString());
        });
        auto* form = new QFormLayout;
        form->addRow(label, combo);
        layout->addLayout(form);
    };
    auto stepper = [&](QLabel*& text, QWidget* box) {
        text = new QLabel(section);
        // Assistive technology names the box by its label, not by the group's title.
        text->setBuddy(box);
        auto* row = new QHBoxLayout;
        row->addWidget(text, 1);
        row->addWidget(box);
        layout->addLayout(row);
    };

    toggle("captureCursor", QStringLiteral("Include cursor"), CaptureSettings::cursorKey, CaptureSettings::shownCursor);
    toggle("captureShadow", QStringLiteral("Window shadow"), CaptureSettings::shadowKey, CaptureSettings::shownShadow);
    picker("captureBackground", QStringLiteral("Window background"), CaptureSettings::backgroundKey,
           CaptureSettings::shownBackground,
           {{"Transparent", "transparent"}, {"White", "solid"}, {"Static wallpaper", "wallpaper"}});

    delay_ = new QSpinBox(section);
    delay_->setObjectName(QStringLiteral("captureDelay"));
    delay_->setRange(CaptureSettings::minimumDelay, CaptureSettings::maximumDelay);
    delay_->setValue(static_cast<int>(defaults_.contains(CaptureSettings::delayKey)
                                          ? defaults_.integer(CaptureSettings::delayKey)
                                          : CaptureSettings::shownDelay));
    stepper(delayLabel_, delay_);
    delayLabel_->setText(delayLabel(delay_->value()));
    connect(delay_, &QSpinBox::valueChanged, this, [this](int seconds) {
        defaults_.set(CaptureSettings::delayKey, seconds);
        delayLabel_->setText(delayLabel(seconds));
    });

    picker("captureAfter", QStringLiteral("After capture"), CaptureSettings::afterKey, CaptureSettings::shownAfter,
           {{"Thumbnail", "thumbnail"}, {"Editor", "editor"}});

    timeout_ = new QDoubleSpinBox(section);
    timeout_->setObjectName(QStringLiteral("thumbnailTimeout"));
    timeout_->setDecimals(1);
    timeout_->setRange(0, 120);
    timeout_->setSingleStep(5);
    timeout_->setValue(defaults_.contains(CaptureSettings::thumbnailTimeoutKey)
                           ? defaults_.doubleValue(CaptureSettings::thumbnailTimeoutKey)
                           : CaptureSettings::shownThumbnailTimeout);
    stepper(timeoutLabel_, timeout_);
    timeoutLabel_->setText(timeoutLabel(timeout_->value()));
    connect(timeout_, &QDoubleSpinBox::valueChanged, this, [this](double seconds) {
        defaults_.set(CaptureSettings::thumbnailTimeoutKey, seconds);
        timeoutLabel_->setText(timeoutLabel(seconds));
    });

    toggle("captureAutoCopy", QStringLiteral("Auto-copy captured image"), CaptureSettings::autoCopyKey,
           CaptureSettings::shownAutoCopy);
    toggle("captureAutoSave", QStringLiteral("Auto-save captured image"), CaptureSettings::autoSaveKey,
           CaptureSettings::shownAutoSave);

    folder_ = new QPushButton(section);
    folder_->setObjectName(QStringLiteral("captureFolder"));
    connect(folder_, &QPushButton::clicked, this, &ScreenshotSettingsView::chooseFolder);
    layout->addWidget(folder_);
    showFolder();

    // Screen capture needs no permission on X11, so none is asked for here.
    auto* note = new QLabel(QStringLiteral("Cross-display regions use the highest display scale. Static wallpaper "
                                           "uses a fill crop; dynamic wallpaper may differ."),
                            section);
    note->setObjectName(QStringLiteral("captureNote"));
    note->setWordWrap(true);
    QFont font = note->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    note->setFont(font);
    note->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(note);
}

void ScreenshotSettingsView::chooseFolder() {
    const auto chosen = dialogs_.chooseFolder();
    if (!chosen) return;
    defaults_.set(CaptureSettings::folderKey, chosen->string());
    showFolder();
}

void ScreenshotSettingsView::showFolder() {
    const QString folder = stringSetting(defaults_, CaptureSettings::folderKey, CaptureSettings::shownFolder);
    folder_->setText(folder.isEmpty() ? kFolderPrompt : folder);
}

}  // namespace brevalto
