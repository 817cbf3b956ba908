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
    void showReference(const QImage& image, std::function<void()> reopen) override {
        shown = image;
        this->reopen = std::move(reopen);
    }
    QImage shown;
    std::function<void()> reopen;
};

// A rectangle layer the validation accepts.
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

    const Uuid linked = Uuid::random();
    fs::create_directory_symlink(folder.path(), root / linked.string());
    const fs::path notImage = folder / "notes.txt";
    std::ofstream(notImage) << "not an image";
    struct Case {
        std::optional<fs::path> source;
        Uuid id;
    };
    for (const Case& c : {Case{std::nullopt, Uuid::random()}, Case{notImage, Uuid::random()}, Case{clip, linked}}) {
        prompts.errors.clear();
        controller.open(c.source, c.id, root, 1.0);
        EXPECT_EQ(prompts.errors.size(), 1u);
        EXPECT_EQ(controller.session().get(), &session);
        EXPECT_EQ(fs::symlink_status(root / c.id.string()).type(),
                  c.id == linked ? fs::file_type::symlink : fs::file_type::not_found);
    }
    EXPECT_EQ(presented.size(), 2u);
}

TEST_F(EditorControllerTest, SelectionImagesCutWholePixelsOfTheVisibleImage) {
    EXPECT_EQ(message([&] { controller.selectionImage(true, false); }), "No document is open.");
    ScreenshotDocumentSession& session = open();
    session.edit([](ScreenshotDocument& d) {
        d.crop = QRectF(40, 0, 60, 50);
        d.backdrop.enabled = true;
    });
    struct Case {
        std::optional<QRectF> selection;
        bool crop, backdrop;
        QSize size;
        QColor corner;  // top-left pixel
    };
    const std::vector<Case> cases = {
        {std::nullopt, true, false, {60, 50}, Qt::red},
        {QRectF(45, 5, 10, 10), true, true, {10, 10}, Qt::red},
        {QRectF(60.3, 5.2, 0.4, 0.4), true, false, {1, 1}, Qt::blue},
        {QRectF(0, 0, 45.5, 10), true, false, {6, 10}, Qt::red},  // clipped to the crop
        {QRectF(45, 5, 10, 10), false, false, {60, 50}, Qt::red},
    };
    for (const Case& c : cases) {
        session.setSelectionRect(c.selection);
        const QImage image = controller.selectionImage(c.crop, c.backdrop);
        EXPECT_EQ(image.size(), c.size) << c.size.width();
        EXPECT_EQ(image.pixelColor(0, 0), c.corner) << c.size.width();
    }
    session.setSelectionRect(std::nullopt);
    EXPECT_GT(controller.selectionImage(true, true).width(), 60);  // whole document with its backdrop
    session.setSelectionRect(QRectF(0, 0, 30, 10));
    EXPECT_EQ(message([&] { controller.selectionImage(true, false); }), "The selection is outside the visible image.");
}

TEST_F(EditorControllerTest, PerformRendersForTheWorkflowAndRecordsTranslationRequests) {
    EXPECT_EQ(message([&] { controller.perform(Action::ocr); }), "This action needs the app controller.");
    ScreenshotDocumentSession& session = open();
    session.edit([](ScreenshotDocument& d) { d.backdrop.enabled = true; });
    for (Action action : {Action::captureAppend, Action::ocr, Action::translateText, Action::translateImage,
                          Action::upload, Action::saveAsNewItem}) {
        for (const std::optional<QRectF>& selection : {std::optional<QRectF>(), std::optional(QRectF(5, 5, 20, 10))}) {
            actions.clear();
            session.setSelectionRect(selection);
            const std::optional<Uuid> before = controller.pending() ? std::optional(controller.pending()->revision)
                                                                    : std::nullopt;
            controller.perform(action);
            ASSERT_EQ(actions.size(), 1u);
            EXPECT_EQ(actions.back().first, action);
            const bool framed = !selection && (action == Action::upload || action == Action::saveAsNewItem);
            const QSize size = selection ? QSize(20, 10) : QSize(100, 50);
            EXPECT_EQ(actions.back().second.size().width() > 100, framed) << int(action);
            if (!framed) {
                EXPECT_EQ(actions.back().second.size(), size) << int(action);
            }
            const bool translation = action == Action::translateText || action == Action::translateImage;
            if (translation) {
                EXPECT_EQ(controller.pending()->bounds, selection.value_or(QRectF(0, 0, 100, 50)));
            } else {
                EXPECT_EQ(controller.pending() ? std::optional(controller.pending()->revision) : std::nullopt, before);
            }
        }
    }
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
    auto region = [](double x, double y, double w, double h, double scale = 1, bool enabled = true) {
        return EditableImageRegion{1, "a", "b", x, y, w, h, scale, QColor(0, 0, 255, 128), QColor(0, 255, 0, 128),
                                   enabled};
    };
    const auto whole = translationLayers({region(0, 0, 1, 1)}, bounds).at(0);
    EXPECT_EQ(whole.frame, bounds);
    EXPECT_EQ(whole.kind, ScreenshotLayerKind::translatedText);
    EXPECT_EQ(whole.style.fill.alpha, 1.0);
    EXPECT_NEAR(whole.style.stroke.alpha, 128 / 255.0, 1e-6);
    EXPECT_EQ(translationLayers({region(0, 0.8, 1, 0.2)}, bounds).at(0).frame.top(), 20);
    EXPECT_EQ(translationLayers({region(0.5, 0, 0.500005, 1)}, bounds).size(), 1u);
    EXPECT_EQ(translationLayers({region(0, 0, 1, 1, 0)}, bounds).at(0).style.fontSize, 4);
    EXPECT_EQ(translationLayers({region(0, 0, 1, 1)}, QRectF(0, 0, 10, 2000)).at(0).style.fontSize, 1000);
    EXPECT_EQ(translationLayers({region(-1, 0, 1, 1, 1, false), region(0, 0, 1, 1)}, bounds).size(), 1u);

    const std::string invalid = kInvalidTranslationRegionMessage;
    for (const auto& bad : {region(0.5, 0, 0.5001, 1), region(-0.1, 0, 0.5, 1), region(0, 0, 0, 1),
                            region(0, 0, 1, 1, std::nan(""))})
        EXPECT_EQ(message([&] { translationLayers({region(0, 0, 1, 1), bad}, bounds); }), invalid);
    EXPECT_EQ(message([&] { translationLayers({region(0, 0, 1, 1, 1, false)}, bounds); }),
              kNoTranslationRegionsMessage);
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
    prompts.files = {};  // cancelled
    controller.importFiles();
    EXPECT_EQ(layerCount(), 3u);

    PasteboardItem item;
    QImage small(20, 10, QImage::Format_ARGB32);
    small.fill(Qt::green);
    item.setData(PasteboardType::png, encodedImage(small, "PNG"));
    board.setContent(item);
    controller.verticalComposition = true;
    controller.importClipboard();
    while (board.deliver() > 0) {}
    EXPECT_EQ(layerCount(), 4u);
    EXPECT_EQ(session.document().canvas, QSizeF(324, 72));

    presented.clear();
    controller.appendCapture(small);
    EXPECT_EQ(layerCount(), 5u);
    EXPECT_EQ(presented.size(), 1u);
}

TEST_F(EditorControllerTest, LineMasksLandOnTheRecognisedPixelsOfTheirRevision) {
    ScreenshotDocumentSession& session = open();
    // The OCR image of a fractional selection is its whole-pixel rectangle (10, 10, 31, 21): a
    // 20 x 20 box at its top-left corner is the document's (10, 10, 20, 20).
    recognizer.lines = {FakeTextRecognizer::line("ab", QPoint(0, 0))};
    session.setSelectionRect(QRectF(10.5, 10.5, 30, 20));
    controller.runTextMasks(std::nullopt, false);
    EXPECT_EQ(session.status().toStdString(), controller.maskingStatus.toStdString());
    EXPECT_FALSE(session.selection().has_value());
    executor.runAll();
    ASSERT_EQ(layerCount(), 2u);
    const ScreenshotLayer mask = session.document().layers.back();
    EXPECT_EQ(mask.kind, ScreenshotLayerKind::redact);
    EXPECT_EQ(mask.originalText, "ab");
    EXPECT_NEAR(mask.frame.x(), 10, 1e-9);
    EXPECT_NEAR(mask.frame.y(), 10, 1e-9);
    EXPECT_NEAR(mask.frame.width(), 20, 1e-9);
    EXPECT_NEAR(mask.frame.height(), 20, 1e-9);
    EXPECT_EQ(session.status().toStdString(), "Added 1 line masks. Check and adjust each box; OCR can miss text.");

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

    recognizer.lines = {};
    controller.runTextMasks(ScreenshotLayerKind::blur, false);
    executor.runAll();
    EXPECT_EQ(session.status().toStdString(), "Added 0 line masks. Check and adjust each box; OCR can miss text.");
    recognizer.textError = std::make_exception_ptr(std::runtime_error("engine broke"));
    controller.runTextMasks(std::nullopt, false);
    executor.runAll();
    EXPECT_EQ(session.status().toStdString(), "engine broke");
    EXPECT_EQ(layerCount(), 4u);
    controller.runTextMasks(std::nullopt, false);
    controller.finishEditing();  // cancelled mid-way
    executor.runAll();
    EXPECT_EQ(session.status().toStdString(), controller.maskingStatus.toStdString());
    EXPECT_FALSE(maskFoldersLeft());
}

TEST_F(EditorControllerTest, TheSecretScanFindsCandidatesThatRedactOnlyTheirRevision) {
    struct Case {
        std::vector<RecognizedLine> lines;
        QString status;
    };
    const QString initial = ScreenshotDocumentSession::initialStatus;
    for (const Case& c : {Case{{FakeTextRecognizer::line("a@b.io", QPoint(0, 0))},
                               "Found 1 possible secret (orange). Review, then Redact."},
                          Case{{FakeTextRecognizer::line("a@b.io", QPoint(0, 0)),
                                FakeTextRecognizer::line("c@d.io", QPoint(0, 15)),
                                FakeTextRecognizer::line("e@f.io", QPoint(0, 30))},
                               "Found 3 possible secrets (orange). Review, then Redact."},
                          Case{{FakeTextRecognizer::line("plain", QPoint(0, 0))}, initial}}) {
        recognizer.lines = c.lines;
        ScreenshotDocumentSession& session = open(Uuid::random());
        EXPECT_EQ(session.status(), c.status) << session.status().toStdString();
        ASSERT_TRUE(session.secretCandidates().has_value());
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
    EXPECT_EQ(pins.shown.size(), QSize(10, 10));
    EXPECT_EQ(pins.shown.pixelColor(0, 0), QColor(Qt::blue));
    presented.clear();
    pins.reopen();  // already open: shown again
    EXPECT_EQ(presented, std::vector{&first});

    const Uuid other = Uuid::random();
    open(other);
    pins.reopen();
    executor.runAll();
    EXPECT_EQ(controller.session()->document().historyID, historyID);

    open(other);
    fs::remove_all(root / historyID.string());
    pins.reopen();
    EXPECT_EQ(prompts.errors, std::vector{controller.missingDocumentMessage});
    EXPECT_FALSE(fs::exists(root / historyID.string()));
    EXPECT_EQ(controller.session()->document().historyID, other);
}

}  // namespace
}  // namespace brevalto
