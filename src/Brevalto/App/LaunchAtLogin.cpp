#include "App/LaunchAtLogin.h"

#include "Platform/AppPaths.h"
#include "Platform/AtomicFile.h"

#include <QCoreApplication>

namespace brevalto {

namespace fs = std::filesystem;

namespace {

// The Exec value that runs the program at path, in three layers: the path quoted as one argument
// (", `, $ and \ take a backslash), every % doubled (a lone one starts a field code), then the
// string escapes of a desktop entry value (\ becomes \\; a newline, tab or carriage return becomes
// \n, \t or \r, so the path cannot end the line and start another key).
std::string execValue(const std::string& path) {
    std::string quoted = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';
        quoted += c;
    }
    quoted += '"';
    std::string out;
    for (char c : quoted) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            default: out += c;
        }
    }
    return out;
}

}  // namespace

LaunchAtLogin::LaunchAtLogin(fs::path folder, fs::path executable)
    : entry_(std::move(folder) / "brevalto.desktop"), executable_(std::move(executable)) {}

LaunchAtLogin LaunchAtLogin::forCurrentUser() {
    return LaunchAtLogin(AppPaths::configHome() / "autostart", QCoreApplication::applicationFilePath().toStdString());
}

bool LaunchAtLogin::isEnabled() const {
    std::error_code unreadable;
    if (AtomicFile::status(entry_, unreadable).kind != FileKind::regular) return false;
    std::string text;
    try {
        // The autostart folder is often a link into a dotfiles tree: follow it.
        text = AtomicFile::read(entry_, kMaxEntryBytes, false);
    } catch (const std::exception&) {
        return false;
    }
    // The desktop's startup-applications tools switch an entry off without removing it.
    auto trimmed = [](std::string_view s) {
        while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
        while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
        return s;
    };
    bool inEntryGroup = false;
    std::string_view rest(text);
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = trimmed(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (line.starts_with('[')) {
            inEntryGroup = line == "[Desktop Entry]";
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inEntryGroup || equals == std::string_view::npos) continue;
        const std::string_view key = trimmed(line.substr(0, equals));
        const std::string_view value = trimmed(line.substr(equals + 1));
        if ((key == "Hidden" && value == "true") || (key == "X-GNOME-Autostart-enabled" && value == "false"))
            return false;
    }
    return true;
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
        "Exec=" + execValue(executable_.string()) + "\n"
        "Icon=brevalto\n"
        "Terminal=false\n"
        "X-GNOME-Autostart-enabled=true\n";
    // The autostart folder is often a link into a dotfiles tree: follow it.
    AtomicFile::write(entry_, entry, {.refuseSymlinks = false, .createFolder = true});
}

}  // namespace brevalto
