#include "Editor/TranslationLayers.h"

#include "Document/ScreenshotColor.h"
#include "Errors/ScreenshotError.h"

#include <algorithm>
#include <cmath>

namespace brevalto {

std::vector<ScreenshotLayer> translationLayers(const std::vector<EditableImageRegion>& regions, const QRectF& bounds) {
    // Boxes that end within this much past the edge still count as inside.
    constexpr double edge = 1.00001;
    std::vector<ScreenshotLayer> layers;
    for (const EditableImageRegion& region : regions) {
        if (!region.enabled) continue;
        const bool finite = std::isfinite(region.x) && std::isfinite(region.y) && std::isfinite(region.width) &&
                            std::isfinite(region.height) && std::isfinite(region.scale);
        if (!finite || region.x < 0 || region.y < 0 || region.x + region.width > edge ||
            region.y + region.height > edge || region.width <= 0 || region.height <= 0)
            throw ScreenshotError(kInvalidTranslationRegionMessage);

        ScreenshotLayer layer;
        layer.kind = ScreenshotLayerKind::translatedText;
        layer.frame = QRectF(bounds.left() + region.x * bounds.width(),
                             bounds.top() + (1 - (region.y + region.height)) * bounds.height(),
                             region.width * bounds.width(), region.height * bounds.height());
        layer.text = region.text.toStdString();
        layer.originalText = region.original.toStdString();
        layer.value = 2;
        layer.style.stroke = ScreenshotColor::RGBA::fromQColor(region.foreground);
        layer.style.fill = ScreenshotColor::RGBA::fromQColor(region.background);
        layer.style.fill.alpha = 1;
        layer.style.filled = true;
        layer.style.strokeWidth = 3;
        layer.style.fontSize = std::clamp(region.scale * layer.frame.height() * 0.78, 4.0, 1000.0);
        layer.style.fontName = "Helvetica";
        layer.style.opacity = 1;
        layer.style.handDrawn = false;
        layers.push_back(std::move(layer));
    }
    if (layers.empty()) throw ScreenshotError(kNoTranslationRegionsMessage);
    return layers;
}

}  // namespace brevalto
