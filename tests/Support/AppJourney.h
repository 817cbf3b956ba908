#pragma once

#include "TestFolder.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <filesystem>

namespace brevalto {

// The built program started as a user starts it, for journeys on a private X server: a fresh
// HOME with its own XDG folders, a D-Bus session of its own with an unlocked GNOME Keyring, and
// xdotool, xwininfo and import to drive and photograph it. Screenshots go to `screenshots`, which
// is emptied first and stays in the build tree for a person to look at.
class AppJourney : public ::testing::Test {
protected:
    explicit AppJourney(std::filesystem::path screenshots);
    void TearDown() override;

    // Starts the program and waits for its panel to map.
    void startApp();
    // Runs a program in the app's environment and returns its trimmed output.
    QString run(const QString& program, const QStringList& args);
    // The first visible window whose name matches, or "".
    QString window(const QString& name);
    void keys(const QStringList& names);
    void type(const QString& text);
    void screenshot(const char* name);
    // A window's place and size on the screen.
    QRect geometry(const QString& window);

    TestFolder home_;
    QProcessEnvironment env_;
    QProcess session_;
    std::filesystem::path screenshots_;
};

}  // namespace brevalto
