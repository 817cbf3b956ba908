#pragma once

#include <filesystem>

namespace brevalto {

// Where the app keeps its files. Each folder is created 0700 on first use.
class AppPaths {
public:
    // The XDG base folders: $XDG_DATA_HOME (default ~/.local/share) and $XDG_CONFIG_HOME (default
    // ~/.config). The home folder is $HOME, else the password database's; throws FileError when
    // there is none.
    static std::filesystem::path dataHome();
    static std::filesystem::path configHome();
    // The history folder: $XDG_DATA_HOME/brevalto (default ~/.local/share/brevalto).
    static std::filesystem::path dataFolder();
    // The settings folder: $XDG_CONFIG_HOME/brevalto (default ~/.config/brevalto).
    static std::filesystem::path configFolder();
    // Where a save dialog starts without a better place: the desktop's Pictures folder (as the
    // XDG user folders name it) when it exists, else the home folder.
    static std::filesystem::path picturesFolder();
    // The per-user temporary root: $XDG_RUNTIME_DIR when it is set, private and ours, else
    // /tmp/brevalto-<uid>, created 0700. Refused when it is a symbolic link, not a folder, owned
    // by someone else or open to others, since /tmp is shared between users. Throws FileError.
    static std::filesystem::path temporaryRoot();

    // For tests: checks and creates a temporary root at the given place, as temporaryRoot does.
    static std::filesystem::path ensurePrivateFolder(const std::filesystem::path& folder);
};

}  // namespace brevalto
