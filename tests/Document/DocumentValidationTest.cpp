#include "Document/DocumentValidation.h"
#include "Document/ScreenshotDocument.h"
#include "DocumentSamples.h"
#include "Errors/ScreenshotError.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace brevalto {
namespace {

constexpr const char* ok = "valid";
constexpr const char* sizeRule = "Invalid size. The editor allows up to 64 MP and 65,536 px per side.";
constexpr const char* budget = "The document is invalid or over budget.";
constexpr const char* unsafe = "Unsafe asset path.";
constexpr const char* cropRule = "Crop is outside the canvas.";
constexpr const char* layerRule = "Invalid layer.";
constexpr const char* backdropRule = "Invalid backdrop.";

const double nan = std::nan("");
const double inf = INFINITY;

std::string outcome(const ScreenshotDocument& document) {
    try {
        validateDocument(document);
        return ok;
    } catch (const ScreenshotError& error) {
        return error.what();
    }
}

std::string repeated(const std::string& piece, int times) {
    std::string s;
    for (int i = 0; i < times; ++i) s += piece;
    return s;
}

struct Case {
    const char* name;
    std::function<void(ScreenshotDocument&)> edit;
    const char* expected;
};

void expectOutcomes(const std::vector<Case>& cases) {
    for (const auto& c : cases) {
        ScreenshotDocument d = samples::document();
        c.edit(d);
        EXPECT_EQ(outcome(d), c.expected) << c.name;
    }
}

ScreenshotLayer& extraLayer(ScreenshotDocument& d, ScreenshotLayerKind kind = ScreenshotLayerKind::rectangle) {
    d.layers.push_back(samples::layerOf(kind));
    return d.layers.back();
}

TEST(DocumentValidationTest, SizesCountsAndIds) {
    expectOutcomes({
        {"sample", [](auto&) {}, ok},
        {"8000 canvas", [](auto& d) { d.canvas = QSizeF(8000, 8000); }, ok},
        {"65536 x 977", [](auto& d) { d.canvas = QSizeF(65536, 977); }, sizeRule},
        {"65536 x 976", [](auto& d) { d.canvas = QSizeF(65536, 976); }, ok},
        {"half pixel", [](auto& d) { d.canvas = QSizeF(0.5, 100); }, sizeRule},
        {"NaN canvas", [](auto& d) { d.canvas = QSizeF(nan, 100); }, sizeRule},
        {"fraction counts whole", [](auto& d) { d.canvas = QSizeF(8000.2, 8000); }, sizeRule},
        {"version", [](auto& d) { d.version = 1; }, budget},
        {"scale 0.25", [](auto& d) { d.sourceScale = 0.25; }, ok},
        {"scale 8", [](auto& d) { d.sourceScale = 8; }, ok},
        {"scale 0.24", [](auto& d) { d.sourceScale = 0.24; }, budget},
        {"scale NaN", [](auto& d) { d.sourceScale = nan; }, budget},
        {"no assets", [](auto& d) { d.assets.clear(); }, budget},
        {"257 assets", [](auto& d) { while (d.assets.size() < 257) d.assets.push_back(samples::asset()); }, budget},
        {"256 assets", [](auto& d) { while (d.assets.size() < 256) d.assets.push_back(samples::asset()); }, ok},
        {"513 layers", [](auto& d) { while (d.layers.size() < 513) extraLayer(d); }, budget},
        {"512 layers", [](auto& d) { while (d.layers.size() < 512) extraLayer(d); }, ok},
        {"33 metadata", [](auto& d) { for (int i = 0; i < 33; ++i) d.metadata[std::to_string(i)] = ""; }, budget},
        {"32 metadata", [](auto& d) { for (int i = 0; i < 32; ++i) d.metadata[std::to_string(i)] = ""; }, ok},
        {"key of 101", [](auto& d) { d.metadata[std::string(101, 'k')] = "v"; }, budget},
        {"key of 100 emoji", [](auto& d) { d.metadata[repeated("👩‍👩‍👧", 100)] = "v"; }, ok},
        {"key of 101 emoji", [](auto& d) { d.metadata[repeated("🇫🇷", 101)] = "v"; }, budget},
        {"value of 4097", [](auto& d) { d.metadata["k"] = std::string(4097, 'v'); }, budget},
        {"value of 4096 accented", [](auto& d) { d.metadata["k"] = repeated("e\xCC\x81", 4096); }, ok},
        {"same asset ids", [](auto& d) { d.assets.push_back(d.assets.front()); }, budget},
        {"same layer ids", [](auto& d) {
             const Uuid first = d.layers.front().id;
             extraLayer(d).id = first;
         }, budget},
        {"placement shares an id", [](auto& d) { d.originalPlacement = d.layers.front(); }, ok},
        {"source asset missing", [](auto& d) { d.sourceAssetID = Uuid::random(); }, budget},
    });
}

TEST(DocumentValidationTest, AssetsAndCrop) {
    expectOutcomes({
        {"asset 0 wide", [](auto& d) { d.assets[0].width = 0; }, sizeRule},
        {"asset 65537 wide", [](auto& d) { d.assets[0].width = 65537; }, sizeRule},
        {"asset over 64 MP", [](auto& d) { d.assets[0].width = 8001, d.assets[0].height = 8000; }, sizeRule},
        {"asset huge overflow", [](auto& d) { d.assets[0].width = d.assets[0].height = INT64_MAX; }, sizeRule},
        {"lower-case name", [](auto& d) {
             std::string name = d.assets[0].filename;
             for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
             d.assets[0].filename = name;
         }, unsafe},
        {"parent step", [](auto& d) { d.assets[0].filename = "../" + d.assets[0].filename; }, unsafe},
        {"other extension", [](auto& d) { d.assets[0].filename = d.assets[0].id.string() + ".PNG"; }, unsafe},
        {"size before name", [](auto& d) { d.assets[0].filename = "x", d.assets[0].width = 0; }, sizeRule},
        {"whole canvas crop", [](auto& d) { d.crop = QRectF(0, 0, 800, 600); }, ok},
        {"zero-width crop", [](auto& d) { d.crop = QRectF(10, 10, 0, 100); }, cropRule},
        {"crop out by a fraction", [](auto& d) { d.crop = QRectF(0.5, 0, 800, 600); }, cropRule},
        {"crop above", [](auto& d) { d.crop = QRectF(10, -0.001, 10, 10); }, cropRule},
        {"negative-size crop inside", [](auto& d) { d.crop = QRectF(100, 100, -50, -50); }, ok},
        {"negative-size crop outside", [](auto& d) { d.crop = QRectF(10, 10, -50, 5); }, cropRule},
        {"NaN crop", [](auto& d) { d.crop = QRectF(nan, 0, 10, 10); }, cropRule},
    });
}

TEST(DocumentValidationTest, LayerRules) {
    expectOutcomes({
        {"frame of zero height", [](auto& d) { extraLayer(d).frame = QRectF(0, 0, 10, 0); }, layerRule},
        {"frame far away", [](auto& d) { extraLayer(d).frame = QRectF(131073, 0, 10, 10); }, layerRule},
        {"frame at the limit", [](auto& d) { extraLayer(d).frame = QRectF(-131072, 0, -131072, 10); }, ok},
        {"frame infinite", [](auto& d) { extraLayer(d).frame = QRectF(0, 0, inf, 10); }, layerRule},
        {"rotation 3600", [](auto& d) { extraLayer(d).rotation = -3600; }, ok},
        {"rotation 3601", [](auto& d) { extraLayer(d).rotation = 3601; }, layerRule},
        {"rotation NaN", [](auto& d) { extraLayer(d).rotation = nan; }, layerRule},
        {"value 0.1", [](auto& d) { extraLayer(d).value = 0.1; }, ok},
        {"value 0.09", [](auto& d) { extraLayer(d).value = 0.09; }, layerRule},
        {"value 200.5", [](auto& d) { extraLayer(d).value = 200.5; }, layerRule},
        {"text 30000", [](auto& d) { extraLayer(d).text = repeated("ü", 30000); }, ok},
        {"text 30001", [](auto& d) { extraLayer(d).text = std::string(30001, 'a'); }, layerRule},
        {"original 30001", [](auto& d) { extraLayer(d).originalText = std::string(30001, 'a'); }, layerRule},
        {"20000 points", [](auto& d) { extraLayer(d).points.assign(20000, QPointF(1, 1)); }, ok},
        {"20001 points", [](auto& d) { extraLayer(d).points.assign(20001, QPointF(1, 1)); }, layerRule},
        {"point (10, -10)", [](auto& d) { extraLayer(d).points = {QPointF(10, -10)}; }, ok},
        {"point (10.000001, 0)", [](auto& d) { extraLayer(d).points = {QPointF(10.000001, 0)}; }, layerRule},
        {"point NaN", [](auto& d) { extraLayer(d).points = {QPointF(0, nan)}; }, layerRule},
        {"stroke alpha 1.1", [](auto& d) { extraLayer(d).style.stroke.alpha = 1.1; }, layerRule},
        {"fill NaN", [](auto& d) { extraLayer(d).style.fill.green = nan; }, layerRule},
        {"stroke width 0", [](auto& d) { extraLayer(d).style.strokeWidth = 0; }, layerRule},
        {"stroke width 200", [](auto& d) { extraLayer(d).style.strokeWidth = 200; }, ok},
        {"stroke width 201", [](auto& d) { extraLayer(d).style.strokeWidth = 201; }, layerRule},
        {"font size 0", [](auto& d) { extraLayer(d).style.fontSize = 0; }, layerRule},
        {"font size 1001", [](auto& d) { extraLayer(d).style.fontSize = 1001; }, layerRule},
        {"font name 201", [](auto& d) { extraLayer(d).style.fontName = std::string(201, 'f'); }, layerRule},
        {"opacity -0.1", [](auto& d) { extraLayer(d).style.opacity = -0.1; }, layerRule},
        {"image without asset", [](auto& d) { d.layers[0].assetID.reset(); }, layerRule},
        {"image with unknown asset", [](auto& d) { d.layers[0].assetID = Uuid::random(); }, layerRule},
        {"other kind with any asset", [](auto& d) { extraLayer(d).assetID = Uuid::random(); }, ok},
        {"bad placement", [](auto& d) {
             d.originalPlacement = d.layers[0];
             d.originalPlacement->value = 0;
         }, layerRule},
    });
}

TEST(DocumentValidationTest, CounterText) {
    const struct {
        const char* text;
        bool valid;
    } cases[] = {
        {"1", true},     {"9999", true},  {"+12", true},  {"007", true},   {"0", false},
        {"10000", false}, {"5.0", false}, {"", false},    {" 5", false},   {"5 ", false},
        {"-3", false},   {"+", false},    {"٣", false},   {"0x10", false}, {"99999999999999999999", false},
        {"-0", false},   {"+0009999", true},
        // Digit strings whose value would wrap a 64-bit sum back into 1...9999.
        {"18446744073709551620", false}, {"92233720368547758080001", false},
    };
    for (const auto& c : cases) {
        ScreenshotDocument d = samples::document();
        extraLayer(d, ScreenshotLayerKind::counter).text = c.text;
        EXPECT_EQ(outcome(d), c.valid ? ok : layerRule) << '"' << c.text << '"';
    }
    // The rule is the counter's alone.
    ScreenshotDocument d = samples::document();
    extraLayer(d, ScreenshotLayerKind::text).text = "0";
    EXPECT_EQ(outcome(d), ok);
}

TEST(DocumentValidationTest, Backdrop) {
    expectOutcomes({
        {"angle -360", [](auto& d) { d.backdrop.angle = -360; }, ok},
        {"angle 360.5", [](auto& d) { d.backdrop.angle = 360.5; }, backdropRule},
        {"padding 2001", [](auto& d) { d.backdrop.padding = 2001; }, backdropRule},
        {"radius -1", [](auto& d) { d.backdrop.radius = -1; }, backdropRule},
        {"shadow 201", [](auto& d) { d.backdrop.shadow = 201; }, backdropRule},
        {"second out of range", [](auto& d) { d.backdrop.second.red = 2; }, backdropRule},
        {"disabled backdrop padding 2000 on 8000", [](auto& d) {
             d.canvas = QSizeF(8000, 8000);
             d.backdrop.padding = 2000;
         }, ok},
        {"enabled backdrop padding 2000 on 8000", [](auto& d) {
             d.canvas = QSizeF(8000, 8000);
             d.backdrop.padding = 2000;
             d.backdrop.enabled = true;
         }, sizeRule},
        {"crop makes room", [](auto& d) {
             d.canvas = QSizeF(8000, 8000);
             d.crop = QRectF(0, 0, 4000, 4000);
             d.backdrop.padding = 2000;
             d.backdrop.enabled = true;
         }, ok},
        // Margin = ceil(max(10, 3 x 12.5)) = 38: 7924 + 76 = 8000 fits, 7925 + 76 does not.
        {"margin 38 fits", [](auto& d) {
             d.canvas = QSizeF(7924, 8000 - 76);
             d.backdrop = {.enabled = true, .padding = 10, .shadow = 12.5};
         }, ok},
        {"margin 38 rounds up", [](auto& d) {
             d.canvas = QSizeF(7924.5, 8000 - 76);
             d.backdrop = {.enabled = true, .padding = 10, .shadow = 12.5};
         }, sizeRule},
        {"layer rule comes first", [](auto& d) {
             d.backdrop.angle = 999;
             d.layers[0].value = 0;
         }, layerRule},
    });
}

TEST(DocumentValidationTest, ChecksRunInOrder) {
    // Each pair breaks two rules: the earlier one's sentence wins.
    expectOutcomes({
        {"size before budget", [](auto& d) { d.canvas = QSizeF(0, 0), d.assets.clear(); }, sizeRule},
        {"budget before asset path", [](auto& d) { d.sourceScale = 9, d.assets[0].filename = "x.png"; }, budget},
        {"asset path before crop", [](auto& d) { d.assets[0].filename = "x.png", d.crop = QRectF(-1, 0, 1, 1); },
         unsafe},
        {"crop before layers", [](auto& d) { d.crop = QRectF(-1, 0, 1, 1), d.layers[0].assetID.reset(); },
         cropRule},
        {"layers before backdrop", [](auto& d) { d.layers[0].hidden = true, d.layers[0].rotation = nan,
                                                 d.backdrop.padding = -1; }, layerRule},
    });
}

TEST(DocumentValidationTest, LayerRectRule) {
    EXPECT_TRUE(isValidLayerRect(QRectF(0, 0, 1, 1)));
    EXPECT_TRUE(isValidLayerRect(QRectF(-5, -5, -1, -1)));
    EXPECT_FALSE(isValidLayerRect(QRectF(0, 0, -0.0, 1)));
    EXPECT_FALSE(isValidLayerRect(QRectF(0, -131072.5, 1, 1)));
}

}  // namespace
}  // namespace brevalto
