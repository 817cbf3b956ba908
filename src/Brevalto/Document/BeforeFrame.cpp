#include "Document/BeforeFrame.h"

#include "Document/ScreenshotDocument.h"

#include <QStringList>
#include <QTransform>

#include <vector>

namespace brevalto::BeforeFrame {

namespace {

constexpr qsizetype kMaxEntry = 4096;  // the document's bound on a metadata value

// The area a layer covers, its rotation included.
QRectF coveredArea(const ScreenshotLayer& layer) {
    const QRectF frame = layer.frame.normalized();
    if (layer.rotation == 0) return frame;
    const QPointF centre = frame.center();
    return QTransform().translate(centre.x(), centre.y()).rotate(layer.rotation).translate(-centre.x(), -centre.y()).mapRect(frame);
}

QString encode(const std::vector<QRectF>& covers) {
    QStringList entries;
    for (const QRectF& r : covers)
        entries << QString::asprintf("%.6g,%.6g,%.6g,%.6g", r.x(), r.y(), r.width(), r.height());
    return entries.join(QLatin1Char(';'));
}

// The remembered covers; an entry that does not read covers the whole source.
std::vector<QRectF> remembered(const ScreenshotDocument& document) {
    const auto found = document.metadata.find(kCoversKey);
    if (found == document.metadata.end() || found->second.empty()) return {};
    std::vector<QRectF> covers;
    for (const QString& entry : QString::fromStdString(found->second).split(QLatin1Char(';'))) {
        const QStringList parts = entry.split(QLatin1Char(','));
        bool ok = parts.size() == 4;
        double v[4] = {};
        for (int i = 0; ok && i < 4; ++i) v[i] = parts[i].toDouble(&ok);
        if (!ok || !(v[2] > 0) || !(v[3] > 0)) return {QRectF(0, 0, 1, 1)};
        covers.emplace_back(v[0], v[1], v[2], v[3]);
    }
    return covers;
}

}  // namespace

bool isSecretCover(const ScreenshotLayer& layer) {
    if (layer.hidden) return false;
    switch (layer.kind) {
    case ScreenshotLayerKind::redact: return true;
    case ScreenshotLayerKind::blur:
    case ScreenshotLayerKind::pixelate:
    case ScreenshotLayerKind::erase: return layer.originalText.has_value();
    default: return false;
    }
}

std::optional<ScreenshotLayer> sourcePlacement(const ScreenshotDocument& document) {
    for (const ScreenshotLayer& layer : document.layers)
        if (layer.assetID == document.sourceAssetID) return layer;
    if (document.originalPlacement) return document.originalPlacement;
    for (const ScreenshotDocument::Asset& asset : document.assets)
        if (asset.id == document.sourceAssetID) {
            ScreenshotLayer layer;
            layer.kind = ScreenshotLayerKind::image;
            layer.frame = QRectF(0, 0, double(asset.width), double(asset.height));
            layer.assetID = asset.id;
            layer.value = 2;
            return layer;
        }
    return std::nullopt;
}

void rememberCovers(ScreenshotDocument& document) {
    const std::optional<ScreenshotLayer> source = sourcePlacement(document);
    if (!source) return;
    const QRectF placed = source->frame.normalized();
    if (!(placed.width() > 0) || !(placed.height() > 0)) return;
    std::vector<QRectF> covers = remembered(document);
    const std::size_t before = covers.size();
    for (const ScreenshotLayer& layer : document.layers) {
        if (!isSecretCover(layer)) continue;
        const QRectF area = coveredArea(layer).intersected(placed);
        if (area.isEmpty()) continue;
        covers.emplace_back((area.x() - placed.x()) / placed.width(), (area.y() - placed.y()) / placed.height(),
                            area.width() / placed.width(), area.height() / placed.height());
    }
    if (covers.size() == before) return;
    QString entry = encode(covers);
    if (entry.size() > kMaxEntry) {
        QRectF all;
        for (const QRectF& cover : covers) all |= cover;
        entry = encode({all});
    }
    document.metadata[kCoversKey] = entry.toStdString();
}

ScreenshotDocument document(const ScreenshotDocument& edited) {
    ScreenshotDocument before = edited;
    std::optional<ScreenshotLayer> source = sourcePlacement(edited);
    ScreenshotLayerList layers;
    if (source) {
        source->hidden = false;
        layers.push_back(*source);
        // Covers that were rasterized: opaque redactions where they lay over the source.
        const QRectF placed = source->frame.normalized();
        for (const QRectF& cover : remembered(edited)) {
            ScreenshotLayer redaction;
            redaction.kind = ScreenshotLayerKind::redact;
            redaction.frame = QRectF(placed.x() + cover.x() * placed.width(), placed.y() + cover.y() * placed.height(),
                                     cover.width() * placed.width(), cover.height() * placed.height());
            redaction.style.fill = {0, 0, 0, 1};
            redaction.style.filled = true;
            layers.push_back(std::move(redaction));
        }
    }
    for (const ScreenshotLayer& layer : edited.layers)
        if (isSecretCover(layer)) layers.push_back(layer);
    before.layers = std::move(layers);
    return before;
}

}  // namespace brevalto::BeforeFrame
