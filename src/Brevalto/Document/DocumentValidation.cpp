#include "Document/DocumentValidation.h"

#include "Document/ScreenshotDocument.h"
#include "Errors/ScreenshotError.h"
#include "Imaging/ImageLimits.h"

#include <unicode/brkiter.h>
#include <unicode/utext.h>

#include <cmath>
#include <memory>
#include <unordered_set>

namespace brevalto {

namespace {

constexpr const char* overBudget = "The document is invalid or over budget.";
constexpr const char* sizeRule = kInvalidImageSizeMessage;
constexpr double largestCoordinate = 131072;

// True when the UTF-8 text has at most `limit` user-perceived characters.
bool graphemesAtMost(const std::string& text, std::size_t limit) {
    if (text.size() <= limit) return true;  // every character takes at least one byte
    // ... and at least one code point: only text with more code points than the limit needs
    // the (much slower) cluster boundaries.
    std::size_t codePoints = 0;
    for (const char c : text) codePoints += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    if (codePoints <= limit) return true;
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> made(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        return U_SUCCESS(status) ? std::move(made) : nullptr;
    }();
    if (!iterator) return false;
    UErrorCode status = U_ZERO_ERROR;
    UText* utext = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    if (U_FAILURE(status)) return false;
    iterator->setText(utext, status);
    std::size_t count = 0;
    bool within = U_SUCCESS(status);
    if (within) {
        iterator->first();
        while (iterator->next() != icu::BreakIterator::DONE) {
            if (++count > limit) {
                within = false;
                break;
            }
        }
    }
    // Detach the iterator from the text before the text goes away.
    UErrorCode ignored = U_ZERO_ERROR;
    UText* empty = utext_openUTF8(nullptr, "", 0, &ignored);
    iterator->setText(empty, ignored);
    utext_close(empty);
    utext_close(utext);
    return within;
}

bool inUnit(double v) { return v >= 0 && v <= 1; }

bool colorInRange(const ScreenshotColor::RGBA& c) {
    return inUnit(c.red) && inUnit(c.green) && inUnit(c.blue) && inUnit(c.alpha);
}

bool finiteWithin(double v, double low, double high) { return std::isfinite(v) && v >= low && v <= high; }

// An optional sign, then one or more ASCII digits fitting a signed 64-bit integer, within 1...9999.
bool isCounterNumber(const std::string& text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return false;
    std::uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return false;
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(c - '0');
        // Further digits only make it larger, and stopping here keeps the sum from wrapping.
        if (magnitude > 9999) return false;
    }
    if (negative) return false;  // zero or below
    return magnitude >= 1 && magnitude <= 9999;
}

}  // namespace

bool styleIsValid(const ScreenshotStyle& style) {
    if (!colorInRange(style.stroke) || !colorInRange(style.fill)) return false;
    if (!finiteWithin(style.strokeWidth, 0, 200) || style.strokeWidth == 0) return false;
    if (!finiteWithin(style.fontSize, 0, 1000) || style.fontSize == 0) return false;
    if (!graphemesAtMost(style.fontName, 200)) return false;
    return finiteWithin(style.opacity, 0, 1);
}

namespace {

bool layerIsValid(const ScreenshotLayer& layer, const std::unordered_set<Uuid>& assetIDs) {
    if (!isValidLayerRect(layer.frame)) return false;
    if (!finiteWithin(layer.rotation, -3600, 3600)) return false;
    if (!finiteWithin(layer.value, 0.1, 200)) return false;
    if (!graphemesAtMost(layer.text, 30000)) return false;
    if (layer.originalText && !graphemesAtMost(*layer.originalText, 30000)) return false;
    if (layer.points.size() > 20000) return false;
    for (const QPointF& p : layer.points)
        if (!finiteWithin(p.x(), -10, 10) || !finiteWithin(p.y(), -10, 10)) return false;
    if (!styleIsValid(layer.style)) return false;
    if (layer.kind == ScreenshotLayerKind::counter && !isCounterNumber(layer.text)) return false;
    if (layer.kind == ScreenshotLayerKind::image && !(layer.assetID && assetIDs.contains(*layer.assetID)))
        return false;
    return true;
}

bool backdropIsValid(const ScreenshotBackdrop& b) {
    return colorInRange(b.first) && colorInRange(b.second) && finiteWithin(b.padding, 0, 2000) &&
           finiteWithin(b.radius, 0, 2000) && finiteWithin(b.shadow, 0, 200) && finiteWithin(b.angle, -360, 360);
}

}  // namespace

bool isValidLayerRect(const QRectF& rect) {
    const double values[] = {rect.x(), rect.y(), std::abs(rect.width()), std::abs(rect.height())};
    for (double v : values)
        if (!std::isfinite(v) || std::abs(v) > largestCoordinate) return false;
    return std::abs(rect.width()) > 0 && std::abs(rect.height()) > 0;
}

void validateDocument(const ScreenshotDocument& document) {
    validateImageSize(document.canvas.width(), document.canvas.height());

    auto require = [](bool condition) {
        if (!condition) throw ScreenshotError(overBudget);
    };
    require(document.version == 2);
    require(finiteWithin(document.sourceScale, 0.25, 8));
    require(!document.assets.empty() && document.assets.size() <= 256);
    require(document.layers.size() <= 512);
    require(document.metadata.size() <= 32);
    for (const auto& [key, value] : document.metadata) {
        require(graphemesAtMost(key, 100));
        require(graphemesAtMost(value, 4096));
    }
    std::unordered_set<Uuid> assetIDs;
    for (const auto& asset : document.assets) require(assetIDs.insert(asset.id).second);
    std::unordered_set<Uuid> layerIDs;
    for (const auto& layer : document.layers) require(layerIDs.insert(layer.id).second);
    require(assetIDs.contains(document.sourceAssetID));

    for (const auto& asset : document.assets) {
        if (asset.width < 1 || asset.width > 65536 || asset.height < 1 || asset.height > 65536 ||
            asset.width * asset.height > 64'000'000)
            throw ScreenshotError(sizeRule);
        if (asset.filename != asset.id.string() + ".png") throw ScreenshotError("Unsafe asset path.");
    }

    if (document.crop) {
        const QRectF crop = document.crop->normalized();
        if (!isValidLayerRect(*document.crop) || crop.left() < 0 || crop.top() < 0 ||
            crop.right() > document.canvas.width() || crop.bottom() > document.canvas.height())
            throw ScreenshotError("Crop is outside the canvas.");
    }

    for (const auto& layer : document.layers)
        if (!layerIsValid(layer, assetIDs)) throw ScreenshotError("Invalid layer.");
    if (document.originalPlacement && !layerIsValid(*document.originalPlacement, assetIDs))
        throw ScreenshotError("Invalid layer.");

    const ScreenshotBackdrop& backdrop = document.backdrop;
    if (!backdropIsValid(backdrop)) throw ScreenshotError("Invalid backdrop.");
    if (backdrop.enabled) {
        const double margin = std::ceil(std::max(backdrop.padding, 3 * backdrop.shadow));
        const QSizeF visible = document.crop ? document.crop->normalized().size() : document.canvas;
        validateImageSize(visible.width() + 2 * margin, visible.height() + 2 * margin);
    }
}

}  // namespace brevalto
