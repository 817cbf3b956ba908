#include "Document/ScreenshotDocumentSession.h"
#include "Document/ScreenshotRenderer.h"
#include "Errors/ScreenshotError.h"
#include "Platform/AtomicFile.h"
#include "Platform/Defaults.h"

#include "ManualExecutor.h"
#include "RenderSamples.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace brevalto {
namespace {

using Kind = ScreenshotLayerKind;
using Session = ScreenshotDocumentSession;

std::string failureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

// A session over a document folder holding one source image; its saves are counted, and fail
// while `failSaves` is set.
struct SessionFixture {
    explicit SessionFixture(const QImage& source = samples::solid(100, 100, Qt::white)) : files(source) {
        session = std::make_unique<Session>(files.document, files.folder, defaults, executor,
                                            [this](const ScreenshotDocument& d, const std::filesystem::path& folder) {
                                                ++saves;
                                                if (failSaves) throw ScreenshotError("Disk full.");
                                                if (writeFiles) ScreenshotDocument::save(d, folder);
                                            });
    }

    // The revision stored in "document.json", none before the first save.
    std::optional<Uuid> storedRevision() const {
        if (!std::filesystem::exists(files.folder / "document.json")) return std::nullopt;
        return ScreenshotDocument::decode(AtomicFile::read(files.folder / "document.json", 1 << 24, true)).revision;
    }
    // A gesture that adds a rectangle.
    void drawGesture() {
        session->beginGesture();
        moveInGesture();
        session->commitGesture();
    }
    void moveInGesture() {
        ScreenshotDocument d = session->document();
        d.layers.push_back(samples::layer(Kind::rectangle, QRectF(1, 1, 10, 10)));
        session->setDocument(d);
    }

    samples::RenderedDocument files;
    Defaults defaults;
    ManualExecutor executor;
    int saves = 0;
    bool failSaves = false;
    bool writeFiles = true;  // false: saves succeed without a look at the document
    std::unique_ptr<Session> session;
};

// ---- gestures, undo and redo as tables of steps

enum class Op { draw, click, undo, redo, begin, move, commit };

struct Step {
    Op op;
    std::size_t undo, redo, layers;
};

struct HistoryCase {
    const char* name;
    std::vector<Step> steps;
};

TEST(ScreenshotDocumentSession, GesturesUndoAndRedoFollowTheirSteps) {
    const std::vector<HistoryCase> cases = {
        {"undo past the first step, redo past the last",
         {{Op::draw, 1, 0, 2}, {Op::draw, 2, 0, 3}, {Op::undo, 1, 1, 2}, {Op::undo, 0, 2, 1}, {Op::undo, 0, 2, 1},
          {Op::redo, 1, 1, 2}, {Op::redo, 2, 0, 3}, {Op::redo, 2, 0, 3}}},
        {"a new gesture after an undo empties the redo stack",
         {{Op::draw, 1, 0, 2}, {Op::draw, 2, 0, 3}, {Op::undo, 1, 1, 2}, {Op::draw, 2, 0, 3}, {Op::redo, 2, 0, 3}}},
        {"a click without a drag leaves no step",
         {{Op::click, 0, 0, 1}, {Op::draw, 1, 0, 2}, {Op::click, 1, 0, 2}}},
        {"undo commits a gesture left open, then undoes it",
         {{Op::begin, 0, 0, 1}, {Op::move, 0, 0, 2}, {Op::undo, 0, 1, 1}, {Op::redo, 1, 0, 2}}},
        {"a second commit changes nothing",
         {{Op::begin, 0, 0, 1}, {Op::move, 0, 0, 2}, {Op::commit, 1, 0, 2}, {Op::commit, 1, 0, 2}}},
        {"begin twice keeps the first snapshot",
         {{Op::begin, 0, 0, 1}, {Op::move, 0, 0, 2}, {Op::begin, 0, 0, 2}, {Op::move, 0, 0, 3}, {Op::commit, 1, 0, 3},
          {Op::undo, 0, 1, 1}}},
    };
    for (const HistoryCase& c : cases) {
        SCOPED_TRACE(c.name);
        SessionFixture f;
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            SCOPED_TRACE(i);
            const Step& step = c.steps[i];
            const Uuid revisionBefore = f.session->document().revision;
            const std::size_t undoBefore = f.session->undoStack().size(), redoBefore = f.session->redoStack().size();
            const int savesBefore = f.saves;
            switch (step.op) {
            case Op::draw: f.drawGesture(); break;
            case Op::click: f.session->beginGesture(), f.session->commitGesture(); break;
            case Op::undo: f.session->undo(); break;
            case Op::redo: f.session->redo(); break;
            case Op::begin: f.session->beginGesture(); break;
            case Op::move: f.moveInGesture(); break;
            case Op::commit: f.session->commitGesture(); break;
            }
            EXPECT_EQ(f.session->undoStack().size(), step.undo);
            EXPECT_EQ(f.session->redoStack().size(), step.redo);
            EXPECT_EQ(f.session->document().layers.size(), step.layers);
            const bool historyMoved = step.undo != undoBefore || step.redo != redoBefore;
            // Every revision that the history moves to is new and on disk; nothing else writes.
            EXPECT_EQ(f.session->document().revision != revisionBefore, historyMoved);
            if (historyMoved) {
                EXPECT_GT(f.saves, savesBefore);
            } else {
                EXPECT_EQ(f.saves, savesBefore);
            }
            if (historyMoved) {
                EXPECT_EQ(f.storedRevision(), f.session->document().revision);
            }
        }
    }
}

TEST(ScreenshotDocumentSession, UndoThenRedoGivesTheSameDocumentUnderANewRevision) {
    SessionFixture f;
    f.drawGesture();
    const ScreenshotDocument drawn = f.session->document();
    f.session->setSelectionRect(QRectF(0, 0, 5, 5));
    f.session->undo();
    EXPECT_FALSE(f.session->selection());
    EXPECT_EQ(f.session->document().layers, f.files.document.layers);
    f.session->redo();
    ScreenshotDocument again = f.session->document();
    EXPECT_NE(again.revision, drawn.revision);
    again.revision = drawn.revision;
    EXPECT_EQ(again, drawn);
}

TEST(ScreenshotDocumentSession, HistoryKeepsFiftyStepsAndStatusTellsOfSaves) {
    SessionFixture f;
    EXPECT_EQ(f.session->status(), Session::initialStatus);
    f.session->beginGesture();
    f.session->commitGesture();
    EXPECT_EQ(f.session->status(), Session::initialStatus) << "a gesture without change says nothing";
    const Uuid first = f.session->document().revision;
    for (int i = 0; i < 51; ++i) f.drawGesture();
    EXPECT_EQ(f.session->status(), Session::savedStatus);
    ASSERT_EQ(f.session->undoStack().size(), 50u);
    EXPECT_NE(f.session->undoStack().front().revision, first);
    EXPECT_EQ(f.session->undoStack().front().layers.size(), 2u);
}

TEST(ScreenshotDocumentSession, FailedSaveKeepsTheLastSavedStateAndReports) {
    SessionFixture f;
    f.drawGesture();
    const ScreenshotDocument saved = f.session->document();
    f.failSaves = true;

    // At commit: the document goes back to the pre-gesture revision and the caller hears why.
    f.session->beginGesture();
    f.moveInGesture();
    EXPECT_EQ(failureOf([&] { f.session->commitGesture(); }), "Disk full.");
    EXPECT_EQ(f.session->document(), saved);
    EXPECT_FALSE(f.session->editing());
    EXPECT_EQ(f.session->undoStack().size(), 1u);
    EXPECT_GE(f.executor.pending(), 1u) << "the restored revision is rendered again";

    // A gesture left open and committed by a command: the status line hears of it, and the
    // command's own failure is thrown.
    f.session->beginGesture();
    f.moveInGesture();
    EXPECT_EQ(failureOf([&] { f.session->addLayer(samples::layer(Kind::oval, QRectF(0, 0, 5, 5))); }), "Disk full.");
    EXPECT_EQ(f.session->status(), "Disk full.");
    EXPECT_EQ(f.session->document(), saved);
    EXPECT_FALSE(f.session->selectedID());

    // At undo and redo: nothing changes but the status.
    f.session->setStatus({});
    f.session->undo();
    EXPECT_EQ(f.session->status(), "Disk full.");
    EXPECT_EQ(f.session->document(), saved);
    EXPECT_EQ(f.session->undoStack().size(), 1u);
    EXPECT_EQ(f.storedRevision(), saved.revision);
}

TEST(ScreenshotDocumentSession, AnIndexTooLargeToLoadIsNeverSaved) {
    SessionFixture f;
    f.drawGesture();
    const Uuid saved = f.session->document().revision;
    ScreenshotDocument huge = f.session->document();
    for (int i = 0; i < 60; ++i) {
        ScreenshotLayer scribble = samples::layer(Kind::freehand, QRectF(0, 0, 100, 100));
        for (int p = 0; p < 20'000; ++p) scribble.points.emplace_back(p * 0.000123456789, 1 - p * 0.0000432198765);
        huge.layers.push_back(std::move(scribble));
    }
    f.session->beginGesture();
    f.session->setDocument(huge);
    EXPECT_EQ(failureOf([&] { f.session->commitGesture(); }), "The document index is unsafe or too large.");
    EXPECT_EQ(f.session->document().revision, saved);
    EXPECT_EQ(f.storedRevision(), saved) << "the readable index stays";
}

TEST(ScreenshotDocumentSession, CountersNumberOnFromTheirText) {
    SessionFixture f;
    f.writeFiles = false;  // the stored form admits only counters of 1...9999; the numbering takes any text
    const std::vector<std::pair<std::string, int>> steps = {
        {"3", 4}, {"", 5}, {"abc", 6}, {"12000", 9999}, {"-7", 1}, {"+41", 42}, {"9998", 9999}, {"0", 1}, {"4x", 2}};
    for (const auto& [text, next] : steps) {
        ScreenshotLayer counter = samples::layer(Kind::counter, QRectF(0, 0, 20, 20));
        counter.text = text;
        f.session->addLayer(counter);
        EXPECT_EQ(f.session->nextCounter(), next) << text;
        EXPECT_EQ(f.session->selectedID(), counter.id);
    }
    f.session->addLayer(samples::layer(Kind::rectangle, QRectF(0, 0, 5, 5)));
    EXPECT_EQ(f.session->nextCounter(), 2) << "other kinds leave the number";

    // A counter that cannot be saved is not added and does not number on.
    f.writeFiles = true;
    ScreenshotLayer refused = samples::layer(Kind::counter, QRectF(0, 0, 20, 20));
    refused.text = "12000";
    EXPECT_EQ(failureOf([&] { f.session->addLayer(refused); }), "Invalid layer.");
    EXPECT_EQ(f.session->nextCounter(), 2);
    EXPECT_NE(f.session->selectedID(), refused.id);
}

// Opened again from its folder, a document counts on after its highest counter.
TEST(ScreenshotDocumentSession, AReopenedDocumentCountsOnAfterItsHighestCounter) {
    const std::vector<std::pair<std::vector<std::string>, int>> cases = {{{"1", "2"}, 3}, {{"7", "2"}, 8}, {{}, 1}};
    for (const auto& [texts, next] : cases) {
        SessionFixture f;
        f.session->addLayer(samples::layer(Kind::rectangle, QRectF(0, 0, 5, 5)));
        for (const std::string& text : texts) {
            ScreenshotLayer counter = samples::layer(Kind::counter, QRectF(0, 0, 20, 20));
            counter.text = text;
            f.session->addLayer(counter);
        }
        const ScreenshotDocument stored =
            ScreenshotDocument::decode(AtomicFile::read(f.files.folder / "document.json", 1 << 24, true));
        Session reopened(stored, f.files.folder, f.defaults, f.executor);
        EXPECT_EQ(reopened.nextCounter(), next) << texts.size();
    }
}

TEST(ScreenshotDocumentSession, CropRoundsOutwardsAndClipsToTheCanvas) {
    SessionFixture f;
    EXPECT_EQ(failureOf([&] { f.session->crop(); }), "Select an area before cropping.");
    for (const QRectF& miss : {QRectF(100, 0, 10, 10), QRectF(-20, 0, 20, 10), QRectF(3, 3, 0, 5)}) {
        f.session->setSelectionRect(miss);
        EXPECT_EQ(failureOf([&] { f.session->crop(); }), "The crop area is empty.");
    }
    EXPECT_TRUE(f.session->undoStack().empty());

    f.session->setSelectionRect(QRectF(-10.4, 5.2, 30, 30));
    f.session->crop();
    ASSERT_TRUE(f.session->document().crop);
    EXPECT_TRUE(sameRect(*f.session->document().crop, QRectF(0, 5, 20, 31)));
    EXPECT_FALSE(f.session->selection());
    EXPECT_EQ(f.session->undoStack().size(), 1u);
}

TEST(ScreenshotDocumentSession, SelectionTakesWholePixelsInsideTheVisibleImage) {
    SessionFixture f;
    f.session->setSelectionRect(QRectF(10, 10, 50, 50));
    f.session->crop();
    const std::vector<std::pair<QRectF, bool>> cases = {
        {QRectF(10, 10, 10.5, 10), false}, {QRectF(10, 10, 51, 50), false}, {QRectF(9, 10, 5, 5), false},
        {QRectF(10, 10, 0, 5), false},     {QRectF(10, NAN, 5, 5), false},  {QRectF(10, 10, 50, 50), true},
        {QRectF(59, 59, 1, 1), true},
    };
    for (const auto& [rect, ok] : cases) {
        f.session->setSelectedID(Uuid::random());
        f.session->setSmartCandidate(QRectF(1, 1, 1, 1));
        f.session->setSelectionRect(std::nullopt);
        const std::string error = failureOf([&] { f.session->setSelection(rect); });
        EXPECT_EQ(error, ok ? "" : "Use whole-pixel coordinates inside the visible image.");
        EXPECT_EQ(f.session->selection().has_value(), ok);
        EXPECT_EQ(f.session->selectedID().has_value(), !ok);
        EXPECT_EQ(f.session->smartCandidate().has_value(), !ok);
    }
}

TEST(ScreenshotDocumentSession, SelectedLayerUpdatesChangeOnlyTheSelectedLayer) {
    SessionFixture f;
    ScreenshotLayer arrow = samples::layer(Kind::curvedArrow, QRectF(10, 10, 20, 20));
    arrow.value = 1;
    f.session->addLayer(arrow);
    f.session->addLayer(samples::layer(Kind::oval, QRectF(0, 0, 5, 5)));
    f.session->setSelectedID(arrow.id);
    const std::size_t steps = f.session->undoStack().size();

    f.session->setArrowVariant(2);
    EXPECT_EQ(f.session->selectedLayer()->kind, Kind::arrow);
    EXPECT_TRUE(f.session->selectedLayer()->style.handDrawn);
    f.session->nudgeSelected(1, -2, 10, false);
    EXPECT_TRUE(sameRect(f.session->selectedLayer()->frame, QRectF(20, -10, 20, 20)));
    f.session->nudgeSelected(-3, 1, 10, true);
    EXPECT_TRUE(sameRect(f.session->selectedLayer()->frame, QRectF(20, -10, 1, 30)));
    f.session->applyEffectMode("pixelate");
    EXPECT_EQ(f.session->selectedLayer()->kind, Kind::blur);
    EXPECT_EQ(f.session->selectedLayer()->value, 12);
    f.session->applyEffectMode("redact");
    EXPECT_EQ(f.session->selectedLayer()->style.fill, (ScreenshotColor::RGBA{0, 0, 0, 1}));
    EXPECT_TRUE(f.session->selectedLayer()->style.filled);
    f.session->updateSelectedStyle([](ScreenshotStyle& s) { s.strokeWidth = 9; });
    EXPECT_EQ(f.session->selectedLayer()->style.strokeWidth, 9);
    EXPECT_EQ(f.session->undoStack().size(), steps + 6);
    EXPECT_TRUE(sameRect(f.session->document().layers.back().frame, QRectF(0, 0, 5, 5)));

    // Without a selected layer nothing happens, not even the commit of an open gesture.
    f.session->setSelectedID(Uuid::random());
    f.session->beginGesture();
    f.moveInGesture();
    f.session->nudgeSelected(1, 1, 1, false);
    f.session->setArrowVariant(1);
    f.session->applyEffectMode("erase");
    EXPECT_TRUE(f.session->editing());
    EXPECT_EQ(f.session->undoStack().size(), steps + 6);
}

TEST(ScreenshotDocumentSession, ToolStylesLiveInTheSettings) {
    SessionFixture f;
    ScreenshotStyle thick;
    thick.strokeWidth = 12;
    thick.fontName = "DejaVu Sans";
    f.session->selectTool("arrow");
    f.session->setStyle(thick);
    f.session->saveStyle();
    EXPECT_TRUE(f.defaults.data("screenshot.style.arrow"));

    f.session->setStyle(ScreenshotStyle{});
    f.session->selectTool("text");
    EXPECT_EQ(f.session->style(), ScreenshotStyle{}) << "a tool without a stored style keeps the current one";
    f.session->selectTool("arrow");
    EXPECT_EQ(f.session->tool(), "arrow");
    EXPECT_EQ(f.session->style(), thick);

    f.defaults.setData("screenshot.style.oval", "{\"strokeWidth\": true}");
    f.session->selectTool("oval");
    EXPECT_EQ(f.session->style(), thick) << "an undecodable entry is ignored";
}

TEST(ScreenshotDocumentSession, ResizeScalesGeometryAndKeepsACropInside) {
    SessionFixture f(samples::solid(5, 5, Qt::white));
    // Scaled naively, this crop's right edge lands past 27 (5.4 + 16.2 > 27).
    f.session->setSelectionRect(QRectF(2, 2, 3, 3));
    f.session->crop();
    ScreenshotLayer text = samples::layer(Kind::text, QRectF(1, 1, 2, 2));
    f.session->addLayer(text);
    f.session->edit([](ScreenshotDocument& d) { d.originalPlacement = d.layers.front(); });
    const std::size_t steps = f.session->undoStack().size();

    f.session->setSelectionRect(QRectF(0, 0, 1, 1));
    f.session->resize(5, 5);
    EXPECT_EQ(f.session->undoStack().size(), steps) << "the same size changes nothing";
    EXPECT_FALSE(f.session->selection());

    f.session->resize(27, 54);
    const ScreenshotDocument& d = f.session->document();
    EXPECT_EQ(f.session->undoStack().size(), steps + 1);
    EXPECT_EQ(d.canvas, QSizeF(27, 54));
    ASSERT_TRUE(d.crop);
    EXPECT_LE(d.crop->right(), 27);
    EXPECT_NEAR(d.crop->left(), 10.8, 1e-9);
    EXPECT_NEAR(d.crop->width(), 16.2, 1e-9);
    EXPECT_NEAR(d.crop->top(), 21.6, 1e-9);
    EXPECT_TRUE(sameRect(d.layers[1].frame, QRectF(5.4, 10.8, 10.8, 21.6)));
    EXPECT_EQ(d.layers[1].style.fontSize, 24 * 5.4);
    EXPECT_EQ(d.layers[1].style.strokeWidth, 3 * 5.4);
    EXPECT_EQ(d.layers[0].style.strokeWidth, 3) << "image layers keep their stroke";
    EXPECT_TRUE(sameRect(d.originalPlacement->frame, QRectF(0, 0, 27, 54)));

    EXPECT_EQ(failureOf([&] { f.session->resize(70'000, 10); }),
              "Invalid size. The editor allows up to 64 MP and 65,536 px per side.");
    EXPECT_EQ(f.session->undoStack().size(), steps + 1);
}

TEST(ScreenshotDocumentSession, FlattenPlacesTheBeforeFrameInsideTheBackdrop) {
    SessionFixture f(samples::coordinateImage(100, 80));
    f.session->setSelectionRect(QRectF(10, 20, 60, 40));
    f.session->crop();
    f.session->edit([](ScreenshotDocument& d) {
        d.backdrop.enabled = true;
        d.backdrop.padding = 30;
        d.backdrop.shadow = 12;  // margin max(30, 36) = 36
    });
    f.session->addLayer(samples::layer(Kind::rectangle, QRectF(15, 25, 10, 10)));
    f.session->flatten();

    const ScreenshotDocument& d = f.session->document();
    EXPECT_EQ(d.canvas, QSizeF(60 + 72, 40 + 72));
    EXPECT_FALSE(d.crop);
    EXPECT_FALSE(d.backdrop.enabled);
    ASSERT_EQ(d.layers.size(), 1u);
    EXPECT_EQ(d.layers[0].assetID, d.assets.back().id);
    EXPECT_TRUE(sameRect(d.layers[0].frame, QRectF(0, 0, 132, 112)));
    EXPECT_EQ(d.sourceAssetID, f.files.document.sourceAssetID);
    ASSERT_TRUE(d.originalPlacement);
    // The source's pixel (10, 20) sits at the card's corner, (36, 36) in the flattened image, so
    // the before frame lines up with the flattened picture.
    EXPECT_TRUE(sameRect(d.originalPlacement->frame, QRectF(-10 + 36, -20 + 36, 100, 80)));
    const QImage flat = ScreenshotRenderer::render(d, f.files.folder, false, false);
    const QColor seen = flat.pixelColor((d.originalPlacement->frame.topLeft() + QPointF(40, 40)).toPoint());
    EXPECT_NEAR(seen.red(), 40, 1);
    EXPECT_NEAR(seen.green(), 40, 1);
    EXPECT_NEAR(seen.blue(), 0, 1);
    EXPECT_FALSE(f.session->selectedID());
}

TEST(ScreenshotDocumentSession, SharedLayersAreCopiedBeforeTheyChange) {
    ScreenshotDocument a = samples::RenderedDocument(samples::solid(4, 4, Qt::white)).document;
    for (int i = 0; i < 3; ++i) a.layers.push_back(samples::layer(Kind::oval, QRectF(i, i, 1, 1)));
    const ScreenshotDocument original = a;
    ScreenshotDocument b = a;
    EXPECT_TRUE(b.layers.sharesAllWith(a.layers));

    b.layers[1].frame.moveLeft(50);
    for (ScreenshotLayer& layer : b.layers) layer.hidden = true;
    std::swap(b.layers[2], b.layers[3]);
    b.layers.erase(b.layers.begin());
    b.layers.insert(b.layers.begin(), samples::layer(Kind::text, QRectF()));
    EXPECT_EQ(a, original) << "the copy's changes stay in the copy";
    EXPECT_EQ(b.layers.size(), 4u);
    EXPECT_EQ(b.layers[0].kind, Kind::text);
    EXPECT_EQ(b.layers[1].frame.left(), 50);
    EXPECT_EQ(b.layers[2].frame.left(), 2);
    EXPECT_TRUE(b.layers[3].hidden);
}

// Exports and editor actions draw from the preview only when it shows the very document they
// export; a preview of a draft, of an open gesture or without the backdrop is drawn again.
TEST(ScreenshotDocumentSession, RenderNowReusesThePreviewOnlyWhenItShowsTheDocument) {
    SessionFixture f;
    const auto rendered = [&](std::optional<ScreenshotDocument> d = std::nullopt) {
        f.session->scheduleRender(std::move(d));
        f.executor.runAll();
        ManualExecutor::deliver();
    };
    rendered();
    ASSERT_FALSE(f.session->preview().isNull());
    EXPECT_EQ(f.session->renderNow(false).cacheKey(), f.session->preview().cacheKey());

    // A move inside an open gesture keeps the revision but changes what is drawn.
    f.session->beginGesture();
    f.moveInGesture();
    const QImage live = f.session->renderNow(false);
    EXPECT_NE(live.cacheKey(), f.session->preview().cacheKey());
    EXPECT_NE(live, f.session->preview());
    f.session->commitGesture();
    rendered();
    EXPECT_EQ(f.session->renderNow(true).cacheKey(), f.session->preview().cacheKey());

    // A draft's preview carries the document's revision but not its layers.
    ScreenshotDocument draft = f.session->document();
    draft.layers.push_back(samples::layer(Kind::rectangle, QRectF(40, 40, 30, 30)));
    rendered(draft);
    const QImage now = f.session->renderNow(false);
    EXPECT_NE(now.cacheKey(), f.session->preview().cacheKey());
    EXPECT_NE(now, f.session->preview());

    // With the backdrop on, the preview (framed) serves only requests with the backdrop.
    f.session->edit([](ScreenshotDocument& d) { d.backdrop.enabled = true; });
    rendered();
    EXPECT_EQ(f.session->renderNow(true).cacheKey(), f.session->preview().cacheKey());
    EXPECT_EQ(f.session->renderNow(false).size(), QSize(100, 100));
}

}  // namespace
}  // namespace brevalto
