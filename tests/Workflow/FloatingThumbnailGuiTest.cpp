#include "AI/AIActionModel.h"
#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
#include "Panel/DragSourceView.h"
#include "Panel/NotchPanel.h"
#include "Panel/PanelController.h"
#include "Platform/Defaults.h"
#include "Workflow/CaptureSettings.h"
#include "Workflow/FloatingThumbnail.h"
#include "Workflow/ScreenshotThumbnail.h"

#include "FakeApps.h"
#include "FakeClock.h"
#include "FakePasteboard.h"
#include "FakeScreens.h"
#include "ManualAIBackend.h"
#include "QtWait.h"
#include "TestFolder.h"
#include "TestImages.h"

#include <QLabel>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <filesystem>

namespace brevalto {
namespace {

TEST(ThumbnailFrame, OpensBesideThePointerAndNeverLeavesTheVisibleFrame) {
    const QRectF screen(0, 0, 1440, 900), second(1440, 40, 1920, 1040), tiny(0, 0, 200, 150);
    const struct {
        QPointF mouse;
        QRectF area, frame;
    } cases[] = {
        {{700, 500}, screen, {716, 204, 320, 280}},      // right of and below the pointer
        {{1300, 500}, screen, {964, 204, 320, 280}},     // near the right edge: to its left
        {{700, 100}, screen, {716, 116, 320, 280}},      // near the bottom: above it
        {{1430, 5}, screen, {1094, 21, 320, 280}},       // both
        {{1439, 899}, screen, {1103, 603, 320, 280}},    // top-right corner: clamped under the top
        {{-50, 500}, screen, {0, 204, 320, 280}},        // left of the area: clamped onto it
        {{1500, 60}, second, {1516, 76, 320, 280}},      // an area away from the origin
        {{100, 75}, tiny, {0, 0, 200, 150}},             // smaller than 320 x 280: the whole area
    };
    for (const auto& c : cases)
        EXPECT_EQ(FloatingThumbnail::thumbnailFrame(c.mouse, c.area), c.frame) << c.mouse.x() << "," << c.mouse.y();

    FakeScreens screens;
    EXPECT_EQ(FloatingThumbnail::visibleArea(screens, {10, 10}), QRectF(0, 0, 900, 700));
    screens.setScreens({FakeScreens::screen("a", 0, 0, 1440, 900), FakeScreens::screen("b", 1440, 0, 800, 600)}, 1);
    EXPECT_EQ(FloatingThumbnail::visibleArea(screens, {10, 10}), screen);
    EXPECT_EQ(FloatingThumbnail::visibleArea(screens, {1440, 10}), QRectF(1440, 0, 800, 600));
    EXPECT_EQ(FloatingThumbnail::visibleArea(screens, {5000, 10}), QRectF(1440, 0, 800, 600));  // main screen
}

class ThumbnailTest : public ::testing::Test {
public:
    ThumbnailTest() {
        screens.setScreens({FakeScreens::screen("main", 0, 0, 1440, 900)});
        screens.setMouse({700, 500});
        controller.setAIActions(&backend);
        QImage image(400, 300, QImage::Format_RGB32);
        image.fill(Qt::red);
        store.addImage(encodedImage(image, "PNG"), "Screenshot", 1.0, {}, [&](auto c) { clip = c; });
        EXPECT_TRUE(waitUntil([&] { return clip.has_value(); }));
    }
    FloatingThumbnail::Actions actions() {
        const auto record = [this](const char* what) {
            return [this, what](const Clip& c) { calls.push_back(what + (" " + c.id.string())); };
        };
        return {record("edit"), [this, record](const Clip& c) -> std::optional<QString> {
                    record("save")(c);
                    return QStringLiteral("Source image is not available.");
                },
                record("pin"), record("upload")};
    }
    QToolButton* button(const char* name) { return thumbnail.thumbnail()->findChild<QToolButton*>(name); }
    // A tick after the clock moved, as the timer would run it.
    void after(double seconds) {
        clock.advance(seconds);
        thumbnail.thumbnailTick(12);
    }

    TestFolder folder;
    FakeClock clock;
    ClipStore store{folder.path(), clock};
    FakePasteboard board;
    FakeApps apps;
    FakeScreens screens;
    Defaults defaults;
    ManualAIBackend backend;
    ClipboardMonitor monitor{store, board, apps, defaults};
    PanelController controller{store, monitor, screens, apps, defaults};
    std::vector<std::string> calls;
    FloatingThumbnail thumbnail{store, monitor, controller, screens, defaults, clock, actions()};
    std::optional<Clip> clip;
};

TEST_F(ThumbnailTest, ExpiresAfterItsTimeoutUnlessHoverADragOrAnUploadHoldsIt) {
    const struct {
        std::optional<Defaults::Value> stored;
        std::optional<double> timeout;
    } timeouts[] = {{std::nullopt, 12.0}, {2.5, 2.5}, {0, std::nullopt}, {-3, std::nullopt}, {"abc", 12.0}};
    for (const auto& t : timeouts) {
        if (t.stored) defaults.set(CaptureSettings::thumbnailTimeoutKey, *t.stored);
        thumbnail.showThumbnail(*clip);
        // No timer: -1.
        EXPECT_DOUBLE_EQ(thumbnail.expiryRunning() ? thumbnail.deadline() - clock.now() : -1, t.timeout.value_or(-1));
    }
    defaults.remove(CaptureSettings::thumbnailTimeoutKey);

    const std::function<void(bool)> holds[] = {
        [&](bool on) { thumbnail.setHovered(on); },
        [&](bool on) { thumbnail.setDragging(on); },
        [&](bool on) { on ? thumbnail.startThumbnailUpload({}) : thumbnail.finishThumbnailUpload({}, "Done"); },
    };
    for (const auto& hold : holds) {
        thumbnail.showThumbnail(*clip);
        EXPECT_EQ(thumbnail.thumbnail()->geometry(), QRect(716, 416, 320, 280));
        EXPECT_FALSE(thumbnail.thumbnail()->isActiveWindow());
        after(11.9);
        hold(true);
        for (int i = 0; i < 240; ++i) after(0.25);  // a minute held
        ASSERT_TRUE(thumbnail.thumbnail());
        hold(false);
        after(11.9);
        ASSERT_TRUE(thumbnail.thumbnail());
        after(0.2);  // the full timeout after the hold ended
        EXPECT_FALSE(thumbnail.thumbnail());
    }

    // The timer runs the tick; a clock set back does not stretch the wait.
    thumbnail.showThumbnail(*clip);
    clock.advance(-3600);
    thumbnail.thumbnailTick(12);
    clock.advance(12);
    EXPECT_TRUE(waitUntil([&] { return !thumbnail.thumbnail(); }, 2000));
}

TEST_F(ThumbnailTest, ButtonsActOnTheClipAndEveryDismissalResetsTheState) {
    thumbnail.showThumbnail(*clip);
    const std::string id = clip->id.string();
    for (const char* name : {"edit", "save", "pin", "screenshot.preview.upload"}) QTest::mouseClick(button(name), Qt::LeftButton);
    QTest::mouseClick(thumbnail.view()->preview()->drag(), Qt::LeftButton);
    EXPECT_EQ(calls, (std::vector<std::string>{"edit " + id, "save " + id, "pin " + id, "upload " + id, "edit " + id}));
    EXPECT_EQ(store.message(), QStringLiteral("Source image is not available."));  // the save's failure
    QTest::mouseClick(button("copy"), Qt::LeftButton);
    EXPECT_TRUE(board.content().data(PasteboardType::png).has_value());
    QTest::mouseClick(button("ocr"), Qt::LeftButton);
    ASSERT_TRUE(controller.translation());
    EXPECT_TRUE(controller.expanded() && controller.previewExpanded() && controller.pinnedOpen());
    EXPECT_EQ(controller.translation()->item.id, clip->id);
    EXPECT_TRUE(controller.translation()->ocr && !controller.translation()->showsTranslation);

    // The upload: one at a time, shown in the status row, cancelled and cleared by dismissal.
    auto stop = std::make_shared<std::stop_source>();
    thumbnail.startThumbnailUpload(TaskHandle(stop));
    EXPECT_FALSE(button("screenshot.preview.upload")->isEnabled());
    EXPECT_EQ(thumbnail.thumbnail()->findChild<QLabel*>("uploadStatusText")->text(), QStringLiteral("Uploading..."));
    thumbnail.upload();
    EXPECT_EQ(calls.size(), 5u);
    thumbnail.showThumbnail(*clip);  // a new thumbnail replaces this one
    EXPECT_TRUE(stop->stop_requested());
    EXPECT_TRUE(!thumbnail.thumbnailUploading() && thumbnail.thumbnailUploadStatus().isEmpty());
    thumbnail.finishThumbnailUpload(TaskHandle(stop), "Link copied");
    EXPECT_TRUE(thumbnail.thumbnailUploadStatus().isEmpty());

    const std::function<void()> dismissals[] = {
        [&] { QTest::mouseClick(button("close"), Qt::LeftButton); },
        [&] { thumbnail.thumbnail()->close(); },  // the window manager's close
        [&] { thumbnail.dismissThumbnail(); },    // a capture starts, the editor opens (Escape: on X11)
    };
    for (const auto& dismiss : dismissals) {
        thumbnail.showThumbnail(*clip);
        thumbnail.setHovered(true);
        thumbnail.setDragging(true);
        QPointer<NotchPanel> window = thumbnail.thumbnail();
        dismiss();
        EXPECT_TRUE(!thumbnail.thumbnail() && !thumbnail.expiryRunning() && !thumbnail.hovered() && !thumbnail.dragging());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(window.isNull());
    }
}

TEST_F(ThumbnailTest, DeletedImageAndScreenChanges) {
    // Deleted while shown: the buttons report the failure; shown for a missing file, no preview.
    thumbnail.showThumbnail(*clip);
    std::filesystem::remove(store.root() / *clip->imageFile);
    QTest::mouseClick(button("copy"), Qt::LeftButton);
    EXPECT_EQ(store.message(), ClipboardMonitor::unavailableMessage);
    Clip missing = *clip;
    missing.digest = "gone";
    thumbnail.showThumbnail(missing);
    EXPECT_EQ(thumbnail.view()->preview(), nullptr);
    EXPECT_TRUE(button("pin")->isVisible());

    // The screens change under it: it moves back into the visible frame of the main screen.
    screens.setMouse({1430, 5});
    thumbnail.showThumbnail(*clip);
    EXPECT_EQ(thumbnail.thumbnail()->geometry(), QRect(1094, 599, 320, 280));
    screens.setScreens({FakeScreens::screen("small", 0, 0, 800, 250)});
    emit screens.screensChanged();
    EXPECT_EQ(thumbnail.thumbnail()->geometry(), QRect(480, 650, 320, 250));
}

}  // namespace
}  // namespace brevalto
