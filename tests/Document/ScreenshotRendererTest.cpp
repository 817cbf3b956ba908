#include "Errors/ScreenshotError.h"
#include "Document/ScreenshotRenderer.h"
#include "Platform/AtomicFile.h"
#include "RenderSamples.h"

#include <gtest/gtest.h>

#include <fstream>

namespace brevalto {
namespace {

using Kind = ScreenshotLayerKind;
using samples::layer;
using samples::RenderedDocument;

QImage render(const RenderedDocument& d, bool backdrop = false, bool sourceOnly = false) {
    return ScreenshotRenderer::render(d.document, d.folder, backdrop, sourceOnly);
}

std::string failureOf(const RenderedDocument& d, bool sourceOnly = false, std::stop_token stop = {}) {
    try {
        ScreenshotRenderer::render(d.document, d.folder, false, sourceOnly, stop);
    } catch (const RenderCancelled&) {
        return "cancelled";
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

int darkness(QRgb p) { return 765 - qRed(p) - qGreen(p) - qBlue(p); }

TEST(ScreenshotRendererTest, RendersTheWholeCanvasOrItsCropMadeIntegral) {
    const QImage source = samples::coordinateImage(300, 200);
    RenderedDocument d(source);
    const QImage whole = render(d);
    ASSERT_EQ(whole.size(), QSize(300, 200));
    for (const QPoint p : {QPoint(0, 0), QPoint(299, 199), QPoint(123, 45)}) EXPECT_EQ(whole.pixel(p), source.pixel(p));

    d.document.crop = QRectF(10.4, 10.6, 100.2, 50);
    const QImage cropped = render(d);
    ASSERT_EQ(cropped.size(), QSize(101, 51));
    EXPECT_EQ(cropped.pixel(0, 0), source.pixel(10, 10));
    EXPECT_EQ(cropped.pixel(100, 50), source.pixel(110, 60));

    // With the backdrop asked for but disabled, or enabled but not asked for: unframed.
    EXPECT_EQ(render(d, true).size(), QSize(101, 51));
    d.document.backdrop.enabled = true;
    EXPECT_EQ(render(d, false).size(), QSize(101, 51));
}

TEST(ScreenshotRendererTest, BackdropFramesTheImageOnAGradientCardWithAShadowAbove) {
    QImage source(100, 60, QImage::Format_ARGB32);
    source.fill(QColor(250, 250, 250));
    RenderedDocument d(source);
    d.document.backdrop.enabled = true;
    struct Case {
        double padding, shadow;
        int margin;
    };
    for (const Case c : {Case{40, 12, 40}, Case{40, 14, 42}, Case{40, 13.4, 41}, Case{0, 0, 0}}) {
        d.document.backdrop.padding = c.padding;
        d.document.backdrop.shadow = c.shadow;
        EXPECT_EQ(render(d, true).size(), QSize(100 + 2 * c.margin, 60 + 2 * c.margin)) << c.shadow;
    }

    d.document.backdrop.padding = 40;
    d.document.backdrop.shadow = 0;
    const QImage flat = render(d, true);
    d.document.backdrop.shadow = 12;
    const QImage shaded = render(d, true);
    ASSERT_EQ(flat.size(), shaded.size());
    // The gradient runs from the first colour at the top-left to the second at the bottom-right.
    const ScreenshotBackdrop colours;
    auto near = [](QRgb p, const ScreenshotColor::RGBA& c) {
        return std::abs(qRed(p) - c.red * 255) < 20 && std::abs(qGreen(p) - c.green * 255) < 20 &&
               std::abs(qBlue(p) - c.blue * 255) < 20;
    };
    EXPECT_TRUE(near(flat.pixel(0, 0), colours.first));
    EXPECT_TRUE(near(flat.pixel(179, 139), colours.second));
    // The card holds the image; its 18-pixel corners show the background.
    EXPECT_EQ(flat.pixel(90, 70), qRgb(250, 250, 250));
    EXPECT_EQ(flat.pixel(58, 41), qRgb(250, 250, 250));
    EXPECT_NE(flat.pixel(41, 41), qRgb(250, 250, 250));
    // The shadow darkens around the card, more above it than below (it is moved up).
    const int above = darkness(shaded.pixel(90, 36)) - darkness(flat.pixel(90, 36));
    const int below = darkness(shaded.pixel(90, 103)) - darkness(flat.pixel(90, 103));
    EXPECT_GT(above, 10);
    EXPECT_GT(above, below);
    EXPECT_GE(below, 0);
    EXPECT_EQ(shaded.pixel(0, 0), flat.pixel(0, 0));

    // A radius larger than the card is cut to half its shorter side: 30 on 100 x 60.
    d.document.backdrop.radius = 500;
    const QImage round = render(d, true);
    EXPECT_NE(round.pixel(46, 46), qRgb(250, 250, 250));  // 34 from the corner circle's centre
    EXPECT_EQ(round.pixel(52, 52), qRgb(250, 250, 250));  // 25 from it
    EXPECT_EQ(round.pixel(90, 41), qRgb(250, 250, 250));
    EXPECT_EQ(round.pixel(41, 70), qRgb(250, 250, 250));
}

TEST(ScreenshotRendererTest, SourceOnlyDrawsTheSourceAlonePlacedAndFramedAsTheDocument) {
    const QImage source = samples::coordinateImage(200, 100);
    RenderedDocument d(source);
    d.document.canvas = QSizeF(300, 200);
    d.document.layers.front().frame = QRectF(50, 20, 200, 100);
    ScreenshotLayer redact = layer(Kind::redact, QRectF(60, 30, 40, 40));
    redact.style.fill = {0, 1, 0, 1};
    d.document.layers.push_back(redact);
    d.document.layers.push_back(layer(Kind::arrow, QRectF(0, 0, 300, 200)));
    d.document.crop = QRectF(40, 10, 220, 150);
    d.document.backdrop.enabled = true;

    const QImage after = render(d, true, false);
    const QImage before = render(d, true, true);
    ASSERT_EQ(before.size(), after.size());
    // Canvas (70, 40) is source (20, 20), at (30, 30) inside the crop, plus the margin of 40.
    EXPECT_EQ(before.pixel(70, 70), source.pixel(20, 20));
    EXPECT_EQ(after.pixel(70, 70), qRgb(0, 255, 0));

    // The placement comes from the first layer showing the source, hidden or not ...
    d.document.layers.front().hidden = true;
    EXPECT_EQ(render(d, true, true).pixel(70, 70), source.pixel(20, 20));
    // ... else from the document's original placement ...
    ScreenshotLayer placed = d.document.layers.front();
    placed.frame = QRectF(100, 60, 200, 100);
    placed.hidden = false;
    d.document.layers.erase(d.document.layers.begin());
    d.document.originalPlacement = placed;
    d.document.backdrop.enabled = false;
    EXPECT_EQ(render(d, false, true).pixel(100 - 40 + 5, 60 - 10 + 5), source.pixel(5, 5));
    // ... else the source at its pixel size at the canvas origin.
    d.document.originalPlacement.reset();
    d.document.crop.reset();
    const QImage origin = render(d, false, true);
    EXPECT_EQ(origin.pixel(199, 99), source.pixel(199, 99));
    EXPECT_EQ(qAlpha(origin.pixel(250, 150)), 0);
}

// The budget counts the assets that visible layers use, from the document's records, before any
// file is read: hidden layers cost nothing.
TEST(ScreenshotRendererTest, SourcesInUseAreBudgetedFromTheirRecordsBeforeAnyFileIsRead) {
    RenderedDocument d(samples::coordinateImage(100, 80));
    const Uuid big = Uuid::random(), one = Uuid::random();
    d.document.assets.push_back({big, big.string() + ".png", 8000, 7999});  // no file behind either
    d.document.assets.push_back({one, one.string() + ".png", 1, 1});
    ScreenshotLayer large = layer(Kind::image, QRectF(0, 0, 10, 10));
    large.assetID = big;
    large.hidden = true;
    ScreenshotLayer tiny = large;
    tiny.id = Uuid::random();
    tiny.assetID = one;
    d.document.layers.push_back(large);
    d.document.layers.push_back(tiny);
    EXPECT_EQ(render(d).size(), QSize(100, 80)) << "hidden layers' assets are neither read nor counted";

    d.document.layers[1].hidden = false;  // 63,992,000 + 8,000 = 64,000,000: passes, then reads
    const std::string exactly = failureOf(d);
    EXPECT_NE(exactly, ScreenshotRenderer::kSourcesOverBudgetMessage);
    EXPECT_NE(exactly, "");
    d.document.layers[2].hidden = false;  // one pixel more
    EXPECT_EQ(failureOf(d), ScreenshotRenderer::kSourcesOverBudgetMessage);
    EXPECT_EQ(failureOf(d, true), "") << "the before frame uses the source alone";
}

TEST(ScreenshotRendererTest, EffectsReadTheOutputSoFarAndTheMagnifierOnlyTheImages) {
    QImage white(200, 200, QImage::Format_ARGB32);
    white.fill(Qt::white);
    RenderedDocument d(white);
    ScreenshotLayer arrow = layer(Kind::arrow, QRectF(20, 100, 160, 1));
    arrow.points = {QPointF(0, 0), QPointF(1, 0)};
    d.document.layers.push_back(arrow);
    ScreenshotLayer magnifier = layer(Kind::magnifier, QRectF(60, 90, 20, 20));
    magnifier.points = {QPointF(0, -3)};  // lens (50, 20, 40, 40) above the arrow
    d.document.layers.push_back(magnifier);
    ScreenshotLayer blur = layer(Kind::blur, QRectF(120, 80, 40, 40));
    blur.value = 4;
    d.document.layers.push_back(blur);
    const QImage out = render(d);
    // The lens shows the image layer only: white, not the arrow.
    for (int y = 26; y < 55; ++y) EXPECT_EQ(out.pixel(70, y), qRgb(255, 255, 255)) << y;
    EXPECT_NE(out.pixel(70, 70), qRgb(255, 255, 255)) << "the connector runs between source and lens";
    // The blur spreads the arrow drawn beneath it.
    EXPECT_NE(out.pixel(140, 107), qRgb(255, 255, 255));
    EXPECT_GT(qRed(out.pixel(140, 100)), qRed(out.pixel(100, 100)) - 1);
    EXPECT_EQ(out.pixel(100, 107), qRgb(255, 255, 255));
}

TEST(ScreenshotRendererTest, EveryKindDrawsInOneRender) {
    RenderedDocument d(samples::coordinateImage(400, 300));
    for (const Kind kind : allScreenshotLayerKinds) {
        ScreenshotLayer l = layer(kind, QRectF(40, 40, 160, 80));
        l.rotation = 12;
        l.points = {QPointF(0.1, 0.2), QPointF(0.9, 0.8), QPointF(0.5, 0.1)};
        l.text = kind == Kind::counter ? "7" : "Label";
        l.style.fontName = "DejaVu Sans";
        if (kind == Kind::image) l.assetID = d.document.sourceAssetID;
        if (kind == Kind::magnifier) l.points = {QPointF(0.6, 0.6)};
        d.document.layers.push_back(l);
    }
    d.document.backdrop.enabled = true;
    EXPECT_EQ(render(d, true).size(), QSize(480, 380));
}

TEST(ScreenshotRendererTest, BrokenDocumentsAssetsAndLayersFailTheWholeRender) {
    RenderedDocument d(samples::coordinateImage(100, 100));
    const std::filesystem::path file = d.folder / "assets" / d.document.assets.front().filename;

    RenderedDocument text(samples::coordinateImage(100, 100));
    ScreenshotLayer label = layer(Kind::text, QRectF(10, 10, 40, 20));
    label.text = "This sentence is far too long for its small box";
    text.document.layers.push_back(label);
    EXPECT_EQ(failureOf(text), ScreenshotRenderer::kTextDoesNotFitMessage);
    text.document.layers.back().text = std::string(100000, 'x');
    EXPECT_EQ(failureOf(text), "Invalid layer.");
    text.document.layers.back().frame = QRectF(0, 0, std::numeric_limits<double>::infinity(), 10);
    EXPECT_EQ(failureOf(text), "Invalid layer.");

    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(failureOf(d, false, stop.get_token()), "cancelled");

    {
        std::ofstream garbage(file, std::ios::trunc);
        garbage << "not an image at all";
    }
    EXPECT_EQ(failureOf(d), "Could not read the image, or it exceeds 64 MiB.");
    std::filesystem::remove(file);
    EXPECT_NE(failureOf(d), "");
    EXPECT_NE(failureOf(d, true), "");
}

}  // namespace
}  // namespace brevalto
