#pragma once

#include "Platform/Task.h"

#include <QWidget>

#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace brevalto {

class ClaudeService;
class Defaults;
class ModelPicker;

// The AI page of the settings: the Claude back-end ("aiProvider"), the API key (kept only in the
// keyring), the CLI path, the model, the two translation languages and the reset of the remembered
// per-language targets. Saving and removing the key run as tasks (the keyring may wait on an
// unlock prompt), with both buttons disabled until the answer.
class ClaudeSettingsView : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* providerKey = "aiProvider";
    static constexpr const char* modelKey = "claudeModel";
    static constexpr const char* cliPathKey = "claudeCodePath";
    static constexpr const char* primaryKey = "translation.primary";
    static constexpr const char* secondaryKey = "translation.secondary";
    static constexpr const char* rememberedTargetPrefix = "translation.target.";

    ClaudeSettingsView(Defaults& defaults, const ClaudeService& service, QWidget* parent = nullptr,
                       TaskExecutor& executor = TaskPool::shared());

    // "anthropic", "cloudflare" or "claudeCode": the stored provider, any other value read as
    // "anthropic".
    std::string provider() const;
    QString status() const;
    ModelPicker* picker() const { return picker_; }

    // The English name of a language code ("ja" -> "Japanese"), or the code when none is known.
    static QString englishLanguageName(const QString& code);

private:
    void setProvider(const std::string& provider);
    void saveKey();
    void removeKey();
    void resetRememberedLanguages();
    void setStatus(const QString& status);
    void setKeyBusy(bool busy);
    void updateSaveEnabled();
    QComboBox* languagePicker(const char* key, const char* fallback, const QString& name);

    Defaults& defaults_;
    const ClaudeService& service_;
    TaskExecutor& executor_;
    bool keyBusy_ = false;
    QString status_;

    QComboBox* providerPicker_;
    QWidget* keyControls_;
    QLineEdit* key_;
    QPushButton* save_;
    QPushButton* remove_;
    QLabel* keyStatus_;
    QWidget* cliControls_;
    QLineEdit* cliPath_;
    QLabel* gatewayCaption_;
    ModelPicker* picker_;
    QLabel* translationStatus_;
};

}  // namespace brevalto
