#include "AI/AIActionModel.h"
#include "AI/ImageAIView.h"
#include "AI/ImagePlayground.h"
#include "AI/ImagePlaygroundAction.h"
#include "Errors/AIError.h"
#include "Platform/AtomicFile.h"
#include "Platform/Hashing.h"

#include "DrawnContrast.h"
#include "Panel/NotchPanel.h"
#include "Panel/PanelFixture.h"
#include "QtWait.h"
#include "TestImages.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include <filesystem>
#include <fstream>

namespace brevalto {
namespace {

// An image generator that is available and whose sheet ends when the test says so.
class FakeImagePlayground final : public ImagePlayground {
public:
    bool available() const override { return true; }
    void present(const QImage& image, const QString& idea, std::function<void(const QString&)> finished,
                 std::function<void()> cancelled) override {
        shownImage = image;
        shownIdea = idea;
        finish = std::move(finished);
        cancel = std::move(cancelled);
    }
    QImage shownImage;
    QString shownIdea;
    std::function<void(const QString&)> finish;
    std::function<void()> cancel;
};

// The image-prompt workspace of the panel, driven through a manual backend.
class ImageAIViewTest : public PanelFixture {
public:
    void SetUp() override {
        PanelFixture::SetUp();
        controller->setAIActions(&ai);
    }
    template <class T = QWidget>
    T* find(const QString& name) const {
        T* found = controller->panel()->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name.toStdString();
        return found;
    }
    bool enabled(const QString& name) const { return find(name)->isEnabled(); }
    QString text(const QString& name) const { return find<QLabel>(name)->text(); }
    Clip addImage(Qt::GlobalColor color = Qt::darkCyan) {
        QImage image(40, 30, QImage::Format_RGB32);
        image.fill(color);
        const QByteArray png = encodedImage(image, "PNG");
        const std::string digest = hexDigest(std::string_view(png.constData(), std::size_t(png.size())));
        auto stored = store->insert(
            Clip(Clip::Kind::image, std::nullopt, digest + ".png", digest, png.size(), "app", clock.now()), png);
        store->flush();
        return *stored;
    }
    ImageAIView* open(const Clip& clip) {
        view->perform(ItemAction::ai, clip);
        return controller->panel()->findChild<ImageAIView*>();
    }
    void type(const QString& letters) {
        auto* field = find<QPlainTextEdit>("imagePrompt");
        field->moveCursor(QTextCursor::End);
        field->insertPlainText(letters);
    }
    // Runs the image preparation and answers the request.
    void reply(const std::string& text) {
        ai.work.runAll();
        ai.last().reply(text);
    }
};

TEST_F(ImageAIViewTest, RequestBecomesAPromptThatIsCopiedSavedOnceAndClearedByTyping) {
    const Clip clip = addImage();
    ImageAIView* pane = open(clip);
    ASSERT_NE(pane, nullptr);
    EXPECT_EQ(text("workspaceTitle"), "Image with Claude");
    EXPECT_EQ(find<QLabel>("imagePromptThumbnail")->width(), ImageAIView::kThumbnailWidth);
    EXPECT_EQ(find<QPlainTextEdit>("imagePrompt")->placeholderText(),
              "Example: remove the background, keep the object and shadow");
    EXPECT_EQ(text("imagePromptResult"), "The prompt appears here");
    for (const char* name : {"copyImagePrompt", "saveImagePrompt", "openImagePlayground"}) EXPECT_FALSE(enabled(name)) << name;
    EXPECT_EQ(text("imagePlaygroundHint"), ImagePlaygroundAction::unavailableHint);

    // Blanks only: the model's message in red, nothing sent.
    type(" \n ");
    find<QPushButton>("writeImagePrompt")->click();
    EXPECT_EQ(text("imagePromptError"), "Enter an image edit request first.");
    EXPECT_FALSE(find("imagePromptError")->isHidden());
    EXPECT_TRUE(ai.jobs.empty());

    find<QPlainTextEdit>("imagePrompt")->setPlainText(" remove the background ");
    find<QPushButton>("writeImagePrompt")->click();
    EXPECT_TRUE(pane->model().busy());
    for (const char* name : {"imagePrompt", "writeImagePrompt", "copyImagePrompt", "saveImagePrompt", "openImagePlayground"})
        EXPECT_FALSE(enabled(name)) << name;
    EXPECT_FALSE(find("cancelImagePrompt")->isHidden());
    EXPECT_FALSE(find("imagePromptProgress")->isHidden());
    reply("Remove the background; keep the mug and its shadow.");
    EXPECT_TRUE(find("cancelImagePrompt")->isHidden());
    EXPECT_EQ(text("imagePromptResult"), "Remove the background; keep the mug and its shadow.");
    EXPECT_GT(find("imagePromptResult")->palette().color(QPalette::WindowText).lightness(), 200)
        << "the prompt must read light on the dark panel";
    EXPECT_TRUE(enabled("copyImagePrompt"));
    EXPECT_TRUE(enabled("saveImagePrompt"));
    EXPECT_EQ(ai.last().content.back().at("text"), "remove the background");

    // Copy Result: the clipboard holds the text as our own copy; the history does not grow.
    const std::size_t before = store->current().size();
    find<QPushButton>("copyImagePrompt")->click();
    const PasteboardItem& copied = board.content();
    EXPECT_EQ(copied.data(PasteboardType::string), QByteArray("Remove the background; keep the mug and its shadow."));
    EXPECT_EQ(copied.data(PasteboardType::restored), QByteArray("1"));
    EXPECT_EQ(copied.data(PasteboardType::source), QByteArray("Claude"));
    monitor->poll();
    EXPECT_EQ(store->current().size(), before);

    // Save as New Item: read at once from the newest history, while the list is still being written.
    clock.advance(1);
    find<QPushButton>("saveImagePrompt")->click();
    EXPECT_EQ(find<QPushButton>("saveImagePrompt")->text(), "Saved");
    EXPECT_FALSE(enabled("saveImagePrompt"));
    ASSERT_EQ(store->current().size(), before + 1);
    EXPECT_EQ(store->current().front().source, ImageAIView::savedSource);
    ASSERT_TRUE(store->current().front().text);
    EXPECT_EQ(store->current().front().text->str(), "Remove the background; keep the mug and its shadow.");

    // One more letter: the result empties, both buttons disable, the save button is fresh.
    type("!");
    EXPECT_EQ(pane->model().prompt(), " remove the background !");
    EXPECT_EQ(text("imagePromptResult"), "The prompt appears here");
    EXPECT_FALSE(enabled("copyImagePrompt"));
    EXPECT_FALSE(enabled("saveImagePrompt"));
    EXPECT_EQ(find<QPushButton>("saveImagePrompt")->text(), "Save as New Item");
    EXPECT_FALSE(enabled("openImagePlayground"));  // no generator on Linux

    // A new result makes saving possible again.
    find<QPushButton>("writeImagePrompt")->click();
    reply("Another prompt.");
    EXPECT_TRUE(enabled("saveImagePrompt"));
}

// In the panel, the workspace's buttons and its field are drawn dark like the panel
// with legible texts: at the start (the result buttons and the generator's disabled), while a
// request runs, and with its result.
TEST_F(ImageAIViewTest, ControlsAreDrawnDarkAndLegibleOnThePanel) {
    ImageAIView* pane = open(addImage());
    QWidget* panel = controller->panel();
    EXPECT_EQ(expectFittedAndLegible(panel, pane), 5);
    find<QPlainTextEdit>("imagePrompt")->setPlainText("remove the background");
    find<QPushButton>("writeImagePrompt")->click();
    EXPECT_EQ(expectFittedAndLegible(panel, pane), 6);
    reply("Remove the background; keep the mug and its shadow.");
    EXPECT_EQ(expectFittedAndLegible(panel, pane), 5);
}

TEST_F(ImageAIViewTest, CancelIsSilentFailureIsRedAndAClipWithoutImageShowsOnlyTheColumn) {
    ImageAIView* pane = open(addImage());
    find<QPlainTextEdit>("imagePrompt")->setPlainText("make it blue");
    find<QPushButton>("writeImagePrompt")->click();
    find<QPushButton>("cancelImagePrompt")->click();
    EXPECT_FALSE(pane->model().busy());
    EXPECT_TRUE(find("imagePromptError")->isHidden());
    EXPECT_TRUE(find("cancelImagePrompt")->isHidden());
    EXPECT_TRUE(enabled("writeImagePrompt"));

    find<QPushButton>("writeImagePrompt")->click();
    ai.work.runAll();
    ai.last().fail(AIError("Claude is overloaded. Try again shortly."));
    EXPECT_EQ(text("imagePromptError"), "Claude is overloaded. Try again shortly.");
    EXPECT_TRUE(find<QLabel>("imagePromptError")->textInteractionFlags() & Qt::TextSelectableByMouse);

    // The image file holds no image: no thumbnail, and the request says so.
    controller->closeCurrentWorkspace();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(controller->panel()->findChild<ImageAIView*>(), nullptr);
    const std::string digest = hexDigest("garbage");
    const auto broken = store->insert(
        Clip(Clip::Kind::image, std::nullopt, digest + ".png", digest, 7, "app", clock.now()), QByteArray("garbage"));
    ASSERT_TRUE(broken);
    pane = open(*broken);
    ASSERT_NE(pane, nullptr);
    EXPECT_EQ(pane->findChild<QLabel*>("imagePromptThumbnail"), nullptr);
    find<QPlainTextEdit>("imagePrompt")->setPlainText("crop it");
    find<QPushButton>("writeImagePrompt")->click();
    ai.work.runAll();
    ManualExecutor::deliver();
    EXPECT_EQ(text("imagePromptError"), "Could not read the image.");
    EXPECT_FALSE(pane->model().busy());
}

// The generator's whole flow, with a fake that is available.
class ImagePlaygroundTest : public ImageAIViewTest {
public:
    std::unique_ptr<ImagePlaygroundAction> action(const Clip& clip, const QString& prompt = QStringLiteral(" a red mug ")) {
        auto made = std::make_unique<ImagePlaygroundAction>(clip, *store, playground);
        made->setPrompt(prompt);
        return made;
    }
    std::filesystem::path resultFile(std::uintmax_t size, bool image = true) {
        const auto file = folder.path() / ("result-" + std::to_string(size));
        QImage picture(8, 8, QImage::Format_RGB32);
        picture.fill(Qt::red);
        QByteArray bytes = image ? encodedImage(picture, "PNG") : QByteArray("not an image");
        if (std::uintmax_t(bytes.size()) < size) bytes.append(qsizetype(size - std::uintmax_t(bytes.size())), '\0');
        bytes.truncate(qsizetype(size));
        std::ofstream(file, std::ios::binary).write(bytes.constData(), bytes.size());
        return file;
    }
    FakeImagePlayground playground;
};

TEST_F(ImagePlaygroundTest, OpenHandsOverTheImageAndUntrimmedPromptAndFinishStoresTheResult) {
    const Clip clip = addImage();
    auto flow = action(clip, QStringLiteral("   "));
    EXPECT_FALSE(flow->findChild<QPushButton*>("openImagePlayground")->isEnabled());
    EXPECT_EQ(flow->findChild<QLabel*>("imagePlaygroundHint")->text(), ImagePlaygroundAction::availableHint);
    flow->setPrompt(QStringLiteral("  a red mug \n"));
    flow->findChild<QPushButton*>("openImagePlayground")->click();
    EXPECT_TRUE(flow->presented());
    EXPECT_EQ(playground.shownIdea, "  a red mug \n");
    EXPECT_EQ(playground.shownImage.size(), QSize(40, 30));

    const std::size_t before = store->current().size();
    clock.advance(1);
    playground.finish(QString::fromStdString(resultFile(500).string()));
    EXPECT_FALSE(flow->presented());
    EXPECT_TRUE(flow->sourceImage().isNull());
    EXPECT_TRUE(flow->saving());
    EXPECT_FALSE(flow->findChild<QWidget*>("imagePlaygroundSaving")->isHidden());
    EXPECT_FALSE(flow->findChild<QPushButton*>("openImagePlayground")->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return !flow->saving(); }));
    EXPECT_EQ(flow->status(), ImagePlaygroundAction::savedMessage);
    ASSERT_EQ(store->current().size(), before + 1);
    EXPECT_EQ(store->current().front().source, "Apple Image Playground");
    EXPECT_EQ(store->current().front().kind, Clip::Kind::image);
    EXPECT_TRUE(flow->findChild<QPushButton*>("openImagePlayground")->isEnabled());

    // Cancelling the sheet leaves the history alone.
    flow->open();
    playground.cancel();
    EXPECT_FALSE(flow->presented());
    EXPECT_EQ(flow->status(), "Cancelled. The original image is unchanged.");
    EXPECT_EQ(store->current().size(), before + 1);
}

TEST_F(ImagePlaygroundTest, ResultsAreReadWithinTheirBoundAndRefusalsSayWhy) {
    constexpr std::uintmax_t limit = 32u * 1024 * 1024;
    const Clip clip = addImage();
    const std::filesystem::path folderOnly = folder.path() / "a-folder";
    std::filesystem::create_directory(folderOnly);
    struct Row {
        std::filesystem::path file;
        QString status;  // empty: the add was handed to the store
    };
    const std::vector<Row> rows = {
        {resultFile(0), ImagePlaygroundAction::tooLargeMessage},
        {resultFile(limit), QString()},
        {resultFile(limit + 1), ImagePlaygroundAction::tooLargeMessage},
        {folder.path() / "never-written.png", QStringLiteral("No such file or directory")},
        {folderOnly, QStringLiteral("Is a directory")},
    };
    for (const Row& row : rows) {
        clock.advance(1);
        auto flow = action(clip);
        flow->open();
        flow->finish(QString::fromStdString(row.file.string()));
        EXPECT_FALSE(flow->presented()) << row.file;
        EXPECT_EQ(flow->saving(), row.status.isEmpty()) << row.file;
        if (!row.status.isEmpty()) EXPECT_EQ(flow->status(), row.status) << row.file;
        ASSERT_TRUE(waitUntil([&] { return !flow->saving(); }));
    }
    EXPECT_EQ(store->current().front().source, "Apple Image Playground");  // the 32 MiB one

    // The store refuses bytes that are no image, and its message says why.
    auto flow = action(clip);
    flow->finish(QString::fromStdString(resultFile(64, false).string()));
    ASSERT_TRUE(waitUntil([&] { return !flow->saving(); }));
    EXPECT_FALSE(flow->status().isEmpty());
    EXPECT_EQ(flow->status(), store->message());
}

TEST_F(ImagePlaygroundTest, OpenRefusesAMissingUndecodableOrOversizedSourceAndAnUnavailableGenerator) {
    const Clip clip = addImage();
    const auto file = store->root() / *clip.imageFile;
    auto flow = action(clip);

    AtomicFile::write(file, std::string("not an image"));
    flow->open();
    EXPECT_EQ(flow->status(), "Could not read the source image.");
    AtomicFile::write(file, std::string(32u * 1024 * 1024 + 1, '\0'));
    flow->open();
    EXPECT_TRUE(flow->status().startsWith("File too large")) << flow->status().toStdString();
    std::filesystem::remove(file);
    flow->open();
    EXPECT_TRUE(flow->status().startsWith("Could not open")) << flow->status().toStdString();
    EXPECT_FALSE(flow->presented());
    EXPECT_TRUE(playground.shownIdea.isEmpty());

    UnavailableImagePlayground none;
    ImagePlaygroundAction unavailable(clip, *store, none);
    unavailable.setPrompt(QStringLiteral("a red mug"));
    EXPECT_FALSE(unavailable.findChild<QPushButton*>("openImagePlayground")->isEnabled());
    EXPECT_EQ(unavailable.findChild<QLabel*>("imagePlaygroundHint")->text(), ImagePlaygroundAction::unavailableHint);
    unavailable.open();
    EXPECT_EQ(unavailable.status(), ImagePlaygroundAction::goneMessage);
}

}  // namespace
}  // namespace brevalto
