// Uploads from the history, the floating thumbnail and the editor, through the real upload
// controller to a loopback server.
#include "Capture/CaptureError.h"
#include "ClipCore/Clip.h"
#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
#include "Document/ScreenshotDocumentSession.h"
#include "Editor/ScreenshotEditorController.h"
#include "Panel/NotchPanel.h"
#include "Panel/PanelController.h"
#include "Platform/Defaults.h"
#include "Platform/Linux/CurlHttpClient.h"
#include "Upload/S3Failure.h"
#include "Upload/S3UploadController.h"
#include "Workflow/FloatingThumbnail.h"
#include "Workflow/ScreenshotWorkflow.h"

#include "FakeApps.h"
#include "FakeClock.h"
#include "FakeKeychain.h"
#include "FakePasteboard.h"
#include "FakeScreenCapture.h"
#include "FakeScreens.h"
#include "LoopbackHttpServer.h"
#include "QtWait.h"
#include "R2Destination.h"
#include "ScriptedUploadDialogs.h"
#include "TestFolder.h"
#include "TestImages.h"

#include <QToolButton>

#include <gtest/gtest.h>

namespace brevalto {
namespace {

class WorkflowUploadNet : public ::testing::Test {
protected:
    WorkflowUploadNet() {
        screens.setScreens({FakeScreens::screen("main", 0, 0, 800, 600)});
        S3Settings settings;
        settings.endpoint = loopback.url();
        settings.bucket = "photos";
        uploads.setSettings(settings);
        uploads.saveSettings("AKIA1", "secret-key-0123456789");
        workflow.setUploads(&uploads);
    }
    Clip stored(QColor colour) {
        QImage image(40, 20, QImage::Format_ARGB32_Premultiplied);
        image.fill(colour);
        std::optional<Clip> clip;
        store.addImage(encodedImage(image, "PNG"), "test", 1.0, {}, [&](auto c) { clip = c; });
        EXPECT_TRUE(waitUntil([&] { return clip.has_value(); }));
        return *clip;
    }
    std::size_t puts() const {
        std::size_t n = 0;
        for (const auto& request : loopback.requests()) n += request.method == "PUT";
        return n;
    }
    void settle() { ASSERT_TRUE(waitUntil([&] { return !uploads.busy(); })); }
    QString link() const { return QString::fromUtf8(*board.content().data(PasteboardType::string)); }

    LoopbackHttpServer loopback;
    TestFolder folder;
    FakeClock clock;
    ClipStore store{folder.path() / "history", clock};
    FakePasteboard board;
    FakeApps apps;
    FakeScreens screens;
    Defaults defaults;
    ClipboardMonitor monitor{store, board, apps, defaults};
    PanelController controller{store, monitor, screens, apps, defaults};
    FakeScreenCapture screen;
    ScriptedUploadDialogs dialogs;
    FakeKeychain keychain;
    CurlHttpClient http;
    S3UploadController uploads{&board, defaults, "app.brevalto.S3", folder / "history" / "uploads.json",
                               S3UploadController::Parts{.keychain = &keychain, .http = &http, .dialogs = &dialogs,
                                                         .allowLoopbackHTTP = true}};
    ScreenshotWorkflow workflow{store, monitor, controller, defaults, screens,
                                {.screen = &screen, .apps = &apps, .clock = &clock, .uploadDialogs = &dialogs}};
};

TEST_F(WorkflowUploadNet, HistoryImagesUploadOnceAndThenCopyTheirLink) {
    const Clip clip = stored(Qt::red);
    int changes = 0;
    QObject::connect(&workflow, &ScreenshotActions::uploadStateChanged, [&] { ++changes; });
    EXPECT_FALSE(workflow.hasLiveUpload(clip.id));
    EXPECT_TRUE(workflow.uploadAndCopyLink(clip).isValid());
    EXPECT_EQ(store.message(), "Uploading...");
    EXPECT_TRUE(workflow.uploadBusy());
    settle();
    ASSERT_TRUE(waitUntil([&] { return store.message() == "Link copied."; }));
    EXPECT_TRUE(link().startsWith(QString::fromStdString(loopback.url("/photos/brevalto/"))));
    EXPECT_TRUE(workflow.hasLiveUpload(clip.id));
    EXPECT_GT(changes, 0);
    // The uploaded image is the rendered document, the same each time: one PUT, two links.
    EXPECT_TRUE(workflow.uploadAndCopyLink(clip).isValid());
    EXPECT_EQ(store.message(), "Copying link...");
    settle();
    ASSERT_TRUE(waitUntil([&] { return store.message() == "Link copied."; }));
    EXPECT_EQ(puts(), 1u);
    EXPECT_EQ(uploads.history().size(), 1u);

    // While an upload runs, a second one is refused with a sentence.
    loopback.enqueue(ScriptedReply::stalled());
    const Clip other = stored(Qt::blue);
    const std::size_t sent = loopback.requestCount();
    ASSERT_TRUE(workflow.uploadAndCopyLink(other).isValid());
    EXPECT_FALSE(workflow.uploadAndCopyLink(other).isValid());
    ASSERT_TRUE(waitUntil([&] { return loopback.requestCount() > sent; }));
    EXPECT_EQ(store.message().toStdString(), ScreenshotWorkflow::kUploadRunning);
    uploads.cancelRunningOperation();
    ASSERT_TRUE(waitUntil([&] { return store.message().toStdString() == S3Failure::cancelled().what(); }));

    // Public destinations ask first; "Don't ask again" with Cancel stores nothing.
    S3Settings settings = uploads.settings();
    settings.linkMode = S3Settings::LinkMode::publicURL;
    settings.publicBaseURL = "https://cdn.example.com";
    uploads.setSettings(settings);
    dialogs.tickDontAskAgain = true;
    dialogs.publicAnswers = {false, true};
    store.setMessage("before");
    EXPECT_FALSE(workflow.uploadAndCopyLink(other).isValid());
    EXPECT_EQ(store.message(), "before");
    EXPECT_FALSE(defaults.contains(ScreenshotWorkflow::kPublicConfirmedKey));
    EXPECT_TRUE(workflow.uploadAndCopyLink(other).isValid());
    settle();
    EXPECT_TRUE(defaults.boolValue(ScreenshotWorkflow::kPublicConfirmedKey));
    ASSERT_TRUE(waitUntil([&] { return store.message() == "Link copied."; }));
    EXPECT_TRUE(link().startsWith("https://cdn.example.com/brevalto/"));
    EXPECT_TRUE(workflow.uploadAndCopyLink(stored(Qt::green)).isValid());
    settle();
    EXPECT_EQ(dialogs.publicQuestions, 2);

    // Clips without an image and workflows without uploads say why.
    Clip text = clip;
    text.imageFile.reset();
    workflow.uploadAndCopyLink(text);
    EXPECT_EQ(store.message().toStdString(), CaptureError::message(CaptureError::Kind::missingImage));
    workflow.setUploads(nullptr);
    workflow.uploadAndCopyLink(clip);
    EXPECT_EQ(store.message(), S3UploadController::setupMessage);
}

TEST_F(WorkflowUploadNet, TheThumbnailFollowsItsUploadUntilItIsDismissed) {
    const Clip clip = stored(Qt::red);
    FloatingThumbnail& thumbnail = workflow.thumbnail();
    thumbnail.showThumbnail(clip);
    auto* button = thumbnail.thumbnail()->findChild<QToolButton*>("screenshot.preview.upload");
    ASSERT_NE(button, nullptr);
    EXPECT_TRUE(button->isEnabled());

    // Cancel request on the Upload page ends the thumbnail's upload with the cancelled text.
    loopback.enqueue(ScriptedReply::stalled());
    button->click();
    EXPECT_TRUE(thumbnail.thumbnailUploading());
    EXPECT_EQ(thumbnail.thumbnailUploadStatus(), "Uploading...");
    EXPECT_FALSE(button->isEnabled());
    EXPECT_FALSE(workflow.uploadFromThumbnail(clip).isValid());  // one at a time
    ASSERT_TRUE(waitUntil([&] { return loopback.requestCount() == 1; }));
    uploads.cancelRunningOperation();
    EXPECT_FALSE(thumbnail.thumbnailUploading());
    EXPECT_EQ(thumbnail.thumbnailUploadStatus().toStdString(), S3Failure::cancelled().what());
    EXPECT_TRUE(button->isEnabled());

    // Dismissed mid-upload: the row clears at once, the transfer goes on, and its outcome
    // reaches the status line.
    button->click();
    EXPECT_TRUE(uploads.busy());
    thumbnail.dismissThumbnail();
    EXPECT_FALSE(thumbnail.thumbnailUploading());
    EXPECT_TRUE(thumbnail.thumbnailUploadStatus().isEmpty());
    EXPECT_TRUE(uploads.busy());
    settle();
    ASSERT_TRUE(waitUntil([&] { return store.message() == "Link copied."; }));
    EXPECT_TRUE(thumbnail.thumbnailUploadStatus().isEmpty());
}

TEST_F(WorkflowUploadNet, EditorUploadsRecordTheDocumentsHistoryItem) {
    QImage image(30, 30, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::yellow);
    EXPECT_TRUE(workflow.uploadFromEditor(image).isValid());  // no open document: no history item
    settle();
    EXPECT_FALSE(uploads.history().back().clipID.has_value());

    const Clip clip = stored(Qt::red);
    workflow.openInEditor(clip);
    const auto session = workflow.editor()->session();
    ASSERT_TRUE(session);
    image.fill(Qt::cyan);
    EXPECT_TRUE(workflow.uploadFromEditor(image).isValid());
    EXPECT_EQ(session->status(), "Uploading...");
    settle();
    ASSERT_TRUE(waitUntil([&] { return session->status() == "Link copied."; }));
    EXPECT_EQ(uploads.history().back().clipID, clip.id);
    EXPECT_TRUE(workflow.hasLiveUpload(clip.id));
}

TEST_F(WorkflowUploadNet, ADestinationWithoutItsLoginRefusesBeforeAskingAndRecordsNothing) {
    uploads.setR2Settings(savedR2Destination());
    uploads.setUseCloudflare(true);
    const std::string refusal = "Connect Cloudflare to continue (keyring -25300).";

    const Clip clip = stored(Qt::red);
    EXPECT_FALSE(workflow.uploadAndCopyLink(clip).isValid());
    EXPECT_EQ(store.message().toStdString(), refusal);
    workflow.openInEditor(clip);
    ASSERT_TRUE(workflow.editor()->session());
    EXPECT_FALSE(workflow.uploadFromEditor(QImage(20, 20, QImage::Format_ARGB32_Premultiplied)).isValid());
    EXPECT_EQ(workflow.editor()->session()->status().toStdString(), refusal);

    EXPECT_EQ(dialogs.publicQuestions, 0);
    EXPECT_TRUE(uploads.history().empty());
    EXPECT_FALSE(std::filesystem::exists(folder / "history" / "uploads.json"));
    EXPECT_EQ(loopback.requestCount(), 0u);
}

}  // namespace
}  // namespace brevalto
