#include "Document/ScreenshotRenderer.h"

#include "Document/DocumentValidation.h"
#include "Document/ImageEffects.h"
#include "Errors/ScreenshotError.h"
#include "Imaging/ImageDecoding.h"
#include "Imaging/ImageLimits.h"

#include <QLinearGradient>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <cstring>
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


// Checks the budget of the sources in use from their records, then decodes them.
ImageMap loadImages(const ScreenshotDocument& document, const std::filesystem::path& folder, bool sourceOnly,
                    const std::stop_token& stop) {
    const auto used = assetsInUse(document, sourceOnly);
    std::int64_t pixels = 0;
    for (const auto* asset : used) pixels += asset->width * asset->height;
    if (pixels > sourceBudget) throw ScreenshotError(kSourcesOverBudgetMessage);
    ImageMap images;
    for (const auto* asset : used) {
        check(stop);
        images.emplace(asset->id, loadAsset(ScreenshotDocument::assetURL(*asset, folder)));
    }
    return images;
}

// The pixels of the canvas that the render keeps: its crop made integral, inside the canvas.
QRect visiblePixels(const ScreenshotDocument& document) {
    const QRectF canvas(QPointF(0, 0), document.canvas);
    const QRect pixels(0, 0, static_cast<int>(std::ceil(document.canvas.width())),
                       static_cast<int>(std::ceil(document.canvas.height())));
    return (document.crop ? document.crop->normalized() : canvas).toAlignedRect().intersected(pixels);
}

// Kinds whose pixels depend on what lies under them beyond a single pixel.
bool readsBelow(ScreenshotLayerKind kind) {
    return kind == ScreenshotLayerKind::blur || kind == ScreenshotLayerKind::pixelate || kind == ScreenshotLayerKind::erase;
}

// Kinds whose change can reach anywhere: the images (magnifiers read them), the spotlight's
// shade and the magnifier's lens away from its frame.
bool reachesAnywhere(ScreenshotLayerKind kind) {
    return kind == ScreenshotLayerKind::image || kind == ScreenshotLayerKind::spotlight || kind == ScreenshotLayerKind::magnifier;
}

}  // namespace

double backdropMargin(const ScreenshotBackdrop& backdrop) {
    return std::max(backdrop.padding, std::ceil(3 * backdrop.shadow));
}

QRectF layerReach(const ScreenshotLayer& layer) {
    const QRectF frame = layer.frame.normalized();
    double left = frame.left(), top = frame.top(), right = frame.right(), bottom = frame.bottom();
    for (QPointF p : layer.points) {
        const double x = frame.left() + p.x() * frame.width(), y = frame.top() + p.y() * frame.height();
        left = std::min(left, x), right = std::max(right, x);
        top = std::min(top, y), bottom = std::max(bottom, y);
    }
    const double margin = 4.5 * layer.style.strokeWidth + 24;
    const QRectF grown = QRectF(QPointF(left, top), QPointF(right, bottom)).adjusted(-margin, -margin, margin, margin);
    if (layer.rotation == 0) return grown;
    const QPointF centre = frame.center();
    return QTransform().translate(centre.x(), centre.y()).rotate(layer.rotation).translate(-centre.x(), -centre.y()).mapRect(grown);
}

std::optional<QRectF> changedArea(const ScreenshotDocument& before, const ScreenshotDocument& after) {
    if (before.canvas != after.canvas || before.crop != after.crop || before.backdrop != after.backdrop ||
        before.assets != after.assets || before.sourceAssetID != after.sourceAssetID ||
        before.originalPlacement != after.originalPlacement || before.layers.size() != after.layers.size())
        return std::nullopt;
    QRectF area;
    // Whole pixels, so that what touches the area touches the pixels drawn again.
    const auto add = [&](const QRectF& r) { area = QRectF((area.isEmpty() ? r : area.united(r)).toAlignedRect()); };
    for (std::size_t i = 0; i < after.layers.size(); ++i) {
        const ScreenshotLayer &a = before.layers[i], &b = after.layers[i];
        if (a.id != b.id) return std::nullopt;
        if (a == b) continue;
        if (reachesAnywhere(a.kind) || reachesAnywhere(b.kind)) return std::nullopt;
        add(layerReach(a));
        add(layerReach(b));
    }
    if (area.isEmpty()) return QRectF();
    // An effect over a changed part reads all of its footprint, so all of it follows, until no
    // effect lies partly inside: each effect's input is then wholly inside or wholly outside.
    for (bool grew = true; grew;) {
        grew = false;
        for (const ScreenshotLayer& layer : after.layers) {
            if (layer.hidden || !readsBelow(layer.kind)) continue;
            const QRectF r = layerReach(layer);
            if (r.intersects(area) && !area.contains(r)) add(r), grew = true;
        }
    }
    return area.intersected(QRectF(QPointF(0, 0), after.canvas));
}

QImage render(const ScreenshotDocument& document, const std::filesystem::path& folder, bool backdrop,
              bool sourceOnly, std::stop_token stop) {
    check(stop);  // a render superseded while it waited ends before any work
    validateDocument(document);
    const ImageMap images = loadImages(document, folder, sourceOnly, stop);

    const std::optional<QColorSpace> space = workingColorSpace(document, images);
    check(stop);  // before the canvas is allocated and cleared
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
            drawLayer(layer, canvas, output.painter(), images, base.isNull() ? nullptr : &base, stop);
        }
    }

    QImage image = output.takeImage();
    if (image.isNull()) throw ScreenshotError(kCanvasImageMessage);
    const QRect crop = visiblePixels(document).intersected(image.rect());
    if (crop.isEmpty()) throw ScreenshotError(kCanvasImageMessage);
    if (crop != image.rect()) image = image.copy(crop);
    if (image.isNull()) throw ScreenshotError(kCanvasImageMessage);

    if (!backdrop || !document.backdrop.enabled) return image;
    return framed(image, document.backdrop, space);
}

namespace {

// What drawing again in place needs: the pixels the render keeps and, inside them, the pixels
// to draw again (empty when nothing changed).
struct Redraw {
    QRect visible;
    QRect clip;
};

// Whether `document` can be drawn from `previous`, the render without backdrop of `before`,
// by drawing again only where they differ, and where.
std::optional<Redraw> planRedraw(const ScreenshotDocument& document, const ScreenshotDocument& before,
                                 const QImage& previous) {
    // The backdrop's rounded card and the magnifier's reading of the whole image are left to a
    // full render.
    if (document.backdrop.enabled || previous.isNull() || previous.format() != QImage::Format_ARGB32_Premultiplied)
        return std::nullopt;
    if (std::any_of(document.layers.begin(), document.layers.end(),
                    [](const auto& l) { return !l.hidden && l.kind == ScreenshotLayerKind::magnifier; }))
        return std::nullopt;
    const QRect visible = visiblePixels(document);
    if (previous.size() != visible.size()) return std::nullopt;
    const std::optional<QRectF> area = changedArea(before, document);
    if (!area) return std::nullopt;
    const QRect clip = area->toAlignedRect().intersected(visible);
    // Past half the image a full render costs about the same.
    if (2 * static_cast<std::int64_t>(clip.width()) * clip.height() >
        static_cast<std::int64_t>(visible.width()) * visible.height())
        return std::nullopt;
    // An effect reads around itself: where that reaches past the crop, the pixels it would read
    // are not in the previous image.
    const QRectF canvas(QPointF(0, 0), document.canvas);
    for (const ScreenshotLayer& layer : document.layers) {
        if (layer.hidden || !readsBelow(layer.kind)) continue;
        const QRectF reach = layerReach(layer);
        if (reach.intersects(QRectF(clip)) && !QRectF(visible).contains(reach.intersected(canvas)))
            return std::nullopt;
    }
    return Redraw{visible, clip};
}

// Clears the clip of `image` (a copy of the previous render) and draws the layers over it again.
void redraw(QImage& image, const Redraw& plan, const ScreenshotDocument& document, const ImageMap& images,
            const std::stop_token& stop) {
    QPainter painter(&image);
    if (!painter.isActive()) throw ScreenshotError(kRenderMemoryMessage);
    painter.setRenderHints(QPainter::SmoothPixmapTransform | QPainter::Antialiasing | QPainter::TextAntialiasing);
    painter.translate(-plan.visible.topLeft());
    painter.setClipRect(plan.clip);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(plan.clip, Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    const QRectF canvas(QPointF(0, 0), document.canvas);
    for (const ScreenshotLayer& layer : document.layers) {
        if (layer.hidden || !layerReach(layer).intersects(QRectF(plan.clip))) continue;
        check(stop);
        drawLayer(layer, canvas, painter, images, nullptr, stop);
    }
}

QImage copyOf(const QImage& image) {
    QImage copy = ImageBuffers::allocate(image.width(), image.height(), image.format());
    if (copy.isNull()) throw ScreenshotError(kRenderMemoryMessage);
    std::memcpy(copy.bits(), image.constBits(), static_cast<std::size_t>(image.sizeInBytes()));
    copy.setColorSpace(image.colorSpace());
    return copy;
}

// Copies the pixels of `rect` (in the image's coordinates) from one image to another of its size.
void copyPixels(const QImage& from, QImage& to, const QRect& rect) {
    const QRect rows = rect.intersected(to.rect());
    if (rows.isEmpty()) return;
    uchar* out = to.bits();
    const uchar* in = from.constBits();
    const qsizetype offset = static_cast<qsizetype>(rows.x()) * 4;
    for (int y = rows.top(); y <= rows.bottom(); ++y)
        std::memcpy(out + y * to.bytesPerLine() + offset, in + y * from.bytesPerLine() + offset,
                    static_cast<std::size_t>(rows.width()) * 4);
}

}  // namespace

QImage renderChanges(const ScreenshotDocument& document, const ScreenshotDocument& before, const QImage& previous,
                     const std::filesystem::path& folder, std::stop_token stop) {
    check(stop);
    const std::optional<Redraw> plan = planRedraw(document, before, previous);
    if (!plan) return {};
    validateDocument(document);
    if (plan->clip.isEmpty()) return previous;
    const ImageMap images = loadImages(document, folder, false, stop);
    check(stop);
    QImage image = copyOf(previous);
    redraw(image, *plan, document, images, stop);
    return image;
}

QImage RenderSequence::render(const ScreenshotDocument& document, const std::filesystem::path& folder,
                              std::stop_token stop) {
    check(stop);
    const std::optional<Redraw> plan = newestSource_ ? planRedraw(document, *newestSource_, newest_) : std::nullopt;
    if (!plan) return advance(ScreenshotRenderer::render(document, folder, true, false, stop), document);
    validateDocument(document);
    if (plan->clip.isEmpty()) return newest_;
    const ImageMap images = loadImages(document, folder, false, stop);
    check(stop);

    // A copy of the newest render: the older one brought up to date where it differs from it,
    // when nothing else holds the older one, else a whole copy.
    QImage image;
    std::optional<QRectF> behind;
    if (olderSource_ && older_.isDetached() && older_.size() == newest_.size() && older_.format() == newest_.format())
        behind = changedArea(*olderSource_, *newestSource_);
    if (behind) {
        image = std::move(older_);
        copyPixels(newest_, image, behind->toAlignedRect().translated(-plan->visible.topLeft()).united(olderStale_));
    } else {
        image = copyOf(newest_);
    }
    try {
        redraw(image, *plan, document, images, stop);
    } catch (...) {
        // Stopped part way, the copy still shows the newest render outside the clip.
        older_ = std::move(image);
        olderSource_ = newestSource_;
        olderStale_ = plan->clip.translated(-plan->visible.topLeft());
        throw;
    }
    return advance(std::move(image), document);
}

QImage RenderSequence::advance(QImage image, const ScreenshotDocument& document) {
    older_ = std::move(newest_);
    olderSource_ = std::move(newestSource_);
    olderStale_ = QRect();
    newest_ = image;
    newestSource_ = document;
    return image;
}

}  // namespace brevalto::ScreenshotRenderer
