#include "Document/ScreenshotRenderer.h"

#include "Document/DocumentValidation.h"
#include "Document/ImageEffects.h"
#include "Errors/ScreenshotError.h"
#include "Imaging/ImageDecoding.h"
#include "Imaging/ImageLimits.h"

#include <QLinearGradient>

#include <algorithm>
#include <cmath>
#include <list>
#include <mutex>
#include <numbers>
#include <unordered_set>

namespace brevalto::ScreenshotRenderer {

namespace {

constexpr std::int64_t sourceBudget = 64'000'000;

void check(const std::stop_token& stop) {
    if (stop.stop_requested()) throw RenderCancelled();
}

// The decoded images of the last asset files read, so that a run of renders (each step of a
// slider asks for one) decodes a file once. A file is known by its path, size and modification
// time: asset files are written once, and a file replaced under the same name differs in one of
// them. Renders on several threads share it; the images are shared, never changed.
class DecodedAssets {
public:
    QImage load(const std::filesystem::path& path) {
        std::error_code error;
        const auto size = std::filesystem::file_size(path, error);
        const auto time = error ? std::filesystem::file_time_type{} : std::filesystem::last_write_time(path, error);
        if (error) return loadScreenshotImage(path);
        const Key key{path, size, time};
        {
            const std::lock_guard lock(mutex_);
            for (auto entry = entries_.begin(); entry != entries_.end(); ++entry)
                if (entry->key == key) {
                    entries_.splice(entries_.begin(), entries_, entry);
                    return entry->image;
                }
        }
        QImage image = loadScreenshotImage(path);
        const auto bytes = static_cast<std::int64_t>(image.sizeInBytes());
        if (bytes > kBudget / 2) return image;
        const std::lock_guard lock(mutex_);
        entries_.push_front({key, image});
        std::int64_t used = 0;
        for (auto entry = entries_.begin(); entry != entries_.end();) {
            used += static_cast<std::int64_t>(entry->image.sizeInBytes());
            entry = used > kBudget ? entries_.erase(entry) : std::next(entry);
        }
        return image;
    }

private:
    static constexpr std::int64_t kBudget = 256ll * 1024 * 1024;
    struct Key {
        std::filesystem::path path;
        std::uintmax_t size;
        std::filesystem::file_time_type time;
        bool operator==(const Key&) const = default;
    };
    struct Entry {
        Key key;
        QImage image;
    };
    std::mutex mutex_;
    std::list<Entry> entries_;
};

QImage loadAsset(const std::filesystem::path& file) {
    static DecodedAssets assets;
    return assets.load(file);
}

// The assets the render decodes, in the document's order: the source alone for the before
// frame, else every asset a visible layer refers to.
std::vector<const ScreenshotDocument::Asset*> assetsInUse(const ScreenshotDocument& document, bool sourceOnly) {
    std::unordered_set<Uuid> wanted;
    if (sourceOnly) {
        wanted.insert(document.sourceAssetID);
    } else {
        for (const ScreenshotLayer& layer : document.layers)
            if (!layer.hidden && layer.assetID) wanted.insert(*layer.assetID);
    }
    std::vector<const ScreenshotDocument::Asset*> used;
    for (const auto& asset : document.assets)
        if (wanted.contains(asset.id)) used.push_back(&asset);
    return used;
}

std::optional<QColorSpace> workingColorSpace(const ScreenshotDocument& document, const ImageMap& images) {
    if (auto found = images.find(document.sourceAssetID); found != images.end() && found->second.colorSpace().isValid())
        return found->second.colorSpace();
    for (const ScreenshotLayer& layer : document.layers) {
        if (layer.kind != ScreenshotLayerKind::image || layer.hidden) continue;
        if (!layer.assetID) continue;
        if (auto found = images.find(*layer.assetID); found != images.end()) {
            if (found->second.colorSpace().isValid()) return found->second.colorSpace();
            return std::nullopt;
        }
    }
    return std::nullopt;
}

ScreenshotLayer placementOf(const ScreenshotDocument& document, const QImage& source) {
    for (const ScreenshotLayer& layer : document.layers)
        if (layer.assetID == document.sourceAssetID) return layer;
    if (document.originalPlacement) return *document.originalPlacement;
    ScreenshotLayer layer;
    layer.kind = ScreenshotLayerKind::image;
    layer.frame = QRectF(0, 0, source.width(), source.height());
    layer.assetID = document.sourceAssetID;
    layer.value = 2;
    return layer;
}

QImage framed(const QImage& image, const ScreenshotBackdrop& backdrop, const std::optional<QColorSpace>& space) {
    const double w = image.width(), h = image.height();
    const double margin = backdropMargin(backdrop);
    BitmapContext context = rasterize(space, w + 2 * margin, h + 2 * margin);
    const double W = context.width(), H = context.height();
    QPainter& painter = context.painter();

    const double d = std::hypot(W, H) / 2;
    const double a = backdrop.angle * std::numbers::pi / 180;
    QLinearGradient gradient(W / 2 - d * std::cos(a), H / 2 - d * std::sin(a), W / 2 + d * std::cos(a),
                             H / 2 + d * std::sin(a));
    gradient.setSpread(QGradient::PadSpread);
    gradient.setColorAt(0, backdrop.first.qColor());
    gradient.setColorAt(1, backdrop.second.qColor());
    painter.fillRect(QRectF(0, 0, W, H), gradient);

    const QRectF card(margin, margin, w, h);
    const double radius = std::min(backdrop.radius, std::min(w, h) / 2);
    QPainterPath cardPath;
    cardPath.addRoundedRect(card, radius, radius);

    if (backdrop.shadow > 0) {
        // The card's mask, blurred, at half strength, moved up by a third of the shadow size.
        QImage mask(context.width(), context.height(), QImage::Format_Alpha8);
        if (mask.isNull()) throw ScreenshotError(kRenderMemoryMessage);
        mask.fill(0);
        {
            QPainter maskPainter(&mask);
            maskPainter.setRenderHint(QPainter::Antialiasing);
            maskPainter.fillPath(cardPath, Qt::black);
        }
        ImageEffects::gaussianBlur(mask, backdrop.shadow / 2);
        QImage shadow(mask.size(), QImage::Format_ARGB32_Premultiplied);
        if (shadow.isNull()) throw ScreenshotError(kRenderMemoryMessage);
        for (int y = 0; y < mask.height(); ++y) {
            const uchar* in = mask.constScanLine(y);
            auto* out = reinterpret_cast<QRgb*>(shadow.scanLine(y));
            for (int x = 0; x < mask.width(); ++x) out[x] = qRgba(0, 0, 0, (in[x] + 1) / 2);
        }
        painter.drawImage(QPointF(0, -backdrop.shadow / 3), shadow);
    }
    painter.fillPath(cardPath, Qt::black);
    // The image fills the card's outline as a brush, so the rounded corners are smooth.
    QBrush picture(image);
    picture.setTransform(QTransform::fromTranslate(margin, margin));
    painter.fillPath(cardPath, picture);

    QImage result = context.takeImage();
    if (result.isNull()) throw ScreenshotError(kBackdropMessage);
    return result;
}

}  // namespace

double backdropMargin(const ScreenshotBackdrop& backdrop) {
    return std::max(backdrop.padding, std::ceil(3 * backdrop.shadow));
}

QImage render(const ScreenshotDocument& document, const std::filesystem::path& folder, bool backdrop,
              bool sourceOnly, std::stop_token stop) {
    check(stop);  // a render superseded while it waited ends before any work
    validateDocument(document);

    const auto used = assetsInUse(document, sourceOnly);
    std::int64_t pixels = 0;
    for (const auto* asset : used) pixels += asset->width * asset->height;
    if (pixels > sourceBudget) throw ScreenshotError(kSourcesOverBudgetMessage);

    ImageMap images;
    for (const auto* asset : used) {
        check(stop);
        images.emplace(asset->id, loadAsset(ScreenshotDocument::assetURL(*asset, folder)));
    }

    const std::optional<QColorSpace> space = workingColorSpace(document, images);
    const QRectF canvas(QPointF(0, 0), document.canvas);
    BitmapContext output = rasterize(space, document.canvas.width(), document.canvas.height());

    const auto source = images.find(document.sourceAssetID);
    if (sourceOnly && source != images.end()) {
        drawLayer(placementOf(document, source->second), canvas, output.painter(), images, nullptr);
    } else {
        // Pass 1: the image layers alone, for the magnifiers to read. Without a visible
        // magnifier nothing reads them, and the pass is left out.
        QImage base;
        const bool magnifies = std::any_of(document.layers.begin(), document.layers.end(), [](const auto& layer) {
            return !layer.hidden && layer.kind == ScreenshotLayerKind::magnifier;
        });
        if (magnifies) {
            BitmapContext baseContext = rasterize(space, document.canvas.width(), document.canvas.height());
            for (const ScreenshotLayer& layer : document.layers) {
                if (layer.hidden || layer.kind != ScreenshotLayerKind::image) continue;
                check(stop);
                drawLayer(layer, canvas, baseContext.painter(), images, nullptr);
            }
            base = baseContext.takeImage();
        }
        for (const ScreenshotLayer& layer : document.layers) {
            if (layer.hidden) continue;
            check(stop);
            drawLayer(layer, canvas, output.painter(), images, base.isNull() ? nullptr : &base);
        }
    }

    QImage image = output.takeImage();
    if (image.isNull()) throw ScreenshotError(kCanvasImageMessage);
    const QRect crop =
        (document.crop ? document.crop->normalized() : canvas).toAlignedRect().intersected(image.rect());
    if (crop.isEmpty()) throw ScreenshotError(kCanvasImageMessage);
    if (crop != image.rect()) image = image.copy(crop);
    if (image.isNull()) throw ScreenshotError(kCanvasImageMessage);

    if (!backdrop || !document.backdrop.enabled) return image;
    return framed(image, document.backdrop, space);
}

}  // namespace brevalto::ScreenshotRenderer
