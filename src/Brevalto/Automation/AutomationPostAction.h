#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace brevalto {

// What the workflow does after a successful capture, in the order a request lists them.
enum class AutomationPostAction {
    copy,
    save,
    edit,
    pin,
    thumbnail,
};

inline constexpr std::array<AutomationPostAction, 5> kAllAutomationPostActions{
    AutomationPostAction::copy, AutomationPostAction::save, AutomationPostAction::edit,
    AutomationPostAction::pin,  AutomationPostAction::thumbnail,
};

std::string_view rawValue(AutomationPostAction action);
// Exact, case-sensitive match of a raw value; any other word gives none.
std::optional<AutomationPostAction> automationPostActionFromRaw(std::string_view raw);

}  // namespace brevalto
