#pragma once

#include "App/LaunchAtLogin.h"
#include "Automation/AutomationPrompt.h"
#include "Platform/Platform.h"

#include <filesystem>
#include <memory>
#include <optional>

namespace brevalto {

// What the app is started with. main fills it with the real services; tests with fakes and
// private folders.
struct AppEnvironment {
    Platform platform;                                // defaults, clock, pasteboard, apps, screens, hot keys
    std::optional<std::filesystem::path> dataFolder;  // none: $XDG_DATA_HOME/brevalto
    std::optional<std::filesystem::path> stagingRoot; // none: the scroll staging root
    std::unique_ptr<AutomationPrompt> prompt;         // none: an alert above the panel
    LaunchAtLogin login{{}, {}};  // main sets the user's; tests a private one
};

}  // namespace brevalto
