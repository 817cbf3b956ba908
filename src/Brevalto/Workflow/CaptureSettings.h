#pragma once

#include "Capture/CaptureRequest.h"
#include "ClipCore/Uuid.h"

#include <filesystem>
#include <optional>
#include <string_view>

namespace brevalto {

class Defaults;

// The settings that configure a capture and what follows it: their keys and how each is read.
// The settings page writes every key; each reader applies its own default when a key is absent.
// Values that are stored with another type convert as Defaults describes (a number or "YES"/
// "true" reads as a Bool, integers and doubles convert both ways), except where a reader asks
// whether the stored value *is* a Bool or a Double: there any other type counts as absent.
class CaptureSettings {
public:
    static constexpr std::string_view cursorKey = "capture.cursor";
    static constexpr std::string_view shadowKey = "capture.shadow";
    static constexpr std::string_view backgroundKey = "capture.background";
    static constexpr std::string_view delayKey = "capture.delay";
    static constexpr std::string_view autoCopyKey = "capture.autoCopy";
    static constexpr std::string_view autoSaveKey = "capture.autoSave";
    static constexpr std::string_view folderKey = "capture.folder";
    static constexpr std::string_view afterKey = "capture.after";
    static constexpr std::string_view thumbnailTimeoutKey = "capture.thumbnailTimeout";
    // The uuid text of the history clip last opened in the editor.
    static constexpr std::string_view lastEditorClipIDKey = "screenshot.lastEditorClipID";

    // What the settings page shows for a key that was never written; the readers below apply
    // the same values.
    static constexpr bool shownCursor = false;
    static constexpr bool shownShadow = true;
    static constexpr std::string_view shownBackground = "transparent";
    static constexpr int shownDelay = 5;
    static constexpr bool shownAutoCopy = false;
    static constexpr bool shownAutoSave = false;
    static constexpr std::string_view shownFolder = "";
    static constexpr std::string_view shownAfter = "thumbnail";
    static constexpr double shownThumbnailTimeout = 12.0;

    static constexpr int minimumDelay = 1;
    static constexpr int maximumDelay = 60;
    static constexpr double defaultThumbnailTimeout = 12.0;

    // Whether the pointer is drawn into the shot; absent = false.
    static bool includesCursor(const Defaults& defaults);
    // Whether window shadows are kept: the stored Bool, true when absent or not a Bool.
    static bool shadows(const Defaults& defaults);
    // What a captured window is placed on: "solid" and "wallpaper" (exactly), else transparent.
    static CaptureBackground background(const Defaults& defaults);
    // The countdown of a delayed capture started from a hot key or menu, clamped to 1...60
    // seconds; 5 when never written, as the settings page shows.
    static int delaySeconds(const Defaults& defaults);
    static bool autoCopy(const Defaults& defaults);
    static bool autoSave(const Defaults& defaults);
    // The auto-save folder; none when empty or absent.
    static std::optional<std::filesystem::path> folder(const Defaults& defaults);
    // Where a save dialog starts: the auto-save folder when one is set and exists, else the
    // Pictures folder, else the home folder.
    static std::filesystem::path saveDialogFolder(const Defaults& defaults);
    // True when a finished capture opens the editor (the value is exactly "editor"); otherwise
    // the floating thumbnail shows.
    static bool opensEditorAfterCapture(const Defaults& defaults);
    // How long the floating thumbnail stays, in seconds: a stored Double, where a value not
    // greater than 0 gives none (it stays until closed); 12 s when absent or not a Double.
    static std::optional<double> thumbnailTimeout(const Defaults& defaults);
    // The clip last opened in the editor; text that is not a uuid counts as absent.
    static std::optional<Uuid> lastEditorClipID(const Defaults& defaults);
};

}  // namespace brevalto
