#include "App/LaunchAtLogin.h"
#include "Platform/AtomicFile.h"
#include "QtWait.h"
#include "TestFolder.h"

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
    LaunchAtLogin login(dir / "autostart", "/opt/Brevalto Apps/brevalto");
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
        LaunchAtLogin login(dir / "autostart", "/usr/bin/brevalto");
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
        {"/usr/bin/brevalto", R"(Exec="/usr/bin/brevalto")"},
        {"/opt/100% sure/brevalto", R"(Exec="/opt/100%% sure/brevalto")"},
        {"/opt/back\\slash/brevalto", R"(Exec="/opt/back\\\\slash/brevalto")"},
        {"/opt/say \"hi\"/brevalto", R"(Exec="/opt/say \\"hi\\"/brevalto")"},
        {"/opt/$HOME/`x`/brevalto", R"(Exec="/opt/\\$HOME/\\`x\\`/brevalto")"},
        {"/opt/a\nHidden=true/brevalto", R"(Exec="/opt/a\nHidden=true/brevalto")"},
        {"/opt/tab\there/brevalto", R"(Exec="/opt/tab\there/brevalto")"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        TestFolder dir;
        LaunchAtLogin login(dir / "autostart", c.path);
        login.setEnabled(true);
        EXPECT_EQ(execLine(AtomicFile::read(login.entryPath(), 4096)), c.exec);
        // A line break in the path cannot add a key that switches the entry off.
        EXPECT_TRUE(login.isEnabled());
    }
}

TEST(LaunchAtLogin, TheDesktopLaunchesTheProgramAtAPathWithSpecialCharacters) {
    // GLib's desktop-entry launcher reads the entry the way the session does at login. It looks the
    // program up before it expands field codes, so a % in the path is left to the table above.
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
    LaunchAtLogin login(dir / "autostart", program);
    login.setEnabled(true);

    const QString launch = QStringLiteral(
        "import sys, gi\n"
        "gi.require_version('Gio', '2.0')\n"
        "from gi.repository import Gio\n"
        "info = Gio.DesktopAppInfo.new_from_filename(sys.argv[1])\n"
        "sys.exit(0 if info is not None and info.launch([], None) else 1)\n");
    const int status = QProcess::execute(QStringLiteral("/usr/bin/python3"),
                                         {QStringLiteral("-c"), launch, QString::fromStdString(login.entryPath().string())});
    ASSERT_EQ(status, 0);
    ASSERT_TRUE(waitUntil([&] { return fs::exists(marker); }, 5000));
    EXPECT_EQ(AtomicFile::read(marker, 100), "launched\n");
}

}  // namespace
}  // namespace brevalto
