// A new user's way through the image-prompt workspace, with the built program started as a user
// starts it (its own D-Bus session and keyring, the proxy leading api.anthropic.com to the
// Messages API stand-in, which answers with a fixed prompt): an image copied by another program
// is opened in "Image AI" from its card's menu, a request becomes a prompt that is copied to the
// clipboard and saved as a new clip, and one more letter clears it again. The screenshots of each
// step stay in the build tree (tests/screenshots/image-ai-journey) for a person to look at.
#include "AIJourney.h"
#include "QtWait.h"

#include <QImage>
#include <QPainter>
#include <QThread>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace brevalto {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPrompt = "Remove the background; keep the red mug and its soft shadow on white.";

class ImageAIJourney : public AIJourney {
protected:
    ImageAIJourney() : AIJourney("image-ai-journey") {}

    std::size_t clips() {
        const std::string text = history();
        if (text.empty()) return 0;
        const auto index = nlohmann::json::parse(text);
        return (index.is_array() ? index : index.value("items", nlohmann::json::array())).size();
    }
};

TEST_F(ImageAIJourney, RequestBecomesAPromptThatIsCopiedSavedAndClearedByTyping) {
    MessagesApiStandIn api(standIns_ / "messages.log", kPrompt);
    ASSERT_NO_FATAL_FAILURE(startAppWith(api));
    saveKey("sk-test");

    // 1. An image copied by another program, opened in "Image AI" from its card's menu.
    QImage image(480, 320, QImage::Format_RGB32);
    image.fill(QColor(214, 226, 240));
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 60));
        painter.drawEllipse(QRectF(150, 250, 200, 30));
        painter.setBrush(QColor(200, 40, 40));
        painter.drawRoundedRect(QRectF(170, 110, 140, 150), 16, 16);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(QColor(200, 40, 40), 16));
        painter.drawEllipse(QRectF(290, 140, 60, 70));
    }
    const fs::path png = standIns_ / "mug.png";
    ASSERT_TRUE(image.save(QString::fromStdString(png.string())));
    run("xclip", {"-selection", "clipboard", "-t", "image/png", "-i", QString::fromStdString(png.string())});
    ASSERT_TRUE(waitUntil([&] { return clips() == 1; }, 10000)) << history();
    keys({"super+shift+space"});
    QThread::msleep(1000);
    clickPanel({154, 244});  // the first card's "…"
    QThread::msleep(500);
    keys({"Down", "Down", "Down", "Return"});  // Paste, Float, Image AI
    ASSERT_TRUE(waitUntil([&] { return geometry(window("^Brevalto$")).height() > 400; }, 5000)) << "no workspace";
    QThread::msleep(1000);
    screenshot("1-image-ai.png");

    // 2. A request, written into a prompt: the service gets the image and the request.
    clickPanel({666, 115});  // the request field
    type("remove the background");
    clickPanel({302, 186});  // Write Prompt
    ASSERT_TRUE(waitUntil([&] { return !received(api, "POST").empty(); }, 15000)) << "no prompt request";
    const nlohmann::json request = received(api, "POST").back();
    EXPECT_EQ(request["headers"]["x-api-key"], "sk-test");
    const auto& content = request["body"]["messages"][0]["content"];
    ASSERT_EQ(content.size(), 2u) << content.dump().substr(0, 400);
    EXPECT_EQ(content[0]["type"], "image");
    EXPECT_EQ(content[0]["source"]["media_type"], "image/png");
    EXPECT_EQ(content[1]["text"], "remove the background");
    QThread::msleep(1000);
    screenshot("2-prompt.png");

    // 3. Copy Result: another program reads the prompt; the history keeps its one card.
    clickPanel({299, 426});  // Copy Result
    ASSERT_TRUE(waitUntil([&] { return run("xclip", {"-o", "-selection", "clipboard"}) == kPrompt; }, 5000))
        << run("xclip", {"-o", "-selection", "clipboard"}).toStdString();
    QThread::msleep(1500);  // longer than the monitor's poll
    EXPECT_EQ(clips(), 1u) << history();

    // 4. Save as New Item: a text card "Claude · image prompt" heads the list.
    clickPanel({408, 426});  // Save as New Item
    ASSERT_TRUE(waitUntil([&] { return clips() == 2; }, 5000)) << history();
    const auto index = nlohmann::json::parse(history());
    const auto& newest = (index.is_array() ? index : index["items"])[0];
    EXPECT_EQ(newest["source"], "Claude \u00B7 image prompt");
    EXPECT_EQ(newest["text"], kPrompt);
    screenshot("3-saved.png");

    // 5. One more letter: the result empties, and both result buttons with it.
    clickPanel({666, 115});
    keys({"End"});
    type("s");
    QThread::msleep(500);
    screenshot("4-edited.png");
    clickPanel({408, 426});  // a disabled Save as New Item saves nothing
    QThread::msleep(1000);
    EXPECT_EQ(clips(), 2u);

    // Esc walks back to the list, whose first card is the saved prompt.
    keys({"Escape"});
    QThread::msleep(1000);
    screenshot("5-list.png");
}

}  // namespace
}  // namespace brevalto
