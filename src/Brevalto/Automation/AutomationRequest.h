#pragma once

#include "Automation/AutomationPostAction.h"
#include "ClipCore/Uuid.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace brevalto {

// How an automation request captures. "repeat" is the automation word for repeating the last
// region (the screenshot command says "repeatRegion").
enum class AutomationCaptureMode {
    region,
    window,
    activeWindow,
    screen,
    repeat,
    delay,
    scrolling,
    ocr,
};

inline constexpr std::array<AutomationCaptureMode, 8> kAllAutomationCaptureModes{
    AutomationCaptureMode::region, AutomationCaptureMode::window,    AutomationCaptureMode::activeWindow,
    AutomationCaptureMode::screen, AutomationCaptureMode::repeat,    AutomationCaptureMode::delay,
    AutomationCaptureMode::scrolling, AutomationCaptureMode::ocr,
};

std::string_view rawValue(AutomationCaptureMode mode);
std::optional<AutomationCaptureMode> automationCaptureModeFromRaw(std::string_view raw);

// One command for the workflow, from any source: a "brevalto:" URL, an automation intent, a hot
// key, a panel button or a menu item. Every source validates it the same way; a request that
// breaks any rule is refused whole with the one `invalid` message.
//
// URL form: brevalto://COMMAND[/][?KEY=VALUE&...] with the keys each command allows:
//   capture, append    mode, delay, after
//   ocr                delay, after
//   clipboard, file    after
//   editor             id
//   history, settings  none
// No command names a file path, a shell command, an upload, an AI request or a deletion.
struct AutomationRequest {
    enum class Command {
        capture,
        ocr,
        append,
        clipboard,
        history,
        filePicker,  // "file"
        settings,
        editor,
    };

    static constexpr std::size_t maximumUrlBytes = 2048;
    static constexpr std::int64_t maximumDelaySeconds = 60;
    static constexpr std::size_t maximumPostActions = 5;

    Command command = Command::capture;
    AutomationCaptureMode mode = AutomationCaptureMode::region;  // region for commands that capture nothing
    std::int64_t delaySeconds = 0;                               // 0...60
    std::vector<AutomationPostAction> postActions;               // empty: the user's current preference
    std::optional<Uuid> clipID;                                  // only for editor

    // Parses one URL; any failure throws AutomationFailure(invalid). The result is validated.
    // A pure function of the text: no GUI, no settings, no side effects.
    static AutomationRequest fromUrl(std::string_view url);

    // Throws AutomationFailure(invalid) when the request breaks a rule.
    void validate() const;

    // Whether a request from outside the app must be confirmed first: it captures the screen,
    // reads the clipboard, or copies or saves an image.
    bool needsConfirmation() const;

    static std::span<const std::string_view> allowedQueryKeys(Command command);

    friend bool operator==(const AutomationRequest&, const AutomationRequest&) = default;
};

std::string_view rawValue(AutomationRequest::Command command);
std::optional<AutomationRequest::Command> automationCommandFromRaw(std::string_view raw);

}  // namespace brevalto
