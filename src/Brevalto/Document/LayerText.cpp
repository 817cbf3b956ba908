#include "Document/ScreenshotRenderer.h"
#include "Errors/ScreenshotError.h"
#include "Platform/FontCatalog.h"

#include <QFont>
#include <QTextLayout>
#include <QTextOption>

#include <algorithm>
#include <cmath>
#include <memory>
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

}  // namespace

void layoutText(const ScreenshotLayer& layer, QPainter& painter, const QRectF& rect) {
    if (!(rect.width() > 0 && rect.height() > 0) || !std::isfinite(rect.width()) || !std::isfinite(rect.height()))
        throw ScreenshotError(kTextAreaTooSmallMessage);
    const bool centred = layer.kind == Kind::counter;
    const bool shrinks = layer.kind == Kind::counter || layer.kind == Kind::translatedText;
    const double size = layer.style.fontSize;
    if (!std::isfinite(size) || size <= 0) throw ScreenshotError(kTextDoesNotFitMessage);
    if (!isFontFamilyInstalled(layer.style.fontName)) throw ScreenshotError(missingFontMessage(layer.style.fontName));
    const QString family = QString::fromStdString(layer.style.fontName);
    const QString text = layoutString(layer.text);
    if (text.isEmpty()) return;  // no lines: nothing to fit or draw
    QPaintDevice* device = painter.device();

    Laid laid = layOut(text, family, size, centred, rect, device);
    if (!laid.fits && shrinks) {
        // Sizes go down in half-point steps to min(size, 4). Smaller text never needs more room,
        // so the largest size that fits is found by halving the range of steps.
        const double smallest = std::min(size, 4.0);
        const long steps = static_cast<long>(std::floor((size - smallest) / 0.5 + 1e-9));
        long low = 1, high = steps, best = -1;
        while (low <= high) {
            const long middle = low + (high - low) / 2;
            Laid attempt = layOut(text, family, size - 0.5 * middle, centred, rect, device);
            if (attempt.fits) {
                best = middle;
                laid = std::move(attempt);
                high = middle - 1;
            } else {
                low = middle + 1;
            }
        }
        if (best < 0) laid.fits = false;
    }
    if (!laid.fits) throw ScreenshotError(kTextDoesNotFitMessage);
    painter.setPen(layer.style.stroke.qColor());
    laid.layout->draw(&painter, rect.topLeft());
}

}  // namespace brevalto::ScreenshotRenderer
