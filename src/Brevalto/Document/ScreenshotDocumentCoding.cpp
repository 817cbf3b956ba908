// The stored form of a screenshot document ("document.json"): compact JSON with the members in
// a fixed order on writing; on reading, unknown members are ignored and every known member must
// have its type. Reading ends with the document validation.
#include "Document/DocumentValidation.h"
#include "Document/ScreenshotDocument.h"
#include "Errors/ScreenshotError.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>

namespace brevalto {

namespace {

using Json = nlohmann::json;  // reading: members looked up by key in logarithmic time
using OrderedJson = nlohmann::ordered_json;  // writing: members in the order inserted

// ---- writing

OrderedJson uuidJson(const Uuid& id) { return id.string(); }

OrderedJson pointJson(const QPointF& p) { return OrderedJson::array({p.x(), p.y()}); }

OrderedJson sizeJson(const QSizeF& s) { return OrderedJson::array({s.width(), s.height()}); }

OrderedJson rectJson(const QRectF& r) {
    return OrderedJson::array({OrderedJson::array({r.x(), r.y()}), OrderedJson::array({r.width(), r.height()})});
}

OrderedJson colorJson(const ScreenshotColor::RGBA& c) {
    OrderedJson j = OrderedJson::object();
    j["red"] = c.red;
    j["green"] = c.green;
    j["blue"] = c.blue;
    j["alpha"] = c.alpha;
    return j;
}

OrderedJson styleJson(const ScreenshotStyle& s) {
    OrderedJson j = OrderedJson::object();
    j["stroke"] = colorJson(s.stroke);
    j["fill"] = colorJson(s.fill);
    j["filled"] = s.filled;
    j["strokeWidth"] = s.strokeWidth;
    j["fontSize"] = s.fontSize;
    j["fontName"] = s.fontName;
    j["opacity"] = s.opacity;
    j["handDrawn"] = s.handDrawn;
    return j;
}

OrderedJson layerJson(const ScreenshotLayer& layer) {
    OrderedJson j = OrderedJson::object();
    j["id"] = uuidJson(layer.id);
    j["kind"] = std::string(rawValue(layer.kind));
    j["frame"] = rectJson(layer.frame);
    if (layer.assetID) j["assetID"] = uuidJson(*layer.assetID);
    j["text"] = layer.text;
    if (layer.originalText) j["originalText"] = *layer.originalText;
    OrderedJson points = OrderedJson::array();
    for (const QPointF& p : layer.points) points.push_back(pointJson(p));
    j["points"] = std::move(points);
    j["style"] = styleJson(layer.style);
    j["rotation"] = layer.rotation;
    j["value"] = layer.value;
    j["hidden"] = layer.hidden;
    return j;
}

OrderedJson backdropJson(const ScreenshotBackdrop& b) {
    OrderedJson j = OrderedJson::object();
    j["enabled"] = b.enabled;
    j["first"] = colorJson(b.first);
    j["second"] = colorJson(b.second);
    j["padding"] = b.padding;
    j["radius"] = b.radius;
    j["shadow"] = b.shadow;
    j["angle"] = b.angle;
    return j;
}

// ---- reading

[[noreturn]] void malformed(const std::string& where, const std::string& what) {
    throw ScreenshotDocumentFormatError(where + ": " + what);
}

const Json& member(const Json& object, const std::string& where, const char* key) {
    const auto found = object.find(key);
    if (found == object.end()) malformed(where, std::string("missing \"") + key + "\"");
    return *found;
}

// A member that may be missing; null counts as missing.
const Json* optionalMember(const Json& object, const char* key) {
    const auto found = object.find(key);
    return found == object.end() || found->is_null() ? nullptr : &*found;
}

std::string at(const std::string& where, const char* key) { return where + "." + key; }

const Json& objectValue(const Json& j, const std::string& where) {
    if (!j.is_object()) malformed(where, "expected an object");
    return j;
}

double number(const Json& j, const std::string& where) {
    if (!j.is_number()) malformed(where, "expected a number");
    return j.get<double>();
}

// Integers are also read from an integral floating value (100.0), never from 100.5.
std::int64_t integer(const Json& j, const std::string& where) {
    if (j.is_number_integer() && !j.is_number_unsigned()) return j.get<std::int64_t>();
    if (j.is_number_unsigned()) {
        const auto v = j.get<std::uint64_t>();
        if (v > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            malformed(where, "integer out of range");
        return static_cast<std::int64_t>(v);
    }
    if (j.is_number_float()) {
        const double v = j.get<double>();
        // 2^63 is the first double above the int64 range.
        if (std::isfinite(v) && std::trunc(v) == v && v >= -9223372036854775808.0 && v < 9223372036854775808.0)
            return static_cast<std::int64_t>(v);
        malformed(where, "expected an integer");
    }
    malformed(where, "expected an integer");
}

bool boolean(const Json& j, const std::string& where) {
    if (!j.is_boolean()) malformed(where, "expected true or false");
    return j.get<bool>();
}

std::string text(const Json& j, const std::string& where) {
    if (!j.is_string()) malformed(where, "expected a string");
    return j.get<std::string>();
}

Uuid uuid(const Json& j, const std::string& where) {
    const auto parsed = Uuid::parse(text(j, where));
    if (!parsed) malformed(where, "expected a UUID");
    return *parsed;
}

// A two-number array: [x, y] or [width, height].
std::pair<double, double> pair(const Json& j, const std::string& where) {
    if (!j.is_array() || j.size() != 2) malformed(where, "expected two numbers");
    return {number(j[0], where + "[0]"), number(j[1], where + "[1]")};
}

QPointF point(const Json& j, const std::string& where) {
    const auto [x, y] = pair(j, where);
    return {x, y};
}

QSizeF size(const Json& j, const std::string& where) {
    const auto [w, h] = pair(j, where);
    return {w, h};
}

QRectF rect(const Json& j, const std::string& where) {
    if (!j.is_array() || j.size() != 2) malformed(where, "expected [[x, y], [width, height]]");
    const QPointF origin = point(j[0], where + "[0]");
    const QSizeF extent = size(j[1], where + "[1]");
    return {origin, extent};
}

// Reads the member key of an object with one of the readers above, naming its place in errors.
template <class Read>
auto field(const Json& object, const std::string& where, const char* key, Read read) {
    return read(member(object, where, key), at(where, key));
}

ScreenshotColor::RGBA color(const Json& j, const std::string& where) {
    objectValue(j, where);
    return {field(j, where, "red", number), field(j, where, "green", number),
            field(j, where, "blue", number), field(j, where, "alpha", number)};
}

ScreenshotStyle style(const Json& j, const std::string& where) {
    objectValue(j, where);
    ScreenshotStyle s;
    s.stroke = field(j, where, "stroke", color);
    s.fill = field(j, where, "fill", color);
    s.filled = field(j, where, "filled", boolean);
    s.strokeWidth = field(j, where, "strokeWidth", number);
    s.fontSize = field(j, where, "fontSize", number);
    s.fontName = field(j, where, "fontName", text);
    s.opacity = field(j, where, "opacity", number);
    s.handDrawn = field(j, where, "handDrawn", boolean);
    return s;
}

ScreenshotLayer layer(const Json& j, const std::string& where) {
    objectValue(j, where);
    ScreenshotLayer l;
    l.id = field(j, where, "id", uuid);
    const std::string kind = field(j, where, "kind", text);
    const auto parsedKind = screenshotLayerKind(kind);
    if (!parsedKind) malformed(at(where, "kind"), "unknown layer kind");
    l.kind = *parsedKind;
    l.frame = field(j, where, "frame", rect);
    if (const Json* asset = optionalMember(j, "assetID")) l.assetID = uuid(*asset, at(where, "assetID"));
    l.text = field(j, where, "text", text);
    if (const Json* original = optionalMember(j, "originalText"))
        l.originalText = text(*original, at(where, "originalText"));
    const Json& points = member(j, where, "points");
    if (!points.is_array()) malformed(at(where, "points"), "expected an array");
    l.points.reserve(points.size());
    for (std::size_t i = 0; i < points.size(); ++i)
        l.points.push_back(point(points[i], at(where, "points") + "[" + std::to_string(i) + "]"));
    l.style = field(j, where, "style", style);
    l.rotation = field(j, where, "rotation", number);
    l.value = field(j, where, "value", number);
    l.hidden = field(j, where, "hidden", boolean);
    return l;
}

ScreenshotDocument::Asset asset(const Json& j, const std::string& where) {
    objectValue(j, where);
    ScreenshotDocument::Asset a;
    a.id = field(j, where, "id", uuid);
    a.filename = field(j, where, "filename", text);
    a.width = field(j, where, "width", integer);
    a.height = field(j, where, "height", integer);
    return a;
}

ScreenshotBackdrop backdropValue(const Json& j, const std::string& where) {
    objectValue(j, where);
    ScreenshotBackdrop b;
    b.enabled = field(j, where, "enabled", boolean);
    b.first = field(j, where, "first", color);
    b.second = field(j, where, "second", color);
    b.padding = field(j, where, "padding", number);
    b.radius = field(j, where, "radius", number);
    b.shadow = field(j, where, "shadow", number);
    b.angle = field(j, where, "angle", number);
    return b;
}

template <typename T, typename Read>
std::vector<T> array(const Json& j, const std::string& where, Read read) {
    if (!j.is_array()) malformed(where, "expected an array");
    std::vector<T> out;
    out.reserve(j.size());
    for (std::size_t i = 0; i < j.size(); ++i) out.push_back(read(j[i], where + "[" + std::to_string(i) + "]"));
    return out;
}

}  // namespace

ScreenshotDocumentFormatError::ScreenshotDocumentFormatError(std::string detail)
    : std::runtime_error("The document could not be read because it is not in the correct format."),
      detail_(std::move(detail)) {}

std::string ScreenshotDocument::encode() const {
    OrderedJson j = OrderedJson::object();
    j["version"] = version;
    j["id"] = uuidJson(id);
    j["historyID"] = uuidJson(historyID);
    j["revision"] = uuidJson(revision);
    j["sourceAssetID"] = uuidJson(sourceAssetID);
    j["sourceScale"] = sourceScale;
    j["canvas"] = sizeJson(canvas);
    OrderedJson assetList = OrderedJson::array();
    for (const Asset& a : assets) {
        OrderedJson entry = OrderedJson::object();
        entry["id"] = uuidJson(a.id);
        entry["filename"] = a.filename;
        entry["width"] = a.width;
        entry["height"] = a.height;
        assetList.push_back(std::move(entry));
    }
    j["assets"] = std::move(assetList);
    OrderedJson layerList = OrderedJson::array();
    for (const ScreenshotLayer& l : layers) layerList.push_back(layerJson(l));
    j["layers"] = std::move(layerList);
    if (crop) j["crop"] = rectJson(*crop);
    if (originalPlacement) j["originalPlacement"] = layerJson(*originalPlacement);
    j["backdrop"] = backdropJson(backdrop);
    OrderedJson table = OrderedJson::object();
    for (const auto& [key, value] : metadata) table[key] = value;
    j["metadata"] = std::move(table);
    // Text that is not valid UTF-8 is written with replacement characters rather than failing.
    return j.dump(-1, ' ', false, OrderedJson::error_handler_t::replace);
}

ScreenshotDocument ScreenshotDocument::decode(std::string_view bytes) {
    Json root;
    try {
        root = Json::parse(bytes.begin(), bytes.end());
    } catch (const Json::exception& error) {  // syntax, and numbers beyond the double range
        malformed("document", error.what());
    }
    const std::string where = "document";
    objectValue(root, where);

    ScreenshotDocument d;
    const std::int64_t version = field(root, where, "version", integer);
    if (version != 1 && version != 2) throw ScreenshotError("Unsupported document version.");
    d.version = 2;
    d.id = field(root, where, "id", uuid);
    d.historyID = field(root, where, "historyID", uuid);
    d.sourceAssetID = field(root, where, "sourceAssetID", uuid);
    d.sourceScale = field(root, where, "sourceScale", number);
    d.canvas = field(root, where, "canvas", size);
    d.assets = array<Asset>(member(root, where, "assets"), at(where, "assets"), asset);
    d.layers = array<ScreenshotLayer>(member(root, where, "layers"), at(where, "layers"), layer);
    if (const Json* crop = optionalMember(root, "crop")) d.crop = rect(*crop, at(where, "crop"));
    if (const Json* placement = optionalMember(root, "originalPlacement"))
        d.originalPlacement = layer(*placement, at(where, "originalPlacement"));
    const Json* revision = optionalMember(root, "revision");
    d.revision = revision ? uuid(*revision, at(where, "revision")) : d.id;
    if (const Json* b = optionalMember(root, "backdrop")) d.backdrop = backdropValue(*b, at(where, "backdrop"));
    if (const Json* table = optionalMember(root, "metadata")) {
        objectValue(*table, at(where, "metadata"));
        for (const auto& [key, value] : table->items()) d.metadata[key] = text(value, at(where, "metadata") + "." + key);
    }
    validateDocument(d);
    return d;
}

std::string encodeScreenshotStyle(const ScreenshotStyle& style) {
    return styleJson(style).dump(-1, ' ', false, OrderedJson::error_handler_t::replace);
}

ScreenshotStyle decodeScreenshotStyle(std::string_view bytes) {
    Json root;
    try {
        root = Json::parse(bytes);
    } catch (const Json::exception&) {
        throw ScreenshotDocumentFormatError("style: malformed JSON");
    }
    return style(root, "style");
}

bool operator==(const ScreenshotDocument& a, const ScreenshotDocument& b) {
    auto sameCrop = [](const std::optional<QRectF>& x, const std::optional<QRectF>& y) {
        return x.has_value() == y.has_value() && (!x || sameRect(*x, *y));
    };
    return a.version == b.version && a.id == b.id && a.historyID == b.historyID && a.revision == b.revision &&
           a.sourceAssetID == b.sourceAssetID && a.sourceScale == b.sourceScale &&
           a.canvas.width() == b.canvas.width() && a.canvas.height() == b.canvas.height() && a.assets == b.assets &&
           a.layers == b.layers && sameCrop(a.crop, b.crop) && a.originalPlacement == b.originalPlacement &&
           a.backdrop == b.backdrop && a.metadata == b.metadata;
}

}  // namespace brevalto
