// The editor controller over real document folders, a scripted recognizer and manual background
// work: opening and re-showing, rendering selections, command routing, translations, imports,
// text masks, secrets and pins.
#include "Document/ScreenshotDocument.h"
#include "Document/ScreenshotDocumentSession.h"
#include "Editor/EditorPrompts.h"
#include "Editor/ReferencePins.h"
#include "Editor/ScreenshotEditorController.h"
#include "Editor/TranslationLayers.h"
#include "Errors/ScreenshotError.h"
#include "FakePasteboard.h"
#include "FakeTextRecognizer.h"
#include "ManualExecutor.h"
#include "Platform/Defaults.h"
#include "TestFolder.h"
#include "TestImages.h"

#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

namespace brevalto {
namespace {

namespace fs = std::filesystem;
using Action = ScreenshotEditorAction;

struct ScriptedPrompts : EditorPrompts {
    void showError(const QString& message) override { errors.push_back(message); }
    std::vector<QUrl> chooseImageFiles() override { return files; }
    std::vector<QString> errors;
    std::vector<QUrl> files;
};

struct RecordingPins : ReferencePins {
    void showReference(const QImage& image, std::function<void()> reopen) override { shown = {image, reopen}; }
    std::pair<QImage, std::function<void()>> shown;
};

ScreenshotLayer box() {
    ScreenshotLayer layer;
    layer.frame = QRectF(1, 1, 5, 5);
    return layer;
}

std::string message(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no error";
}

class EditorControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(folder / "run");
        fs::permissions(folder / "run", fs::perms::owner_all);
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString((folder / "run").string()));
        // 100 x 50: red on the left half, blue on the right.
        QImage image(100, 50, QImage::Format_ARGB32);
        image.fill(Qt::red);
        QPainter(&image).fillRect(50, 0, 50, 50, Qt::blue);
        clip = folder / "clip.png";
        std::ofstream(clip, std::ios::binary) << encodedImage(image, "PNG").toStdString();
        controller.setExecutor(executor);
        controller.setRecognizer(&recognizer);
        controller.setPrompts(&prompts);
        controller.setPins(&pins);
        controller.setPresent([this](const auto& session) { presented.push_back(session.get()); });
        controller.setOnAction([this](Action action, const QImage& image) { actions.emplace_back(action, image); });
    }
    ScreenshotDocumentSession& open(std::optional<Uuid> id = std::nullopt) {
        controller.open(clip, id.value_or(historyID), root, 1.0);
        executor.runAll();
        return *controller.session();
    }
    std::size_t layerCount() { return controller.session()->document().layers.size(); }
    bool maskFoldersLeft() { return !fs::is_empty(folder / "run"); }

    TestFolder folder;
    fs::path root = folder / "ScreenshotDocuments";
    fs::path clip;
    Uuid historyID = Uuid::random();
    Defaults defaults;
    FakePasteboard board;
    FakeTextRecognizer recognizer;
    ManualExecutor executor;
    ScriptedPrompts prompts;
    RecordingPins pins;
    std::vector<ScreenshotDocumentSession*> presented;
    std::vector<std::pair<Action, QImage>> actions;
    ScreenshotEditorController controller{board, defaults};
};

TEST_F(EditorControllerTest, OpenShowsAgainAndAFailedLoadKeepsTheSessionAndLeavesNoFolder) {
    ScreenshotDocumentSession& session = open();
    EXPECT_EQ(presented, std::vector{&session});
    session.setSelectionRect(QRectF(0, 0, 10, 10));
    controller.perform(Action::translateText);
    controller.open(std::nullopt, historyID, root, 1.0);  // the same item: shown again, kept as it is
    EXPECT_EQ(controller.session().get(), &session);
    EXPECT_TRUE(controller.pending().has_value());
    EXPECT_EQ(executor.pending(), 0u);  // no new scan

    // No source, a source that is no image, a symlinked folder, an unreadable index.
    const Uuid linked = Uuid::random(), corrupt = Uuid::random();
    fs::create_directory_symlink(folder.path(), root / linked.string());
    fs::create_directories(root / corrupt.string() / "assets");
    std::ofstream(root / corrupt.string() / "document.json") << "{";
    std::ofstream(folder / "notes.txt") << "not an image";
    for (const auto& [source, id, left] : std::vector<std::tuple<std::optional<fs::path>, Uuid, fs::file_type>>{
             {std::nullopt, Uuid::random(), fs::file_type::not_found},
             {folder / "notes.txt", Uuid::random(), fs::file_type::not_found},
             {clip, linked, fs::file_type::symlink},
             {clip, corrupt, fs::file_type::directory}}) {
        controller.open(source, id, root, 1.0);
        EXPECT_EQ(controller.session().get(), &session);
        EXPECT_EQ(fs::symlink_status(root / id.string()).type(), left);  // no orphan folder
    }
    EXPECT_EQ(prompts.errors.size(), 4u);
    EXPECT_EQ(presented.size(), 2u);
}

TEST_F(EditorControllerTest, CommandsRenderWholePixelsOfTheVisibleImageAndRecordTranslations) {
    EXPECT_EQ(message([&] { controller.perform(Action::ocr); }), "This action needs the app controller.");
    ScreenshotDocumentSession& session = open();
    session.edit([](ScreenshotDocument& d) {
        d.crop = QRectF(40, 0, 60, 50);
        d.backdrop.enabled = true;
    });
    struct Case {
        std::optional<QRectF> selection;
        Action action;
        QSize size;  // empty: "The selection is outside the visible image."
        QColor corner;
    };
    for (const Case& c : std::vector<Case>{
             {std::nullopt, Action::ocr, {60, 50}, Qt::red},
             {std::nullopt, Action::upload, {140, 130}, {}},  // framed on the backdrop
             {QRectF(45, 5, 10, 10), Action::saveAsNewItem, {10, 10}, Qt::red},
             {QRectF(0, 0, 30, 10), Action::captureAppend, {}, {}},
             {QRectF(60.3, 5.2, 0.4, 0.4), Action::translateText, {1, 1}, Qt::blue},
             {QRectF(0, 0, 45.5, 10), Action::translateImage, {6, 10}, Qt::red},  // clipped to the crop
         }) {
        session.setSelectionRect(c.selection);
        actions.clear();
        const std::string error = message([&] { controller.perform(c.action); });
        if (c.size.isEmpty()) {
            EXPECT_EQ(error, controller.outsideSelectionMessage.toStdString());
            EXPECT_TRUE(actions.empty());
            continue;
        }
        ASSERT_EQ(actions.size(), 1u) << error;
        EXPECT_EQ(actions[0].first, c.action);
        EXPECT_EQ(actions[0].second.size(), c.size) << int(c.action);
        if (c.corner.isValid()) {
            EXPECT_EQ(actions[0].second.pixelColor(0, 0), c.corner) << int(c.action);
        }
        const bool translation = c.action == Action::translateText || c.action == Action::translateImage;
        ASSERT_EQ(controller.pending().has_value(), translation);  // only translations record a request
        if (translation) {
            EXPECT_EQ(controller.pending()->bounds, c.selection->intersected(QRectF(40, 0, 60, 50)));
        }
    }
    EXPECT_EQ(controller.selectionImage(false, false).size(), QSize(60, 50));
}

TEST_F(EditorControllerTest, TranslationsApplyOnceToTheirRevisionAndPreviewWithoutEditing) {
    ScreenshotDocumentSession& session = open();
    const std::vector<EditableImageRegion> regions = {{1, "Hallo", "Hello", 0, 0, 1, 1, 1, Qt::white, Qt::black, true}};
    const std::string stale = controller.staleTranslationMessage.toStdString();
    EXPECT_EQ(message([&] { controller.applyTranslatedText(regions); }), stale);

    session.setSelectionRect(QRectF(10, 10, 60, 30));
    controller.perform(Action::translateImage);
    const QByteArray png = controller.translatedImageRenderer()(regions);
    EXPECT_EQ(QImage::fromData(png, "PNG").size(), QSize(60, 30));
    EXPECT_EQ(layerCount(), 1u);

    const std::size_t undo = session.undoStack().size();
    controller.applyTranslatedText(regions);
    ASSERT_EQ(layerCount(), 2u);
    EXPECT_EQ(session.document().layers.back().frame, QRectF(10, 10, 60, 30));
    EXPECT_EQ(session.undoStack().size(), undo + 1);
    EXPECT_EQ(message([&] { controller.applyTranslatedText(regions); }), stale);  // the request is used up

    // An edit after the request makes its result stale.
    controller.perform(Action::translateText);
    session.addLayer(box());
    EXPECT_EQ(message([&] { controller.applyTranslatedText(regions); }), stale);
    EXPECT_EQ(message([&] { controller.translatedImageRenderer(); }), stale);
    EXPECT_EQ(layerCount(), 3u);
}

TEST(TranslationLayers, PlaceRegionsInsideTheBoundsAndRefuseBadOnes) {
    const QRectF bounds(10, 20, 200, 100);
    auto layer = [&](double x, double y, double w, double h, double scale = 1, QRectF in = QRectF(10, 20, 200, 100)) {
        EditableImageRegion region{1, "a", "b", x, y, w, h, scale, QColor(0, 0, 255, 128), QColor(0, 255, 0, 128)};
        return translationLayers({region}, in).at(0);
    };
    EXPECT_EQ(layer(0, 0, 1, 1).frame, bounds);
    EXPECT_EQ(layer(0, 0, 1, 1).style.fill, (ScreenshotColor::RGBA{0, 0, 1, 1}));  // opaque background
    EXPECT_NEAR(layer(0, 0, 1, 1).style.stroke.alpha, 128 / 255.0, 1e-6);
    EXPECT_EQ(layer(0, 0.8, 1, 0.2).frame, QRectF(10, 20, 200, 20));  // the top of the image
    EXPECT_EQ(layer(0.5, 0, 0.500005, 1).frame.left(), 110);
    EXPECT_EQ(layer(0, 0, 1, 1, 0).style.fontSize, 4);
    EXPECT_EQ(layer(0, 0, 1, 1, 1, QRectF(0, 0, 10, 2000)).style.fontSize, 1000);

    for (double width : {0.5001, 0.0, std::nan("")}) {  // refused unless disabled
        EditableImageRegion bad{1, "a", "b", 0.5, 0, width, 1};
        EXPECT_EQ(message([&] { translationLayers({bad}, bounds); }), kInvalidTranslationRegionMessage);
        bad.enabled = false;
        EXPECT_EQ(message([&] { translationLayers({bad}, bounds); }), kNoTranslationRegionsMessage);
    }
}

TEST_F(EditorControllerTest, ImportsAreAllOrNothingWithinTheirLimits) {
    ScreenshotDocumentSession& session = open();
    const QUrl good = QUrl::fromLocalFile(QString::fromStdString(clip.string()));
    std::ofstream(folder / "empty.png").close();
    std::ofstream(folder / "text.png") << "not an image";
    std::ofstream(folder / "huge.png").close();
    fs::resize_file(folder / "huge.png", 67'108'865);
    const std::string unreadable = controller.unreadableImageMessage.toStdString();
    auto url = [&](const char* name) { return QUrl::fromLocalFile(QString::fromStdString((folder / name).string())); };
    EXPECT_EQ(message([&] { controller.importImages(std::vector<QUrl>(33, url("missing.png"))); }),
              "Select up to 32 images at a time.");
    for (const QUrl& bad : {url("empty.png"), url("huge.png"), url("missing.png"), url("text.png"),
                            QUrl("https://example.com/a.png"), QUrl::fromLocalFile(QString::fromStdString(folder.path().string()))})
        EXPECT_EQ(message([&] { controller.importImages({good, bad}); }), unreadable) << bad.toString().toStdString();
    EXPECT_EQ(layerCount(), 1u);

    controller.importImages({good, good});
    EXPECT_EQ(layerCount(), 3u);
    EXPECT_EQ(session.document().canvas, QSizeF(324, 50));  // a row, 12 apart

    prompts.files = {good, url("empty.png")};
    controller.importFiles();
    EXPECT_EQ(session.status().toStdString(), unreadable);
    EXPECT_EQ(layerCount(), 3u);

    PasteboardItem item;
    item.setData(PasteboardType::png, encodedImage(QImage(20, 10, QImage::Format_RGB32), "PNG"));
    board.setContent(item);
    controller.verticalComposition = true;
    controller.importClipboard();
    while (board.deliver() > 0) {}
    EXPECT_EQ(session.document().canvas, QSizeF(324, 72));  // below, 12 apart
    controller.appendCapture(QImage(10, 10, QImage::Format_RGB32));
    EXPECT_EQ(layerCount(), 5u);
    EXPECT_EQ(presented.size(), 2u);
}

TEST_F(EditorControllerTest, LineMasksLandOnTheRecognisedPixelsOfTheirRevision) {
    ScreenshotDocumentSession& session = open();
    // The OCR image of a fractional selection is its whole-pixel rectangle (10, 10, 31, 21): a
    // 20 x 20 box at its top-left corner is the document's (10, 10, 20, 20).
    recognizer.lines = {FakeTextRecognizer::line("ab", QPoint(0, 0))};
    session.setSelectionRect(QRectF(10.5, 10.5, 30, 20));
    controller.runTextMasks(std::nullopt, false);
    EXPECT_EQ(session.status().toStdString(), "On-device OCR is creating line masks. The image is not uploaded.");
    EXPECT_FALSE(session.selection().has_value());
    executor.runAll();
    ASSERT_EQ(layerCount(), 2u);
    const ScreenshotLayer mask = session.document().layers.back();
    EXPECT_EQ(mask.kind, ScreenshotLayerKind::redact);
    EXPECT_EQ(mask.originalText, "ab");
    EXPECT_EQ(mask.frame.toRect(), QRect(10, 10, 20, 20));
    EXPECT_EQ(mask.frame.topLeft(), QPointF(10, 10));
    EXPECT_EQ(session.status().toStdString(), "Added 1 line mask. Check and adjust each box; OCR can miss text.");

    // An edit while recognising drops the result; a second run cancels the first; the current
    // tool picks an effect kind.
    session.selectTool(QStringLiteral("pixelate"));
    controller.runTextMasks(std::nullopt, false);
    session.addLayer(box());
    executor.runAll();
    EXPECT_EQ(layerCount(), 3u);
    controller.runTextMasks(std::nullopt, false);
    controller.runTextMasks(std::nullopt, false);
    executor.runAll();
    ASSERT_EQ(layerCount(), 4u);
    EXPECT_EQ(session.document().layers.back().kind, ScreenshotLayerKind::pixelate);

    // No text, a failure, a cancellation mid-way: no masks, and no folder left behind.
    recognizer.lines = {};
    controller.runTextMasks(ScreenshotLayerKind::blur, false);
    executor.runAll();
    EXPECT_EQ(session.status().toStdString(), "Added 0 line masks. Check and adjust each box; OCR can miss text.");
    recognizer.textError = std::make_exception_ptr(std::runtime_error("engine broke"));
    controller.runTextMasks(std::nullopt, false);
    executor.runAll();
    EXPECT_EQ(session.status().toStdString(), "engine broke");
    controller.runTextMasks(std::nullopt, false);
    controller.finishEditing();  // cancelled mid-way
    executor.runAll();
    EXPECT_EQ(session.status().toStdString(), controller.maskingStatus.toStdString());
    EXPECT_EQ(layerCount(), 4u);
    EXPECT_FALSE(maskFoldersLeft());
}

TEST_F(EditorControllerTest, TheSecretScanFindsCandidatesThatRedactOnlyTheirRevision) {
    for (const auto& [count, status] : std::vector<std::pair<int, std::string>>{
             {1, "Found 1 possible secret (orange). Review, then Redact."},
             {3, "Found 3 possible secrets (orange). Review, then Redact."},
             {0, ScreenshotDocumentSession::initialStatus.toStdString()}}) {
        recognizer.lines = {FakeTextRecognizer::line("plain", QPoint(0, 0))};
        for (int i = 0; i < count; ++i) recognizer.lines.push_back(FakeTextRecognizer::line("a@b.io", QPoint(0, 15 * i)));
        ScreenshotDocumentSession& session = open(Uuid::random());
        EXPECT_EQ(session.status().toStdString(), status);
        EXPECT_EQ(session.secretFrames().size(), static_cast<std::size_t>(count));
    }
    recognizer.lines = {FakeTextRecognizer::line("a@b.io", QPoint(0, 0))};
    ScreenshotDocumentSession& session = open(Uuid::random());
    ASSERT_EQ(session.secretFrames().size(), 1u);
    EXPECT_EQ(session.secretFrames()[0], QRectF(0, 0, 62, 22));  // grown by 2, inside the image
    controller.redactSecrets();
    ASSERT_EQ(layerCount(), 2u);
    EXPECT_EQ(session.document().layers.back().kind, ScreenshotLayerKind::redact);
    EXPECT_TRUE(session.document().layers.back().style.filled);
    EXPECT_EQ(session.status().toStdString(), "Redacted 1 area with opaque masks.");
    controller.redactSecrets();
    EXPECT_EQ(session.status().toStdString(), "Redacted 0 areas with opaque masks.");
    EXPECT_FALSE(maskFoldersLeft());
}

TEST_F(EditorControllerTest, APinReopensItsDocumentUnlessTheDocumentWasDeleted) {
    ScreenshotDocumentSession& first = open();
    first.setSelectionRect(QRectF(60, 0, 10, 10));
    controller.pinReference();
    auto& [image, reopen] = pins.shown;
    EXPECT_EQ(image.size(), QSize(10, 10));
    EXPECT_EQ(image.pixelColor(0, 0), QColor(Qt::blue));
    reopen();  // already open: shown again
    EXPECT_EQ(presented, (std::vector{&first, &first}));

    const Uuid other = Uuid::random();
    open(other);
    reopen();
    EXPECT_EQ(controller.session()->document().historyID, historyID);

    open(other);
    fs::remove_all(root / historyID.string());
    reopen();
    EXPECT_EQ(prompts.errors, std::vector{controller.missingDocumentMessage});
    EXPECT_FALSE(fs::exists(root / historyID.string()));
    EXPECT_EQ(controller.session()->document().historyID, other);
}

}  // namespace
}  // namespace brevalto
