#pragma once

#include <QColor>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace brevalto {

// What a capture takes: a region, a whole display, a window, the active window, or the last
// region again. Raw strings are stored values and appear in commands.
enum class CaptureMode { region, screen, window, activeWindow, repeatRegion };

// What a captured window is placed on.
enum class CaptureBackground { transparent, solid, wallpaper };

// The published state of the capture coordinator.
enum class CaptureState { idle, selecting, capturing, processing, completed, cancelled, failed };

inline constexpr std::array allCaptureModes{CaptureMode::region, CaptureMode::screen, CaptureMode::window,
                                            CaptureMode::activeWindow, CaptureMode::repeatRegion};
inline constexpr std::array allCaptureBackgrounds{CaptureBackground::transparent, CaptureBackground::solid,
                                                  CaptureBackground::wallpaper};
inline constexpr std::array allCaptureStates{CaptureState::idle,       CaptureState::selecting, CaptureState::capturing,
                                             CaptureState::processing, CaptureState::completed, CaptureState::cancelled,
                                             CaptureState::failed};

QString rawValue(CaptureMode mode);
QString rawValue(CaptureBackground background);
QString rawValue(CaptureState state);
// The case whose raw string is exactly `raw` (case-sensitive), or none.
std::optional<CaptureMode> captureModeFromRaw(const QString& raw);
std::optional<CaptureBackground> captureBackgroundFromRaw(const QString& raw);
std::optional<CaptureState> captureStateFromRaw(const QString& raw);

// One capture as the screenshot workflow asks for it.
struct CaptureRequest {
    CaptureMode mode = CaptureMode::region;
    int delay = 0;  // seconds of countdown before the shot; the coordinator accepts 0...60
    bool includesCursor = false;
    bool shadows = true;  // window shadows kept in window captures
    CaptureBackground background = CaptureBackground::transparent;
    QColor backgroundColor = QColor(255, 255, 255);  // the fill behind a captured window
    std::optional<std::uint32_t> displayID;         // fixes the display of screen and region captures
    std::optional<std::uint32_t> windowID;          // the window of window and active-window captures
    std::optional<std::int32_t> applicationPID;     // the process whose application is the target
    bool allowsCrossDisplay = true;                 // a region may span several displays
    bool finishesSelectionOnMouseUp = false;        // releasing the mouse ends a region selection
};

}  // namespace brevalto
