#pragma once

#include "Document/ScreenshotDocument.h"
#include "TestFolder.h"

#include <QImage>

namespace brevalto::samples {

inline QImage solid(int width, int height, QColor colour) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    return image;
}

// Black and white squares of the given size.
inline QImage checkerboard(int size, int square) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) image.setPixel(x, y, (x / square + y / square) % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    return image;
}

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

inline ScreenshotLayer layer(ScreenshotLayerKind kind, QRectF frame) {
    ScreenshotLayer l;
    l.kind = kind;
    l.frame = frame;
    return l;
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
        document.layers = {layer(ScreenshotLayerKind::image, QRectF(QPointF(), source.size()))};
        document.layers.front().assetID = asset.id;
    }
};


}  // namespace brevalto::samples
