#include "AI/ClaudeSettingsView.h"

#include "AI/ClaudeCode.h"
#include "AI/ClaudeService.h"
#include "AI/ModelPicker.h"
#include "ClipCore/LanguagePolicy.h"
#include "ClipCore/UnicodeText.h"
#include "Platform/Defaults.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

namespace brevalto {

namespace {

const struct {
    const char* value;
    const char* label;
} kProviders[] = {
    {"anthropic", "Anthropic (API key)"},
    {"cloudflare", "Cloudflare AI Gateway"},
    {"claudeCode", "Claude Code CLI (claude -p)"},
};

QLabel* caption(const QString& text, QWidget* parent) {
    QLabel* label = secondaryLabel(text, 0.85, parent);
    label->setWordWrap(true);
    return label;
}

QString cliPlaceholder() {
    QStringList places;
    for (const std::string& place : ClaudeCode::usualLocations()) places << QString::fromStdString(place);
    return QStringLiteral("Auto: ") + places.join(QStringLiteral(", "));
}

}  // namespace

QString ClaudeSettingsView::englishLanguageName(const QString& code) {
    const QLocale locale(code);
    if (locale.language() == QLocale::C || locale.language() == QLocale::AnyLanguage) return code;
    QString name = QLocale::languageToString(locale.language());
    // A code that names its script ("zh-Hans") says which one.
    if (code.contains(u'-') && locale.script() != QLocale::AnyScript)
        name += QStringLiteral(" (") + QLocale::scriptToString(locale.script()) + QStringLiteral(")");
    return name;
}

ClaudeSettingsView::ClaudeSettingsView(Defaults& defaults, const ClaudeService& service, QWidget* parent,
                                       TaskExecutor& executor)
    : QWidget(parent), defaults_(defaults), service_(service), executor_(executor) {
    setObjectName(QStringLiteral("settings-ai"));
    auto* layout = new QVBoxLayout(this);

    // Claude API
    auto* api = new QGroupBox(QStringLiteral("Claude API"), this);
    auto* apiLayout = new QVBoxLayout(api);
    auto* providerForm = new QFormLayout;
    providerPicker_ = new QComboBox(api);
    providerPicker_->setObjectName(QStringLiteral("aiProvider"));
    providerPicker_->setAccessibleName(QStringLiteral("Provider"));
    for (const auto& choice : kProviders)
        providerPicker_->addItem(QString::fromUtf8(choice.label), QString::fromUtf8(choice.value));
    providerForm->addRow(QStringLiteral("Provider"), providerPicker_);
    apiLayout->addLayout(providerForm);

    // The command-line tool.
    cliControls_ = new QWidget(api);
    auto* cliLayout = new QVBoxLayout(cliControls_);
    cliLayout->setContentsMargins(0, 0, 0, 0);
    auto* cliForm = new QFormLayout;
    cliPath_ = new QLineEdit(cliControls_);
    cliPath_->setObjectName(QStringLiteral("claudeCodePath"));
    cliPath_->setAccessibleName(QStringLiteral("CLI path (optional)"));
    cliPath_->setPlaceholderText(cliPlaceholder());
    cliPath_->setText(QString::fromStdString(defaults_.string(cliPathKey).value_or("")));
    connect(cliPath_, &QLineEdit::textEdited, this,
            [this](const QString& text) { defaults_.set(cliPathKey, text.toStdString()); });
    cliForm->addRow(QStringLiteral("CLI path (optional)"), cliPath_);
    cliLayout->addLayout(cliForm);
    QLabel* cliCaption = caption(QStringLiteral("Uses your Claude Code login. Runs with no tools and no MCP servers. "
                                                "Text only: image requests need the API."),
                                 cliControls_);
    cliCaption->setObjectName(QStringLiteral("cliCaption"));
    cliLayout->addWidget(cliCaption);
    apiLayout->addWidget(cliControls_);

    // The AI Gateway.
    gatewayCaption_ = caption(QStringLiteral("Uses the account and gateway ID from the Cloudflare tab. The gateway "
                                             "supplies the Anthropic key (BYOK)."),
                              api);
    gatewayCaption_->setObjectName(QStringLiteral("gatewayCaption"));
    apiLayout->addWidget(gatewayCaption_);

    // The API key: never shown, logged or stored anywhere but the keyring.
    keyControls_ = new QWidget(api);
    auto* keyLayout = new QVBoxLayout(keyControls_);
    keyLayout->setContentsMargins(0, 0, 0, 0);
    auto* keyForm = new QFormLayout;
    key_ = new QLineEdit(keyControls_);
    key_->setObjectName(QStringLiteral("newAPIKey"));
    key_->setEchoMode(QLineEdit::Password);
    key_->setAccessibleName(QStringLiteral("New API key"));
    key_->setPlaceholderText(QStringLiteral("New API key"));
    key_->setToolTip(QStringLiteral("Stored only in the keyring"));
    // The keyring's own bound decides what is too long; nothing is cut here.
    key_->setMaxLength(1 << 24);
    connect(key_, &QLineEdit::textChanged, this, &ClaudeSettingsView::updateSaveEnabled);
    keyForm->addRow(QStringLiteral("New API key"), key_);
    keyLayout->addLayout(keyForm);
    auto* buttons = new QHBoxLayout;
    save_ = new QPushButton(QStringLiteral("Save key"), keyControls_);
    save_->setObjectName(QStringLiteral("saveKey"));
    save_->setAutoDefault(false);
    connect(save_, &QPushButton::clicked, this, &ClaudeSettingsView::saveKey);
    remove_ = new QPushButton(QStringLiteral("Remove key"), keyControls_);
    remove_->setObjectName(QStringLiteral("removeKey"));
    remove_->setAutoDefault(false);
    connect(remove_, &QPushButton::clicked, this, &ClaudeSettingsView::removeKey);
    keyStatus_ = caption(QString(), keyControls_);
    keyStatus_->setObjectName(QStringLiteral("keyStatus"));
    keyStatus_->setForegroundRole(QPalette::WindowText);
    buttons->addWidget(save_);
    buttons->addWidget(remove_);
    buttons->addWidget(keyStatus_, 1);
    keyLayout->addLayout(buttons);
    apiLayout->addWidget(keyControls_);

    const std::string model = defaults_.string(modelKey).value_or("claude-sonnet-5");
    picker_ = new ModelPicker(
        defaults_,
        [this](const std::string& provider) {
            const ClaudeSettings settings = ClaudeSettings::read(defaults_);
            const ClaudeService* service = &service_;
            return [service, settings, provider](std::stop_token cancel) {
                return service->listModels(settings, provider, cancel);
            };
        },
        provider(), model, api, executor_);
    connect(picker_, &ModelPicker::modelChanged, this,
            [this](const QString& id) { defaults_.set(modelKey, id.toStdString()); });
    apiLayout->addWidget(picker_);
    layout->addWidget(api);

    // Translation
    auto* translation = new QGroupBox(QStringLiteral("Translation"), this);
    auto* translationLayout = new QVBoxLayout(translation);
    auto* languages = new QFormLayout;
    languages->addRow(QStringLiteral("Primary language"),
                      languagePicker(primaryKey, "en", QStringLiteral("primaryLanguage")));
    languages->addRow(QStringLiteral("Secondary language"),
                      languagePicker(secondaryKey, "ja", QStringLiteral("secondaryLanguage")));
    translationLayout->addLayout(languages);
    auto* reset = new QPushButton(QStringLiteral("Reset remembered languages"), translation);
    reset->setObjectName(QStringLiteral("resetLanguages"));
    reset->setAutoDefault(false);
    connect(reset, &QPushButton::clicked, this, &ClaudeSettingsView::resetRememberedLanguages);
    translationLayout->addWidget(reset, 0, Qt::AlignLeft);
    translationLayout->addWidget(
        caption(QStringLiteral("Language detection runs locally. Selected content is sent only when you choose "
                               "Translate or Compose prompt. Claude API charges apply. Image Playground is not "
                               "available on Linux."),
                translation));
    layout->addWidget(translation);

    // Without the key row, the status shows here (a reset would otherwise say nothing).
    translationStatus_ = caption(QString(), this);
    translationStatus_->setObjectName(QStringLiteral("status"));
    translationStatus_->setForegroundRole(QPalette::WindowText);
    layout->addWidget(translationStatus_);
    layout->addStretch(1);

    const std::string current = provider();
    for (int i = 0; i < providerPicker_->count(); ++i)
        if (providerPicker_->itemData(i).toString().toStdString() == current) providerPicker_->setCurrentIndex(i);
    connect(providerPicker_, &QComboBox::activated, this, [this](int index) {
        const std::string value = providerPicker_->itemData(index).toString().toStdString();
        defaults_.set(providerKey, value);
        setProvider(value);
    });
    connect(&defaults_, &Defaults::changed, this, [this](const QString& key) {
        if (key == QLatin1String(modelKey)) picker_->setModel(defaults_.string(modelKey).value_or("claude-sonnet-5"));
    });
    setProvider(current);
    updateSaveEnabled();
}

std::string ClaudeSettingsView::provider() const {
    const std::string stored = defaults_.string(providerKey).value_or("anthropic");
    return stored == "cloudflare" || stored == "claudeCode" ? stored : "anthropic";
}

QString ClaudeSettingsView::status() const { return status_; }

QComboBox* ClaudeSettingsView::languagePicker(const char* key, const char* fallback, const QString& name) {
    auto* picker = new QComboBox(this);
    picker->setObjectName(name);
    for (const TranslationLanguage& language : translationLanguages) {
        const QString code = QString::fromUtf8(language.code.data(), static_cast<qsizetype>(language.code.size()));
        picker->addItem(englishLanguageName(code), code);
    }
    const QString stored = QString::fromStdString(defaults_.string(key).value_or(fallback));
    picker->setCurrentIndex(picker->findData(stored));
    connect(picker, &QComboBox::activated, this, [this, picker, key](int index) {
        defaults_.set(key, picker->itemData(index).toString().toStdString());
    });
    return picker;
}

void ClaudeSettingsView::setProvider(const std::string& provider) {
    keyControls_->setVisible(provider == "anthropic");
    cliControls_->setVisible(provider == "claudeCode");
    gatewayCaption_->setVisible(provider == "cloudflare");
    translationStatus_->setVisible(provider != "anthropic" && !status_.isEmpty());
    picker_->setProvider(provider);
}

void ClaudeSettingsView::setStatus(const QString& status) {
    status_ = status;
    keyStatus_->setText(status);
    translationStatus_->setText(status);
    translationStatus_->setVisible(provider() != "anthropic" && !status.isEmpty());
}

void ClaudeSettingsView::setKeyBusy(bool busy) {
    keyBusy_ = busy;
    // The keyboard goes back to the field rather than on to the next section.
    if (busy && (save_->hasFocus() || remove_->hasFocus())) key_->setFocus(Qt::OtherFocusReason);
    remove_->setEnabled(!busy);
    updateSaveEnabled();
}

void ClaudeSettingsView::updateSaveEnabled() {
    const std::string key = key_->text().toStdString();
    save_->setEnabled(!keyBusy_ && !unicode::trimmed(key).empty());
}

void ClaudeSettingsView::saveKey() {
    if (keyBusy_) return;
    setKeyBusy(true);
    const ClaudeService* service = &service_;
    Task::run(
        executor_, this, [service, key = key_->text().toStdString()](std::stop_token) { service->saveAPIKey(key); },
        [this](TaskResult<void>& result) {
            if (result.ok()) {
                key_->clear();
                setStatus(QStringLiteral("Saved in the keyring."));
                // The list loaded without the key said to enter one: it comes with the key now.
                picker_->reload();
            } else {
                setStatus(errorMessage(result.error(), QStringLiteral("Could not save the key.")));
            }
            setKeyBusy(false);
        });
}

void ClaudeSettingsView::removeKey() {
    if (keyBusy_) return;
    setKeyBusy(true);
    const ClaudeService* service = &service_;
    Task::run(
        executor_, this, [service](std::stop_token) { service->removeAPIKey(); },
        [this](TaskResult<void>& result) {
            if (result.ok()) {
                key_->clear();
                setStatus(QStringLiteral("Key removed."));
                picker_->reload();
            } else {
                setStatus(errorMessage(result.error(), QStringLiteral("Could not remove the key.")));
            }
            setKeyBusy(false);
        });
}

void ClaudeSettingsView::resetRememberedLanguages() {
    for (const std::string& key : defaults_.keys())
        if (key.starts_with(rememberedTargetPrefix)) defaults_.remove(key);
    setStatus(QStringLiteral("Remembered language choices reset."));
}

}  // namespace brevalto
