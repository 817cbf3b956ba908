// A scrolling capture against a real X server: another process shows a tall known page and
// scrolls it on wheel clicks; the capture scrolls it with XTest and gives back the page's pixels.
#include "Capture/CaptureCoordinator.h"
#include "Capture/CaptureEngine.h"
#include "Capture/ScrollingCapture.h"
#include "FakeCaptureInteraction.h"
#include "Platform/Linux/X11Apps.h"
#include "Platform/Linux/X11RawKeyWatcher.h"
#include "Platform/Linux/X11ScreenCapture.h"
#include "Platform/Linux/X11WheelScroller.h"
#include "QtWait.h"
#include "ScrollPage.h"
#include "TestFolder.h"

#include <QProcess>

#include <gtest/gtest.h>

namespace brevalto {
namespace {

struct PageProgram {
    QProcess process;
    QRect client;
    explicit PageProgram(int pageHeight) {
        process.start(QStringLiteral(BREVALTO_BINARY_DIR "/tests/ScrollPage"),
                      {"320", "400", QString::number(pageHeight)});
        waitUntil([&] { return process.canReadLine(); }, 10000);
        const auto words = QString::fromUtf8(process.readLine()).split(' ');
        if (words.size() == 5) client = QRect(words[1].toInt(), words[2].toInt(), words[3].toInt(), words[4].toInt());
    }
    ~PageProgram() {
        process.terminate();
        process.waitForFinished(3000);
    }
};

struct Desk {
    X11ScreenCapture screen;
    CaptureEngine engine{screen};
    X11Apps apps;
    X11WheelScroller wheel;
    X11RawKeyWatcher keys;
    FakeCaptureInteraction ui;
    FakeClock clock;
    ManualCaptureTimer countdown{clock};
    CaptureCoordinator coordinator{engine, ui, countdown, &apps};
    TestFolder staging;
    std::optional<CapturedScreenshot> shot;
    bool closed = false;

    std::unique_ptr<ScrollingCapture> capture(std::int64_t pid) {
        ScrollingCaptureServices s{&coordinator, &engine, &screen, &apps, &wheel, &keys, nullptr, nullptr,
                                   staging.path(), nullptr};
        auto c = std::make_unique<ScrollingCapture>(
            s, apps.application(pid), 0,
            [this](const CapturedScreenshot& result, bool, std::function<void(bool)> taken) {
                shot = result;
                taken(true);
            },
            [this] { closed = true; }, [] { return QStringLiteral("Screenshot.png"); });
        auto settings = c->settings();
        settings.speed = 2;
        c->setSettings(settings);
        return c;
    }
};

TEST(ScrollingCaptureX11, ScrollsAnotherAppsWindowAndGivesBackItsWholePage) {
    PageProgram page(1500);
    ASSERT_TRUE(page.client.isValid()) << "the page window did not come up";
    Desk desk;
    ASSERT_TRUE(waitUntil([&] {
        const auto front = desk.apps.frontmost();
        return front && front->processId == page.process.processId();
    }));
    auto capture = desk.capture(page.process.processId());
    capture->start();
    ASSERT_TRUE(waitUntil([&] { return desk.coordinator.isSelecting(); })) << capture->status().toStdString();
    desk.ui.complete(CaptureCoordinator::Selection::region(page.client));
    ASSERT_TRUE(waitUntil([&] { return desk.closed || capture->paused(); }, 60000)) << capture->status().toStdString();
    ASSERT_TRUE(desk.closed) << capture->status().toStdString();
    ASSERT_TRUE(desk.shot.has_value());
    EXPECT_TRUE(sameRgb(desk.shot->image, scrollPageImage(320, 1500)))
        << desk.shot->image.width() << "x" << desk.shot->image.height();
    EXPECT_GT(capture->clicksFor(220), 1) << "the wheel step was measured";
    EXPECT_TRUE(std::filesystem::is_empty(desk.staging.path()));
}

TEST(ScrollingCaptureX11, EscInTheTargetAppStopsAndSavesWhatWasAccepted) {
    PageProgram page(20000);
    ASSERT_TRUE(page.client.isValid());
    Desk desk;
    ASSERT_TRUE(waitUntil([&] { return desk.apps.frontmost() && desk.apps.frontmost()->processId == page.process.processId(); }));
    auto capture = desk.capture(page.process.processId());
    capture->start();
    ASSERT_TRUE(waitUntil([&] { return desk.coordinator.isSelecting(); }));
    desk.ui.complete(CaptureCoordinator::Selection::region(page.client));
    ASSERT_TRUE(waitUntil([&] { return capture->frames() >= 3; }, 20000)) << capture->status().toStdString();
    QProcess::execute(QStringLiteral("xdotool"), {"key", "Escape"});
    ASSERT_TRUE(waitUntil([&] { return desk.closed; }, 20000)) << capture->status().toStdString();
    ASSERT_TRUE(desk.shot.has_value());
    const QImage& image = desk.shot->image;
    EXPECT_TRUE(sameRgb(image, scrollPageImage(320, 20000).copy(0, 0, 320, image.height())));
}

}  // namespace
}  // namespace brevalto
