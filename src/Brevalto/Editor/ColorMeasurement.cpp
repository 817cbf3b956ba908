#include "Editor/ColorMeasurement.h"

#include "Document/ScreenshotDocument.h"

#include <algorithm>
#include <cmath>

namespace brevalto::ColorMeasurement {

using ScreenshotColor::RGBA;

QRectF sampleArea(const ScreenshotDocument& document, const std::optional<QRectF>& selection,
                  const std::optional<QRectF>& selectedFrame) {
    QRectF area = selection       ? *selection
                  : selectedFrame ? *selectedFrame
                  : document.crop ? *document.crop
                                  : QRectF(QPointF(0, 0), document.canvas);
    area = area.normalized();
    if (document.crop) area.translate(-document.crop->normalized().topLeft());
    return area;
}

std::optional<RGBA> sample(const QImage& rendered, const QRectF& area, const QString& mode) {
    if (!std::isfinite(area.x()) || !std::isfinite(area.y()) || !std::isfinite(area.width()) ||
        !std::isfinite(area.height()))
        return std::nullopt;
    if (mode == QLatin1String("pixel")) {
        const QPointF centre = area.center();
        const QPoint at(int(std::floor(centre.x())), int(std::floor(centre.y())));
        if (!rendered.rect().contains(at)) return std::nullopt;
        const std::optional<RGBA> color = ScreenshotColor::Pixels::fromImage(rendered.copy(QRect(at, QSize(1, 1)))).color(0, 0);
        if (!color || color->alpha <= 0) return std::nullopt;
        return color;
    }
    // The area rounded outwards and clipped to the image: only those pixels are converted.
    const int left = int(std::max(std::floor(area.left()), 0.0));
    const int top = int(std::max(std::floor(area.top()), 0.0));
    const int right = int(std::min(std::ceil(area.right()), double(rendered.width())));
    const int bottom = int(std::min(std::ceil(area.bottom()), double(rendered.height())));
    if (right <= left || bottom <= top) return std::nullopt;
    const QRect piece(QPoint(left, top), QPoint(right - 1, bottom - 1));
    const ScreenshotColor::Pixels pixels = ScreenshotColor::Pixels::fromImage(rendered.copy(piece));
    const std::optional<RGBA> color =
        pixels.averageColor(mode == QLatin1String("text"), area.translated(-QPointF(piece.topLeft())));
    if (!color || color->alpha <= 0) return std::nullopt;
    return color;
}

double contrastRatio(const RGBA& foreground, const RGBA& background) {
    const RGBA white{1, 1, 1, 1};
    const RGBA back = background.over(white);
    const RGBA front = foreground.over(back);
    const double l1 = front.luminance(), l2 = back.luminance();
    return (std::max(l1, l2) + 0.05) / (std::min(l1, l2) + 0.05);
}

QStringList describe(const RGBA& foreground, const RGBA& background) {
    const ScreenshotColor::HSL hsl = foreground.hsl();
    const ScreenshotColor::OKLCH oklch = foreground.oklch();
    return {
        QString::fromStdString(foreground.hex()) + QStringLiteral(" \u00B7 ") +
            QString::asprintf("RGB %.0f %.0f %.0f", foreground.red * 255, foreground.green * 255, foreground.blue * 255),
        QString::asprintf("HSL %.1f\u00B0 %.1f%% %.1f%%", hsl.hue, hsl.saturation * 100, hsl.lightness * 100),
        QString::asprintf("OKLCH %.5f %.5f %.2f\u00B0", oklch.lightness, oklch.chroma, oklch.hue),
        QString::asprintf("WCAG 2 contrast %.2f:1", contrastRatio(foreground, background)),
    };
}

}  // namespace brevalto::ColorMeasurement
