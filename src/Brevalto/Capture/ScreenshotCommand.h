#pragma once

#include "Capture/CaptureRequest.h"

#include <QDateTime>
#include <QString>

#include <array>
#include <optional>
#include <string_view>

namespace brevalto {

// The screenshot commands that hot keys, the panel, menus and automation run. Each has a stored
// word (its raw value): the same word names the matching hot-key action and appears in settings.
enum class ScreenshotCommand {
    region,
    window,
    activeWindow,
    screen,
    repeatRegion,
    delay,
    ocr,
    scrolling,
    importFile,
    clipboard,
};

// Every command, in the order menus and the panel header list them.
inline constexpr std::array<ScreenshotCommand, 10> kAllScreenshotCommands{
    ScreenshotCommand::region,     ScreenshotCommand::window,       ScreenshotCommand::activeWindow,
    ScreenshotCommand::screen,     ScreenshotCommand::repeatRegion, ScreenshotCommand::delay,
    ScreenshotCommand::ocr,        ScreenshotCommand::scrolling,    ScreenshotCommand::importFile,
    ScreenshotCommand::clipboard,
};

std::string_view rawValue(ScreenshotCommand command);
// Exact, case-sensitive match of a raw value; any other word gives none.
std::optional<ScreenshotCommand> screenshotCommandFromRaw(std::string_view raw);
// The display title ("Capture Region"), also the title of the hot-key action of the same word.
QString title(ScreenshotCommand command);

// The capture mode a command runs with: the mode of the same word, else region (a delayed or OCR
// capture selects a region; scrolling captures and imports make no capture request).
CaptureMode captureMode(ScreenshotCommand command);

// A fresh file name for a saved screenshot PNG:
// "Screenshot_" + local time "yyyy-MM-dd_HH-mm-ss-SSS" + "_" + six upper-case hexadecimal
// characters of a new random UUID + ".png". Two names made in the same millisecond still differ.
QString screenshotFileName();
QString screenshotFileName(const QDateTime& localTime);

}  // namespace brevalto
