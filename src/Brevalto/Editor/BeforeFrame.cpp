#include "Editor/BeforeFrame.h"

#include "Document/ScreenshotDocument.h"

namespace brevalto::BeforeFrame {

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

ScreenshotDocument document(const ScreenshotDocument& edited) {
    ScreenshotDocument before = edited;
    std::optional<ScreenshotLayer> source;
    for (const ScreenshotLayer& layer : edited.layers)
        if (layer.assetID == edited.sourceAssetID) {
            source = layer;
            break;
        }
    if (!source) source = edited.originalPlacement;
    if (!source) {
        for (const ScreenshotDocument::Asset& asset : edited.assets)
            if (asset.id == edited.sourceAssetID) {
                ScreenshotLayer layer;
                layer.kind = ScreenshotLayerKind::image;
                layer.frame = QRectF(0, 0, double(asset.width), double(asset.height));
                layer.assetID = asset.id;
                layer.value = 2;
                source = layer;
            }
    }
    ScreenshotLayerList layers;
    if (source) {
        source->hidden = false;
        layers.push_back(*source);
    }
    for (const ScreenshotLayer& layer : edited.layers)
        if (isSecretCover(layer)) layers.push_back(layer);
    before.layers = std::move(layers);
    return before;
}

}  // namespace brevalto::BeforeFrame
