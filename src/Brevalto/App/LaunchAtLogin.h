#pragma once

#include <QString>

#include <cstdint>
#include <filesystem>

namespace brevalto {

// Launch at login through an XDG autostart entry ("brevalto.desktop" in
// $XDG_CONFIG_HOME/autostart). Enabled when our entry is there and the desktop's startup
// settings have not switched it off ("Hidden=true", "X-GNOME-Autostart-enabled=false").
class LaunchAtLogin {
public:
    // folder: the autostart folder; executable: the program the entry starts.
    LaunchAtLogin(std::filesystem::path folder, std::filesystem::path executable);
    static LaunchAtLogin forCurrentUser();

    static constexpr std::uint64_t kMaxEntryBytes = 64 * 1024;

    bool isEnabled() const;
    // Writes or removes the entry. Throws FileError.
    void setEnabled(bool enabled);

    const std::filesystem::path& entryPath() const { return entry_; }

private:
    std::filesystem::path entry_;
    std::filesystem::path executable_;
};

}  // namespace brevalto
