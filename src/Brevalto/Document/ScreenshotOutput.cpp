#include "Document/ScreenshotOutput.h"

#include "ClipCore/Uuid.h"
#include "Document/ScreenshotRenderer.h"
#include "Errors/ScreenshotError.h"
#include "Imaging/ImageLimits.h"
#include "Platform/AppPaths.h"
#include "Platform/AtomicFile.h"
#include "Platform/GifEncoding.h"
#include "Platform/ImageSaveDialog.h"
#include "Platform/ModalAbovePanel.h"
#include "Platform/Pasteboard.h"

#include <QApplication>
#include <QBuffer>
#include <QDateTime>
#include <QImageWriter>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>

#include <algorithm>
#include <cmath>
#include <filesystem>

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

// Qt's PNG writer turns its quality into the zlib level as (100 - quality) * 9 / 91: 60 is level 3,
// which compresses screenshots nearly as well as the default level at less than half the time.
constexpr int kPNGWriterQuality = 60;

bool isOpaque(const QImage& image) {
    if (!image.hasAlphaChannel()) return true;
    const QImage argb = image.format() == QImage::Format_ARGB32_Premultiplied || image.format() == QImage::Format_ARGB32
                            ? image
                            : image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int width = argb.width();
    for (int y = 0; y < argb.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < width; ++x)
            if (qAlpha(row[x]) != 255) return false;
    }
    return true;
}

ImageFileType fileType(ContentType type) {
    switch (type) {
    case ContentType::png: return ImageFileType::png;
    case ContentType::jpeg: return ImageFileType::jpeg;
    case ContentType::gif: return ImageFileType::gif;
    }
    return ImageFileType::png;
}

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
    } else {
        writer.setQuality(kPNGWriterQuality);
        // Three channels instead of four when nothing is transparent: the same pixels, a quarter
        // less to compress.
        output = output.convertToFormat(isOpaque(output) ? QImage::Format_RGB888 : QImage::Format_ARGB32);
    }
    if (!writer.write(output)) throw ScreenshotError(kEncodeMessage);
    buffer.close();
    return bytes;
}

ContentType contentType(Format format) { return format == Format::jpeg ? ContentType::jpeg : ContentType::png; }

QString preferredExtension(ContentType type) { return imageFileExtension(fileType(type)); }

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

namespace {

namespace fs = std::filesystem;

class SystemDialogs final : public Dialogs {
public:
    std::optional<QUrl> chooseSaveFile(ContentType type, const QString& proposedName,
                                       const fs::path& folder) override {
        const std::optional<QString> path = askImageSavePath(fileType(type), QString::fromStdString(folder.string()),
                                                             proposedName, QApplication::activeWindow());
        if (!path) return std::nullopt;
        return QUrl::fromLocalFile(*path);
    }

    bool confirmPrint(QPrinter& printer) override {
        QPrintDialog dialog(&printer, QApplication::activeWindow());
        return runModalAbovePanel(dialog) == QDialog::Accepted;
    }
};

}  // namespace

Dialogs& systemDialogs() {
    static SystemDialogs dialogs;  // stateless
    return dialogs;
}

std::optional<QUrl> save(const QByteArray& data, ContentType type, const QString& prefix, Dialogs& dialogs,
                         const std::optional<fs::path>& folder) {
    const QString proposed = fileName(prefix, referenceDateNow()) + QLatin1Char('.') + preferredExtension(type);
    const std::optional<QUrl> chosen =
        dialogs.chooseSaveFile(type, proposed, folder ? *folder : AppPaths::picturesFolder());
    if (!chosen || chosen->isEmpty()) return std::nullopt;
    return writeUnique(data, *chosen);
}

QUrl writeUnique(const QByteArray& data, const QUrl& target) {
    if (!target.isLocalFile()) throw ScreenshotError(kNotLocalFileMessage);
    const fs::path path = fs::path(target.toLocalFile().toStdString()).lexically_normal();
    const std::string name = path.filename().string();
    if (name.empty() || name == "." || name == "..") throw ScreenshotError(kNotLocalFileMessage);
    const fs::path folder = path.parent_path();
    // The chosen folder may be reached through a symbolic link; the name in it never is.
    auto isFolder = [&] {
        std::error_code error;
        return !folder.empty() && fs::is_directory(folder, error);
    };
    if (!isFolder()) throw ScreenshotError(kNoFolderMessage);

    std::optional<StagedFile> staged;
    try {
        staged.emplace(folder, ".brevalto-" + Uuid::random().string() + ".tmp",
                       std::string_view(data.constData(), static_cast<std::size_t>(data.size())));
    } catch (const FileError&) {
        // The folder went away after it was checked.
        if (!isFolder()) throw ScreenshotError(kNoFolderMessage);
        throw;
    }
    const std::string stem = path.stem().string();
    const std::string extension = path.extension().string();
    for (int n = 0; n <= 999; ++n) {
        const std::string candidate = n == 0 ? name : stem + "-" + std::to_string(n) + extension;
        if (staged->place(candidate)) return QUrl::fromLocalFile(QString::fromStdString((folder / candidate).string()));
    }
    throw ScreenshotError(kNoUnusedNameMessage);
}

void writeToPasteboard(PasteboardItem item, Pasteboard& pasteboard) {
    item.markAsOwnCopy(kOwnSource);
    if (!pasteboard.write(item)) throw ScreenshotError(kClipboardMessage);
}

void copyImage(const QImage& image, Pasteboard& pasteboard) {
    PasteboardItem item;
    item.setData(PasteboardType::png, encode(image, Format::png, QColor(Qt::white), false, 1, 0.9));
    writeToPasteboard(std::move(item), pasteboard);
}

void copyFileURL(const QUrl& url, Pasteboard& pasteboard) {
    if (!url.isLocalFile() || url.toLocalFile().isEmpty() || !fs::exists(fs::path(url.toLocalFile().toStdString())))
        throw ScreenshotError(kSaveBeforeCopyMessage);
    PasteboardItem item;
    item.setData(PasteboardType::fileURL, url.toEncoded());
    writeToPasteboard(std::move(item), pasteboard);
}

void print(const QImage& image, Dialogs& dialogs) {
    QPrinter printer(QPrinter::HighResolution);
    if (!dialogs.confirmPrint(printer)) return;
    printImage(image, printer);
}

void printImage(const QImage& image, QPrinter& printer) {
    if (image.isNull()) return;
    QPainter painter;
    if (!painter.begin(&printer)) return;
    // One point per image pixel, reduced to fit the printable area, centred on it.
    const double perPoint = printer.resolution() / 72.0;
    const QRectF area = QRectF(QPointF(0, 0), printer.pageLayout().paintRectPixels(printer.resolution()).size());
    QSizeF size = QSizeF(image.size()) * perPoint;
    if (size.width() > area.width() || size.height() > area.height()) size.scale(area.size(), Qt::KeepAspectRatio);
    const QRectF target(area.center() - QPointF(size.width() / 2, size.height() / 2), size);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, image);
    painter.end();
}

QByteArray beforeAfterGIF(const QImage& before, const QImage& after, double delay) {
    if (!std::isfinite(delay) || delay < 0.1 || delay > 30 || before.size() != after.size())
        throw ScreenshotError(kGIFInputMessage);
    validateImageSize(after.width(), after.height());
    const QColorSpace srgb(QColorSpace::SRgb);
    auto inSRGB = [&](const QImage& frame) {
        if (!frame.colorSpace().isValid() || frame.colorSpace() == srgb) return frame;
        return frame.convertToFormat(QImage::Format_ARGB32).convertedToColorSpace(srgb);
    };
    try {
        return GifEncoding::encodeLooping({inSRGB(before), inSRGB(after)},
                                          static_cast<int>(std::lround(delay * 100)));
    } catch (const GifEncoding::Error& error) {
        throw ScreenshotError(error.stage() == GifEncoding::Error::Stage::create ? kGIFEncoderMessage
                                                                                 : kGIFEncodeMessage);
    }
}

}  // namespace brevalto::ScreenshotOutput
