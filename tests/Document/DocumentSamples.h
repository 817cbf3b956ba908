#pragma once

#include "Document/ScreenshotDocument.h"

namespace brevalto::samples {

inline ScreenshotDocument::Asset asset(std::int64_t width = 800, std::int64_t height = 600) {
    const Uuid id = Uuid::random();
    return {id, id.string() + ".png", width, height};
}

inline ScreenshotLayer layerOf(ScreenshotLayerKind kind) {
    ScreenshotLayer layer;
    layer.kind = kind;
    layer.frame = QRectF(10, 20, 100, 50);
    if (kind == ScreenshotLayerKind::counter) layer.text = "3";
    return layer;
}

// A valid document of an 800 x 600 canvas with one image layer showing its one asset.
inline ScreenshotDocument document() {
    ScreenshotDocument d;
    d.historyID = Uuid::random();
    const auto source = asset();
    d.assets = {source};
    d.sourceAssetID = source.id;
    d.sourceScale = 2;
    d.canvas = QSizeF(800, 600);
    ScreenshotLayer image = layerOf(ScreenshotLayerKind::image);
    image.frame = QRectF(0, 0, 800, 600);
    image.assetID = source.id;
    d.layers = {image};
    return d;
}

// Every layer kind once, with every optional member in use somewhere.
inline ScreenshotDocument richDocument() {
    ScreenshotDocument d = document();
    for (ScreenshotLayerKind kind : allScreenshotLayerKinds) {
        ScreenshotLayer layer = layerOf(kind);
        if (kind == ScreenshotLayerKind::image) layer.assetID = d.assets.front().id;
        layer.text = kind == ScreenshotLayerKind::counter ? "12" : "Grüße 👋🏽";
        if (kind == ScreenshotLayerKind::translatedText) layer.originalText = "Hello";
        layer.points = {QPointF(0.25, -1.5), QPointF(10, -10)};
        layer.rotation = -12.5;
        layer.value = 0.1;
        layer.hidden = kind == ScreenshotLayerKind::blur;
        layer.style.filled = true;
        layer.style.fontName = "DejaVu Sans";
        layer.style.handDrawn = true;
        layer.style.opacity = 0.75;
        d.layers.push_back(layer);
    }
    d.assets.push_back(asset(40, 30));
    d.crop = QRectF(5.5, 6, 300, 200.25);
    d.originalPlacement = d.layers.front();
    d.backdrop.enabled = true;
    d.backdrop.angle = -90;
    d.metadata = {{"source", "capture"}, {"app", "Files"}};
    return d;
}

}  // namespace brevalto::samples
