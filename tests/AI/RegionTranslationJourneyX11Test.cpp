// A new user's way through the region translator, with the built program started as a user
// starts it (its own D-Bus session and keyring, the proxy leading api.anthropic.com to the
// Messages API stand-in, which answers each region upper-cased): an image with two lines is
// copied, recognised from its card, its regions translated, previewed, recoloured and saved as a
// new clip. The screenshots of each step stay in the build tree
// (tests/screenshots/region-translation-journey) for a person to look at.
#include "AIJourney.h"
#include "QtWait.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QThread>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace brevalto {
namespace {

namespace fs = std::filesystem;

class RegionTranslationJourney : public AIJourney {
protected:
    RegionTranslationJourney() : AIJourney("region-translation-journey") {}
};

TEST_F(RegionTranslationJourney, RecogniseTranslatePreviewRecolourAndSave) {
    MessagesApiStandIn api(standIns_ / "messages.log");
    ASSERT_NO_FATAL_FAILURE(startAppWith(api));

    saveKey("sk-test");

    // 1. An image with two lines of text, copied by another program, recognised from its card.
    QImage image(640, 220, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(44);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(30, 80, QStringLiteral("Good morning"));
        painter.drawText(30, 170, QStringLiteral("Open the settings"));
    }
    const fs::path png = standIns_ / "two-lines.png";
    ASSERT_TRUE(image.save(QString::fromStdString(png.string())));
    run("xclip", {"-selection", "clipboard", "-t", "image/png", "-i", QString::fromStdString(png.string())});
    QThread::msleep(1500);
    keys({"super+shift+space"});
    QThread::msleep(1000);
    clickPanel({101, 244});  // the first card's OCR button
    QThread::msleep(4000);
    screenshot("1-ocr.png");

    // 2. "Replace in image": the workspace with the regions found.
    clickPanel({526, 372});
    ASSERT_TRUE(waitUntil([&] { return geometry(window("^Brevalto$")).height() > 600; }, 5000)) << "no workspace";
    QThread::msleep(4000);
    screenshot("2-regions.png");

    // 3. Translate Regions, then Update Preview.
    clickPanel({255, 388});
    ASSERT_TRUE(waitUntil([&] { return !received(api, "POST").empty(); }, 15000)) << "no translation request";
    const nlohmann::json request = received(api, "POST").back();
    EXPECT_EQ(request["headers"]["x-api-key"], "sk-test");
    EXPECT_EQ(request["body"]["system"].get<std::string>().rfind("Translate each region's text into ", 0), 0u);
    const auto sent = nlohmann::json::parse(request["body"]["messages"][0]["content"][0]["text"].get<std::string>());
    ASSERT_EQ(sent["regions"].size(), 2u) << sent.dump();
    EXPECT_EQ(sent["regions"][0]["id"], 0);
    QThread::msleep(1500);
    clickPanel({369, 388});
    QThread::msleep(3000);
    screenshot("3-preview.png");

    // 4. Region 1's mask colour: the preview is out of date until it is updated.
    clickPanel({851, 384});
    ASSERT_TRUE(waitUntil([&] { return !window("^Mask color$").isEmpty(); }, 5000)) << "no colour dialog";
    screenshot("4-colour-dialog.png");
    keys({"alt+h", "ctrl+a"});  // the dialog's HTML field
    type("#ffee00");
    keys({"Return"});
    QThread::msleep(1000);
    screenshot("4-mask-colour.png");
    clickPanel({369, 388});
    QThread::msleep(3000);
    clickPanel({480, 388});  // Save New Image
    ASSERT_TRUE(waitUntil([&] { return history().find("Translated image \u00B7 ") != std::string::npos; }, 10000))
        << history();
    screenshot("5-saved.png");
    // The saved clip shows region 1 on its new mask colour.
    bool yellow = false;
    for (const auto& entry : fs::directory_iterator(home_ / "data" / "brevalto")) {
        if (entry.path().extension() != ".png") continue;
        const QImage saved(QString::fromStdString(entry.path().string()));
        for (int y = 0; y < saved.height() && !yellow; y += 2)
            for (int x = 0; x < saved.width() && !yellow; x += 2) yellow = saved.pixel(x, y) == qRgb(255, 238, 0);
    }
    EXPECT_TRUE(yellow) << "no clip with the yellow mask";

    // 5. Esc walks back: to the list, whose first card is the new image, then the panel closes.
    keys({"Escape"});
    QThread::msleep(1000);
    EXPECT_LT(geometry(window("^Brevalto$")).height(), 600);
    screenshot("6-list.png");
    keys({"Escape"});
    QThread::msleep(1000);
    screenshot("7-closed.png");
    EXPECT_LT(geometry(window("^Brevalto$")).height(), 100);
}

}  // namespace
}  // namespace brevalto
