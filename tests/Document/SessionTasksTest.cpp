#include "Document/ScreenshotDocumentSession.h"
#include "Errors/ScreenshotError.h"
#include "Imaging/ImageDecoding.h"
#include "Platform/Defaults.h"

#include "FakePasteboard.h"
#include "ManualExecutor.h"
#include "RenderSamples.h"
#include "TestImages.h"

#include <QSignalSpy>
#include <QUrl>

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>

namespace brevalto {
namespace {

using Kind = ScreenshotLayerKind;
using Session = ScreenshotDocumentSession;
using Property = Session::Property;

std::string failureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

int countOf(const QSignalSpy& spy, Property property) {
    int n = 0;
    for (const auto& args : spy)
        if (args.at(0).value<Property>() == property) ++n;
    return n;
}

// White with a black 40 x 20 block at (120, 60).
QImage blockImage() {
    QImage image = samples::solid(200, 100, Qt::white);
    for (int y = 60; y < 80; ++y)
        for (int x = 120; x < 160; ++x) image.setPixel(x, y, qRgb(0, 0, 0));
    return image;
}

struct TasksFixture {
    explicit TasksFixture(const QImage& source = blockImage()) : files(source) {
        session = std::make_unique<Session>(files.document, files.folder, defaults, executor);
        spy = std::make_unique<QSignalSpy>(session.get(), &Session::changed);
    }
    samples::RenderedDocument files;
    Defaults defaults;
    ManualExecutor executor;
    std::unique_ptr<Session> session;
    std::unique_ptr<QSignalSpy> spy;
};

// ---- render jobs

TEST(SessionTasks, OnlyTheNewestRenderOfTheCurrentRevisionIsPublished) {
    TasksFixture f;
    ASSERT_EQ(f.executor.pending(), 1u) << "a new session renders at once";
    ScreenshotDocument covered = f.session->document();
    ScreenshotLayer cover = samples::layer(Kind::rectangle, QRectF(0, 0, 200, 100));
    cover.style.fill = {0, 0, 0, 1};
    cover.style.filled = true;
    covered.layers.push_back(cover);
    f.session->scheduleRender(covered);  // a live preview of the same revision
    f.executor.runAll();
    EXPECT_EQ(countOf(*f.spy, Property::preview), 1) << "the first render was replaced";
    EXPECT_EQ(f.session->preview().pixelColor(10, 10), QColor(Qt::black));

    // A render whose revision is no longer current is dropped, in whatever order jobs finish.
    f.session->scheduleRender();
    ScreenshotDocument moved = f.session->document();
    moved.revision = Uuid::random();
    f.session->setDocument(moved);
    f.executor.runAll();
    EXPECT_EQ(countOf(*f.spy, Property::preview), 1);
    EXPECT_EQ(f.session->preview().pixelColor(10, 10), QColor(Qt::black)) << "the last good preview stays";

    // An undo renders its restored revision; the commit's render, queued before it, never
    // publishes. Renders run one at a time, in order: one job on the executor runs both.
    f.session->edit([](ScreenshotDocument& d) { d.layers.push_back(samples::layer(Kind::rectangle, QRectF(5, 5, 5, 5))); });
    f.session->undo();
    ASSERT_EQ(f.executor.pending(), 1u);
    f.executor.run(0);
    ManualExecutor::deliver();
    EXPECT_EQ(countOf(*f.spy, Property::preview), 2);
    EXPECT_EQ(f.session->preview().pixelColor(10, 10), QColor(Qt::white));
}

TEST(SessionTasks, AFailedRenderReportsAndKeepsThePreview) {
    TasksFixture f;
    f.executor.runAll();
    const QImage good = f.session->preview();
    ScreenshotDocument broken = f.session->document();
    broken.layers.push_back(samples::layer(Kind::image, QRectF(0, 0, 10, 10)));
    broken.layers.back().assetID = Uuid::random();
    f.session->scheduleRender(broken);
    f.executor.runAll();
    EXPECT_FALSE(f.session->status().isEmpty());
    EXPECT_NE(f.session->status(), Session::initialStatus);
    EXPECT_EQ(f.session->preview(), good);
}

// ---- smart selection jobs

TEST(SessionTasks, SmartSelectionSearchesTheVisibleImageAndAnswersInCanvasPixels) {
    TasksFixture f;
    f.executor.drop();
    f.session->setSelectionRect(QRectF(100, 50, 80, 40));
    f.session->crop();
    f.executor.drop();
    f.session->setSmartCandidate(QRectF(1, 1, 1, 1));
    f.session->startSmartSelection(140, 70);  // image point (40, 20)
    EXPECT_FALSE(f.session->smartCandidate());
    EXPECT_EQ(f.session->status(), Session::smartBusyStatus);
    f.executor.runAll();
    ASSERT_TRUE(f.session->smartCandidate());
    EXPECT_EQ(*f.session->smartCandidate(), QRectF(121, 61, 38, 18));
    EXPECT_EQ(f.session->status(), Session::smartReadyStatus);

    // A click outside the visible image fails with the search's sentence.
    f.session->startSmartSelection(90, 70);
    f.executor.runAll();
    EXPECT_FALSE(f.session->smartCandidate());
    EXPECT_EQ(f.session->status(), "Invalid coordinates or tolerance.");
}

TEST(SessionTasks, SmartSelectionResultsThatNoLongerApplyAreDropped) {
    TasksFixture f;
    f.executor.runAll();

    // Cancelled: nothing published, the status left as the start set it.
    f.session->startSmartSelection(130, 70);
    f.session->cancelSmartSelection();
    f.executor.runAll();
    EXPECT_FALSE(f.session->smartCandidate());
    EXPECT_EQ(f.session->status(), Session::smartBusyStatus);

    // Replaced by a newer click: only the newer one answers, whichever finishes first.
    f.session->startSmartSelection(130, 70);
    f.session->startSmartSelection(10, 10);
    ASSERT_EQ(f.executor.pending(), 2u);
    f.executor.run(1);
    f.executor.run(0);
    ManualExecutor::deliver();
    EXPECT_EQ(f.session->smartCandidate(), QRectF(0, 0, 200, 100));
    EXPECT_EQ(countOf(*f.spy, Property::smartCandidate), 4) << "cleared three times, set once";

    // Superseded by an edit: a new revision makes the result stale.
    f.session->startSmartSelection(130, 70);
    f.session->edit([](ScreenshotDocument& d) { d.metadata["k"] = "v"; });
    f.session->setStatus("edited");
    f.executor.runAll();
    EXPECT_FALSE(f.session->smartCandidate());
    EXPECT_EQ(f.session->status(), "edited");
}

TEST(SessionTasks, SmartSelectionIsRefusedAboveFourMegapixels) {
    TasksFixture f;
    f.executor.drop();
    for (const auto& [size, refused] : std::vector<std::pair<QSizeF, bool>>{{{2001, 2000}, true}, {{2000, 2000}, false}}) {
        ScreenshotDocument large = f.session->document();
        large.canvas = size;
        f.session->setDocument(large);
        f.executor.drop();
        f.session->startSmartSelection(10, 10);
        EXPECT_EQ(f.session->status(), refused ? Session::smartTooLargeStatus : Session::smartBusyStatus);
        EXPECT_EQ(f.executor.pending(), refused ? 0u : 1u);
    }
}

// ---- image intake

struct IntakeFixture {
    TestFolder files;
    // A PNG file of the given size in the test folder, as a file URL.
    QByteArray fileURL(const std::string& name, int w, int h) {
        const std::filesystem::path path = files / name;
        EXPECT_TRUE(samples::solid(w, h, Qt::red).save(QString::fromStdString(path.string()), "PNG"));
        return QUrl::fromLocalFile(QString::fromStdString(path.string())).toEncoded();
    }
};

PasteboardItem itemWith(const QString& type, const QByteArray& bytes) {
    PasteboardItem item;
    item.setData(type, bytes);
    return item;
}

std::string intakeFailure(const std::vector<PasteboardItem>& items) {
    return failureOf([&] { Session::pasteboardImages(items); });
}

TEST(SessionTasks, PasteboardImagesTakeFilesFirstAndHoldToTheirLimits) {
    IntakeFixture f;
    // File URLs, in order, win over image data and other items; other URLs are not files.
    PasteboardItem files = itemWith(PasteboardType::fileURL, f.fileURL("a.png", 7, 6) + "\r\n# note\r\n" +
                                                                  f.fileURL("b.png", 9, 8) + "\r\nhttps://example.invalid/c");
    files.setData(PasteboardType::png, "not read");
    const auto images = Session::pasteboardImages({files, itemWith(PasteboardType::string, "note")});
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[1].size(), QSize(9, 8));
    const QByteArray png = encodedImage(samples::solid(3, 2, Qt::blue), "PNG");
    EXPECT_EQ(intakeFailure({itemWith(PasteboardType::png, png), itemWith(PasteboardType::string, "x")}),
              "Drop contains a non-image item.");
    EXPECT_EQ(intakeFailure({itemWith(PasteboardType::png, "not a png")}), kInvalidImageBytesMessage);
    std::ofstream(f.files / "note.txt") << "plain words";
    const QUrl note = QUrl::fromLocalFile(QString::fromStdString((f.files / "note.txt").string()));
    EXPECT_EQ(intakeFailure({itemWith(PasteboardType::fileURL, note.toEncoded())}), kUnreadableImageMessage);

    // 33 files fail before any is read (none of them exists).
    QByteArray many;
    for (int i = 0; i < 33; ++i) many += QUrl::fromLocalFile(QString("/nonexistent/%1.png").arg(i)).toEncoded() + "\n";
    EXPECT_EQ(intakeFailure({itemWith(PasteboardType::fileURL, many)}), "Import at most 32 images at once.");
    const PasteboardItem dot = itemWith(PasteboardType::png, encodedImage(samples::solid(1, 1, Qt::red), "PNG"));
    EXPECT_EQ(intakeFailure(std::vector<PasteboardItem>(33, dot)), "Import at most 32 images at once.");
    EXPECT_EQ(Session::pasteboardImages(std::vector<PasteboardItem>(32, dot)).size(), 32u);

    // 64,000,000 pixels in all pass; one pixel more stops at the image that crosses the line,
    // before the broken item after it is read.
    raiseImageAllocationLimit();
    const PasteboardItem quarter = itemWith(PasteboardType::png, encodedImage(samples::solid(4000, 4000, Qt::white), "PNG"));
    std::vector<PasteboardItem> items(4, quarter);
    EXPECT_EQ(Session::pasteboardImages(items).size(), 4u);
    items.push_back(dot);
    items.push_back(itemWith(PasteboardType::png, "broken"));
    EXPECT_EQ(intakeFailure(items), "Combined images exceed 64 MP. Import fewer images.");
}

TEST(SessionTasks, ClipboardImagesAreReadThroughThePasteboard) {
    IntakeFixture f;
    const QByteArray png = encodedImage(samples::solid(3, 2, Qt::blue), "PNG");
    const QByteArray tiff = encodedImage(samples::solid(5, 4, Qt::green), "TIFF");
    QObject receiver;
    struct Case {
        const char* name;
        PasteboardItem content;
        QSet<QString> failing;
        std::string outcome;  // the image size, or the error
        QStringList reads;
    };
    PasteboardItem pngAndText = itemWith(PasteboardType::png, png);
    pngAndText.setData(PasteboardType::tiff, tiff);
    pngAndText.setString(PasteboardType::string, "caption");
    const std::vector<Case> cases = {
        {"PNG first", pngAndText, {}, "3x2", {PasteboardType::png}},
        {"TIFF when the PNG cannot be read", pngAndText, {PasteboardType::png}, "5x4", {PasteboardType::png, PasteboardType::tiff}},
        {"a file", itemWith(PasteboardType::fileURL, f.fileURL("a.png", 7, 6)), {}, "7x6", {PasteboardType::fileURL}},
        {"text only", itemWith(PasteboardType::string, "words"), {}, "Drop contains a non-image item.", {}},
        {"nothing", PasteboardItem(), {}, "Clipboard or drop contains no image.", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePasteboard board;
        board.setContent(c.content);
        board.failingTypes = c.failing;
        std::optional<std::string> outcome;
        Session::readPasteboardImages(board, &receiver, [&](TaskResult<std::vector<QImage>>& result) {
            try {
                const auto& images = result.get();
                outcome = std::to_string(images.at(0).width()) + "x" + std::to_string(images.at(0).height());
            } catch (const std::exception& e) {
                outcome = e.what();
            }
        });
        while (board.deliver() > 0) {
        }
        EXPECT_EQ(outcome, c.outcome);
        EXPECT_EQ(board.dataReads, c.reads);
    }
}

struct Placement {
    const char* name;
    QSize image;
    bool vertical;
    double spacing, alignment;
    QRectF frame;
    QSizeF canvas;
};

TEST(SessionTasks, ImportedImagesLineUpAfterTheCanvas) {
    const std::vector<Placement> cases = {
        {"row, centred", {100, 50}, false, 10, 0.5, {210, 25, 100, 50}, {310, 100}},
        {"column, right", {100, 50}, true, 10, 1, {100, 110, 100, 50}, {200, 160}},
        {"row, taller than the canvas", {30, 140}, false, 0, 1, {200, 0, 30, 140}, {230, 140}},
        {"column, wider than the canvas", {300, 10}, true, 2000, 0.5, {0, 2100, 300, 10}, {300, 2110}},
    };
    for (const Placement& c : cases) {
        SCOPED_TRACE(c.name);
        TasksFixture f(samples::solid(200, 100, Qt::white));
        f.session->setSelectionRect(QRectF(0, 0, 50, 50));
        f.session->crop();
        f.session->importImages({samples::solid(c.image.width(), c.image.height(), Qt::red)}, c.vertical, c.spacing,
                                c.alignment);
        const ScreenshotDocument& d = f.session->document();
        EXPECT_EQ(d.canvas, c.canvas);
        EXPECT_FALSE(d.crop);
        ASSERT_EQ(d.layers.size(), 2u);
        EXPECT_TRUE(sameRect(d.layers[1].frame, c.frame));
        EXPECT_EQ(d.layers[1].assetID, d.assets.back().id);
        EXPECT_TRUE(std::filesystem::exists(ScreenshotDocument::assetURL(d.assets.back(), f.files.folder)));
        EXPECT_EQ(f.session->undoStack().size(), 2u) << "the crop and the import";
    }
}

TEST(SessionTasks, CombinedImagesAlignAgainstTheCanvasAsItGrows) {
    ScreenshotDocument d;
    d.canvas = QSizeF(100, 40);
    d.crop = QRectF(0, 0, 10, 10);
    const auto asset = [](std::int64_t w, std::int64_t h) {
        const Uuid id = Uuid::random();
        return ScreenshotDocument::Asset{id, id.string() + ".png", w, h};
    };
    ScreenshotDocument::combineImages(d, {asset(20, 80), asset(10, 20), asset(30, 100)}, false, 0.5, 5);
    ASSERT_EQ(d.layers.size(), 3u);
    EXPECT_TRUE(sameRect(d.layers[0].frame, QRectF(105, 0, 20, 80)));
    EXPECT_TRUE(sameRect(d.layers[1].frame, QRectF(130, 30, 10, 20))) << "centred on the 80 rows so far";
    EXPECT_TRUE(sameRect(d.layers[2].frame, QRectF(145, 0, 30, 100)));
    EXPECT_EQ(d.canvas, QSizeF(175, 100));
    EXPECT_FALSE(d.crop);

}

TEST(SessionTasks, ImportsOutOfRangeChangeNothing) {
    TasksFixture f;
    const QImage dot = samples::solid(1, 1, Qt::red);
    const std::vector<std::tuple<std::size_t, double, double>> outOfRange = {
        {0, 0, 0}, {33, 0, 0}, {1, 2000.5, 0}, {1, -1, 0}, {1, 0, NAN}, {1, 0, 1.01}};
    for (const auto& [count, spacing, alignment] : outOfRange)
        EXPECT_EQ(failureOf([&] { f.session->importImages(std::vector<QImage>(count, dot), false, spacing, alignment); }),
                  "Up to 32 images at a time, spacing 0-2000 px, alignment 0-1.");
    EXPECT_EQ(failureOf([&] { f.session->importImages({dot, QImage()}, false, 0, 0); }),
              "Invalid size. The editor allows up to 64 MP and 65,536 px per side.");
    EXPECT_EQ(f.session->document(), f.files.document);
    EXPECT_TRUE(f.session->undoStack().empty());
}

}  // namespace
}  // namespace brevalto
