#include "App/LaunchAtLogin.h"

#include "Platform/AppPaths.h"
#include "Platform/AtomicFile.h"

#include <QCoreApplication>

#include <sys/stat.h>

namespace brevalto {

namespace fs = std::filesystem;

namespace {

// Quotes a path for the Exec key of a desktop entry.
std::string quoted(const std::string& path) {
    std::string out = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

LaunchAtLogin::LaunchAtLogin(fs::path folder, fs::path executable)
    : entry_(std::move(folder) / "brevalto.desktop"), executable_(std::move(executable)) {}

LaunchAtLogin LaunchAtLogin::forCurrentUser() {
    return LaunchAtLogin(AppPaths::configHome() / "autostart", QCoreApplication::applicationFilePath().toStdString());
}

bool LaunchAtLogin::isEnabled() const {
    struct stat st {};
    return ::lstat(entry_.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void LaunchAtLogin::setEnabled(bool enabled) {
    if (!enabled) {
        std::error_code error;
        fs::remove(entry_, error);
        if (error) throw FileError("Could not remove " + entry_.string() + ": " + error.message());
        return;
    }
    const std::string entry =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Brevalto\n"
        "Comment=Clipboard history and screenshots\n"
        "Exec=" + quoted(executable_.string()) + "\n"
        "Icon=brevalto\n"
        "Terminal=false\n"
        "X-GNOME-Autostart-enabled=true\n";
    // The autostart folder is often a link into a dotfiles tree: follow it.
    AtomicFile::write(entry_, entry, {.refuseSymlinks = false, .createFolder = true});
}

}  // namespace brevalto
