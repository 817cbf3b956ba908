// The workflow over a fake desktop, a scripted user and a real history in a private folder.
#include "AI/AIActionModel.h"
#include "AI/TextRecognition.h"
#include "AI/TranslatedImageModel.h"
#include "Automation/AutomationDispatcher.h"
#include "Automation/AutomationFailure.h"
#include "Automation/AutomationRequest.h"
#include "Capture/CaptureCoordinator.h"
#include "Capture/CaptureError.h"
#include "Capture/ScrollingCapture.h"
#include "ClipCore/Clip.h"
#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
#include "Document/ScreenshotDocumentSession.h"
#include "Editor/ScreenshotEditorController.h"
#include "Errors/AIError.h"
#include "Panel/PanelController.h"
#include "Platform/AppPaths.h"
#include "Platform/AtomicFile.h"
#include "Platform/Defaults.h"
#include "Platform/Linux/TesseractTextRecognizer.h"
#include "Upload/S3UploadController.h"
#include "Workflow/CaptureSettings.h"
#include "Workflow/FloatingThumbnail.h"
#include "Workflow/ScreenshotWorkflow.h"
#include "Workflow/TextIndexer.h"
#include "Workflow/WorkflowDialogs.h"

#include "FakeApps.h"
#include "FakeCaptureInteraction.h"
#include "FakeClock.h"
#include "FakePasteboard.h"
#include "FakeScreenCapture.h"
#include "FakeScreens.h"
#include "FakeTranslatedImageStore.h"
#include "ManualAIBackend.h"
#include "FakeScrollingInput.h"
#include "QtWait.h"
#include "ScrollPage.h"
#include "TestFolder.h"
#include "TestImages.h"
#include "TextImages.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace brevalto {
namespace {

namespace fs = std::filesystem;
using Command = AutomationRequest::Command;
using Post = AutomationPostAction;

// Answers the workflow's dialogs from a script and records the alerts.
struct ScriptedDialogs : WorkflowDialogs {
    std::optional<fs::path> saveFile, imageFile;
    QStringList alerts;
    std::optional<fs::path> startFolder;
    std::optional<fs::path> chooseSaveFile(const QString&, const fs::path& folder) override {
        startFolder = folder;
        return saveFile;
    }
    std::optional<fs::path> chooseImageFile() override { return imageFile; }
    std::optional<fs::path> chooseFolder() override { return {}; }
    void alert(const QString& message, const QString& informative) override { alerts << message + ": " + informative; }
};

QByteArray png(QColor colour, const char* format = "PNG") {
    QImage image(40, 20, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    return encodedImage(image, format);
}

std::size_t filesIn(const fs::path& folder) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

class WorkflowTest : public ::testing::Test {
protected:
    WorkflowTest() {
        screens.setScreens({FakeScreens::screen("main", 0, 0, 400, 300)});
        apps.setFrontmost(QStringLiteral("editor"), 4242);
        dispatcher.setOnRequest([this](const AutomationRequest& r) { workflow.handle(r); });
        workflow.setDispatcher(&dispatcher);
    }

    static AutomationRequest req(Command command, AutomationCaptureMode mode = AutomationCaptureMode::region,
                                 std::vector<Post> after = {}) {
        AutomationRequest r;
        r.command = command;
        r.mode = mode;
        r.postActions = std::move(after);
        return r;
    }
    std::string refusal(const AutomationRequest& r) {
        try {
            workflow.handle(r);
        } catch (const std::exception& e) {
            return e.what();
        }
        return {};
    }
    Clip stored(QColor colour = Qt::red) {
        std::optional<Clip> clip;
        store.addImage(png(colour), "test", 1.0, {}, [&](auto c) { clip = c; });
        EXPECT_TRUE(waitUntil([&] { return clip.has_value(); }));
        return *clip;
    }
    // The clips the workflow made, newest first.
    std::vector<Clip> images() const {
        std::vector<Clip> out;
        for (const auto& c : store.items())
            if (c.source != "test") out.push_back(c);
        return out;
    }
    QImage imageOf(const Clip& clip) const { return QImage(QString::fromStdString((store.root() / *clip.imageFile).string())); }
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
    FakeWheelScroller wheel;
    FakeRawKeyWatcher keys;
    ScreenshotWorkflow workflow{store, monitor, controller, defaults, screens,
                                {.screen = &screen, .apps = &apps, .clock = &clock, .wheel = &wheel, .keys = &keys,
                                 .stagingRoot = out.path() / "staging", .interaction = &ui, .timer = &timer,
                                 .dialogs = &dialogs, .temporaryRoot = out.path() / "tmp"}};
    AutomationDispatcher dispatcher;
};

TEST_F(WorkflowTest, RequestsRouteAndBusyRefusesCapturesAndImportsOnly) {
    EXPECT_EQ(refusal(req(Command::append)), ScreenshotWorkflow::kAppendWithoutDocument);
    EXPECT_EQ(refusal(req(Command::editor)), ScreenshotWorkflow::kEditorWithoutImage);
    AutomationRequest deleted = req(Command::editor);
    deleted.clipID = Uuid::random();
    EXPECT_EQ(refusal(deleted), ScreenshotWorkflow::kDocumentUnavailable);

    workflow.handle(req(Command::capture));  // waits in the region selection
    ASSERT_TRUE(workflow.busy() && controller.captureActive());
    for (const Command c : {Command::capture, Command::ocr, Command::append, Command::clipboard, Command::filePicker})
        EXPECT_EQ(refusal(req(c)), CaptureError::message(CaptureError::Kind::busy)) << rawValue(c);
    EXPECT_EQ(refusal(req(Command::history)), "");
    EXPECT_TRUE(controller.expanded());
    // Through the dispatcher, the refusal reaches the status line as its execution failure.
    workflow.run(ScreenshotCommand::delay, false);
    const QString failure = store.message();
    EXPECT_EQ(failure.toStdString(), AutomationFailure::message(AutomationFailure::Kind::execution));

    // Cancelling the selection shows nothing and gives the panel back.
    workflow.cancel();
    waitIdle();
    EXPECT_EQ(store.message(), failure);
    EXPECT_FALSE(controller.captureActive());
    EXPECT_TRUE(images().empty() && dialogs.alerts.isEmpty());

    // A scrolling capture is busy until its session closes, whoever closes it.
    workflow.execute(ScreenshotCommand::scrolling, false, 0, {});
    ASSERT_TRUE(workflow.scrolling() && workflow.busy());
    workflow.cancel();
    EXPECT_FALSE(workflow.busy() || controller.captureActive());
}

TEST_F(WorkflowTest, AScreenCaptureBecomesAClipFollowedByTheThumbnailOrTheEditor) {
    EXPECT_EQ(workflow.captureRequest(ScreenshotCommand::window, 3).applicationPID, 4242);
    workflow.handle(req(Command::capture, AutomationCaptureMode::screen));
    waitIdle();
    ASSERT_EQ(images().size(), 1u);
    EXPECT_EQ(images()[0].source, "Screenshot");
    EXPECT_EQ(images()[0].imageScale, 2.0);
    EXPECT_EQ(imageOf(images()[0]).size(), QSize(800, 600));
    EXPECT_EQ(store.message(), "Captured 800 x 600 px");
    ASSERT_TRUE(workflow.thumbnail().item());
    EXPECT_EQ(workflow.thumbnail().item()->id, images()[0].id);

    // The next capture takes the thumbnail away; "editor" opens the clip in the editor instead.
    defaults.set(CaptureSettings::afterKey, "editor");
    workflow.handle(req(Command::capture, AutomationCaptureMode::screen));
    EXPECT_FALSE(workflow.thumbnail().item());
    waitIdle();
    ASSERT_TRUE(workflow.editor()->session());
    EXPECT_EQ(workflow.editor()->session()->document().historyID, images()[0].id);
    workflow.execute(ScreenshotCommand::scrolling, false, 0, {});  // still open when the workflow goes
}

TEST_F(WorkflowTest, AppendGoesOnlyIntoTheDocumentOpenWhenTheCaptureStarted) {
    const Clip first = stored(Qt::red), second = stored(Qt::blue);
    workflow.openInEditor(first);
    EXPECT_EQ(defaults.string(CaptureSettings::lastEditorClipIDKey), first.id.string());
    const auto layers = [&] { return workflow.editor()->session()->document().layers.size(); };
    const std::size_t before = layers();
    workflow.handle(req(Command::append, AutomationCaptureMode::screen));
    waitIdle();
    EXPECT_EQ(layers(), before + 1);
    ASSERT_TRUE(controller.workspace());
    EXPECT_EQ(controller.workspace()->session(), workflow.editor()->session()) << "the editor shows again";

    // Another document opened during the selection takes nothing; the clip is stored anyway.
    workflow.handle(req(Command::append));
    ASSERT_TRUE(waitUntil([&] { return ui.selection.has_value(); }));
    workflow.openInEditor(second);
    ui.complete(CaptureCoordinator::Selection::region({0, 0, 50, 50}));
    waitIdle();
    EXPECT_EQ(layers(), before);
    EXPECT_EQ(images().size(), 2u);
    workflow.handle(req(Command::editor));  // without a clip: the open document
    EXPECT_EQ(workflow.editor()->session()->document().historyID, second.id);
}

TEST_F(WorkflowTest, AResultThatTurnsStaleWhileStoredIsDropped) {
    workflow.handle(req(Command::capture));
    ASSERT_TRUE(waitUntil([&] { return ui.selection.has_value(); }));
    ui.complete(CaptureCoordinator::Selection::region({10, 10, 100, 50}));
    workflow.cancel();  // the store is normalising the image now
    waitIdle();
    EXPECT_TRUE(images().empty());
    EXPECT_EQ(store.message(), "Image save cancelled");
}

TEST_F(WorkflowTest, CaptureFailuresShowTheirTextAndAlertUnlessPermissionIsMissing) {
    const struct {
        bool permission;
        ScreenshotCommand command;
        int delay;
        const char* text;
        bool alert;
    } rows[] = {
        {false, ScreenshotCommand::screen, 0, CaptureError::message(CaptureError::Kind::permissionDenied), false},
        {true, ScreenshotCommand::repeatRegion, 0, CaptureError::message(CaptureError::Kind::unavailableTarget), true},
        {true, ScreenshotCommand::screen, 61, CaptureCoordinator::delayOutOfRange, true},
    };
    for (const auto& row : rows) {
        screen.permission = row.permission;
        dialogs.alerts.clear();
        workflow.execute(row.command, false, row.delay, {});
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
    workflow.afterCapture(clip, true, {Post::save, Post::copy});
    EXPECT_EQ(store.message().split(u'\n').size(), 2) << store.message().toStdString();
    EXPECT_EQ(filesIn(out.path()), 0u);

    // No actions: auto-copy, then auto-save without a folder.
    board.refuseWrites = false;
    defaults.set(CaptureSettings::autoCopyKey, true);
    workflow.afterCapture(clip, false, {});
    EXPECT_EQ(store.message(), ScreenshotWorkflow::kAutoSaveNeedsFolder);
    EXPECT_TRUE(board.content().data(PasteboardType::png).has_value());
}

// Save dialogs, the thumbnail's and the editor's, start in the auto-save folder while it exists,
// else in the Pictures folder or at home.
TEST_F(WorkflowTest, SaveDialogsStartInTheAutoSaveFolder) {
    const Clip clip = stored();
    defaults.set(CaptureSettings::folderKey, out.path().string());
    workflow.saveAs(clip);
    EXPECT_EQ(dialogs.startFolder, out.path());
    EXPECT_EQ(workflow.editor()->saveFolder(), out.path());
    defaults.set(CaptureSettings::folderKey, (out / "gone").string());
    workflow.saveAs(clip);
    EXPECT_EQ(dialogs.startFolder, AppPaths::picturesFolder());
    EXPECT_EQ(workflow.editor()->saveFolder(), AppPaths::picturesFolder());
}

TEST_F(WorkflowTest, AutoSaveNeverReplacesAFileAndLeavesNothingWhenItFails) {
    const Clip clip = stored();
    defaults.set(CaptureSettings::folderKey, out.path().string());
    EXPECT_EQ(workflow.autoSave(clip), std::nullopt);
    EXPECT_EQ(workflow.autoSave(clip), std::nullopt);
    AtomicFile::write(out / "taken.png", std::string_view("keep"));
    EXPECT_EQ(filesIn(out.path()), 3u);
    // A taken name, a folder that vanished, and one that cannot take files (a file in its place).
    const std::pair<fs::path, QString> failing[] = {
        {out.path(), "taken.png"}, {out / "vanished", screenshotFileName()}, {out / "taken.png", screenshotFileName()}};
    for (const auto& [where, name] : failing) {
        defaults.set(CaptureSettings::folderKey, where.string());
        EXPECT_TRUE(workflow.autoSave(clip, name).value_or("").startsWith("Auto-save failed: ")) << where;
    }
    EXPECT_EQ(AtomicFile::read(out / "taken.png", 100), "keep");
    EXPECT_EQ(filesIn(out.path()), 3u) << "no staged file is left";
}

// Every change of the history schedules the indexing of its images; the indexer's own stored
// text schedules a run that finds nothing more to do.
TEST_F(WorkflowTest, NewImagesGetTheirTextIndexedInTheBackground) {
    ManualAIBackend ai;
    workflow.indexing().setRecognize([&ai](QObject* receiver, const QUrl& file, const QString& language, auto done) {
        return ai.recognize(receiver, file, language, std::move(done));
    });
    const Clip clip = stored();
    ASSERT_TRUE(waitUntil([&] { return ai.jobs.size() == 1; }));
    EXPECT_EQ(ai.last().file, QUrl::fromLocalFile(QString::fromStdString((store.root() / *clip.imageFile).string())));
    OCRResult result;
    result.text = QStringLiteral("Invoice 4711 total 99 EUR");
    ai.last().finish(result);
    ASSERT_TRUE(waitUntil([&] { return store.items().front().ocrText.has_value(); }));
    EXPECT_EQ(std::string(*store.items().front().ocrText), "Invoice 4711 total 99 EUR");
    ASSERT_TRUE(waitUntil([&] { return !workflow.indexing().running(); }));
    EXPECT_EQ(ai.jobs.size(), 1u);
}

TEST_F(WorkflowTest, FileImportsStopAt32MiBAndClipboardImportsPreferPNG) {
    // Exactly 32 MiB, chosen through a link, is taken; one byte more is refused before reading.
    QByteArray bytes = png(Qt::green);
    bytes.append(QByteArray(ClipStore::kMaxInputBytes - bytes.size(), '\0'));
    AtomicFile::write(out / "big.png", bytes);
    fs::create_symlink(out / "big.png", out / "link.png");
    dialogs.imageFile = out / "link.png";
    workflow.handle(req(Command::filePicker, AutomationCaptureMode::region, {Post::copy}));
    ASSERT_TRUE(waitUntil([&] { return images().size() == 1; }));
    EXPECT_EQ(images()[0].source, "Imported image");
    EXPECT_TRUE(board.content().data(PasteboardType::png).has_value());
    EXPECT_FALSE(workflow.thumbnail().item()) << "explicit actions replace the follow-up";
    AtomicFile::write(out / "big.png", bytes + '\0');
    workflow.importFile({});
    EXPECT_EQ(store.message(), ScreenshotWorkflow::kImageTooLarge);

    PasteboardItem item;
    item.setData(PasteboardType::tiff, png(Qt::blue, "TIFF"));
    item.setData(PasteboardType::png, png(Qt::red));
    auto importClipboard = [&] {
        workflow.importClipboard({});
        while (board.pendingReads()) board.deliver();
    };
    board.setContent(item);
    importClipboard();
    ASSERT_TRUE(waitUntil([&] { return images().size() == 2; }));
    EXPECT_EQ(images()[0].source, "Imported clipboard");
    EXPECT_EQ(imageOf(images()[0]).pixelColor(0, 0), QColor(Qt::red));
    board.copyText(QStringLiteral("just text"));
    importClipboard();
    EXPECT_EQ(store.message(), ScreenshotWorkflow::kNoClipboardImage);
}

// An automatic scrolling capture of a page that never moves keeps its first screen and says why.
TEST_F(WorkflowTest, AScrollingCaptureThatFindsNothingNewSaysItKeptOneScreen) {
    screen.windowList.push_back({{7, "Editor", "editor", 4242, ScreenCaptureWindow::Type::normal, {0, 0, 400, 300}, true}, {}});
    apps.front = AppIdentity{"editor", "editor", 4242, 7};
    apps.windowList = {{7, 4242, {0, 0, 400, 300}, 0}};
    screen.displayImages[display] = scrollPageImage(800, 600).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    workflow.execute(ScreenshotCommand::scrolling, false, 0, {});
    ASSERT_TRUE(waitUntil([&] { return ui.selection.has_value(); }));
    ui.complete(CaptureCoordinator::Selection::region({20, 20, 300, 200}));
    ASSERT_TRUE(waitUntil([&] { return !workflow.busy(); })) << workflow.scrolling()->status().toStdString();
    ASSERT_EQ(images().size(), 1u);
    EXPECT_EQ(images()[0].source, "Scrolling screenshot");
    EXPECT_EQ(store.message().toStdString(), "Saved 300 x 200 px: no new content appeared after scrolling, so one screen was kept.");
}

}  // namespace
}  // namespace brevalto

namespace brevalto {
namespace {

class EditorActionTest : public WorkflowTest {
protected:
    EditorActionTest() {
        controller.setAIActions(&ai);
        workflow.openInEditor(stored(Qt::green));
    }
    ScreenshotDocumentSession& session() { return *workflow.editor()->session(); }
    fs::path temporary() const { return out.path() / "tmp"; }
    std::vector<fs::path> temporaries() const {
        if (!fs::exists(temporary())) return {};
        return {fs::directory_iterator(temporary()), fs::directory_iterator()};
    }
    ManualAIBackend ai;
};

TEST_F(EditorActionTest, OCRAndTranslationReadAPrivateTemporaryPNGThatGoesWithThePreview) {
    for (const bool translate : {false, true}) {
        SCOPED_TRACE(translate);
        workflow.editor()->perform(translate ? ScreenshotEditorAction::translateText : ScreenshotEditorAction::ocr);
        const std::shared_ptr<AIActionModel> model = controller.translation();
        ASSERT_TRUE(model);
        ASSERT_EQ(temporaries().size(), 1u);
        const fs::path file = temporaries()[0];
        EXPECT_TRUE(file.filename().string().starts_with("Brevalto-OCR-"));
        EXPECT_EQ(file.extension(), ".png");
        EXPECT_TRUE(Uuid::parse(file.stem().string().substr(13)).has_value());
        EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(model->sourceURL, QUrl::fromLocalFile(QString::fromStdString(file.string())));
        EXPECT_EQ(ai.last().file, model->sourceURL) << "recognition reads the temporary PNG";
        EXPECT_EQ(model->sourcePreview.size(), QSize(40, 20)) << "the preview shows the rendered image";
        EXPECT_EQ(model->item.source, "Editor selection");
        EXPECT_FALSE(model->item.imageFile);
        EXPECT_EQ(model->showsTranslation, translate);
        EXPECT_EQ(controller.parentEditor(), workflow.editor()->session()) << "the editor is kept underneath";
        EXPECT_EQ(images().size(), 0u) << "the snapshot never enters the history";
        controller.setPreviewExpanded(false);  // back to the editor
        EXPECT_TRUE(temporaries().empty());
    }
    // A preview that another replaces takes its file with it.
    workflow.editor()->perform(ScreenshotEditorAction::ocr);
    controller.showTranslation(Clip(Clip::Kind::text, SharedText("hello"), std::nullopt, "d", 5, "test"));
    EXPECT_TRUE(temporaries().empty());
}

TEST_F(EditorActionTest, TextReplacementHoldsOnlyForTheRevisionTheOCRSaw) {
    workflow.editor()->perform(ScreenshotEditorAction::ocr);
    auto model = controller.translation();
    ASSERT_TRUE(model && model->replaceText);
    model->replaceText();  // unchanged: the region translator opens on the selection
    ASSERT_TRUE(controller.workspace());
    EXPECT_EQ(controller.workspace()->kind(), PanelController::Workspace::Kind::regions);
    EXPECT_EQ(temporaries().size(), 1u) << "the preview's file went with it; the translator has its own";

    workflow.editor()->perform(ScreenshotEditorAction::ocr);
    model = controller.translation();
    session().setSelectionRect(QRectF(1, 1, 5, 5));
    session().crop();  // an edit: a new revision
    const std::size_t layersBefore = session().document().layers.size();
    try {
        model->replaceText();
        ADD_FAILURE() << "replaced after an edit";
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), ScreenshotWorkflow::kDocumentChanged);
    }
    EXPECT_EQ(session().document().layers.size(), layersBefore);
    EXPECT_EQ(controller.translation(), model);

    // An OCR opened with no document, replacing into one open now: a change.
    EXPECT_THROW(workflow.replaceEditorText(std::nullopt), AIError);
}

TEST_F(EditorActionTest, TheRegionTranslatorTargetsThePrimaryLanguageAndDropsItsFileOnClose) {
    for (const auto& [primary, target] : std::vector<std::pair<std::optional<std::string>, std::string>>{
             {std::nullopt, "en"}, {"de", "de"}}) {
        if (primary) defaults.set("translation.primary", *primary);
        workflow.editor()->perform(ScreenshotEditorAction::translateImage);
        ASSERT_TRUE(controller.workspace());
        const auto regions = controller.workspace()->regionsModel();
        ASSERT_TRUE(regions);
        EXPECT_EQ(regions->target(), target);
        EXPECT_TRUE(regions->appliesToDocument());
        EXPECT_EQ(controller.parentEditor(), workflow.editor()->session());
        EXPECT_EQ(temporaries().size(), 1u);
        controller.closeCurrentWorkspace();
        EXPECT_TRUE(temporaries().empty());
    }
}

TEST_F(EditorActionTest, SaveUploadAndWriteFailuresReportToTheEditor) {
    workflow.editor()->perform(ScreenshotEditorAction::saveAsNewItem);
    ASSERT_TRUE(waitUntil([&] { return images().size() == 1; }));
    EXPECT_EQ(images()[0].source, ScreenshotWorkflow::kEditSource);
    EXPECT_EQ(images()[0].imageScale, session().document().sourceScale);
    ASSERT_TRUE(waitUntil([&] { return workflow.thumbnail().item().has_value(); }));
    EXPECT_EQ(workflow.thumbnail().item()->id, images()[0].id);

    workflow.editor()->perform(ScreenshotEditorAction::upload);
    EXPECT_EQ(session().status(), S3UploadController::setupMessage);

    // A temporary root that cannot be used: the error in the status, no preview.
    std::ofstream(temporary()) << "not a folder";
    session().setStatus({});
    workflow.editor()->perform(ScreenshotEditorAction::ocr);
    fs::remove(temporary());
    EXPECT_FALSE(session().status().isEmpty());
    EXPECT_FALSE(controller.translation());
    // No workspace takes the written file: it goes at once.
    controller.setAIActions(nullptr);
    workflow.editor()->perform(ScreenshotEditorAction::ocr);
    EXPECT_FALSE(controller.translation());
    EXPECT_TRUE(temporaries().empty());
}

// A line of 10-pixel UI text, selected with a pixel to spare above and below, recognised by the
// real engine and translated into longer words: the translation previews and applies inside the
// line's box, and every pixel outside that box keeps its colour.
TEST_F(EditorActionTest, SmallTextTranslatesInsideItsLineBox) {
    TesseractTextRecognizer recognizer;
    FakeTranslatedImageStore history;
    for (const auto& [line, translation] : std::vector<std::pair<QString, std::string>>{
             {QStringLiteral("Save changes"), "\u00C4nderungen speichern"}, {QStringLiteral("Open file"), "Datei \u00F6ffnen"}}) {
        SCOPED_TRACE(line.toStdString());
        const TextImage text = renderTextLines(QSize(140, 36), {line}, pixelFont(QStringLiteral("DejaVu Sans"), 10), 12);
        std::optional<Clip> clip;
        store.addImage(encodedImage(text.image, "PNG"), "test", 1.0, {}, [&](auto c) { clip = c; });
        ASSERT_TRUE(waitUntil([&] { return clip.has_value(); }));
        workflow.openInEditor(*clip);
        const QRect selection = text.lineRects[0].adjusted(-6, -1, 6, 1);
        ASSERT_LE(selection.height(), 12);
        session().setSelectionRect(QRectF(selection));
        workflow.editor()->perform(ScreenshotEditorAction::translateImage);
        ASSERT_TRUE(controller.workspace() && controller.workspace()->regionsModel());
        TranslatedImageModel& model = *controller.workspace()->regionsModel();
        ai.last().finish(recognizeText(recognizer, ai.last().file, QStringLiteral("auto"), std::nullopt, {}));
        ASSERT_EQ(model.regions().size(), 1u) << model.status().toStdString();
        EXPECT_EQ(model.regions()[0].original.toStdString(), line.toStdString());
        model.translateRegions();
        ai.last().reply(nlohmann::json{{"regions", {{{"id", 0}, {"text", translation}}}}}.dump());
        model.updatePreview();
        ai.work.runAll();
        EXPECT_EQ(model.status().toStdString(), "Preview ready. Check the masks, text and layout before saving.");
        model.save(history);
        EXPECT_EQ(model.status().toStdString(), "Saved a revision in the document. The original image is unchanged.");

        const ScreenshotLayer& layer = session().document().layers.back();
        ASSERT_EQ(layer.kind, ScreenshotLayerKind::translatedText);
        EXPECT_EQ(layer.text, translation);
        const QRect box = layer.frame.toAlignedRect();
        EXPECT_TRUE(selection.contains(box)) << box.x() << "," << box.y() << " " << box.width() << "x" << box.height();
        const QImage result = session().renderNow(false).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        ASSERT_EQ(result.size(), text.image.size());
        int changedOutside = 0, inkInside = 0;
        for (int y = 0; y < result.height(); ++y)
            for (int x = 0; x < result.width(); ++x) {
                if (!box.contains(x, y))
                    changedOutside += result.pixel(x, y) != text.image.pixel(x, y);
                else
                    inkInside += qGray(result.pixel(x, y)) < 160;
            }
        EXPECT_EQ(changedOutside, 0);
        EXPECT_GT(inkInside, 8);
        controller.closeCurrentWorkspace();
    }
}

}  // namespace
}  // namespace brevalto
