#pragma once

#include "ClipCore/ReferenceDate.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QString>
#include <QUrl>

#include <array>
#include <filesystem>
#include <optional>
#include <string_view>

class QPrinter;

namespace brevalto {

class Pasteboard;
class PasteboardItem;

// Where a finished image leaves the app: encoding, output file names, the save dialog, files
// written beside existing ones without replacing them, the clipboard, printing and the
// before/after GIF. A namespace of stateless functions.
namespace ScreenshotOutput {

enum class Format { png, jpeg };

inline constexpr std::array<Format, 2> allFormats{Format::png, Format::jpeg};
std::string_view rawValue(Format format);  // "png", "jpeg"
std::optional<Format> formatFromRaw(std::string_view raw);

inline constexpr const char* kInvalidScaleOrQualityMessage = "Invalid export scale or JPEG quality.";
inline constexpr const char* kEncoderMessage = "Could not create the encoder.";
inline constexpr const char* kResampleMessage = "Could not resample the output.";
inline constexpr const char* kEncodeMessage = "Could not encode the image.";
inline constexpr const char* kNotLocalFileMessage = "Output must be a local file.";
inline constexpr const char* kNoFolderMessage = "The output folder does not exist.";
inline constexpr const char* kNoUnusedNameMessage = "Could not find an unused output name.";
inline constexpr const char* kClipboardMessage = "Could not write to the clipboard.";
inline constexpr const char* kSaveBeforeCopyMessage = "Save the file before copying its URL.";
inline constexpr const char* kGIFInputMessage =
    "GIF needs two frames of the same canvas and a duration of 0.1-30 seconds.";
inline constexpr const char* kGIFEncoderMessage = "Could not create the GIF encoder.";
inline constexpr const char* kGIFEncodeMessage = "Could not encode the GIF.";

// The identifier of the app's own copies on the clipboard (the source marker's value).
inline const QString kOwnSource = QStringLiteral("app.brevalto");

// The kinds of file the app writes.
enum class ContentType { png, jpeg, gif };
ContentType contentType(Format format);
QString preferredExtension(ContentType type);  // "png", "jpeg", "gif"

// Encodes the image as PNG or JPEG. The output has max(1, round(side / scale)) pixels a side
// (scale 0.25 ... 8, so 2 halves it); quality (0 ... 1) sets the JPEG compression and is checked
// for both formats. JPEG is drawn on the background colour made opaque; PNG keeps transparency.
// The output is in sRGB when srgb is true, else in the image's own colour space (sRGB when it has
// none). Throws ScreenshotError. Safe on any thread.
QByteArray encode(const QImage& image, Format format, const QColor& background, bool srgb, double scale,
                  double quality);

// The output base name without extension: the prefix reduced to letters, marks, digits, "-", "_"
// and spaces (at most 60 of them; "Screenshot" when none is left), "-", and the date in local
// time as yyyyMMdd-HHmmss-SSS.
QString fileName(const QString& prefix, Date date);

// The modal dialogs that output runs: Qt's own by default; tests script them.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    // A save dialog that allows only files of the type, may create folders, starts in the folder
    // and proposes the name. The chosen file, whose name ends in one of the type's extensions (the
    // dialog gives it one), or none when the user cancels.
    virtual std::optional<QUrl> chooseSaveFile(ContentType type, const QString& proposedName,
                                               const std::filesystem::path& folder) = 0;
    // A print dialog that sets up the printer. True when the user confirms.
    virtual bool confirmPrint(QPrinter& printer) = 0;
};
// QFileDialog and QPrintDialog, modal and above our floating windows.
Dialogs& systemDialogs();

// Runs the save dialog in the folder (none: the Pictures folder), proposing fileName(prefix, now)
// + "." + the type's extension, and writes the data with writeUnique to the chosen file. Returns
// the file written (which may carry a number suffix), or none when the user cancels; nothing is
// written then. GUI thread only.
std::optional<QUrl> save(const QByteArray& data, ContentType type, const QString& prefix,
                         Dialogs& dialogs = systemDialogs(),
                         const std::optional<std::filesystem::path>& folder = std::nullopt);

// Writes the data under the target's name in its folder, or, when that name is taken, under the
// name with "-1" ... "-999" before its extension: the first that is free. Never replaces nor
// follows anything at a taken name. The bytes go first to a hidden ".brevalto-<UUID>.tmp" (mode
// 0600) in that folder, which is moved into place; after a failure no file of this call remains.
// Returns the file written. Throws ScreenshotError, or FileError for what the file system refuses.
QUrl writeUnique(const QByteArray& data, const QUrl& target);

// Clears the clipboard and puts the item on it alone, marked as the app's own copy so that the
// clipboard history does not record it. GUI thread only. Throws ScreenshotError.
void writeToPasteboard(PasteboardItem item, Pasteboard& pasteboard);
// The image as PNG (white background, scale 1, quality 0.9). Encoding errors pass through and
// nothing is written then.
void copyImage(const QImage& image, Pasteboard& pasteboard);
// The URL of a local file that exists; anything else fails with kSaveBeforeCopyMessage.
void copyFileURL(const QUrl& url, Pasteboard& pasteboard);

// Prints the image through the print dialog: one page, the image at one point per pixel,
// reduced to fit the printable area when larger, centred. Nothing when the user cancels. GUI
// thread only.
void print(const QImage& image, Dialogs& dialogs = systemDialogs());
// Draws the image onto a page of a printer that is set up already.
void printImage(const QImage& image, QPrinter& printer);

// The two frames as a GIF that loops forever, each frame shown for `delay` seconds (0.1 ... 30),
// with a palette of its own. The frames must be of one size. Throws ScreenshotError. Safe on any
// thread.
QByteArray beforeAfterGIF(const QImage& before, const QImage& after, double delay);

}  // namespace ScreenshotOutput

}  // namespace brevalto
