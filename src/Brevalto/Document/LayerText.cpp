#include "Document/ScreenshotRenderer.h"
#include "Errors/ScreenshotError.h"
#include "Platform/FontCatalog.h"

#include <QFont>
#include <QTextLayout>
#include <QTextOption>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <vector>

namespace brevalto::ScreenshotRenderer {

namespace {

using Kind = ScreenshotLayerKind;

// Line breaks as the text layout understands them.
QString layoutString(const std::string& utf8) {
    QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    text.replace(QStringLiteral("\r\n"), QString(QChar::LineSeparator));
    text.replace(QLatin1Char('\r'), QChar::LineSeparator);
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);
    return text;
}

// The text laid out at one size within a width: lines wrap at words, and a word wider than the
// line breaks between characters. Stops as soon as the lines are taller than `height`.
struct Laid {
    std::unique_ptr<QTextLayout> layout;
    bool fits = false;
};

Laid layOut(const QString& text, const QString& family, double size, bool centred, const QRectF& area,
            QPaintDevice* device) {
    QFont font(family);
    // Sizes are in canvas pixels; the device converts points at its own resolution.
    const int dpi = device ? device->logicalDpiY() : 72;
    font.setPointSizeF(size * 72.0 / (dpi > 0 ? dpi : 72));
    Laid laid;
    laid.layout = std::make_unique<QTextLayout>(text, font, device);
    QTextOption option(centred ? Qt::AlignHCenter : Qt::AlignLeft);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    laid.layout->setTextOption(option);
    laid.layout->setCacheEnabled(true);
    double height = 0, width = 0;
    bool tooTall = false;
    laid.layout->beginLayout();
    for (QTextLine line = laid.layout->createLine(); line.isValid(); line = laid.layout->createLine()) {
        line.setLeadingIncluded(true);
        line.setLineWidth(area.width());
        line.setPosition(QPointF(0, height));
        height += line.height();
        width = std::max(width, line.naturalTextWidth());
        if (height > area.height()) {
            tooTall = true;
            break;
        }
    }
    laid.layout->endLayout();
    laid.fits = !tooTall && width <= area.width() + 0.5;
    return laid;
}

bool usable(const QRectF& area) {
    return area.width() > 0 && area.height() > 0 && std::isfinite(area.width()) && std::isfinite(area.height());
}

// The text laid out in `area` at the layer's size, or for kinds that shrink at the largest
// half-point step down to min(size, 4) that fits; nothing when no size fits.
std::optional<Laid> fitted(const ScreenshotLayer& layer, const QString& text, const QString& family,
                           const QRectF& area, QPaintDevice* device) {
    const bool centred = layer.kind == Kind::counter;
    const bool shrinks = layer.kind == Kind::counter || layer.kind == Kind::translatedText;
    const double size = layer.style.fontSize;
    Laid laid = layOut(text, family, size, centred, area, device);
    if (!laid.fits && shrinks) {
        // Smaller text never needs more room, so the largest size that fits is found by halving
        // the range of steps.
        const double smallest = std::min(size, 4.0);
        const long steps = static_cast<long>(std::floor((size - smallest) / 0.5 + 1e-9));
        long low = 1, high = steps;
        while (low <= high) {
            const long middle = low + (high - low) / 2;
            Laid attempt = layOut(text, family, size - 0.5 * middle, centred, area, device);
            if (attempt.fits) {
                laid = std::move(attempt);
                high = middle - 1;
            } else {
                low = middle + 1;
            }
        }
    }
    if (!laid.fits) return std::nullopt;
    return laid;
}

}  // namespace

void layoutText(const ScreenshotLayer& layer, QPainter& painter, const QRectF& rect,
                const std::optional<QRectF>& roomier) {
    const bool inRect = usable(rect);
    const bool inRoomier = roomier && usable(*roomier);
    if (!inRect && !inRoomier) throw ScreenshotError(kTextAreaTooSmallMessage);
    const double size = layer.style.fontSize;
    if (!std::isfinite(size) || size <= 0) throw ScreenshotError(kTextDoesNotFitMessage);
    if (!isFontFamilyInstalled(layer.style.fontName)) throw ScreenshotError(missingFontMessage(layer.style.fontName));
    const QString family = QString::fromStdString(layer.style.fontName);
    const QString text = layoutString(layer.text);
    if (text.isEmpty()) return;  // no lines: nothing to fit or draw
    QPaintDevice* device = painter.device();

    std::optional<Laid> laid = inRect ? fitted(layer, text, family, rect, device) : std::nullopt;
    if (laid) {
        painter.setPen(layer.style.stroke.qColor());
        laid->layout->draw(&painter, rect.topLeft());
        return;
    }
    if (inRoomier) laid = fitted(layer, text, family, *roomier, device);
    if (!laid) throw ScreenshotError(kTextDoesNotFitMessage);
    // Text in the roomier area stays inside it, as the fill beneath does.
    painter.save();
    painter.setClipRect(*roomier, Qt::IntersectClip);
    painter.setPen(layer.style.stroke.qColor());
    laid->layout->draw(&painter, roomier->topLeft());
    painter.restore();
}

}  // namespace brevalto::ScreenshotRenderer
