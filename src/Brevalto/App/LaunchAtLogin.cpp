#include "App/LaunchAtLogin.h"

#include "Platform/AppPaths.h"
#include "Platform/AtomicFile.h"

#include <QCoreApplication>

namespace brevalto {

namespace fs = std::filesystem;

namespace {

// The Exec value that runs the program at path, in three layers: the path as it is when no
// character in it is reserved, otherwise quoted as one argument (", `, $ and \ take a backslash),
// so that readers that only split on blanks (xdg-open) run a plain path; every % doubled (a lone
// one starts a field code); then the string escapes of a desktop entry value (\ becomes \\; a
// newline, tab or carriage return becomes \n, \t or \r, so the path cannot end the line and start
// another key).
std::string execValue(const std::string& path) {
    const bool reserved = path.find_first_of(std::string_view(" \t\n\r\"'\\><~|&;$*?#()`")) != std::string::npos;
    std::string quoted = reserved ? "\"" : "";
    for (char c : path) {
        if (reserved && (c == '"' || c == '`' || c == '$' || c == '\\')) quoted += '\\';
        if (c == '%') quoted += '%';
        quoted += c;
    }
    if (reserved) quoted += '"';
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

LaunchAtLogin::LaunchAtLogin(fs::path folder, fs::path dataHome, fs::path executable)
    : entry_(std::move(folder) / "brevalto.desktop"),
      link_(std::move(dataHome) / "brevalto-entry" / "brevalto"),
      executable_(std::move(executable)) {}

LaunchAtLogin LaunchAtLogin::forCurrentUser() {
    return LaunchAtLogin(AppPaths::configHome() / "autostart", AppPaths::dataHome(),
                         QCoreApplication::applicationFilePath().toStdString());
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

// The path the entry names: the program itself, or for a program whose path has a % the link to
// it, pointed at it afresh (another copy may have set it). A folder or file in the link's place
// is not ours to replace.
std::string LaunchAtLogin::entryProgram() const {
    const std::string program = executable_.string();
    if (program.find('%') == std::string::npos) return program;
    if (link_.string().find('%') != std::string::npos)
        throw FileError("Brevalto cannot be started at login from " + program +
                        ": the desktop does not start a program whose path has a %, and the link " + link_.string() +
                        " that would stand for it has one too.");
    const auto taken = [&](const fs::path& place, FileKind kind) {
        return FileError("Brevalto starts at login through the link " + link_.string() + ", because its own path has a %, but " +
                         (kind == FileKind::folder ? "a folder" : "a file") + " is in " +
                         (place == link_ ? "the link's place" : "the place of its folder " + place.string()) +
                         ". Move it away and turn this on again.");
    };
    const FileKind folderKind = AtomicFile::status(link_.parent_path()).kind;
    if (folderKind == FileKind::regular || folderKind == FileKind::other) throw taken(link_.parent_path(), folderKind);
    const FileKind kind = folderKind == FileKind::missing ? FileKind::missing : AtomicFile::status(link_).kind;
    if (kind != FileKind::missing && kind != FileKind::symlink) throw taken(link_, kind);
    AtomicFile::createFolder(link_.parent_path(), false);
    // Made under a name of its own and renamed into place, so the link is never missing.
    const fs::path fresh = link_.parent_path() / (".brevalto-" + std::to_string(QCoreApplication::applicationPid()));
    std::error_code error;
    fs::remove(fresh, error);
    fs::create_symlink(executable_, fresh, error);
    if (!error) fs::rename(fresh, link_, error);
    if (error) {
        std::error_code ignored;
        fs::remove(fresh, ignored);
        throw FileError("Could not link " + link_.string() + " to " + program + ": " + error.message());
    }
    return link_.string();
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
        "Exec=" + execValue(entryProgram()) + "\n"
        "Icon=brevalto\n"
        "Terminal=false\n"
        "X-GNOME-Autostart-enabled=true\n";
    // The autostart folder is often a link into a dotfiles tree: follow it.
    AtomicFile::write(entry_, entry, {.refuseSymlinks = false, .createFolder = true});
}

}  // namespace brevalto
