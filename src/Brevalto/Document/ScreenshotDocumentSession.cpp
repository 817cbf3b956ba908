#include "Document/ScreenshotDocumentSession.h"

#include "Document/BeforeFrame.h"
#include "Document/DocumentValidation.h"
#include "Document/ScreenshotRenderer.h"
#include "Document/SmartSelection.h"
#include "Errors/ScreenshotError.h"
#include "Imaging/ImageDecoding.h"
#include "Imaging/ImageLimits.h"
#include "Platform/Defaults.h"

#include <QPointer>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <utility>

namespace brevalto {

namespace {

constexpr const char* kNoSelectionMessage = "Select an area before cropping.";
constexpr const char* kEmptyCropMessage = "The crop area is empty.";
constexpr const char* kSelectionMessage = "Use whole-pixel coordinates inside the visible image.";
constexpr const char* kTooManyImagesMessage = "Import at most 32 images at once.";
constexpr const char* kNonImageItemMessage = "Drop contains a non-image item.";
constexpr const char* kCombinedTooLargeMessage = "Combined images exceed 64 MP. Import fewer images.";
constexpr const char* kNoImageMessage = "Clipboard or drop contains no image.";
constexpr const char* kImportRangeMessage = "Up to 32 images at a time, spacing 0-2000 px, alignment 0-1.";

constexpr std::size_t maxImportCount = 32;
constexpr double maxCombinedPixels = 64'000'000;

// The error's sentence; a cancellation has none.
std::optional<QString> describe(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const TaskCancelled&) {
        return std::nullopt;
    } catch (const RenderCancelled&) {
        return std::nullopt;
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error.");
    }
}

QString describeCurrent() { return describe(std::current_exception()).value_or(QString()); }

// The visible rectangle: the crop, or the whole canvas.
QRectF visibleArea(const ScreenshotDocument& document) {
    return document.crop ? document.crop->normalized() : QRectF(QPointF(0, 0), document.canvas);
}

bool isWhole(double v) { return std::isfinite(v) && std::floor(v) == v; }

// Scales the edges [low, high] of a span by factor, keeping a span that lay inside [0, oldEnd]
// inside [0, newEnd] despite rounding. Returns origin and length.
std::pair<double, double> scaledSpan(double low, double high, double factor, double oldEnd, double newEnd) {
    double a = low * factor, b = high * factor;
    if (low >= 0) a = std::max(a, 0.0);
    if (high <= oldEnd) b = std::min(b, newEnd);
    double length = b - a;
    if (high <= oldEnd)
        while (length > 0 && a + length > newEnd) length = std::nextafter(length, 0.0);
    return {a, length};
}

QRectF scaledFrame(const QRectF& r, double sx, double sy) { return QRectF(r.x() * sx, r.y() * sy, r.width() * sx, r.height() * sy); }

// The integer in a counter's text: decimal digits with an optional leading sign.
std::optional<long long> counterNumber(const std::string& text) {
    if (text.empty()) return std::nullopt;
    std::size_t i = (text[0] == '+' || text[0] == '-') ? 1 : 0;
    if (i == text.size()) return std::nullopt;
    long long value = 0;
    for (std::size_t k = i; k < text.size(); ++k) {
        if (text[k] < '0' || text[k] > '9') return std::nullopt;
        value = std::min(value * 10 + (text[k] - '0'), 1'000'000'000'000LL);
    }
    return text[0] == '-' ? -value : value;
}

// The counter that follows one numbered n, inside the stepper's 1 ... 9999.
int counterAfter(long long n) { return static_cast<int>(std::max(std::min(n, 9998LL), 0LL) + 1); }

ScreenshotLayer imageLayer(const ScreenshotDocument::Asset& asset, const QRectF& frame) {
    ScreenshotLayer layer;
    layer.kind = ScreenshotLayerKind::image;
    layer.frame = frame;
    layer.assetID = asset.id;
    layer.value = 2;
    return layer;
}

}  // namespace

ScreenshotDocumentSession::ScreenshotDocumentSession(ScreenshotDocument document, std::filesystem::path directory,
                                                     Defaults& defaults, TaskExecutor& executor, Saver saver,
                                                     QObject* parent)
    : QObject(parent),
      document_(std::move(document)),
      directory_(std::move(directory)),
      defaults_(defaults),
      executor_(executor),
      renders_(executor),
      saver_(saver ? std::move(saver) : Saver(&ScreenshotDocument::save)) {
    // A reopened document goes on counting after its highest counter.
    for (const ScreenshotLayer& layer : document_.layers)
        if (layer.kind == ScreenshotLayerKind::counter)
            if (const std::optional<long long> n = counterNumber(layer.text))
                nextCounter_ = std::max(nextCounter_, counterAfter(*n));
    scheduleRender();
}

ScreenshotDocumentSession::~ScreenshotDocumentSession() {
    renderTask_.cancel();
    selectionTask_.cancel();
    ImageBuffers::releaseSpare();
}

template <class T>
void ScreenshotDocumentSession::assign(T& field, T value, Property property) {
    field = std::move(value);
    emit changed(property);
}

void ScreenshotDocumentSession::setDocument(ScreenshotDocument document) { assign(document_, std::move(document), Property::document); }
void ScreenshotDocumentSession::setSelectedID(std::optional<Uuid> id) { assign(selectedID_, id, Property::selectedID); }
void ScreenshotDocumentSession::setSelectionRect(std::optional<QRectF> rect) { assign(selection_, rect, Property::selection); }
void ScreenshotDocumentSession::setPreview(QImage image) { assign(preview_, std::move(image), Property::preview); }

QImage ScreenshotDocumentSession::renderNow(bool backdrop) const {
    // The preview is drawn with the backdrop, which changes nothing while the backdrop is off.
    if (!preview_.isNull() && previewSource_ && *previewSource_ == document_ && (backdrop || !document_.backdrop.enabled))
        return preview_;
    return ScreenshotRenderer::render(document_, directory_, backdrop, false);
}
void ScreenshotDocumentSession::setStatus(QString status) { assign(status_, std::move(status), Property::status); }
void ScreenshotDocumentSession::setTool(QString tool) { assign(tool_, std::move(tool), Property::tool); }
void ScreenshotDocumentSession::setZoom(double zoom) { assign(zoom_, zoom, Property::zoom); }
void ScreenshotDocumentSession::setPan(QPointF pan) { assign(pan_, pan, Property::pan); }
void ScreenshotDocumentSession::setSnap(bool snap) { assign(snap_, snap, Property::snap); }
void ScreenshotDocumentSession::setGuides(bool guides) { assign(guides_, guides, Property::guides); }
void ScreenshotDocumentSession::setTolerance(double tolerance) { assign(tolerance_, tolerance, Property::tolerance); }
void ScreenshotDocumentSession::setStyle(ScreenshotStyle style) { assign(style_, std::move(style), Property::style); }
void ScreenshotDocumentSession::setNextCounter(int next) { assign(nextCounter_, next, Property::nextCounter); }
void ScreenshotDocumentSession::setSmartCandidate(std::optional<QRectF> rect) { assign(smartCandidate_, rect, Property::smartCandidate); }
void ScreenshotDocumentSession::setHoverColor(std::optional<ScreenshotColor::RGBA> color) { assign(hoverColor_, color, Property::hoverColor); }
void ScreenshotDocumentSession::setSecretCandidates(std::optional<SecretCandidates> candidates) {
    assign(secretCandidates_, std::move(candidates), Property::secretCandidates);
}
void ScreenshotDocumentSession::setEffectMode(QString mode) { assign(effectMode_, std::move(mode), Property::effectMode); }

// ---- gestures

void ScreenshotDocumentSession::beginGesture() {
    if (!editing_) editing_ = document_;
}

void ScreenshotDocumentSession::commitGesture() {
    if (!editing_) return;
    ScreenshotDocument before = std::move(*editing_);
    editing_.reset();
    if (before == document_) return;

    ScreenshotDocument next = document_;
    next.revision = Uuid::random();
    try {
        saver_(next, directory_);
    } catch (...) {
        setDocument(std::move(before));
        scheduleRender();
        throw;
    }
    // The history first, so that views of the new document see its undo step.
    undoStack_.push_back(std::move(before));
    while (undoStack_.size() > static_cast<std::size_t>(undoLimit)) undoStack_.pop_front();
    redoStack_.clear();
    setDocument(std::move(next));
    setStatus(savedStatus);
    scheduleRender();
}

void ScreenshotDocumentSession::commitOpenGesture() {
    try {
        commitGesture();
    } catch (...) {
        setStatus(describeCurrent());
    }
}

void ScreenshotDocumentSession::runCommand(const std::function<void(ScreenshotDocument&)>& mutation) {
    commitOpenGesture();
    beginGesture();
    // The mutation works on a copy, so a mutation that throws leaves the document as it was.
    ScreenshotDocument changed = document_;
    try {
        mutation(changed);
    } catch (...) {
        editing_.reset();
        throw;
    }
    setDocument(std::move(changed));
    commitGesture();
}

void ScreenshotDocumentSession::edit(const std::function<void(ScreenshotDocument&)>& mutation) { runCommand(mutation); }

void ScreenshotDocumentSession::addLayer(const ScreenshotLayer& layer) {
    edit([&](ScreenshotDocument& d) { d.layers.push_back(layer); });
    setSelectedID(layer.id);
    if (layer.kind == ScreenshotLayerKind::counter)
        setNextCounter(counterAfter(counterNumber(layer.text).value_or(nextCounter_)));
}

void ScreenshotDocumentSession::restore(std::deque<ScreenshotDocument>& source, std::deque<ScreenshotDocument>& target) {
    commitOpenGesture();
    if (source.empty()) return;
    ScreenshotDocument restored = source.back();
    restored.revision = Uuid::random();
    try {
        saver_(restored, directory_);
    } catch (...) {
        setStatus(describeCurrent());
        return;
    }
    target.push_back(std::move(document_));
    source.pop_back();
    setDocument(std::move(restored));
    setSelectionRect(std::nullopt);
    scheduleRender();
}

void ScreenshotDocumentSession::undo() { restore(undoStack_, redoStack_); }
void ScreenshotDocumentSession::redo() { restore(redoStack_, undoStack_); }

// ---- commands

void ScreenshotDocumentSession::crop() {
    if (!selection_) throw ScreenshotError(kNoSelectionMessage);
    const QRectF canvas(QPointF(0, 0), document_.canvas);
    const QRectF s = selection_->normalized();
    const double left = std::floor(s.left()), top = std::floor(s.top());
    const QRectF outward(left, top, std::ceil(s.right()) - left, std::ceil(s.bottom()) - top);
    const QRectF r = outward.intersected(canvas);
    if (r.isEmpty() || r.width() < 1 || r.height() < 1) throw ScreenshotError(kEmptyCropMessage);
    runCommand([&](ScreenshotDocument& d) { d.crop = r; });
    setSelectionRect(std::nullopt);
}

std::string ScreenshotDocumentSession::styleKey(const QString& tool) { return "screenshot.style." + tool.toStdString(); }

void ScreenshotDocumentSession::selectTool(const QString& tool) {
    commitOpenGesture();
    tool_ = tool;
    emit changed(Property::tool);
    const std::optional<std::string> stored = defaults_.data(styleKey(tool));
    if (!stored) return;
    try {
        ScreenshotStyle style = decodeScreenshotStyle(*stored);
        // A style no layer may carry would make every layer drawn with it fail to save.
        if (styleIsValid(style)) setStyle(std::move(style));
    } catch (const std::exception&) {
        // An entry that no longer decodes is ignored.
    }
}

void ScreenshotDocumentSession::saveStyle() {
    std::string bytes;
    try {
        bytes = encodeScreenshotStyle(style_);
    } catch (const std::exception&) {
        return;
    }
    defaults_.setData(styleKey(tool_), bytes);
}

void ScreenshotDocumentSession::setSelection(const QRectF& rect) {
    const QRectF visible = visibleArea(document_);
    const bool whole = isWhole(rect.x()) && isWhole(rect.y()) && isWhole(rect.width()) && isWhole(rect.height());
    if (!whole || rect.width() < 1 || rect.height() < 1 || rect.left() < visible.left() ||
        rect.top() < visible.top() || rect.right() > visible.right() || rect.bottom() > visible.bottom())
        throw ScreenshotError(kSelectionMessage);
    setSelectionRect(rect);
    setSelectedID(std::nullopt);
    setSmartCandidate(std::nullopt);
}

std::optional<ScreenshotLayer> ScreenshotDocumentSession::selectedLayer() const {
    if (!selectedID_) return std::nullopt;
    for (const ScreenshotLayer& layer : document_.layers)
        if (layer.id == *selectedID_) return layer;
    return std::nullopt;
}

std::vector<QRectF> ScreenshotDocumentSession::secretFrames() const {
    if (secretCandidates_ && secretCandidates_->revision == document_.revision) return secretCandidates_->frames;
    return {};
}

void ScreenshotDocumentSession::updateSelected(const std::function<void(ScreenshotLayer&)>& change) {
    if (!selectedID_) return;
    const ScreenshotLayerList& layers = document_.layers;
    const auto found = std::find_if(layers.begin(), layers.end(), [&](const auto& l) { return l.id == *selectedID_; });
    if (found == layers.end()) return;
    const auto index = static_cast<std::size_t>(found - layers.begin());
    runCommand([&](ScreenshotDocument& d) { change(d.layers[index]); });
}

void ScreenshotDocumentSession::nudgeSelected(double dx, double dy, double step, bool option) {
    updateSelected([&](ScreenshotLayer& layer) {
        QRectF& f = layer.frame;
        if (option) {
            f.setWidth(std::max(f.width() + dx * step, 1.0));
            f.setHeight(std::max(f.height() + dy * step, 1.0));
        } else {
            f.translate(dx * step, dy * step);
        }
    });
}

void ScreenshotDocumentSession::applyEffectMode(const QString& mode) {
    updateSelected([&](ScreenshotLayer& layer) {
        layer.kind = mode == QLatin1String("erase")    ? ScreenshotLayerKind::erase
                     : mode == QLatin1String("redact") ? ScreenshotLayerKind::redact
                                                       : ScreenshotLayerKind::blur;
        if (layer.kind == ScreenshotLayerKind::redact) {
            layer.style.fill = {0, 0, 0, 1};
            layer.style.filled = true;
            layer.style.opacity = 1;
        } else if (layer.kind == ScreenshotLayerKind::blur && layer.value < 2) {
            layer.value = 12;
        }
    });
}

void ScreenshotDocumentSession::updateSelectedStyle(const std::function<void(ScreenshotStyle&)>& change) {
    updateSelected([&](ScreenshotLayer& layer) { change(layer.style); });
}

void ScreenshotDocumentSession::setArrowVariant(int variant) {
    updateSelected([&](ScreenshotLayer& layer) {
        layer.kind = variant == 1 ? ScreenshotLayerKind::curvedArrow : ScreenshotLayerKind::arrow;
        layer.style.handDrawn = variant == 2;
    });
}

void ScreenshotDocumentSession::resize(double width, double height) {
    validateImageSize(width, height);
    const double oldWidth = document_.canvas.width(), oldHeight = document_.canvas.height();
    const double sx = width / oldWidth, sy = height / oldHeight, s = std::min(sx, sy);
    runCommand([&](ScreenshotDocument& d) {
        for (ScreenshotLayer& layer : d.layers) {
            layer.frame = scaledFrame(layer.frame, sx, sy);
            switch (layer.kind) {
            case ScreenshotLayerKind::text:
            case ScreenshotLayerKind::callout:
            case ScreenshotLayerKind::counter:
            case ScreenshotLayerKind::translatedText: layer.style.fontSize *= s; break;
            default: break;
            }
            if (layer.kind != ScreenshotLayerKind::image) layer.style.strokeWidth *= s;
        }
        if (d.crop) {
            const QRectF c = d.crop->normalized();
            const auto [x, w] = scaledSpan(c.left(), c.right(), sx, oldWidth, width);
            const auto [y, h] = scaledSpan(c.top(), c.bottom(), sy, oldHeight, height);
            d.crop = QRectF(x, y, w, h);
        }
        if (d.originalPlacement) d.originalPlacement->frame = scaledFrame(d.originalPlacement->frame, sx, sy);
        d.canvas = QSizeF(width, height);
    });
    setSelectionRect(std::nullopt);
}

void ScreenshotDocumentSession::flatten() {
    const QImage image = ScreenshotRenderer::render(document_, directory_, true, false);
    const ScreenshotDocument::Asset asset = ScreenshotDocument::storeAsset(image, directory_);
    edit([&](ScreenshotDocument& d) {
        BeforeFrame::rememberCovers(d);  // the covers become pixels: before frames still draw them
        std::optional<ScreenshotLayer> placement = d.originalPlacement;
        for (const ScreenshotLayer& layer : d.layers) {
            if (layer.assetID == d.sourceAssetID) {
                placement = layer;
                break;
            }
        }
        if (placement) {
            // The flattened image starts at the visible area's origin, inside the backdrop's
            // frame when there is one.
            QPointF offset = -visibleArea(d).topLeft();
            if (d.backdrop.enabled) {
                const double margin = ScreenshotRenderer::backdropMargin(d.backdrop);
                offset += QPointF(margin, margin);
            }
            placement->frame.translate(offset);
        }
        d.originalPlacement = placement;
        d.assets.push_back(asset);
        d.canvas = QSizeF(image.width(), image.height());
        d.crop.reset();
        d.backdrop.enabled = false;
        d.layers = {imageLayer(asset, QRectF(0, 0, image.width(), image.height()))};
    });
    setSelectionRect(std::nullopt);
    setSelectedID(std::nullopt);
}

// ---- background jobs

void ScreenshotDocumentSession::scheduleRender(std::optional<ScreenshotDocument> document) {
    renderTask_.cancel();
    ScreenshotDocument target = document ? std::move(*document) : document_;
    const Uuid revision = target.revision;
    const std::uint64_t token = renderToken_.next();
    renderTask_ = Task::run(
        renders_, this,
        [target, folder = directory_, sequence = renderSequence_](std::stop_token stop) {
            // A change to part of the image (a slider on one layer) draws only that part again.
            return sequence->render(target, folder, stop);
        },
        [this, token, revision, target](TaskResult<QImage>& result) {
            if (!renderToken_.isCurrent(token)) return;
            if (!result.ok()) {
                if (const auto message = describe(result.error())) setStatus(*message);
                return;
            }
            if (document_.revision != revision) return;
            previewSource_ = target;
            setPreview(std::move(result.get()));
        });
}

void ScreenshotDocumentSession::startSmartSelection(double x, double y) {
    cancelSmartSelection();
    setSmartCandidate(std::nullopt);
    ScreenshotDocument target = document_;
    const double tolerance = tolerance_;
    const QRectF visible = visibleArea(target);
    if (visible.width() * visible.height() > static_cast<double>(kSmartSelectionPixelLimit)) {
        setStatus(smartTooLargeStatus);
        return;
    }
    setStatus(smartBusyStatus);
    const Uuid revision = target.revision;
    const std::uint64_t token = selectionToken_.next();
    selectionTask_ = Task::run(
        executor_, this,
        [target = std::move(target), folder = directory_, x, y, tolerance, visible](std::stop_token stop) {
            const QImage image = ScreenshotRenderer::render(target, folder, false, false, stop);
            const ScreenshotColor::Pixels pixels = ScreenshotColor::Pixels::fromImage(image);
            return findSmartSelection(pixels, x - visible.x(), y - visible.y(), tolerance, stop);
        },
        [this, token, revision, visible](TaskResult<QRectF>& result) {
            if (!selectionToken_.isCurrent(token)) return;
            if (!result.ok()) {
                if (const auto message = describe(result.error())) setStatus(*message);
                return;
            }
            if (document_.revision != revision) return;
            setSmartCandidate(result.get().translated(visible.topLeft()));
            setStatus(smartReadyStatus);
        });
}

void ScreenshotDocumentSession::cancelSmartSelection() {
    selectionTask_.cancel();
    selectionToken_.invalidate();
}

// ---- image intake

void ScreenshotDocumentSession::importImages(const std::vector<QImage>& images, bool vertical, double spacing,
                                             double alignment) {
    if (images.empty() || images.size() > maxImportCount || !(spacing >= 0 && spacing <= 2000) ||
        !(alignment >= 0 && alignment <= 1))
        throw ScreenshotError(kImportRangeMessage);
    std::vector<ScreenshotDocument::Asset> assets;
    for (const QImage& image : images) assets.push_back(ScreenshotDocument::storeAsset(image, directory_));
    runCommand([&](ScreenshotDocument& d) { ScreenshotDocument::combineImages(d, assets, vertical, alignment, spacing); });
}

std::vector<QImage> ScreenshotDocumentSession::pasteboardImages(const std::vector<PasteboardItem>& items) {
    std::vector<QUrl> urls;
    for (const PasteboardItem& item : items) {
        const std::optional<QByteArray> list = item.data(PasteboardType::fileURL);
        if (!list) continue;
        for (const QByteArray& line : list->split('\n')) {
            const QByteArray entry = line.trimmed();
            if (entry.isEmpty() || entry.startsWith('#')) continue;
            const QUrl url = QUrl::fromEncoded(entry);
            if (url.isLocalFile()) urls.push_back(url);
        }
    }
    if (urls.size() > maxImportCount || items.size() > maxImportCount) throw ScreenshotError(kTooManyImagesMessage);

    std::vector<QImage> images;
    double total = 0;
    auto add = [&](QImage image) {
        total += static_cast<double>(image.width()) * image.height();
        if (total > maxCombinedPixels) throw ScreenshotError(kCombinedTooLargeMessage);
        images.push_back(std::move(image));
    };
    if (!urls.empty()) {
        for (const QUrl& url : urls) add(loadScreenshotImage(url));
    } else {
        for (const PasteboardItem& item : items) {
            std::optional<QByteArray> data = item.data(PasteboardType::png);
            if (!data) data = item.data(PasteboardType::tiff);
            if (!data) throw ScreenshotError(kNonImageItemMessage);
            add(decodeScreenshotImageData(*data));
        }
    }
    if (images.empty()) throw ScreenshotError(kNoImageMessage);
    return images;
}

namespace {

// One read of the clipboard's content into an item of the types that intake uses.
struct PasteboardReading {
    QPointer<Pasteboard> pasteboard;
    QPointer<QObject> receiver;
    ScreenshotDocumentSession::ImagesReply done;
    QStringList types;
    PasteboardItem item;
    bool oversized = false;

    void finish(bool any) {
        std::optional<TaskResult<std::vector<QImage>>> result;
        try {
            std::vector<PasteboardItem> items;
            if (any) items.push_back(item);
            if (oversized && !item.data(PasteboardType::png) && !item.data(PasteboardType::tiff) &&
                !item.data(PasteboardType::fileURL))
                throw ScreenshotError(kInvalidImageBytesMessage);
            result.emplace(ScreenshotDocumentSession::pasteboardImages(items));
        } catch (...) {
            result.emplace(std::current_exception());
        }
        done(*result);
    }

    // Reads the next wanted type; PNG makes TIFF unneeded.
    static void next(const std::shared_ptr<PasteboardReading>& reading) {
        const QStringList wanted = {PasteboardType::fileURL, PasteboardType::png, PasteboardType::tiff};
        for (const QString& type : wanted) {
            if (!reading->types.contains(type) || reading->item.data(type)) continue;
            if (type == PasteboardType::tiff && reading->item.data(PasteboardType::png)) continue;
            reading->types.removeAll(type);
            if (!reading->pasteboard || !reading->receiver) return;
            const std::int64_t limit = type == PasteboardType::fileURL ? 1 << 20 : kMaxImageBytes;
            reading->pasteboard->readData(type, limit, reading->receiver, [reading, type](PasteboardData data) {
                if (data.ok()) reading->item.setData(type, data.bytes);
                if (data.status == PasteboardData::Status::tooLarge) reading->oversized = true;
                next(reading);
            });
            return;
        }
        reading->finish(true);
    }
};

}  // namespace

void ScreenshotDocumentSession::readPasteboardImages(Pasteboard& pasteboard, QObject* receiver, ImagesReply done) {
    auto reading = std::make_shared<PasteboardReading>();
    reading->pasteboard = &pasteboard;
    reading->receiver = receiver;
    reading->done = std::move(done);
    pasteboard.readTypes(receiver, [reading](std::optional<QStringList> types) {
        if (!types || types->isEmpty()) return reading->finish(false);
        reading->types = *types;
        PasteboardReading::next(reading);
    });
}

void ScreenshotDocument::combineImages(ScreenshotDocument& document, const std::vector<Asset>& assets, bool vertical,
                                       double alignment, double spacing) {
    double W = document.canvas.width(), H = document.canvas.height();
    for (const Asset& asset : assets) {
        const double w = static_cast<double>(asset.width), h = static_cast<double>(asset.height);
        const double x = vertical ? std::max((W - w) * alignment, 0.0) : W + spacing;
        const double y = vertical ? H + spacing : std::max((H - h) * alignment, 0.0);
        document.assets.push_back(asset);
        document.layers.push_back(imageLayer(asset, QRectF(x, y, w, h)));
        W = std::max(W, x + w);
        H = std::max(H, y + h);
    }
    document.canvas = QSizeF(W, H);
    document.crop.reset();
}

}  // namespace brevalto
