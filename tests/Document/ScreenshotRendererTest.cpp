#include "Document/ScreenshotRenderer.h"
#include "Errors/ScreenshotError.h"
#include "RenderSamples.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <limits>

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

TEST(ScreenshotRendererTest, CropsToTheIntegralCropAndFramesOnTheBackdropWhenAskedAndEnabled) {
    const QImage source = samples::coordinateImage(300, 200);
    RenderedDocument d(source);
    QImage whole = render(d);
    whole.setColorSpace(QColorSpace());
    EXPECT_EQ(whole, source.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    d.document.crop = QRectF(10.4, 10.6, 100.2, 50);
    const QImage cropped = render(d, true);  // the backdrop is still disabled
    ASSERT_EQ(cropped.size(), QSize(101, 51));
    EXPECT_EQ(cropped.pixel(0, 0), source.pixel(10, 10));
    EXPECT_EQ(cropped.pixel(100, 50), source.pixel(110, 60));
    d.document.backdrop.enabled = true;
    EXPECT_EQ(render(d, false).size(), QSize(101, 51));
    // The margin is max(padding, ceil(3 x shadow)).
    for (const auto& [shadow, margin] : {std::pair{12.0, 40}, {14.0, 42}, {13.4, 41}}) {
        d.document.backdrop.shadow = shadow;
        EXPECT_EQ(render(d, true).size(), QSize(101 + 2 * margin, 51 + 2 * margin));
    }
}

TEST(ScreenshotRendererTest, BackdropIsAGradientUnderARoundedCardWithAShadowAbove) {
    RenderedDocument d(samples::solid(100, 60, QColor(250, 250, 250)));
    d.document.backdrop.enabled = true;
    d.document.backdrop.shadow = 0;
    const QImage flat = render(d, true);
    d.document.backdrop.shadow = 12;
    const QImage shaded = render(d, true);
    // From the first colour at the top-left to the second at the bottom-right.
    const ScreenshotBackdrop colours;
    EXPECT_LT(std::abs(qBlue(flat.pixel(0, 0)) - colours.first.blue * 255), 20);
    EXPECT_LT(std::abs(qBlue(flat.pixel(179, 139)) - colours.second.blue * 255), 20);
    // The card holds the image; its 18-pixel corners show the background.
    EXPECT_TRUE(flat.pixel(90, 70) == qRgb(250, 250, 250) && flat.pixel(58, 41) == qRgb(250, 250, 250));
    EXPECT_NE(flat.pixel(41, 41), qRgb(250, 250, 250));
    // The shadow darkens around the card, more above than below (it is moved up).
    const int above = darkness(shaded.pixel(90, 36)) - darkness(flat.pixel(90, 36));
    const int below = darkness(shaded.pixel(90, 103)) - darkness(flat.pixel(90, 103));
    EXPECT_TRUE(above > 10 && above > below && below >= 0);
    EXPECT_EQ(shaded.pixel(0, 0), flat.pixel(0, 0));
    // A radius of 500 on 100 x 60 is drawn as 30.
    d.document.backdrop.radius = 500;
    const QImage round = render(d, true);
    EXPECT_NE(round.pixel(46, 46), qRgb(250, 250, 250));  // 34 from the corner circle's centre
    EXPECT_EQ(round.pixel(52, 52), qRgb(250, 250, 250));  // 25 from it
}

TEST(ScreenshotRendererTest, SourceOnlyDrawsTheSourceAlonePlacedAndFramedAsTheDocument) {
    const QImage source = samples::coordinateImage(200, 100);
    RenderedDocument d(source);
    d.document.canvas = QSizeF(300, 200);
    d.document.layers.front().frame = QRectF(50, 20, 200, 100);
    ScreenshotLayer redact = layer(Kind::redact, QRectF(60, 30, 40, 40));
    redact.style.fill = {0, 1, 0, 1};
    d.document.layers.push_back(redact);
    d.document.crop = QRectF(40, 10, 220, 150);
    d.document.backdrop.enabled = true;
    const QImage after = render(d, true, false), before = render(d, true, true);
    ASSERT_EQ(before.size(), after.size());
    // Canvas (70, 40) is source (20, 20), at (30, 30) in the crop, behind a margin of 40.
    EXPECT_EQ(before.pixel(70, 70), source.pixel(20, 20));
    EXPECT_EQ(after.pixel(70, 70), qRgb(0, 255, 0));
    // The placement is the first layer showing the source, hidden or not ...
    d.document.layers.front().hidden = true;
    EXPECT_EQ(render(d, true, true).pixel(70, 70), source.pixel(20, 20));
    // ... else the original placement ... else the source's own size at the canvas origin.
    d.document.originalPlacement = d.document.layers.front();
    d.document.originalPlacement->frame = QRectF(100, 60, 200, 100);
    d.document.layers.erase(d.document.layers.begin());
    d.document.backdrop.enabled = false;
    EXPECT_EQ(render(d, false, true).pixel(100 - 40 + 5, 60 - 10 + 5), source.pixel(5, 5));
    d.document.originalPlacement.reset();
    d.document.crop.reset();
    const QImage origin = render(d, false, true);
    EXPECT_TRUE(origin.pixel(199, 99) == source.pixel(199, 99) && qAlpha(origin.pixel(250, 150)) == 0);
}

// The budget counts what visible layers use, from the records, before any file is read.
TEST(ScreenshotRendererTest, SourcesInUseAreBudgetedFromTheirRecordsBeforeAnyFileIsRead) {
    RenderedDocument d(samples::coordinateImage(100, 80));
    const Uuid big = Uuid::random(), one = Uuid::random();
    d.document.assets.push_back({big, big.string() + ".png", 8000, 7999});  // no file behind either
    d.document.assets.push_back({one, one.string() + ".png", 1, 1});
    for (const Uuid& id : {big, one}) {
        ScreenshotLayer image = layer(Kind::image, QRectF(0, 0, 10, 10));
        image.assetID = id;
        image.hidden = true;
        d.document.layers.push_back(image);
    }
    EXPECT_EQ(failureOf(d), "") << "hidden layers' assets are neither read nor counted";
    d.document.layers[1].hidden = false;  // 63,992,000 + 8,000 = 64,000,000: passes, then reads
    EXPECT_NE(failureOf(d), ScreenshotRenderer::kSourcesOverBudgetMessage);
    EXPECT_NE(failureOf(d), "");
    d.document.layers[2].hidden = false;  // one pixel more
    EXPECT_EQ(failureOf(d), ScreenshotRenderer::kSourcesOverBudgetMessage);
    EXPECT_EQ(failureOf(d, true), "") << "the before frame uses the source alone";
}

TEST(ScreenshotRendererTest, EffectsReadTheOutputSoFarAndTheMagnifierOnlyTheImages) {
    RenderedDocument d(samples::solid(200, 200, Qt::white));
    ScreenshotLayer arrow = layer(Kind::arrow, QRectF(20, 100, 160, 1));
    arrow.points = {QPointF(0, 0), QPointF(1, 0)};
    ScreenshotLayer magnifier = layer(Kind::magnifier, QRectF(60, 90, 20, 20));
    magnifier.points = {QPointF(0, -3)};  // lens (50, 20, 40, 40) above the arrow
    ScreenshotLayer blur = layer(Kind::blur, QRectF(120, 80, 40, 40));
    blur.value = 4;
    d.document.layers.insert(d.document.layers.end(), {arrow, magnifier, blur});
    const QImage out = render(d);
    for (int y = 26; y < 55; ++y) EXPECT_EQ(out.pixel(70, y), qRgb(255, 255, 255)) << "no arrow in the lens";
    EXPECT_NE(out.pixel(140, 107), qRgb(255, 255, 255)) << "the blur spreads the arrow";
    EXPECT_EQ(out.pixel(100, 107), qRgb(255, 255, 255));
}

TEST(ScreenshotRendererTest, EveryKindDrawsAndAnyBrokenPartFailsTheWholeRender) {
    RenderedDocument d(samples::coordinateImage(400, 300));
    for (const Kind kind : allScreenshotLayerKinds) {
        ScreenshotLayer l = layer(kind, QRectF(40, 40, 160, 80));
        l.rotation = 12;
        l.points = {QPointF(kind == Kind::magnifier ? 0.6 : 0.1, 0.2), QPointF(0.9, 0.8), QPointF(0.5, 0.1)};
        l.text = kind == Kind::counter ? "7" : "Label";
        if (kind == Kind::image) l.assetID = d.document.sourceAssetID;
        d.document.layers.push_back(l);
    }
    d.document.backdrop.enabled = true;
    EXPECT_EQ(render(d, true).size(), QSize(480, 380));

    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(failureOf(d, false, stop.get_token()), "cancelled");
    ScreenshotLayer& text = d.document.layers[2];
    text.text = "This sentence is far too long for its small box";
    text.frame = QRectF(10, 10, 40, 20);
    EXPECT_EQ(failureOf(d), ScreenshotRenderer::kTextDoesNotFitMessage);
    text.text = std::string(100000, 'x');
    EXPECT_EQ(failureOf(d), "Invalid layer.");
    text.text = "ok";
    text.frame = QRectF(0, 0, std::numeric_limits<double>::infinity(), 10);
    EXPECT_EQ(failureOf(d), "Invalid layer.");
    d.document.layers.resize(1);
    const std::filesystem::path file = d.folder / "assets" / d.document.assets.front().filename;
    std::ofstream(file, std::ios::trunc) << "not an image at all";
    EXPECT_EQ(failureOf(d), "Could not read the image, or it exceeds 64 MiB.");
    std::filesystem::remove(file);
    EXPECT_NE(failureOf(d, true), "");
}

// Layers 1 to 5 over the image: a filled rectangle, an arrow, a text, a blur and a pixelation.
void addAnnotations(ScreenshotDocument& document) {
    ScreenshotLayer rect = layer(Kind::rectangle, QRectF(40, 40, 100, 60));
    rect.style.filled = true;
    ScreenshotLayer arrow = layer(Kind::arrow, QRectF(40, 200, 80, 40));
    arrow.points = {QPointF(0, 0), QPointF(1, 1)};
    ScreenshotLayer text = layer(Kind::text, QRectF(220, 200, 120, 40));
    text.text = "Label";
    ScreenshotLayer blur = layer(Kind::blur, QRectF(150, 30, 80, 80));
    blur.value = 4;
    ScreenshotLayer pixelate = layer(Kind::pixelate, QRectF(250, 60, 60, 60));
    pixelate.value = 8;
    document.layers.insert(document.layers.end(), {rect, arrow, text, blur, pixelate});
}

// Drawing again only the changed part gives the pixels of a full render, and declines wherever it
// could not.
TEST(ScreenshotRendererTest, ChangesDrawnAgainInPlaceMatchAFullRender) {
    RenderedDocument d(samples::coordinateImage(800, 600));
    addAnnotations(d.document);
    using Edit = std::function<void(ScreenshotDocument&)>;
    const Edit none = [](ScreenshotDocument&) {};
    const struct {
        const char* name;
        Edit setup, change;
        bool inPlace;
    } cases[] = {
        {"opacity of a rectangle", none, [](auto& doc) { doc.layers[1].style.opacity = 0.4; }, true},
        {"an arrow moved under a blur", none, [](auto& doc) { doc.layers[2].frame = QRectF(160, 50, 50, 40); }, true},
        {"new text", none, [](auto& doc) { doc.layers[3].text = "Hello"; }, true},
        {"a layer hidden", none, [](auto& doc) { doc.layers[1].hidden = true; }, true},
        {"a rectangle turned", none, [](auto& doc) { doc.layers[1].rotation = 30; }, true},
        {"a blur grown over the pixelation", none, [](auto& doc) { doc.layers[4].frame = QRectF(150, 30, 120, 80); }, true},
        {"inside a crop", [](auto& doc) { doc.crop = QRectF(10.5, 0, 700, 500); },
         [](auto& doc) { doc.layers[1].style.opacity = 0.5; }, true},
        {"an image moved", none, [](auto& doc) { doc.layers[0].frame.translate(5, 0); }, false},
        {"with a magnifier", [](auto& doc) { doc.layers.push_back(layer(Kind::magnifier, QRectF(300, 200, 30, 30))); },
         [](auto& doc) { doc.layers[1].style.opacity = 0.5; }, false},
        {"with a backdrop", [](auto& doc) { doc.backdrop.enabled = true; },
         [](auto& doc) { doc.layers[1].style.opacity = 0.5; }, false},
        {"an effect reading past the crop", [](auto& doc) { doc.crop = QRectF(180, 0, 620, 600); },
         [](auto& doc) { doc.layers[4].value = 6; }, false},
        {"most of the image", none, [](auto& doc) { doc.layers[1].frame = QRectF(0, 0, 800, 600); }, false},
    };
    for (const auto& c : cases) {
        RenderedDocument before(samples::coordinateImage(800, 600));
        before.document.layers = d.document.layers;
        before.document.layers[0].assetID = before.document.sourceAssetID;
        c.setup(before.document);
        const QImage previous = ScreenshotRenderer::render(before.document, before.folder, false, false);
        ScreenshotDocument after = before.document;
        c.change(after);
        const QImage drawn = ScreenshotRenderer::renderChanges(after, before.document, previous, before.folder);
        EXPECT_EQ(!drawn.isNull(), c.inPlace) << c.name;
        if (!drawn.isNull()) {
            EXPECT_EQ(drawn, ScreenshotRenderer::render(after, before.folder, false, false)) << c.name;
        }
    }
    const QImage previous = render(d);
    EXPECT_EQ(ScreenshotRenderer::renderChanges(d.document, d.document, previous, d.folder).cacheKey(), previous.cacheKey())
        << "nothing changed: the previous image itself";
}

TEST(ScreenshotRendererTest, ASequenceOfRendersDrawnFromEachOtherMatchesFullRenders) {
    RenderedDocument d(samples::coordinateImage(800, 600));
    addAnnotations(d.document);
    using Edit = std::function<void(ScreenshotDocument&)>;
    const std::pair<const char*, Edit> steps[] = {
        {"first", [](auto&) {}},
        {"opacity", [](auto& doc) { doc.layers[1].style.opacity = 0.5; }},
        {"arrow under the blur", [](auto& doc) { doc.layers[2].frame = QRectF(160, 50, 50, 40); }},
        {"text", [](auto& doc) { doc.layers[3].text = "Hello"; }},
        {"opacity again, an earlier render held elsewhere", [](auto& doc) { doc.layers[1].style.opacity = 0.7; }},
        {"text that fails part way", [](auto& doc) { doc.layers[3].text = "Far too long a sentence for this box"; }},
        {"the text back, the arrow fainter", [](auto& doc) {
             doc.layers[3].text = "Hello";
             doc.layers[2].style.opacity = 0.5;
         }},
    };
    ScreenshotRenderer::RenderSequence sequence;
    QImage held;
    for (const auto& [name, edit] : steps) {
        edit(d.document);
        if (std::string(name) == "text that fails part way") {
            EXPECT_THROW(sequence.render(d.document, d.folder), ScreenshotError);
            continue;
        }
        const QImage image = sequence.render(d.document, d.folder);
        EXPECT_EQ(image, render(d)) << name;
        if (std::string(name) == "arrow under the blur") held = image;
    }
}

}  // namespace
}  // namespace brevalto
