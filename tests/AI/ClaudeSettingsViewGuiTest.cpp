#include "AI/ClaudeService.h"
#include "AI/ClaudeSettingsView.h"
#include "AI/ModelPicker.h"
#include "FakeKeychain.h"
#include "ManualExecutor.h"
#include "Platform/Defaults.h"
#include "Platform/Linux/PosixChildProcessRunner.h"
#include "TestFolder.h"

#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace brevalto {
namespace {

// The Messages API's model list, whatever is asked.
class ModelListHttp final : public HttpClient {
public:
    HttpResponse send(const HttpRequest& request, std::stop_token, const Progress&) override {
        urls.push_back(request.url);
        return {200, {}, R"({"data":[{"id":"claude-opus-4-1","display_name":"Claude Opus 4.1"}]})"};
    }
    std::vector<std::string> urls;
};

struct Page {
    explicit Page(std::optional<std::string> provider = std::nullopt) : defaults(folder / "defaults.json") {
        if (provider) defaults.set("aiProvider", *provider);
        view = std::make_unique<ClaudeSettingsView>(defaults, service, nullptr, executor);
        view->show();
    }
    template <class T>
    T* find(const char* name) const {
        T* widget = view->findChild<T*>(name);
        EXPECT_TRUE(widget) << name;
        return widget;
    }
    bool shown(const char* name) const { return find<QWidget>(name)->isVisible(); }
    std::string fileText() const {
        std::stringstream text;
        text << std::ifstream(folder / "defaults.json").rdbuf();
        return text.str();
    }
    void choose(const char* picker, const QString& data) {
        auto* combo = find<QComboBox>(picker);
        const int index = combo->findData(data);
        ASSERT_GE(index, 0) << data.toStdString();
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }

    TestFolder folder;
    Defaults defaults;
    FakeKeychain keychain;
    ModelListHttp http;
    PosixChildProcessRunner processes;
    ClaudeService service{keychain, http, processes};
    ManualExecutor executor;
    std::unique_ptr<ClaudeSettingsView> view;
};

TEST(ClaudeSettingsView, EachProviderShowsItsOwnControls) {
    const struct {
        std::optional<std::string> stored;
        QString shownAs;
        bool key, cli, gateway;
    } cases[] = {
        {std::nullopt, "Anthropic (API key)", true, false, false},
        {"anthropic", "Anthropic (API key)", true, false, false},
        {"somethingElse", "Anthropic (API key)", true, false, false},
        {"claudeCode", "Claude Code CLI (claude -p)", false, true, false},
        {"cloudflare", "Cloudflare AI Gateway", false, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored.value_or("(none)"));
        Page page(c.stored);
        EXPECT_EQ(page.find<QComboBox>("aiProvider")->currentText(), c.shownAs);
        EXPECT_EQ(page.shown("newAPIKey"), c.key);
        EXPECT_EQ(page.shown("saveKey"), c.key);
        EXPECT_EQ(page.shown("claudeCodePath"), c.cli);
        EXPECT_EQ(page.shown("cliCaption"), c.cli);
        EXPECT_EQ(page.shown("gatewayCaption"), c.gateway);
        // Reading never rewrites what is stored.
        EXPECT_EQ(page.defaults.string("aiProvider"), c.stored);
    }

    // The CLI path field names the places the runner searches, and stores what is typed.
    Page page;
    page.choose("aiProvider", "claudeCode");
    EXPECT_EQ(page.defaults.string("aiProvider"), "claudeCode");
    EXPECT_TRUE(page.shown("claudeCodePath"));
    EXPECT_FALSE(page.shown("newAPIKey"));
    EXPECT_EQ(page.view->picker()->provider(), "claudeCode");
    const QString placeholder = page.find<QLineEdit>("claudeCodePath")->placeholderText();
    EXPECT_TRUE(placeholder.startsWith("Auto: ~/.local/bin/claude, ")) << placeholder.toStdString();
    EXPECT_FALSE(placeholder.contains("Homebrew"));
    QTest::keyClicks(page.find<QLineEdit>("claudeCodePath"), "~/bin/claude");
    EXPECT_EQ(page.defaults.string("claudeCodePath"), "~/bin/claude");
}

TEST(ClaudeSettingsView, SaveAndRemoveGoThroughTheKeyringAndNeverShowTheKey) {
    Page page;
    page.executor.runAll();  // the model list
    auto* key = page.find<QLineEdit>("newAPIKey");
    auto* save = page.find<QPushButton>("saveKey");
    auto* remove = page.find<QPushButton>("removeKey");
    EXPECT_EQ(key->echoMode(), QLineEdit::Password);
    EXPECT_EQ(key->toolTip(), "Stored only in the keyring");
    EXPECT_FALSE(save->isEnabled());
    QTest::keyClicks(key, "   ");
    EXPECT_FALSE(save->isEnabled());
    // Return in the field does nothing.
    QTest::keyClick(key, Qt::Key_Return);
    EXPECT_EQ(page.executor.pending(), 0u);

    const std::string service = ClaudeService::apiKeyService();
    const struct {
        const char* what;
        QString typed;
        bool removeIt;
        std::optional<KeychainStatus> forced;
        QString status;
        std::optional<std::string> stored;
        bool fieldEmptied;
    } steps[] = {
        {"a key with blanks around it", "  sk-test-1  ", false, std::nullopt, "Saved in the keyring.", "sk-test-1", true},
        {"a key over two lines", "sk-a\nsk-b", false, std::nullopt, "Invalid API key.", "sk-test-1", false},
        {"the keyring refuses", "sk-test-2", false, -25308, "Could not save the key in the keyring (-25308).", "sk-test-1",
         false},
        {"remove", "", true, std::nullopt, "Key removed.", std::nullopt, true},
        {"remove again, nothing stored", "", true, std::nullopt, "Key removed.", std::nullopt, true},
        {"removing fails", "", true, -25308, "Could not remove the key (-25308).", std::nullopt, true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        page.keychain.forced.clear();
        if (step.forced) page.keychain.forced[step.removeIt ? "delete" : "save"] = *step.forced;
        key->setText(step.typed);
        (step.removeIt ? remove : save)->click();
        // Both buttons wait for the keyring's answer.
        EXPECT_FALSE(save->isEnabled());
        EXPECT_FALSE(remove->isEnabled());
        (step.removeIt ? remove : save)->click();
        EXPECT_EQ(page.executor.pending(), 1u);
        page.executor.runAll();
        EXPECT_EQ(page.view->status(), step.status);
        EXPECT_EQ(page.find<QLabel>("keyStatus")->text(), step.status);
        EXPECT_TRUE(remove->isEnabled());
        EXPECT_EQ(key->text().isEmpty(), step.fieldEmptied);
        auto item = page.keychain.items.find({service, ClaudeService::apiKeyAccount});
        EXPECT_EQ(item == page.keychain.items.end() ? std::nullopt
                                                    : std::optional<std::string>(std::string(item->second.begin(), item->second.end())),
                  step.stored);
        page.executor.runAll();  // the model list a saved or removed key asks for again
    }
    // The key appears nowhere but in the keyring; the model list is asked for again with it.
    const std::size_t asked = page.http.urls.size();
    key->setText("sk-secret-9");
    save->click();
    page.executor.runAll();
    page.executor.runAll();
    EXPECT_EQ(page.http.urls.size(), asked + 1);
    for (QWidget* widget : page.view->findChildren<QWidget*>()) {
        EXPECT_FALSE(widget->toolTip().contains("sk-secret")) << widget->objectName().toStdString();
        EXPECT_FALSE(widget->accessibleName().contains("sk-secret")) << widget->objectName().toStdString();
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            EXPECT_FALSE(label->text().contains("sk-secret"));
        }
    }
    EXPECT_EQ(page.fileText().find("sk-secret"), std::string::npos);
}

TEST(ClaudeSettingsView, LanguagesModelAndTheResetOfRememberedTargets) {
    Page page("claudeCode");
    auto* primary = page.find<QComboBox>("primaryLanguage");
    QStringList names;
    for (int i = 0; i < primary->count(); ++i) names << primary->itemText(i);
    EXPECT_EQ(names, (QStringList{"English", "Japanese", "Vietnamese", "Chinese (Simplified Han)", "Korean", "French",
                                  "German"}));
    EXPECT_EQ(primary->currentData().toString(), "en");
    EXPECT_EQ(page.find<QComboBox>("secondaryLanguage")->currentData().toString(), "ja");
    page.choose("secondaryLanguage", "fr");
    EXPECT_EQ(page.defaults.string("translation.secondary"), "fr");
    EXPECT_EQ(ClaudeSettingsView::englishLanguageName("qq-Zzzz"), "qq-Zzzz");

    // The reset removes the remembered targets only, and says so whatever the provider.
    page.defaults.set("translation.target.ja", "en");
    page.defaults.set("translation.target.unknown", "de");
    page.defaults.set("translation.primary", "en");
    page.defaults.set("translation.targets", "kept");
    EXPECT_FALSE(page.shown("status"));
    page.find<QPushButton>("resetLanguages")->click();
    EXPECT_FALSE(page.defaults.contains("translation.target.ja"));
    EXPECT_FALSE(page.defaults.contains("translation.target.unknown"));
    EXPECT_EQ(page.defaults.string("translation.primary"), "en");
    EXPECT_EQ(page.defaults.string("translation.secondary"), "fr");
    EXPECT_EQ(page.defaults.string("translation.targets"), "kept");
    EXPECT_TRUE(page.shown("status"));
    EXPECT_EQ(page.find<QLabel>("status")->text(), "Remembered language choices reset.");

    // A chosen model is the setting; a setting changed elsewhere shows in the chooser.
    page.executor.runAll();
    page.view->picker()->choose("opus");
    EXPECT_EQ(page.defaults.string("claudeModel"), "opus");
    page.defaults.set("claudeModel", "sonnet");
    EXPECT_EQ(page.view->picker()->model(), "sonnet");

    // Back to the API: its list comes from the service under the stored key.
    page.keychain.put(ClaudeService::apiKeyService(), ClaudeService::apiKeyAccount, "sk-1");
    page.choose("aiProvider", "anthropic");
    EXPECT_FALSE(page.shown("status"));
    EXPECT_EQ(page.find<QLabel>("keyStatus")->text(), "Remembered language choices reset.");
    page.executor.runAll();
    ASSERT_EQ(page.view->picker()->models().size(), 1u);
    EXPECT_EQ(page.http.urls.back(), "https://api.anthropic.com/v1/models?limit=1000");
}

}  // namespace
}  // namespace brevalto
