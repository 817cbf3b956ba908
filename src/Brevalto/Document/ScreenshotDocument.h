#pragma once

#include "ClipCore/Uuid.h"
#include "Document/ScreenshotColor.h"
#include "Document/ScreenshotLayer.h"
#include "Document/ScreenshotLayerList.h"

#include <QImage>
#include <QRectF>
#include <QSizeF>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace brevalto {

// The optional gradient frame around the exported image.
struct ScreenshotBackdrop {
    bool enabled = false;
    ScreenshotColor::RGBA first{0.16, 0.27, 0.48, 1.0};
    ScreenshotColor::RGBA second{0.5, 0.7, 0.6, 1.0};
    double padding = 40;
    double radius = 18;
    double shadow = 12;
    double angle = 45;  // degrees

    friend bool operator==(const ScreenshotBackdrop&, const ScreenshotBackdrop&) = default;
};

// "document.json" that does not have the stored form: malformed JSON, a missing member, a value
// of the wrong type, an unknown layer kind. detail() says where.
class ScreenshotDocumentFormatError : public std::runtime_error {
public:
    explicit ScreenshotDocumentFormatError(std::string detail);
    const std::string& detail() const { return detail_; }

private:
    std::string detail_;
};

// An edited screenshot: the raster images it uses, the layers drawn over a canvas (first at the
// bottom), an optional crop, a backdrop and a small metadata table. A plain value; the editing
// session keeps copies of it for undo, which share the layers they have in common.
struct ScreenshotDocument {
    // One PNG file of the document, named by its id.
    struct Asset {
        Uuid id;
        std::string filename;  // id.string() + ".png"
        std::int64_t width = 0;
        std::int64_t height = 0;

        friend bool operator==(const Asset&, const Asset&) = default;
    };

    std::int64_t version = 2;
    Uuid id = Uuid::random();
    Uuid historyID;
    Uuid revision = Uuid::random();
    Uuid sourceAssetID;
    double sourceScale = 1;  // pixels per point of the source capture
    QSizeF canvas;
    std::vector<Asset> assets;
    ScreenshotLayerList layers;
    std::optional<QRectF> crop;
    std::optional<ScreenshotLayer> originalPlacement;
    ScreenshotBackdrop backdrop;
    std::map<std::string, std::string> metadata;

    friend bool operator==(const ScreenshotDocument& a, const ScreenshotDocument& b);

    // The compact JSON of "document.json", members in their fixed order.
    std::string encode() const;
    // Reads "document.json" (versions 1 and 2) and validates the result. Throws
    // ScreenshotDocumentFormatError for the wrong form, ScreenshotError for a broken rule.
    static ScreenshotDocument decode(std::string_view json);

    // Folder storage. Each history image that is edited has one folder, named by the history
    // item's id, holding "document.json" and "assets" with one PNG per asset. Failures are
    // ScreenshotError or the file system's FileError.

    // The folder of a history item inside the documents root, created (0700) with its "assets"
    // folder when missing. The root must be an absolute path.
    static std::filesystem::path folder(const std::filesystem::path& root, const Uuid& id);
    // The path of an asset's PNG after checking that it is a regular file inside "assets".
    static std::filesystem::path assetURL(const Asset& asset, const std::filesystem::path& folder);
    // Encodes the image as PNG and adds it to "assets" within the folder's budget.
    static Asset storeAsset(const QImage& image, const std::filesystem::path& folder);
    // Validates the document, checks every asset file and replaces "document.json".
    static void save(const ScreenshotDocument& document, const std::filesystem::path& folder);

    // Places images after the canvas: in a row (each at the right of the canvas as it has grown,
    // spacing apart, aligned vertically by alignment 0...1) or in a column (below, aligned
    // horizontally), one image layer per asset; the canvas grows to hold them and the crop is
    // cleared.
    static void combineImages(ScreenshotDocument& document, const std::vector<Asset>& assets, bool vertical,
                              double alignment, double spacing);

    struct Loaded;
    // Opens the history item's document, or creates and saves one from the image at source.
    static Loaded load(const std::filesystem::path& root, const Uuid& historyID,
                       const std::optional<std::filesystem::path>& source, double scale);
};

struct ScreenshotDocument::Loaded {
    ScreenshotDocument document;
    std::filesystem::path folder;
};

// A style in its stored JSON form, as it stands inside a layer of "document.json". Decoding
// throws ScreenshotDocumentFormatError.
std::string encodeScreenshotStyle(const ScreenshotStyle& style);
ScreenshotStyle decodeScreenshotStyle(std::string_view json);

// The documents root inside the clip store's folder.
std::filesystem::path screenshotDocumentsRoot(const std::filesystem::path& clipStoreFolder);

}  // namespace brevalto
