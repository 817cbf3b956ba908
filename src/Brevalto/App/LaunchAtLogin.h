#pragma once

#include <QString>

#include <cstdint>
#include <filesystem>

namespace brevalto {

// Launch at login through an XDG autostart entry ("brevalto.desktop" in
// $XDG_CONFIG_HOME/autostart). Enabled when our entry is there and the desktop's startup
// settings have not switched it off ("Hidden=true", "X-GNOME-Autostart-enabled=false").
// A program whose path has a % is named in the entry through the link
// $XDG_DATA_HOME/brevalto-entry/brevalto, the one the desktop entry uses too: the desktop's tools
// do not read a written %% back as one %.
class LaunchAtLogin {
public:
    // folder: the autostart folder; dataHome: the folder that holds "brevalto-entry";
    // executable: the program the entry starts.
    LaunchAtLogin(std::filesystem::path folder, std::filesystem::path dataHome, std::filesystem::path executable);
    static LaunchAtLogin forCurrentUser();

    static constexpr std::uint64_t kMaxEntryBytes = 64 * 1024;

    bool isEnabled() const;
    // Writes or removes the entry. Throws FileError, and writes no entry, when the program needs
    // the link and cannot have it (something else has its name, or the data folder's path has a %).
    void setEnabled(bool enabled);

    const std::filesystem::path& entryPath() const { return entry_; }
    const std::filesystem::path& linkPath() const { return link_; }

private:
    std::string entryProgram() const;

    std::filesystem::path entry_;
    std::filesystem::path link_;
    std::filesystem::path executable_;
};

}  // namespace brevalto
