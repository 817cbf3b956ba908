#include "App/GeneralSettingsPage.h"

#include "App/LaunchAtLogin.h"
#include "Clipboard/ClipboardMonitor.h"
#include "Platform/Defaults.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace brevalto {

namespace {

constexpr const char* kHoverOpen = "hoverOpen";
constexpr const char* kShowInDock = "showInDock";
constexpr const char* kHistoryRetention = "historyRetention";

QLabel* caption(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    label->setFont(font);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

// A user-default Bool with its default while the key is absent.
bool boolSetting(const Defaults& defaults, const char* key, bool fallback) {
    return defaults.contains(key) ? defaults.boolValue(key) : fallback;
}

}  // namespace

const std::array<GeneralSettingsPage::RetentionChoice, 5>& GeneralSettingsPage::retentionChoices() {
    static const std::array<RetentionChoice, 5> choices = {{
        {"Never", 0},
        {"1 hour", 3600},
        {"1 day", 86400},
        {"7 days", 604800},
        {"30 days", 2592000},
    }};
    return choices;
}

GeneralSettingsPage::GeneralSettingsPage(Defaults& defaults, LaunchAtLogin& login,
                                         std::function<void(bool)> onShowInDock, QWidget* parent)
    : QWidget(parent), defaults_(defaults), login_(login), onShowInDock_(std::move(onShowInDock)) {
    setObjectName(QStringLiteral("settings-general"));
    auto* layout = new QVBoxLayout(this);

    // Appearance
    auto* appearance = new QGroupBox(QStringLiteral("Appearance"), this);
    auto* appearanceLayout = new QVBoxLayout(appearance);
    hover_ = new QCheckBox(QStringLiteral("Open when hovering over the panel"), appearance);
    hover_->setObjectName(QStringLiteral("hoverOpen"));
    hover_->setChecked(boolSetting(defaults_, kHoverOpen, true));
    connect(hover_, &QCheckBox::toggled, this, [this](bool on) { defaults_.set(kHoverOpen, on); });
    showInDock_ = new QCheckBox(QStringLiteral("Show in taskbar"), appearance);
    showInDock_->setObjectName(QStringLiteral("showInDock"));
    showInDock_->setChecked(boolSetting(defaults_, kShowInDock, false));
    connect(showInDock_, &QCheckBox::toggled, this, [this](bool on) {
        defaults_.set(kShowInDock, on);
        if (onShowInDock_) onShowInDock_(on);
    });
    appearanceLayout->addWidget(hover_);
    appearanceLayout->addWidget(showInDock_);
    layout->addWidget(appearance);

    // Clipboard
    auto* clipboard = new QGroupBox(QStringLiteral("Clipboard"), this);
    auto* clipboardLayout = new QVBoxLayout(clipboard);
    auto* ignoredForm = new QFormLayout;
    ignored_ = new QLineEdit(clipboard);
    ignored_->setObjectName(QStringLiteral("ignoredApps"));
    ignored_->setToolTip(
        QStringLiteral("Comma-separated app identifiers (window classes). Clipboard content from these apps is ignored."));
    ignored_->setText(QString::fromStdString(defaults_.string(ClipboardMonitor::ignoredAppsKey).value_or(ClipboardMonitor::defaultIgnoredApps)));
    connect(ignored_, &QLineEdit::textEdited, this,
            [this](const QString& text) { defaults_.set(ClipboardMonitor::ignoredAppsKey, text.toStdString()); });
    ignoredForm->addRow(QStringLiteral("Ignored apps"), ignored_);
    clipboardLayout->addLayout(ignoredForm);
    clipboardLayout->addWidget(caption(
        QStringLiteral("Text dropped on an app that refuses it, or on a Flutter app, is pasted into that app. "
                       "Cancelling a drag with Esc never pastes."),
        clipboard));
    // X11 lets the app send the paste keystroke without a permission, so none is asked for here.

    auto* retentionForm = new QFormLayout;
    retention_ = new QComboBox(clipboard);
    retention_->setObjectName(QStringLiteral("historyRetention"));
    retention_->setToolTip(QStringLiteral("Also deletes the item's edited copy. Pinned items are kept."));
    const double stored = defaults_.doubleValue(kHistoryRetention);
    for (const auto& choice : retentionChoices()) retention_->addItem(QString::fromUtf8(choice.label), choice.seconds);
    // A stored period that is none of the choices shows no choice rather than "Never", which
    // would hide that items are being deleted.
    retention_->setCurrentIndex(retention_->findData(stored));
    connect(retention_, &QComboBox::activated, this, [this](int index) {
        defaults_.set(kHistoryRetention, retention_->itemData(index).toDouble());
    });
    retentionForm->addRow(QStringLiteral("Delete unpinned items after"), retention_);
    clipboardLayout->addLayout(retentionForm);
    clipboardLayout->addWidget(
        caption(QStringLiteral("200 items \u00B7 256 MB total \u00B7 32 MB/item \u00B7 image limit 40 MP\n"
                               "Local storage only. History is not encrypted by this app. Pins count toward the "
                               "quota."),
                clipboard));
    layout->addWidget(clipboard);

    // Startup
    auto* startup = new QGroupBox(QStringLiteral("Startup"), this);
    auto* startupLayout = new QVBoxLayout(startup);
    launchAtLogin_ = new QCheckBox(QStringLiteral("Launch at login"), startup);
    launchAtLogin_->setObjectName(QStringLiteral("launchAtLogin"));
    launchAtLogin_->setChecked(login_.isEnabled());
    connect(launchAtLogin_, &QCheckBox::toggled, this, &GeneralSettingsPage::setLogin);
    message_ = caption(QString(), startup);
    message_->setObjectName(QStringLiteral("startupMessage"));
    message_->setForegroundRole(QPalette::WindowText);
    message_->hide();
    startupLayout->addWidget(launchAtLogin_);
    startupLayout->addWidget(message_);
    layout->addWidget(startup);
    layout->addStretch(1);
}

QString GeneralSettingsPage::message() const { return message_->text(); }

void GeneralSettingsPage::setLogin(bool on) {
    try {
        login_.setEnabled(on);
        setMessage(QStringLiteral("Updated login preference."));
    } catch (const std::exception& e) {
        setMessage(QString::fromUtf8(e.what()));
    }
}

void GeneralSettingsPage::setMessage(const QString& text) {
    message_->setText(text);
    message_->setVisible(!text.isEmpty());
}

}  // namespace brevalto
