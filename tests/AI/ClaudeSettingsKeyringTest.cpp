// The AI page's key against a real GNOME Keyring (see tests/Support/with-keyring), through the
// keychain service program as the app reaches it.
#include <libsecret/secret.h>

#include "AI/ClaudeService.h"
#include "AI/ClaudeSettingsView.h"
#include "Keychain/ServiceProcess.h"
#include "KeychainItems/KeychainClient.h"
#include "KeychainItems/SecretServiceStore.h"
#include "ManualExecutor.h"
#include "Platform/Defaults.h"
#include "Platform/Linux/CurlHttpClient.h"
#include "Platform/Linux/PosixChildProcessRunner.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

namespace brevalto {
namespace {

// The item as any Secret Service client sees it: schema, service and account attributes.
std::optional<std::string> storedSecret(const char* service, const char* account) {
    static const SecretSchema schema = {"app.brevalto.GenericPassword",
                                        SECRET_SCHEMA_DONT_MATCH_NAME,
                                        {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                         {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                         {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}}};
    GError* error = nullptr;
    SecretValue* value =
        secret_password_lookup_binary_sync(&schema, nullptr, &error, "service", service, "account", account, nullptr);
    g_clear_error(&error);
    if (!value) return std::nullopt;
    gsize length = 0;
    const gchar* bytes = secret_value_get(value, &length);
    std::string secret(bytes, length);
    secret_value_unref(value);
    return secret;
}

TEST(ClaudeSettingsKeyring, TheSavedKeyIsTheKeyringItemOfTheClaudeService) {
    TestFolder folder;
    const auto program = copyServiceProgram(folder);
    const auto script = writeScript(folder / "service", "exec '" + program.string() + "' '--app=" +
                                                             thisProgram().string() + "'");
    SecretServiceStore unused;
    KeychainClient keychain(unused, script);
    CurlHttpClient http;
    PosixChildProcessRunner processes;
    ClaudeService service(keychain, http, processes);
    Defaults defaults;
    ManualExecutor executor;
    ClaudeSettingsView view(defaults, service, nullptr, executor);
    auto* key = view.findChild<QLineEdit*>("newAPIKey");
    auto* status = view.findChild<QLabel*>("keyStatus");

    const std::string largest(65536, 'k');
    const struct {
        const char* what;
        std::string typed;
        const char* button;
        QString status;
        std::optional<std::string> stored;
    } steps[] = {
        {"save", "  sk-test  ", "saveKey", "Saved in the keyring.", "sk-test"},
        {"the largest key", largest, "saveKey", "Saved in the keyring.", largest},
        {"one byte more", largest + "k", "saveKey", "Could not save the key in the keyring (-50).", largest},
        {"remove", "", "removeKey", "Key removed.", std::nullopt},
        {"remove what is gone", "", "removeKey", "Key removed.", std::nullopt},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        key->setText(QString::fromStdString(step.typed));
        view.findChild<QPushButton*>(step.button)->click();
        executor.runAll();
        EXPECT_EQ(status->text(), step.status);
        EXPECT_EQ(storedSecret("app.brevalto.Claude", "api-key"), step.stored);
    }
}

}  // namespace
}  // namespace brevalto
