// The desktop entry as scripts/register-desktop writes it for a user of a window manager without a
// desktop environment: xdg-open hands links to the running app, a program path that has to be
// quoted or escaped is written so that desktop-file-validate accepts it and GIO runs exactly it,
// and one with a % is named through a link that both xdg-open and GIO run.
#include "Automation/AutomationFailure.h"
#include "PrivateUser.h"
#include "QtWait.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <algorithm>
#include <string>
#include <tuple>

namespace brevalto {
namespace {

namespace fs = std::filesystem;

const QString kProgram = QStringLiteral(BREVALTO_BINARY_DIR "/brevalto");
const QString kRegister = QStringLiteral(BREVALTO_SOURCE_DIR "/scripts/register-desktop");

// What a program ends with: exit status (-1 for none), standard output, standard error.
std::tuple<int, std::string, std::string> outcome(const QProcessEnvironment& environment, const QString& program,
                                                  const QStringList& arguments) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(20000)) process.kill();
    process.waitForFinished();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput().toStdString(), process.readAllStandardError().toStdString()};
}

// The height of the app's panel window, -1 before it maps.
int panelHeight(const QProcessEnvironment& environment) {
    const std::string windows = std::get<1>(outcome(environment, "xdotool", {"search", "--onlyvisible", "--name", "^Brevalto$"}));
    if (windows.empty()) return -1;
    const QString info = QString::fromStdString(
        std::get<1>(outcome(environment, "xwininfo", {"-id", QString::fromStdString(windows.substr(0, windows.find('\n')))})));
    const auto match = QRegularExpression(QStringLiteral("Height:\\s+(\\d+)")).match(info);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

TEST(DesktopEntry, XdgOpenWithoutADesktopEnvironmentHandsLinksToTheRunningApp) {
    TestFolder home;
    const QProcessEnvironment environment = bareDesktopEnvironment(home.path());
    ASSERT_EQ(outcome(environment, kRegister, {kProgram}), std::make_tuple(0, std::string(), std::string()));

    QProcess app;
    app.setProcessEnvironment(environment);
    app.setProcessChannelMode(QProcess::ForwardedChannels);
    app.start(kProgram, {});
    int closed = -1;
    ASSERT_TRUE(waitUntil([&] { return (closed = panelHeight(environment)) > 0; }, 20000)) << "the panel never mapped";

    EXPECT_EQ(outcome(environment, "xdg-open", {"brevalto://history"}), std::make_tuple(0, std::string(), std::string()));
    EXPECT_TRUE(waitUntil([&] { return panelHeight(environment) > closed + 100; })) << "the link did not open the panel";
    // xdg-open reports the program's failure as its own status 4, under the program's message.
    const std::string invalid = std::string(AutomationFailure::message(AutomationFailure::Kind::invalid)) + "\n";
    EXPECT_EQ(outcome(environment, "xdg-open", {"brevalto://capture?mode=bogus"}), std::make_tuple(4, std::string(), invalid));

    app.terminate();
    ASSERT_TRUE(app.waitForFinished(10000));
}

// Runs the entry's main command with a link and both of its actions through GIO, as desktops do.
const QString kLaunchThroughGio = QStringLiteral(
    "import sys, gi\n"
    "gi.require_version('Gio', '2.0')\n"
    "from gi.repository import Gio\n"
    "entry = Gio.DesktopAppInfo.new_from_filename(sys.argv[1])\n"
    "entry.launch_uris(['brevalto://history'], None)\n"
    "for action in entry.list_actions(): entry.launch_action(action, None)\n");

TEST(DesktopEntry, AProgramPathIsWrittenAsTheDesktopToolsReadIt) {
    const std::string xdgOpenOnly = "links opened through xdg-open without a desktop environment will not reach the program";
    // Folder of the program; whether xdg-open without a desktop environment reaches it; the note.
    const std::tuple<std::string, bool, std::string> rows[] = {
        {"build", true, ""},
        {"with space", false, xdgOpenOnly},
        {"it's \"$HOME\" `date` \\n ~#(;)&|<>*?", false, xdgOpenOnly},
        {"tab\there", false, xdgOpenOnly},
        // Neither reader takes %% for one %: the entry names the program through a link.
        {"100%", true, ""},
        {"50% off", true, ""},
    };
    for (const auto& [folder, xdgOpens, note] : rows) {
        SCOPED_TRACE(folder);
        TestFolder home;
        const QProcessEnvironment environment = bareDesktopEnvironment(home.path());
        fs::create_directories(home / folder);
        const fs::path program = writeScript(home / folder / "brevalto", "printf '%s\\n' \"$0 $*\" >>\"$HOME/launches\"");

        const auto [status, out, err] = outcome(environment, kRegister, {QString::fromStdString(program.string())});
        ASSERT_EQ(status, 0) << err;
        EXPECT_EQ(note.empty(), err.empty()) << err;
        EXPECT_NE(err.find(note), std::string::npos) << err;
        const QString entry = QString::fromStdString((home / "data" / "applications" / "brevalto.desktop").string());
        EXPECT_EQ(outcome(environment, "desktop-file-validate", {entry}), std::make_tuple(0, std::string(), std::string()));
        // The program runs as the entry names it: itself, or the link to it.
        fs::path named = program;
        if (folder.find('%') != std::string::npos) {
            named = home / "data" / "brevalto-entry" / "brevalto";
            ASSERT_TRUE(fs::is_symlink(named));
            EXPECT_EQ(fs::canonical(named), fs::canonical(program));
        }
        const QString path = QString::fromStdString(named.string());

        QFile log(QString::fromStdString((home / "launches").string()));
        QStringList launches;
        const auto logged = [&](qsizetype count) {
            return waitUntil([&] {
                if (!log.open(QIODevice::ReadOnly)) return false;
                launches = QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
                log.close();
                return launches.size() >= count;
            });
        };
        if (xdgOpens) {
            EXPECT_EQ(outcome(environment, "xdg-open", {"brevalto://history"}), std::make_tuple(0, std::string(), std::string()));
            EXPECT_TRUE(logged(1));
            EXPECT_EQ(launches, QStringList{path + " brevalto://history"});
            fs::remove(home / "launches");
        }

        EXPECT_EQ(std::get<0>(outcome(environment, "/usr/bin/python3", {"-c", kLaunchThroughGio, entry})), 0);
        EXPECT_TRUE(logged(3));
        launches.sort();
        EXPECT_EQ(launches, QStringList({path + " brevalto://history", path + " intent capture", path + " intent open"}));
    }
}

}  // namespace
}  // namespace brevalto
