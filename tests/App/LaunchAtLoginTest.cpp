#include "App/LaunchAtLogin.h"
#include "Platform/AtomicFile.h"
#include "PrivateUser.h"
#include "QtWait.h"
#include "TestFolder.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace brevalto {
namespace {

namespace fs = std::filesystem;

std::string execLine(const std::string& entry) {
    const auto start = entry.find("\nExec=");
    if (start == std::string::npos) return {};
    return entry.substr(start + 1, entry.find('\n', start + 1) - start - 1);
}

TEST(LaunchAtLogin, WritesAndRemovesTheAutostartEntry) {
    TestFolder dir;
    LaunchAtLogin login(dir / "autostart", dir / "data", "/opt/Brevalto Apps/brevalto");
    EXPECT_FALSE(login.isEnabled());
    login.setEnabled(true);
    EXPECT_TRUE(login.isEnabled());
    const auto entry = AtomicFile::read(login.entryPath(), 4096);
    EXPECT_NE(entry.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(entry.find("Exec=\"/opt/Brevalto Apps/brevalto\"\n"), std::string::npos);
    login.setEnabled(false);
    EXPECT_FALSE(login.isEnabled());
    login.setEnabled(false);  // removing twice is fine
}

TEST(LaunchAtLogin, AnEntrySwitchedOffByTheDesktopIsNotEnabled) {
    const struct {
        const char* name;
        const char* entry;
        bool enabled;
    } cases[] = {
        {"plain", "[Desktop Entry]\nType=Application\nExec=brevalto\n", true},
        {"hidden", "[Desktop Entry]\nExec=brevalto\nHidden=true\n", false},
        {"hidden with blanks and CRLF", "[Desktop Entry]\r\nHidden = true\r\n", false},
        {"gnome switch off", "[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n", false},
        {"gnome switch on", "[Desktop Entry]\nX-GNOME-Autostart-enabled=true\nHidden=false\n", true},
        {"other group only", "[Desktop Entry]\nExec=brevalto\n[Desktop Action x]\nHidden=true\n", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestFolder dir;
        LaunchAtLogin login(dir / "autostart", dir / "data", "/usr/bin/brevalto");
        AtomicFile::write(login.entryPath(), std::string_view(c.entry), {.refuseSymlinks = false, .createFolder = true});
        EXPECT_EQ(login.isEnabled(), c.enabled);
        if (!c.enabled) {
            // Turning it on writes our own entry again.
            login.setEnabled(true);
            EXPECT_TRUE(login.isEnabled());
        }
    }
}

TEST(LaunchAtLogin, TheExecLineQuotesThePathAndEscapesItForTheEntry) {
    const struct {
        const char* path;
        const char* exec;
    } cases[] = {
        {"/usr/bin/brevalto", R"(Exec=/usr/bin/brevalto)"},
        // The desktop's tools do not read %% back as %: the link in the data folder stands for it.
        {"/opt/100% sure/brevalto", "Exec={link}"},
        {"/opt/back\\slash/brevalto", R"(Exec="/opt/back\\\\slash/brevalto")"},
        {"/opt/say \"hi\"/brevalto", R"(Exec="/opt/say \\"hi\\"/brevalto")"},
        {"/opt/$HOME/`x`/brevalto", R"(Exec="/opt/\\$HOME/\\`x\\`/brevalto")"},
        {"/opt/a\nHidden=true/brevalto", R"(Exec="/opt/a\nHidden=true/brevalto")"},
        {"/opt/tab\there/brevalto", R"(Exec="/opt/tab\there/brevalto")"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        TestFolder dir;
        LaunchAtLogin login(dir / "autostart", dir / "data", c.path);
        login.setEnabled(true);
        std::string exec = c.exec;
        if (exec == "Exec={link}") exec = "Exec=" + login.linkPath().string();
        EXPECT_EQ(execLine(AtomicFile::read(login.entryPath(), 4096)), exec);
        // A line break in the path cannot add a key that switches the entry off.
        EXPECT_TRUE(login.isEnabled());
    }
}

// Runs a program to its end in the environment; its exit status, -1 when it crashed or hung.
int run(const QProcessEnvironment& environment, const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(20000)) process.kill();
    process.waitForFinished();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// GLib's desktop-entry launcher, which reads the entry the way the session does at login.
const QString kLaunchThroughGio = QStringLiteral(
    "import sys, gi\n"
    "gi.require_version('Gio', '2.0')\n"
    "from gi.repository import Gio\n"
    "info = Gio.DesktopAppInfo.new_from_filename(sys.argv[1])\n"
    "sys.exit(0 if info is not None and info.launch([], None) else 1)\n");

const QString kRegister = QStringLiteral(BREVALTO_SOURCE_DIR "/scripts/register-desktop");

TEST(LaunchAtLogin, TheDesktopLaunchesTheProgramAtAPathWithSpecialCharacters) {
    // GLib looks the program up before it expands field codes, so a % in the path is left to the
    // next test.
    TestFolder dir;
    const fs::path folder = dir / "odd \\ \"quoted\" $HOME `x`\nline";
    fs::create_directories(folder);
    const fs::path program = folder / "brevalto";
    const fs::path marker = dir / "launched";
    {
        std::ofstream script(program);
        script << "#!/bin/sh\necho launched > '" << marker.string() << "'\n";
    }
    fs::permissions(program, fs::perms::owner_all);
    LaunchAtLogin login(dir / "autostart", dir / "data", program);
    login.setEnabled(true);

    ASSERT_EQ(run(QProcessEnvironment::systemEnvironment(), "/usr/bin/python3",
                  {"-c", kLaunchThroughGio, QString::fromStdString(login.entryPath().string())}),
              0);
    ASSERT_TRUE(waitUntil([&] { return fs::exists(marker); }, 5000));
    EXPECT_EQ(AtomicFile::read(marker, 100), "launched\n");
}

TEST(LaunchAtLogin, AProgramWhosePathHasAPercentStartsThroughTheDataFolderLink) {
    // Both readers of the desktop entry: xdg-open on a bare window manager (here as the handler of a
    // link scheme, the only way it runs an entry) and GIO. The second copy takes the link over;
    // registering a build that needs no link leaves it to the login entry.
    TestFolder home;
    QProcessEnvironment environment = bareDesktopEnvironment(home.path());
    // xdg-open asks for handlers only in a graphical session, which it knows by this variable alone.
    if (!environment.contains("DISPLAY")) environment.insert("DISPLAY", ":0");
    const fs::path link = home / "data" / "brevalto-entry" / "brevalto";
    const fs::path entryCopy = home / "data" / "applications" / "brevalto-login.desktop";
    LaunchAtLogin login(home / "config" / "autostart", home / "data", "unset");
    for (const std::string folder : {"100%", "50% off", "build"}) {
        SCOPED_TRACE(folder);
        fs::create_directories(home / folder);
        const fs::path program = writeScript(home / folder / "brevalto", "printf '%s\\n' \"" + folder + " $0 $*\" >>\"$HOME/launches\"");
        std::string started = folder;
        if (folder == "build") {
            started = "50% off";
            ASSERT_EQ(run(environment, kRegister, {QString::fromStdString(program.string())}), 0);
        } else {
            login = LaunchAtLogin(home / "config" / "autostart", home / "data", program);
            login.setEnabled(true);
        }
        ASSERT_EQ(login.linkPath(), link);
        ASSERT_TRUE(fs::is_symlink(link));
        EXPECT_EQ(fs::canonical(link), fs::canonical(home / started / "brevalto"));
        const std::string entry = AtomicFile::read(login.entryPath(), 4096);
        EXPECT_EQ(execLine(entry), "Exec=" + link.string());

        AtomicFile::write(entryCopy, entry + "MimeType=x-scheme-handler/brevalto-login;\n");
        ASSERT_EQ(run(environment, "xdg-mime", {"default", "brevalto-login.desktop", "x-scheme-handler/brevalto-login"}), 0);
        fs::remove(home / "launches");
        ASSERT_EQ(run(environment, "xdg-open", {"brevalto-login:start"}), 0);
        const auto launches = [&] {
            QFile log(QString::fromStdString((home / "launches").string()));
            return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts)
                                                 : QStringList();
        };
        ASSERT_TRUE(waitUntil([&] { return !launches().isEmpty(); }, 5000));
        const QString who = QString::fromStdString(started + ' ' + link.string());
        EXPECT_EQ(launches(), QStringList{who + " brevalto-login:start"});

        ASSERT_EQ(run(environment, "/usr/bin/python3", {"-c", kLaunchThroughGio, QString::fromStdString(login.entryPath().string())}), 0);
        ASSERT_TRUE(waitUntil([&] { return launches().size() == 2; }, 5000));
        EXPECT_EQ(launches().last(), who + ' ');
    }
}

TEST(LaunchAtLogin, WhereTheLinkCannotBeMadeNoEntryIsWritten) {
    const struct {
        const char* what;
        const char* dataHome;
        const char* taken;  // made a file, or a folder when it ends in /
        const char* said;   // in the message, with the taken path
    } cases[] = {
        {"a folder at the link", "data", "data/brevalto-entry/brevalto/", "a folder is in the link's place"},
        {"a file at the link", "data", "data/brevalto-entry/brevalto", "a file is in the link's place"},
        {"a file at the link's folder", "data", "data/brevalto-entry", "a file is in the place of its folder"},
        {"a % in the data folder too", "data 100%", "", "has one too"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestFolder dir;
        const std::string taken = c.taken;
        fs::path place;
        if (taken.ends_with('/')) {
            place = dir / taken.substr(0, taken.size() - 1);
            fs::create_directories(place / "kept");
        } else if (!taken.empty()) {
            place = dir / taken;
            fs::create_directories(place.parent_path());
            std::ofstream(place) << "kept";
        }
        LaunchAtLogin login(dir / "autostart", dir / c.dataHome, "/opt/100%/brevalto");
        try {
            login.setEnabled(true);
            ADD_FAILURE() << "no error";
        } catch (const FileError& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find(c.said), std::string::npos) << what;
            EXPECT_NE(what.find(place.string()), std::string::npos) << what;
        }
        EXPECT_FALSE(fs::exists(login.entryPath()));
        if (!place.empty()) {
            // Registering the same program refuses alike.
            QProcessEnvironment environment = bareDesktopEnvironment(dir.path());
            environment.insert("XDG_DATA_HOME", QString::fromStdString((dir / c.dataHome).string()));
            EXPECT_NE(run(environment, kRegister, {"/opt/100%/brevalto"}), 0);
            EXPECT_FALSE(fs::exists(dir / c.dataHome / "applications" / "brevalto.desktop"));
        }
        if (fs::is_directory(place)) {
            EXPECT_TRUE(fs::exists(place / "kept"));
        } else if (!place.empty()) {
            EXPECT_EQ(AtomicFile::read(place, 100), "kept");
        }
        // A program that needs no link is not held up by it.
        LaunchAtLogin plain(dir / "autostart", dir / c.dataHome, "/usr/bin/brevalto");
        plain.setEnabled(true);
        EXPECT_TRUE(plain.isEnabled());
    }
}

}  // namespace
}  // namespace brevalto
