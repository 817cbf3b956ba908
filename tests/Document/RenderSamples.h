#pragma once

#include "Document/ScreenshotDocument.h"
#include "TestFolder.h"

#include <QImage>
#include <QPainter>

namespace brevalto::samples {

// A source image whose pixel (x, y) has red x % 256, green y % 256 and blue 255 * ((x / 16 + y / 16) % 2)
// (a checkerboard of 16-pixel squares in blue), so a pixel's colour says where it came from.
inline QImage coordinateImage(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) line[x] = qRgb(x % 256, y % 256, ((x / 16 + y / 16) % 2) * 255);
    }
    return image;
}

// A document folder inside a test folder, holding the source image as its one asset, and the
// document of one image layer that covers the canvas.
struct RenderedDocument {
    TestFolder root;
    std::filesystem::path folder;
    ScreenshotDocument document;

    explicit RenderedDocument(const QImage& source) {
        document.historyID = Uuid::random();
        folder = ScreenshotDocument::folder(root.path(), document.historyID);
        const ScreenshotDocument::Asset asset = ScreenshotDocument::storeAsset(source, folder);
        document.assets = {asset};
        document.sourceAssetID = asset.id;
        document.canvas = QSizeF(source.width(), source.height());
        ScreenshotLayer image;
        image.kind = ScreenshotLayerKind::image;
        image.frame = QRectF(0, 0, source.width(), source.height());
        image.assetID = asset.id;
        document.layers = {image};
    }

    ScreenshotDocument::Asset addAsset(const QImage& image) {
        const auto asset = ScreenshotDocument::storeAsset(image, folder);
        document.assets.push_back(asset);
        return asset;
    }
};

inline ScreenshotLayer layer(ScreenshotLayerKind kind, QRectF frame) {
    ScreenshotLayer l;
    l.kind = kind;
    l.frame = frame;
    return l;
}

}  // namespace brevalto::samples
