// The workflow over a fake desktop, a scripted user and a real history in a private folder.
#include "Automation/AutomationDispatcher.h"
#include "Automation/AutomationFailure.h"
#include "Automation/AutomationRequest.h"
#include "Capture/CaptureCoordinator.h"
#include "Capture/CaptureEngine.h"
#include "Capture/CaptureError.h"
#include "ClipCore/Clip.h"
#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
#include "Document/ScreenshotDocumentSession.h"
#include "Editor/ScreenshotEditorController.h"
#include "Panel/PanelController.h"
#include "Platform/AtomicFile.h"
#include "Platform/Defaults.h"
#include "Workflow/CaptureSettings.h"
#include "Workflow/FloatingThumbnail.h"
#include "Workflow/ScreenshotWorkflow.h"
#include "Workflow/WorkflowDialogs.h"

#include "FakeApps.h"
#include "FakeCaptureInteraction.h"
#include "FakeClock.h"
#include "FakePasteboard.h"
#include "FakeScreenCapture.h"
#include "FakeScreens.h"
#include "FakeScrollingInput.h"
#include "QtWait.h"
#include "TestFolder.h"
#include "TestImages.h"

#include <gtest/gtest.h>

namespace brevalto {
namespace {

namespace fs = std::filesystem;
using Command = AutomationRequest::Command;
using Post = AutomationPostAction;

// Answers the workflow's dialogs from a script and counts the alerts.
struct ScriptedDialogs : WorkflowDialogs {
    std::optional<fs::path> saveFile, imageFile, folder;
    QStringList alerts;
    std::optional<fs::path> chooseSaveFile(const QString&) override { return saveFile; }
    std::optional<fs::path> chooseImageFile() override { return imageFile; }
    std::optional<fs::path> chooseFolder() override { return folder; }
    void alert(const QString& message, const QString& informative) override { alerts << message + ": " + informative; }
};

QImage filled(int w, int h, QColor c) {
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(c);
    return image;
}

std::vector<fs::path> filesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder)) files.push_back(entry.path().filename());
    return files;
}

class WorkflowTest : public ::testing::Test {
protected:
    WorkflowTest() {
        screens.setScreens({FakeScreens::screen("main", 0, 0, 400, 300)});
        apps.setFrontmost(QStringLiteral("editor"), 4242);
        dispatcher.setOnRequest([this](const AutomationRequest& r) { workflow.handle(r); });
        workflow.setDispatcher(&dispatcher);
    }

    AutomationRequest capture(AutomationCaptureMode mode, std::vector<Post> after = {}, Command command = Command::capture) {
        AutomationRequest r;
        r.command = command;
        r.mode = mode;
        r.postActions = std::move(after);
        return r;
    }
    // Stores an image clip and waits for it.
    Clip stored(QColor colour = Qt::red) {
        std::optional<Clip> clip;
        store.addImage(encodedImage(filled(40, 20, colour), "PNG"), "test", 1.0, {}, [&](auto c) { clip = c; });
        EXPECT_TRUE(waitUntil([&] { return clip.has_value(); }));
        return *clip;
    }
    std::vector<Clip> images() const {
        std::vector<Clip> out;
        for (const auto& c : store.items())
            if (c.source != "test") out.push_back(c);
        return out;
    }
    QImage imageOf(const Clip& clip) const {
        return QImage(QString::fromStdString((store.root() / *clip.imageFile).string()));
    }
    void waitIdle() { ASSERT_TRUE(waitUntil([&] { return !workflow.busy(); })); }

    TestFolder folder, out;
    FakeClock clock;
    ClipStore store{folder.path(), clock};
    FakePasteboard board;
    FakeApps apps;
    FakeScreens screens;
    Defaults defaults;
    ClipboardMonitor monitor{store, board, apps, defaults};
    PanelController controller{store, monitor, screens, apps, defaults};
    FakeScreenCapture screen;
    std::uint32_t display = screen.addDisplay({0, 0, 400, 300}, 2);
    FakeCaptureInteraction ui;
    ManualCaptureTimer timer{clock};
    ScriptedDialogs dialogs;
    ScreenshotWorkflow workflow{store, monitor, controller, defaults, screens, {.screen = &screen, .apps = &apps, .clock = &clock, .interaction = &ui, .timer = &timer, .dialogs = &dialogs}};
    AutomationDispatcher dispatcher;
};

TEST_F(WorkflowTest, RequestsRouteAndBusyRefusesCapturesAndImportsOnly) {
    auto refusal = [&](const AutomationRequest& r) -> std::string {
        try {
            workflow.handle(r);
        } catch (const std::exception& e) {
            return e.what();
        }
        return {};
    };
    EXPECT_EQ(refusal(capture(AutomationCaptureMode::region, {}, Command::append)),
              ScreenshotWorkflow::kAppendWithoutDocument);
    EXPECT_EQ(refusal(capture(AutomationCaptureMode::region, {}, Command::editor)),
              ScreenshotWorkflow::kEditorWithoutImage);
    AutomationRequest deleted = capture(AutomationCaptureMode::region, {}, Command::editor);
    deleted.clipID = Uuid::random();
    EXPECT_EQ(refusal(deleted), ScreenshotWorkflow::kDocumentUnavailable);

    workflow.handle(capture(AutomationCaptureMode::region));  // waits in the region selection
    ASSERT_TRUE(workflow.busy());
    EXPECT_TRUE(controller.captureActive());
    const std::string busy = CaptureError::message(CaptureError::Kind::busy);
    for (const Command c : {Command::capture, Command::ocr, Command::append, Command::clipboard, Command::filePicker})
        EXPECT_EQ(refusal(capture(AutomationCaptureMode::screen, {}, c)), busy) << rawValue(c);
    EXPECT_EQ(refusal(capture(AutomationCaptureMode::region, {}, Command::history)), "");
    EXPECT_TRUE(controller.expanded());
    // Through the dispatcher, the refusal reaches the status line as its execution failure.
    defaults.set(CaptureSettings::delayKey, 75);
    EXPECT_EQ(ScreenshotWorkflow::request(ScreenshotCommand::delay, false, defaults).delaySeconds, 60);
    EXPECT_EQ(ScreenshotWorkflow::request(ScreenshotCommand::repeatRegion, true, defaults).mode,
              AutomationCaptureMode::repeat);
    workflow.run(ScreenshotCommand::delay, false);
    const QString failure = store.message();
    EXPECT_EQ(failure.toStdString(), AutomationFailure::message(AutomationFailure::Kind::execution));

    // Cancelling the selection shows nothing and gives the panel back.
    workflow.cancel();
    waitIdle();
    EXPECT_EQ(store.message(), failure);
    EXPECT_FALSE(controller.captureActive());
    EXPECT_TRUE(images().empty());
    EXPECT_TRUE(dialogs.alerts.isEmpty());
}

TEST_F(WorkflowTest, AScreenCaptureBecomesAClipWithItsSizeInTheStatus) {
    defaults.set(CaptureSettings::backgroundKey, "wallpaper");
    defaults.set(CaptureSettings::cursorKey, true);
    EXPECT_EQ(workflow.captureRequest(ScreenshotCommand::delay, 3).mode, CaptureMode::region);
    const CaptureRequest built = workflow.captureRequest(ScreenshotCommand::window, 3);
    EXPECT_EQ(built.background, CaptureBackground::wallpaper);
    EXPECT_TRUE(built.includesCursor && built.shadows);
    EXPECT_EQ(built.applicationPID, 4242);

    workflow.handle(capture(AutomationCaptureMode::screen));
    waitIdle();
    ASSERT_EQ(images().size(), 1u);
    EXPECT_EQ(images()[0].source, "Screenshot");
    EXPECT_EQ(images()[0].imageScale, 2.0);
    EXPECT_EQ(imageOf(images()[0]).size(), QSize(800, 600));
    EXPECT_EQ(store.message(), "Captured 800 x 600 px");
    EXPECT_FALSE(controller.captureActive() || workflow.activeID());
    ASSERT_TRUE(workflow.thumbnail().item()) << "the thumbnail follows by default";
    EXPECT_EQ(workflow.thumbnail().item()->id, images()[0].id);

    // The next capture takes the thumbnail away; "editor" opens the clip in the editor instead.
    defaults.set(CaptureSettings::afterKey, "editor");
    workflow.handle(capture(AutomationCaptureMode::screen));
    EXPECT_FALSE(workflow.thumbnail().item());
    waitIdle();
    ASSERT_TRUE(workflow.editor()->session());
    EXPECT_EQ(workflow.editor()->session()->document().historyID, images()[0].id);
}

TEST_F(WorkflowTest, ClosingAScrollingCaptureAlwaysEndsBusy) {
    FakeWheelScroller wheel;
    FakeRawKeyWatcher keys;
    ScreenshotWorkflow scrolling{store, monitor, controller, defaults, screens,
                                 {.screen = &screen, .apps = &apps, .clock = &clock, .wheel = &wheel, .keys = &keys,
                                  .stagingRoot = out.path(), .interaction = &ui, .timer = &timer, .dialogs = &dialogs}};
    scrolling.execute(ScreenshotCommand::scrolling, false, 0, {});
    ASSERT_TRUE(scrolling.busy() && scrolling.scrolling());
    EXPECT_TRUE(controller.captureActive());
    scrolling.cancel();
    EXPECT_FALSE(scrolling.busy() || controller.captureActive());
    EXPECT_TRUE(waitUntil([&] { return !scrolling.scrolling(); }));
}

TEST_F(WorkflowTest, AppendGoesOnlyIntoTheDocumentOpenWhenTheCaptureStarted) {
    const Clip first = stored(Qt::red), second = stored(Qt::blue);
    workflow.openInEditor(first);
    EXPECT_EQ(defaults.string(CaptureSettings::lastEditorClipIDKey), first.id.string());
    ASSERT_TRUE(workflow.editor()->session());
    const auto layers = [&] { return workflow.editor()->session()->document().layers.size(); };
    const std::size_t before = layers();
    workflow.handle(capture(AutomationCaptureMode::screen, {}, Command::append));
    waitIdle();
    EXPECT_EQ(layers(), before + 1);
    ASSERT_TRUE(controller.workspace());
    EXPECT_EQ(controller.workspace()->session(), workflow.editor()->session()) << "the editor shows again";

    // Another document opened during the selection takes nothing; the clip is stored anyway.
    workflow.handle(capture(AutomationCaptureMode::region, {}, Command::append));
    ASSERT_TRUE(waitUntil([&] { return ui.selection.has_value(); }));
    workflow.openInEditor(second);
    ui.complete(CaptureCoordinator::Selection::region({0, 0, 50, 50}));
    waitIdle();
    EXPECT_EQ(layers(), before);
    EXPECT_EQ(images().size(), 2u);
    // An editor request without a clip shows the open document again.
    workflow.handle(capture(AutomationCaptureMode::region, {}, Command::editor));
    EXPECT_EQ(workflow.editor()->session()->document().historyID, second.id);
}

TEST_F(WorkflowTest, AResultThatTurnsStaleWhileStoredIsDropped) {
    workflow.handle(capture(AutomationCaptureMode::region));
    ASSERT_TRUE(waitUntil([&] { return ui.selection.has_value(); }));
    ui.complete(CaptureCoordinator::Selection::region({10, 10, 100, 50}));
    workflow.cancel();  // the image is being normalised by the store now
    waitIdle();
    EXPECT_TRUE(images().empty());
    EXPECT_EQ(store.message(), "Image save cancelled");
    EXPECT_TRUE(dialogs.alerts.isEmpty());
}

TEST_F(WorkflowTest, CaptureFailuresShowTheirTextAndAlertUnlessPermissionIsMissing) {
    const struct {
        std::function<void()> setUp;
        AutomationCaptureMode mode;
        std::int64_t delay;
        const char* text;
        bool alert;
    } rows[] = {
        {[&] { screen.permission = false; }, AutomationCaptureMode::screen, 0,
         CaptureError::message(CaptureError::Kind::permissionDenied), false},
        {[&] { screen.permission = true; }, AutomationCaptureMode::repeat, 0,
         CaptureError::message(CaptureError::Kind::unavailableTarget), true},
        {[] {}, AutomationCaptureMode::screen, 61, CaptureCoordinator::delayOutOfRange, true},
    };
    for (const auto& row : rows) {
        row.setUp();
        dialogs.alerts.clear();
        workflow.execute(screenshotCommandFromRaw(rawValue(row.mode) == "repeat" ? "repeatRegion" : rawValue(row.mode))
                             .value_or(ScreenshotCommand::region),
                         false, static_cast<int>(row.delay), {});
        waitIdle();
        EXPECT_EQ(store.message().toStdString(), row.text);
        EXPECT_EQ(dialogs.alerts, row.alert ? QStringList{QStringLiteral("Capture could not finish: ") + row.text}
                                            : QStringList{});
        EXPECT_FALSE(controller.captureActive());
    }
    EXPECT_TRUE(images().empty());
}

TEST_F(WorkflowTest, AfterCaptureActionsRunInOrderAndTheirFailuresAreJoined) {
    const Clip clip = stored();
    // Explicit actions: the settings' steps do not run; a failed save does not stop the copy.
    defaults.set(CaptureSettings::autoSaveKey, true);
    dialogs.saveFile = out / "missing" / "shot.png";
    board.refuseWrites = true;
    workflow.afterCapture(clip, true, {Post::save, Post::copy, Post::thumbnail});
    const QStringList lines = store.message().split(u'\n');
    ASSERT_EQ(lines.size(), 2) << store.message().toStdString();
    EXPECT_FALSE(lines[0].isEmpty());
    EXPECT_FALSE(lines[1].isEmpty());
    EXPECT_TRUE(filesIn(out.path()).empty());

    // Save-as replaces the chosen file and names it in the status.
    board.refuseWrites = false;
    AtomicFile::write(out / "shot.png", std::string_view("old"));
    dialogs.saveFile = out / "shot.png";
    workflow.afterCapture(clip, true, {Post::copy, Post::save});
    EXPECT_EQ(store.message(), "Saved shot.png");
    EXPECT_EQ(QImage(QString::fromStdString((out / "shot.png").string())).size(), QSize(40, 20));
    EXPECT_TRUE(board.content().data(PasteboardType::png).has_value());

    // No actions: auto-copy, then auto-save without a folder.
    board.copyText(QStringLiteral("other"));
    defaults.set(CaptureSettings::autoCopyKey, true);
    workflow.afterCapture(clip, false, {});
    EXPECT_EQ(store.message(), ScreenshotWorkflow::kAutoSaveNeedsFolder);
    EXPECT_TRUE(board.content().data(PasteboardType::png).has_value());
}

TEST_F(WorkflowTest, AutoSaveNeverReplacesAFileAndLeavesNothingWhenItFails) {
    const Clip clip = stored();
    defaults.set(CaptureSettings::folderKey, out.path().string());
    EXPECT_EQ(workflow.autoSave(clip), std::nullopt);
    EXPECT_EQ(workflow.autoSave(clip), std::nullopt);
    EXPECT_EQ(filesIn(out.path()).size(), 2u);

    AtomicFile::write(out / "taken.png", std::string_view("keep"));
    const auto clash = workflow.autoSave(clip, QStringLiteral("taken.png"));
    ASSERT_TRUE(clash);
    EXPECT_TRUE(clash->startsWith("Auto-save failed: "));
    EXPECT_EQ(AtomicFile::read(out / "taken.png", 100), "keep");
    EXPECT_EQ(filesIn(out.path()).size(), 3u) << "no staged file is left";

    // A folder that vanished, and one that cannot take files (a plain file stands in its place).
    for (const fs::path& bad : {out / "vanished", out / "taken.png"}) {
        defaults.set(CaptureSettings::folderKey, bad.string());
        const auto failure = workflow.autoSave(clip);
        ASSERT_TRUE(failure);
        EXPECT_TRUE(failure->startsWith("Auto-save failed: "));
    }
    EXPECT_EQ(filesIn(out.path()).size(), 3u);
}

TEST_F(WorkflowTest, FileImportsStopAt32MiBAndClipboardImportsPreferPNG) {
    // A PNG padded to exactly 32 MiB, chosen through a link, is taken; one byte more is refused
    // before reading.
    QByteArray png = encodedImage(filled(30, 10, Qt::green), "PNG");
    png.append(QByteArray(ClipStore::kMaxInputBytes - png.size(), '\0'));
    AtomicFile::write(out / "big.png", png);
    fs::create_symlink(out / "big.png", out / "link.png");
    dialogs.imageFile = out / "link.png";
    workflow.handle(capture(AutomationCaptureMode::region, {Post::copy}, Command::filePicker));
    ASSERT_TRUE(waitUntil([&] { return images().size() == 1; }));
    EXPECT_EQ(images()[0].source, "Imported image");
    EXPECT_TRUE(board.content().data(PasteboardType::png).has_value());
    png.append('\0');
    AtomicFile::write(out / "big.png", png);
    workflow.importFile({});
    EXPECT_EQ(store.message(), ScreenshotWorkflow::kImageTooLarge);

    auto importClipboard = [&] {
        workflow.importClipboard({});
        while (board.pendingReads()) board.deliver();
    };
    PasteboardItem item;
    item.setData(PasteboardType::tiff, encodedImage(filled(8, 8, Qt::blue), "TIFF"));
    item.setData(PasteboardType::png, encodedImage(filled(8, 8, Qt::red), "PNG"));
    board.setContent(item);
    importClipboard();
    ASSERT_TRUE(waitUntil([&] { return images().size() == 2; }));
    EXPECT_EQ(images()[0].source, "Imported clipboard");
    EXPECT_EQ(imageOf(images()[0]).pixelColor(0, 0), QColor(Qt::red));

    board.copyText(QStringLiteral("just text"));
    importClipboard();
    EXPECT_EQ(store.message(), ScreenshotWorkflow::kNoClipboardImage);
}

}  // namespace
}  // namespace brevalto
