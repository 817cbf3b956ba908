#pragma once

#include "App/LaunchAtLogin.h"
#include "Automation/AutomationPrompt.h"
#include "Platform/Platform.h"

#include <QString>

#include <filesystem>
#include <functional>
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
    // Asked once a launch when the history cannot be loaded, with the index file and the reason;
    // true starts a new history. None: an alert above the panel.
    std::function<bool(const QString& file, const QString& reason)> historyAlert;
    LaunchAtLogin login{{}, {}, {}};  // main sets the user's; tests a private one
};

}  // namespace brevalto
