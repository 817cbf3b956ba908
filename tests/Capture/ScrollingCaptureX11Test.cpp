// A scrolling capture against a real X server: another process shows a tall known page and
// scrolls it on wheel clicks; the capture scrolls it with XTest and gives back the page's pixels.
#include "Peers/ScrollBars.h"
#include "ScrollPage.h"
#include "ScrollingCaptureX11Desk.h"

#include <QEvent>
#include <QProcess>
#include <QThread>
#include <QWidget>

#include <gtest/gtest.h>

namespace brevalto {
namespace {

// The page program and a capture of its window with the real desktop pieces; the viewport is
// the window's whole client area.
struct Desk : X11ScrollingDesk {
    QProcess page;
    QRect client;

    explicit Desk(int pageHeight, QSize window = {320, 400}, const QString& kind = QStringLiteral("picture")) {
        page.start(QStringLiteral(BREVALTO_BINARY_DIR "/tests/ScrollPage"),
                   {QString::number(window.width()), QString::number(window.height()), QString::number(pageHeight), kind});
        waitUntil([&] { return page.canReadLine(); }, 10000);
        const auto words = QString::fromUtf8(page.readLine()).split(' ');
        if (words.size() == 5) client = QRect(words[1].toInt(), words[2].toInt(), words[3].toInt(), words[4].toInt());
    }
    ~Desk() {
        capture.reset();
        page.terminate();
        page.waitForFinished(3000);
    }
    void start() {
        ASSERT_TRUE(fronted());
        startCapture(client, [](auto& s) { s.speed = 2; });
    }
    bool fronted() {
        return waitUntil([&] { return apps.frontmost() && apps.frontmost()->processId == page.processId(); });
    }
};

TEST(ScrollingCaptureX11, ScrollsAnotherAppsWindowAndGivesBackItsWholePage) {
    Desk desk(1500);
    ASSERT_TRUE(desk.client.isValid()) << "the page window did not come up";
    desk.start();
    ASSERT_TRUE(waitUntil([&] { return desk.closed || desk.capture->paused(); }, 60000));
    ASSERT_TRUE(desk.closed) << desk.capture->status().toStdString();
    EXPECT_TRUE(sameRgb(desk.shot->image, scrollPageImage(320, 1500)));
    EXPECT_GT(desk.capture->clicksFor(220), 1) << "the wheel step was measured";
    EXPECT_TRUE(std::filesystem::is_empty(desk.staging.path()));
}

// A header that sticks to the top and a footer fixed to the bottom of the view stay put while
// the lines scroll under them: each comes in once, at its end of the page, and every line once,
// down from the top of the page and up from its end.
TEST(ScrollingCaptureX11, AStickyHeaderAndAFixedFooterComeInOnceOverEveryLine) {
    for (const bool upward : {false, true}) {
        SCOPED_TRACE(upward ? "up" : "down");
        Desk desk(2000, {320, 400}, QStringLiteral("bars"));
        ASSERT_TRUE(desk.client.isValid()) << "the page window did not come up";
        ASSERT_TRUE(desk.fronted());
        if (upward) {  // from the end of the page
            desk.wheel.scroll(desk.client.center(), 2000 / kScrollPageStep + 1);
            QThread::msleep(300);
        }
        desk.startCapture(desk.client, [&](auto& s) { s.speed = 2, s.upward = upward; });
        ASSERT_TRUE(desk.capture->running()) << desk.capture->status().toStdString();
        ASSERT_TRUE(waitUntil([&] { return desk.closed || desk.capture->paused(); }, 60000));
        ASSERT_TRUE(desk.closed) << desk.capture->status().toStdString();
        const QImage image = desk.shot->image.convertToFormat(QImage::Format_RGB32);
        int headers = 0, footers = 0;  // runs of rows that start with a bar's colour
        for (int y = 0; y < image.height(); ++y) {
            const bool starts = y == 0 || image.pixel(2, y - 1) != image.pixel(2, y);
            headers += starts && image.pixel(2, y) == kScrollBarsHeaderColour.rgb();
            footers += starts && image.pixel(2, y) == kScrollBarsFooterColour.rgb();
        }
        EXPECT_EQ(std::pair(headers, footers), std::pair(1, 1));
        EXPECT_TRUE(sameRgb(image, scrollBarsPage(320, 2000))) << image.height() << " rows";
        EXPECT_FALSE(desk.partial);
    }
}

TEST(ScrollingCaptureX11, EscInTheTargetAppStopsAndSavesWhatWasAccepted) {
    Desk desk(20000);
    ASSERT_TRUE(desk.client.isValid());
    desk.start();
    ASSERT_TRUE(waitUntil([&] { return desk.capture->frames() >= 3; }, 20000)) << desk.capture->status().toStdString();
    QProcess::execute(QStringLiteral("xdotool"), {"key", "Escape"});
    ASSERT_TRUE(waitUntil([&] { return desk.closed; }, 20000)) << desk.capture->status().toStdString();
    const QImage& image = desk.shot->image;
    EXPECT_TRUE(sameRgb(image, scrollPageImage(320, 20000).copy(0, 0, 320, image.height())));
}

// The panel goes where its whole frame, title bar included, is clear of the viewport, so it is
// never in a frame and never hidden for a grab: here the viewport begins just below where its
// window alone would end at the display's top left corner.
TEST(ScrollingCaptureX11, ThePanelsWholeFrameStaysClearOfTheViewportAndNeverBlinks) {
    Desk desk(20000, {1800, 900});
    ASSERT_TRUE(desk.client.isValid() && desk.fronted());
    desk.makeCapture([](auto& s) { s.speed = 2; });
    QWidget* panel = desk.capture->panel();
    panel->adjustSize();
    const int below = 40 + panel->height() + 6;
    const QRect viewport(desk.client.x(), below, desk.client.width(), 300);
    ASSERT_TRUE(desk.client.contains(viewport));
    desk.select(viewport);
    int hidden = 0;
    struct HideCounter : QObject {
        int& count;
        explicit HideCounter(int& c) : count(c) {}
        bool eventFilter(QObject*, QEvent* event) override { return count += event->type() == QEvent::Hide, false; }
    } counter(hidden);
    panel->installEventFilter(&counter);
    ASSERT_TRUE(waitUntil([&] { return desk.capture->frames() >= 6 || desk.capture->paused(); }, 30000));
    EXPECT_EQ(hidden, 0) << "hidden for grabs";
    EXPECT_TRUE(panel->isVisible());
    EXPECT_FALSE(panel->frameGeometry().intersects(viewport)) << "the frame reaches into the viewport";
    panel->removeEventFilter(&counter);
}

}  // namespace
}  // namespace brevalto
