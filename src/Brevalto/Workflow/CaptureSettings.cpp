#include "Workflow/CaptureSettings.h"

#include "Platform/AppPaths.h"
#include "Platform/Defaults.h"

#include <algorithm>

namespace brevalto {

bool CaptureSettings::includesCursor(const Defaults& defaults) { return defaults.boolValue(cursorKey); }

bool CaptureSettings::shadows(const Defaults& defaults) { return defaults.storedBool(shadowKey).value_or(true); }

CaptureBackground CaptureSettings::background(const Defaults& defaults) {
    const auto word = defaults.string(backgroundKey);
    if (!word) return CaptureBackground::transparent;
    return captureBackgroundFromRaw(QString::fromStdString(*word)).value_or(CaptureBackground::transparent);
}

int CaptureSettings::delaySeconds(const Defaults& defaults) {
    if (!defaults.contains(delayKey)) return shownDelay;
    const std::int64_t stored = defaults.integer(delayKey);
    return static_cast<int>(std::clamp<std::int64_t>(stored, minimumDelay, maximumDelay));
}

bool CaptureSettings::autoCopy(const Defaults& defaults) { return defaults.boolValue(autoCopyKey); }

bool CaptureSettings::autoSave(const Defaults& defaults) { return defaults.boolValue(autoSaveKey); }

std::optional<std::filesystem::path> CaptureSettings::folder(const Defaults& defaults) {
    const auto path = defaults.string(folderKey);
    if (!path || path->empty()) return std::nullopt;
    return std::filesystem::path(*path);
}

std::filesystem::path CaptureSettings::saveDialogFolder(const Defaults& defaults) {
    std::error_code error;
    if (const auto chosen = folder(defaults); chosen && std::filesystem::is_directory(*chosen, error)) return *chosen;
    return AppPaths::picturesFolder();
}

bool CaptureSettings::opensEditorAfterCapture(const Defaults& defaults) {
    return defaults.string(afterKey) == std::optional<std::string>("editor");
}

std::optional<double> CaptureSettings::thumbnailTimeout(const Defaults& defaults) {
    const auto stored = defaults.storedDouble(thumbnailTimeoutKey);
    if (!stored) return defaultThumbnailTimeout;
    if (!(*stored > 0)) return std::nullopt;
    return *stored;
}

std::optional<Uuid> CaptureSettings::lastEditorClipID(const Defaults& defaults) {
    const auto text = defaults.string(lastEditorClipIDKey);
    if (!text) return std::nullopt;
    return Uuid::parse(*text);
}

}  // namespace brevalto
