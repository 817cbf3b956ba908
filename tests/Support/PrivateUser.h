#pragma once

#include "Platform/AtomicFile.h"

#include <QProcessEnvironment>

#include <filesystem>

namespace brevalto {

// This process's environment for a program started as a user with the home folder `home` of its
// own (settings in home/config, data in home/data, runtime folder home/run), on the X display.
inline QProcessEnvironment privateUserEnvironment(const std::filesystem::path& home) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", QString::fromStdString(home.string()));
    environment.insert("XDG_DATA_HOME", QString::fromStdString((home / "data").string()));
    environment.insert("XDG_CONFIG_HOME", QString::fromStdString((home / "config").string()));
    AtomicFile::createFolder(home / "run");
    environment.insert("XDG_RUNTIME_DIR", QString::fromStdString((home / "run").string()));
    environment.insert("QT_QPA_PLATFORM", "xcb");
    return environment;
}

// The same user on a bare window manager: nothing tells xdg-open of a desktop environment, so it
// reads desktop entries itself.
inline QProcessEnvironment bareDesktopEnvironment(const std::filesystem::path& home) {
    QProcessEnvironment environment = privateUserEnvironment(home);
    for (const char* name : {"XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID",
                             "MATE_DESKTOP_SESSION_ID"})
        environment.remove(name);
    return environment;
}

}  // namespace brevalto
