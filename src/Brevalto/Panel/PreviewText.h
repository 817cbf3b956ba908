#pragma once

#include <QString>

#include <string>

namespace brevalto {

class ClipboardMonitor;

// Digests of the transient clips that a copy from a preview makes; they never enter the history.
inline const std::string ocrPreviewDigest = "ocr-preview";
inline const std::string aiPreviewDigest = "ai-preview";

// The recognised text as one line: split at every line break, each piece trimmed of horizontal
// white space, empty pieces dropped, the rest joined with single spaces.
QString joinLines(const QString& text);

// Puts the text on the clipboard as a transient text clip with the digest and the source label
// ("Local OCR", "Local QR", "Claude"); the clip is not added to the history, and the store's
// message says how the copy went.
void copyTextAsClip(const QString& text, const std::string& source, ClipboardMonitor& monitor,
                    const std::string& digest = ocrPreviewDigest);

// The name shown for a recognition language code in the current locale, or the code itself when
// the locale has none.
QString ocrLanguageName(const QString& code);

}  // namespace brevalto
