// A new user's way through the AI settings, with the built program started as a user starts it:
// its own D-Bus session and keyring, and the environment's proxy leading api.anthropic.com to the
// Messages API stand-in. The screenshots of each step stay in the build tree
// (tests/screenshots/ai-settings-journey) for a person to look at.
#include "AIJourney.h"

namespace brevalto {
namespace {

class AISettingsJourney : public AIJourney {
protected:
    AISettingsJourney() : AIJourney("ai-settings-journey") {}
};

TEST_F(AISettingsJourney, KeyModelProviderAndATranslationReachTheService) {
    const nlohmann::json models = nlohmann::json::array({
        {{"id", "claude-opus-4-1"}, {"display_name", "Claude Opus 4.1"}},
        {{"id", "claude-sonnet-4-5"}, {"display_name", "Claude Sonnet 4.5"}},
        {{"id", "claude-sonnet-4-6"}, {"display_name", "Claude Sonnet 4.6"}},
        {{"id", "claude-haiku-4-5"}, {"display_name", "Claude Haiku 4.5"}},
    });
    MessagesApiStandIn api(standIns_ / "messages.log", "Good morning, how are you?", models);
    ASSERT_NO_FATAL_FAILURE(startAppWith(api));

    // 1. The settings, from the panel's keys, on the AI tab.
    const QString settings = openSettings(3);
    ASSERT_FALSE(settings.isEmpty());
    screenshot("1-ai-tab.png");

    // 2. A key with blanks around it, saved through the keyring: the model list then comes with it.
    keys({"Tab", "Tab", "Tab"});  // the page's scroll area, the provider, the key field
    type("  sk-test  ");
    keys({"Tab", "space"});  // Save key
    QThread::msleep(1500);
    screenshot("2-key-saved.png");

    // 3. Reload the models, open the chooser, filter, move down and choose.
    keys({"Tab", "Tab", "Tab", "space"});  // back in the key field: Remove key, the chooser, Reload models
    ASSERT_TRUE(waitUntil([&] {
        for (const auto& request : received(api, "GET"))
            if (request["headers"].value("x-api-key", "") == "sk-test") return true;
        return false;
    }, 10000)) << "the model list was never asked for with the saved key";
    keys({"space"});  // the chooser, which kept the keyboard while the list loaded
    QThread::msleep(500);
    type("son");
    keys({"Down"});
    screenshot("3-model-popover.png");
    keys({"Return"});
    ASSERT_TRUE(waitUntil([&] { return defaults().value("claudeModel", "") == "claude-sonnet-4-6"; }, 5000))
        << defaults().dump();
    EXPECT_EQ(defaults().value("recentModels", ""), "claude-sonnet-4-6");

    // 4. The command-line tool: its path field instead of the key; the reset says what it did.
    const QPoint at = origin(settings);
    keys({"shift+Tab", "shift+Tab", "shift+Tab"});  // from the chooser back to the provider
    keys({"Down", "Down"});
    ASSERT_TRUE(waitUntil([&] { return defaults().value("aiProvider", "") == "claudeCode"; }, 5000)) << defaults().dump();
    for (int i = 0; i < 6; ++i) keys({"Tab"});  // path, chooser, reload, primary, secondary, reset
    keys({"space"});
    screenshot("4-command-line-tool.png");
    keys({"shift+Tab", "shift+Tab", "shift+Tab", "shift+Tab", "shift+Tab", "shift+Tab"});
    keys({"Up", "Up"});  // back to the API
    ASSERT_TRUE(waitUntil([&] { return defaults().value("aiProvider", "") == "anthropic"; }, 5000)) << defaults().dump();
    EXPECT_EQ(origin(settings), at);

    // 5. A text clip translated from the panel: the service gets the chosen model and the key.
    copyText("Guten Morgen, wie geht es dir?");
    keys({"super+shift+space"});
    QThread::msleep(1000);
    clickPanel({101, 244});  // the translate button of the first card
    ASSERT_TRUE(waitUntil([&] { return !received(api, "POST").empty(); }, 15000)) << "no translation request";
    const nlohmann::json request = received(api, "POST").back();
    EXPECT_EQ(request["path"], "/v1/messages");
    EXPECT_EQ(request["headers"]["x-api-key"], "sk-test");
    EXPECT_EQ(request["headers"]["host"], "api.anthropic.com");
    EXPECT_EQ(request["body"]["model"], "claude-sonnet-4-6");
    EXPECT_NE(request["body"].dump().find("Guten Morgen"), std::string::npos);
    screenshot("5-translation.png");

    // The key went nowhere else.
    EXPECT_EQ(defaults().dump().find("sk-test"), std::string::npos);
}

}  // namespace
}  // namespace brevalto
