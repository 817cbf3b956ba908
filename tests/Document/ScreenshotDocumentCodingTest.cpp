#include "Document/ScreenshotDocument.h"
#include "DocumentSamples.h"
#include "Errors/ScreenshotError.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <functional>

namespace brevalto {
namespace {

using Json = nlohmann::ordered_json;

std::vector<std::string> keysOf(const Json& object) {
    std::vector<std::string> keys;
    for (const auto& item : object.items()) keys.push_back(item.key());
    return keys;
}

// The document's JSON, changed by `edit`, decoded again.
ScreenshotDocument decodeEdited(const ScreenshotDocument& document, const std::function<void(Json&)>& edit) {
    Json j = Json::parse(document.encode());
    edit(j);
    return ScreenshotDocument::decode(j.dump());
}

std::string screenshotErrorOf(const std::function<void()>& run) {
    try {
        run();
    } catch (const ScreenshotError& error) {
        return error.what();
    } catch (const std::exception& error) {
        return std::string("other: ") + error.what();
    }
    return "no error";
}

TEST(ScreenshotDocumentCodingTest, LayerKindsHaveStoredNamesAndTitles) {
    EXPECT_EQ(allScreenshotLayerKinds.size(), 17u);
    for (ScreenshotLayerKind kind : allScreenshotLayerKinds) {
        EXPECT_EQ(screenshotLayerKind(rawValue(kind)), kind);
        EXPECT_FALSE(title(kind).empty());
    }
    EXPECT_EQ(rawValue(ScreenshotLayerKind::curvedArrow), "curvedArrow");
    EXPECT_EQ(title(ScreenshotLayerKind::redact), "Opaque redaction");
    EXPECT_EQ(title(ScreenshotLayerKind::pixelate), "Pixelate (not secret-safe)");
    for (const char* other : {"Image", "", "image ", "translated_text", "CurvedArrow"})
        EXPECT_FALSE(screenshotLayerKind(other)) << other;
}

TEST(ScreenshotDocumentCodingTest, RoundTripsEveryLayerKind) {
    const ScreenshotDocument original = samples::richDocument();
    const std::string encoded = original.encode();
    const ScreenshotDocument decoded = ScreenshotDocument::decode(encoded);
    EXPECT_EQ(decoded, original);
    EXPECT_EQ(decoded.encode(), encoded);
    EXPECT_EQ(encoded.find('\n'), std::string::npos);  // compact
    EXPECT_EQ(encoded.find(": "), std::string::npos);
}

TEST(ScreenshotDocumentCodingTest, WritesMembersInTheirFixedOrder) {
    const Json j = Json::parse(samples::richDocument().encode());
    EXPECT_EQ(keysOf(j), (std::vector<std::string>{"version", "id", "historyID", "revision", "sourceAssetID",
                                                   "sourceScale", "canvas", "assets", "layers", "crop",
                                                   "originalPlacement", "backdrop", "metadata"}));
    EXPECT_EQ(keysOf(j["assets"][0]), (std::vector<std::string>{"id", "filename", "width", "height"}));
    const Json& translated = j["layers"][17];
    EXPECT_EQ(translated["kind"], "translatedText");
    EXPECT_EQ(keysOf(translated), (std::vector<std::string>{"id", "kind", "frame", "text", "originalText", "points",
                                                           "style", "rotation", "value", "hidden"}));
    EXPECT_EQ(keysOf(j["layers"][0]), (std::vector<std::string>{"id", "kind", "frame", "assetID", "text", "points",
                                                               "style", "rotation", "value", "hidden"}));
    EXPECT_EQ(keysOf(translated["style"]), (std::vector<std::string>{"stroke", "fill", "filled", "strokeWidth",
                                                                    "fontSize", "fontName", "opacity", "handDrawn"}));
    EXPECT_EQ(keysOf(translated["style"]["stroke"]), (std::vector<std::string>{"red", "green", "blue", "alpha"}));
    EXPECT_EQ(keysOf(j["backdrop"]), (std::vector<std::string>{"enabled", "first", "second", "padding", "radius",
                                                              "shadow", "angle"}));
    EXPECT_EQ(j["crop"].dump(), "[[5.5,6.0],[300.0,200.25]]");
    EXPECT_EQ(j["canvas"].dump(), "[800.0,600.0]");
    EXPECT_TRUE(j["assets"][0]["width"].is_number_integer());
    EXPECT_EQ(j["version"].dump(), "2");

    // Absent optionals are left out; revision, backdrop and metadata are always written.
    const Json plain = Json::parse(samples::document().encode());
    EXPECT_FALSE(plain.contains("crop"));
    EXPECT_FALSE(plain.contains("originalPlacement"));
    EXPECT_TRUE(plain.contains("revision") && plain.contains("backdrop") && plain.contains("metadata"));
    EXPECT_FALSE(plain["layers"][0].contains("originalText"));
}

TEST(ScreenshotDocumentCodingTest, UpgradesVersionOneDocuments) {
    const ScreenshotDocument current = samples::document();
    const ScreenshotDocument old = decodeEdited(current, [](Json& j) {
        j["version"] = 1;
        j.erase("revision");
        j.erase("backdrop");
        j.erase("metadata");
    });
    EXPECT_EQ(old.version, 2);
    EXPECT_EQ(old.revision, current.id);
    EXPECT_EQ(old.backdrop, ScreenshotBackdrop{});
    EXPECT_TRUE(old.metadata.empty());
    const Json again = Json::parse(old.encode());
    EXPECT_EQ(again["version"], 2);
    EXPECT_EQ(again["revision"], current.id.string());
    EXPECT_TRUE(again.contains("backdrop") && again.contains("metadata"));
}

TEST(ScreenshotDocumentCodingTest, VersionsAndIntegers) {
    const ScreenshotDocument d = samples::document();
    const struct {
        const char* name;
        std::function<void(Json&)> edit;
        const char* outcome;  // "ok", "format" or a ScreenshotError sentence
    } cases[] = {
        {"version 3", [](Json& j) { j["version"] = 3; }, "Unsupported document version."},
        {"version 0", [](Json& j) { j["version"] = 0; }, "Unsupported document version."},
        {"version -1", [](Json& j) { j["version"] = -1; }, "Unsupported document version."},
        {"version 2.0", [](Json& j) { j["version"] = 2.0; }, "ok"},
        {"version 1.5", [](Json& j) { j["version"] = 1.5; }, "format"},
        {"version text", [](Json& j) { j["version"] = "2"; }, "format"},
        {"version missing", [](Json& j) { j.erase("version"); }, "format"},
        {"version huge", [](Json& j) { j["version"] = 1e300; }, "format"},
        {"version 2^64", [](Json& j) { j["version"] = 18446744073709551615ull; }, "format"},
        // A bad version wins over a broken rule.
        {"version 3, bad scale", [](Json& j) { j["version"] = 3; j["sourceScale"] = 100; },
         "Unsupported document version."},
        {"width 800.0", [](Json& j) { j["assets"][0]["width"] = 800.0; }, "ok"},
        {"width 800.5", [](Json& j) { j["assets"][0]["width"] = 800.5; }, "format"},
        {"width true", [](Json& j) { j["assets"][0]["width"] = true; }, "format"},
        {"width exponent", [](Json& j) { j["assets"][0]["width"] = Json::parse("8e2"); }, "ok"},
    };
    for (const auto& c : cases) {
        std::string outcome;
        try {
            decodeEdited(d, c.edit);
            outcome = "ok";
        } catch (const ScreenshotDocumentFormatError&) {
            outcome = "format";
        } catch (const ScreenshotError& error) {
            outcome = error.what();
        }
        EXPECT_EQ(outcome, c.outcome) << c.name;
    }
}

TEST(ScreenshotDocumentCodingTest, RefusesTheWrongForm) {
    const ScreenshotDocument d = samples::richDocument();
    const struct {
        const char* name;
        std::function<void(Json&)> edit;
    } cases[] = {
        {"layer without hidden", [](Json& j) { j["layers"][1].erase("hidden"); }},
        {"layer without style", [](Json& j) { j["layers"][1].erase("style"); }},
        {"layer without points", [](Json& j) { j["layers"][1].erase("points"); }},
        {"capitalised kind", [](Json& j) { j["layers"][0]["kind"] = "Image"; }},
        {"unknown kind", [](Json& j) { j["layers"][0]["kind"] = "sticker"; }},
        {"kind as number", [](Json& j) { j["layers"][0]["kind"] = 0; }},
        {"backdrop without angle", [](Json& j) { j["backdrop"].erase("angle"); }},
        {"colour without alpha", [](Json& j) { j["backdrop"]["first"].erase("alpha"); }},
        {"colour as array", [](Json& j) { j["layers"][1]["style"]["fill"] = Json::array({1, 1, 1, 1}); }},
        {"number as text", [](Json& j) { j["sourceScale"] = "2"; }},
        {"text as number", [](Json& j) { j["layers"][1]["text"] = 5; }},
        {"bool as number", [](Json& j) { j["layers"][1]["hidden"] = 0; }},
        {"lower-case is fine, braces are not", [](Json& j) { j["id"] = "{" + j["id"].get<std::string>() + "}"; }},
        {"rect of three", [](Json& j) { j["crop"] = Json::array({Json::array({0, 0}), Json::array({1, 1}), 0}); }},
        {"flat rect", [](Json& j) { j["crop"] = Json::array({0, 0, 10, 10}); }},
        {"point of three", [](Json& j) { j["layers"][1]["points"][0] = Json::array({0, 0, 0}); }},
        {"canvas as object", [](Json& j) { j["canvas"] = Json{{"width", 800}, {"height", 600}}; }},
        {"assets missing", [](Json& j) { j.erase("assets"); }},
        {"layers as object", [](Json& j) { j["layers"] = Json::object(); }},
        {"metadata value number", [](Json& j) { j["metadata"]["n"] = 3; }},
        {"metadata as array", [](Json& j) { j["metadata"] = Json::array(); }},
        {"asset filename missing", [](Json& j) { j["assets"][0].erase("filename"); }},
        {"originalPlacement as text", [](Json& j) { j["originalPlacement"] = "x"; }},
        {"top level array", [](Json& j) { j = Json::array({j}); }},
    };
    for (const auto& c : cases) EXPECT_THROW(decodeEdited(d, c.edit), ScreenshotDocumentFormatError) << c.name;

    for (const char* text : {"", "{", "null", "[]", "{\"version\":2,}", "\xff\xfe{}", "{\"version\":2}"})
        EXPECT_THROW(ScreenshotDocument::decode(text), ScreenshotDocumentFormatError) << text;
}

TEST(ScreenshotDocumentCodingTest, ReadsOptionalMembers) {
    const ScreenshotDocument d = samples::richDocument();
    const ScreenshotDocument bare = decodeEdited(d, [](Json& j) {
        j["layers"][17].erase("originalText");
        j["layers"][2].erase("assetID");
        j["crop"] = nullptr;
        j.erase("originalPlacement");
        j["unknown"] = Json::array({1, 2, 3});
        j["layers"][2]["extra"] = true;
        j["id"] = "e621e1f8-c36c-495a-93fc-0c247a3e6e5f";
    });
    EXPECT_FALSE(bare.layers[17].originalText);
    EXPECT_FALSE(bare.layers[2].assetID);
    EXPECT_FALSE(bare.crop);
    EXPECT_FALSE(bare.originalPlacement);
    EXPECT_EQ(bare.id.string(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
}

TEST(ScreenshotDocumentCodingTest, DecodingValidates) {
    const ScreenshotDocument d = samples::document();
    EXPECT_EQ(screenshotErrorOf([&] { decodeEdited(d, [](Json& j) { j["sourceScale"] = 0.1; }); }),
              "The document is invalid or over budget.");
    EXPECT_EQ(screenshotErrorOf([&] { decodeEdited(d, [](Json& j) { j["canvas"] = Json::array({0.5, 100}); }); }),
              "Invalid size. The editor allows up to 64 MP and 65,536 px per side.");
    // JSON itself cannot carry infinity: a number too large to represent is refused, never kept.
    EXPECT_NE(screenshotErrorOf([&] { ScreenshotDocument::decode(std::string(d.encode()).replace(
                                          d.encode().find("\"sourceScale\":2.0"), 17, "\"sourceScale\":1e999")); }),
              "no error");
}

TEST(ScreenshotDocumentCodingTest, Equality) {
    ScreenshotDocument a = samples::richDocument();
    ScreenshotDocument b = a;
    EXPECT_EQ(a, b);
    b.metadata.clear();
    b.metadata.emplace("app", "Files");
    b.metadata.emplace("source", "capture");
    EXPECT_EQ(a, b);  // the map compares order-free
    std::swap(b.layers[1], b.layers[2]);
    EXPECT_NE(a, b);
    b = a;
    b.layers[3].frame.setWidth(std::nan(""));
    a.layers[3].frame.setWidth(std::nan(""));
    EXPECT_NE(a, b);  // NaN equals nothing
    b = a = samples::document();
    b.crop = QRectF(0, 0, 10, 10);
    EXPECT_NE(a, b);
    a.crop = QRectF(0, 0, 10, 10.000000000001);  // Qt's fuzzy comparison would call these equal
    EXPECT_NE(a, b);
    b = a;
    b.layers[0].points = {QPointF(0, 0)};
    EXPECT_NE(a, b);
    b = a;
    b.layers[0].originalText = "";
    EXPECT_NE(a, b);
}

TEST(ScreenshotDocumentCodingTest, MagnifierLens) {
    ScreenshotLayer magnifier = samples::layerOf(ScreenshotLayerKind::magnifier);
    magnifier.frame = QRectF(100, 100, 20, 10);
    magnifier.value = 3;
    // No points: the lens's top-left corner sits on the frame's bottom-right corner.
    EXPECT_TRUE(sameRect(magnifier.magnifierLens(), QRectF(120, 110, 60, 30)));
    magnifier.value = 0.5;  // magnification never below 1
    EXPECT_TRUE(sameRect(magnifier.magnifierLens(), QRectF(120, 110, 20, 10)));

    magnifier.value = 2;
    magnifier.setMagnifierLensCenter(QPointF(150, 95));
    ASSERT_EQ(magnifier.points.size(), 1u);
    EXPECT_DOUBLE_EQ(magnifier.points[0].x(), 2);
    EXPECT_DOUBLE_EQ(magnifier.points[0].y(), -1);
    EXPECT_TRUE(sameRect(magnifier.magnifierLens(), QRectF(130, 85, 40, 20)));

    magnifier.setMagnifierLensCenter(QPointF(110 + 50 * 20, 105 - 50 * 10));  // 50 frame sizes away
    EXPECT_DOUBLE_EQ(magnifier.points[0].x(), 10);
    EXPECT_DOUBLE_EQ(magnifier.points[0].y(), -10);

    magnifier.frame = QRectF(100, 100, 0, 10);  // no width: the horizontal offset stays defined
    magnifier.setMagnifierLensCenter(QPointF(100, 105));
    EXPECT_DOUBLE_EQ(magnifier.points[0].x(), 0);
}

}  // namespace
}  // namespace brevalto
