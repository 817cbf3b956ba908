#include "Document/ScreenshotOutput.h"

#include "Document/ScreenshotRenderer.h"
#include "Errors/ScreenshotError.h"
#include "Imaging/ImageLimits.h"

#include <QBuffer>
#include <QDateTime>
#include <QImageWriter>

#include <algorithm>
#include <cmath>

namespace brevalto::ScreenshotOutput {

std::string_view rawValue(Format format) {
    switch (format) {
    case Format::png: return "png";
    case Format::jpeg: return "jpeg";
    }
    return "png";
}

std::optional<Format> formatFromRaw(std::string_view raw) {
    for (Format format : allFormats)
        if (rawValue(format) == raw) return format;
    return std::nullopt;
}

namespace {

int outputSide(int side, double scale) {
    // std::round rounds half away from zero: a 3 px side at scale 2 gives 2.
    return std::max(1, static_cast<int>(std::round(side / scale)));
}

// The image in the target colour space, resampled to the output size with area averaging, so a
// large reduction does not alias.
QImage prepareSource(const QImage& image, const QColorSpace& target, int width, int height) {
    QImage source = image;
    if (source.colorSpace().isValid() && source.colorSpace() != target) {
        if (source.pixelFormat().colorModel() != QPixelFormat::RGB)
            source = source.convertToFormat(source.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        source.convertToColorSpace(target);
    }
    if (source.width() != width || source.height() != height)
        source = source.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return source;
}

}  // namespace

QByteArray encode(const QImage& image, Format format, const QColor& background, bool srgb, double scale,
                  double quality) {
    if (!std::isfinite(scale) || scale < 0.25 || scale > 8 || std::isnan(quality) || quality < 0 || quality > 1)
        throw ScreenshotError(kInvalidScaleOrQualityMessage);
    validateImageSize(image.width(), image.height());

    const QColorSpace target = !srgb && image.colorSpace().isValid() ? image.colorSpace() : QColorSpace(QColorSpace::SRgb);
    const int width = outputSide(image.width(), scale);
    const int height = outputSide(image.height(), scale);
    BitmapContext context = ScreenshotRenderer::rasterize(target, width, height);
    if (format == Format::jpeg) {
        QColor opaque = background;
        opaque.setAlphaF(1.0);
        context.painter().fillRect(QRect(0, 0, width, height), opaque);
    }
    context.painter().drawImage(QRect(0, 0, width, height), prepareSource(image, context.colorSpace(), width, height));
    QImage output = context.takeImage();
    if (output.isNull()) throw ScreenshotError(kResampleMessage);

    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format == Format::png ? "png" : "jpeg");
    if (!writer.canWrite()) throw ScreenshotError(kEncoderMessage);
    if (format == Format::jpeg) {
        writer.setQuality(static_cast<int>(std::lround(quality * 100)));
        output = output.convertToFormat(QImage::Format_RGB32);
    }
    if (!writer.write(output)) throw ScreenshotError(kEncodeMessage);
    buffer.close();
    return bytes;
}

QString fileName(const QString& prefix, Date date) {
    QString kept;
    int count = 0;
    for (char32_t scalar : prefix.toUcs4()) {
        if (count == 60) break;
        const QChar::Category category = QChar::category(scalar);
        const bool alphanumeric = (category >= QChar::Mark_NonSpacing && category <= QChar::Number_Other) ||
                                  (category >= QChar::Letter_Uppercase && category <= QChar::Letter_Other);
        if (alphanumeric || scalar == U'-' || scalar == U'_' || scalar == U' ') {
            kept += QString::fromUcs4(&scalar, 1);
            ++count;
        }
    }
    if (kept.isEmpty()) kept = QStringLiteral("Screenshot");
    // Milliseconds are cut, not rounded; the small allowance absorbs binary fractions just below.
    const auto milliseconds = static_cast<qint64>(std::floor(unixSeconds(date) * 1000.0 + 1e-3));
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(milliseconds, Qt::LocalTime);
    return kept + QLatin1Char('-') + local.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
}

}  // namespace brevalto::ScreenshotOutput
