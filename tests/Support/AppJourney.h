#pragma once

#include "Platform/AtomicFile.h"
#include "PrivateUser.h"
#include "QtWait.h"
#include "TestFolder.h"

#include <QPoint>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>

namespace brevalto {

// A new user's way through the built program, started as a user starts it: a home of its own, its
// own D-Bus session and keyring, driven with xdotool on the test's X server. The screenshots of
// each step stay in the build tree (tests/screenshots/NAME) for a person to look at.
class AppJourney : public ::testing::Test {
protected:
    explicit AppJourney(const std::string& name)
        : screenshots_(std::filesystem::path(BREVALTO_BINARY_DIR) / "tests" / "screenshots" / name) {}

    void SetUp() override {
        env_ = privateUserEnvironment(home_.path());
        env_.remove("DBUS_SESSION_BUS_ADDRESS");
        std::filesystem::remove_all(screenshots_);
        std::filesystem::create_directories(screenshots_);
    }

    void TearDown() override {
        // The app runs under the session script; stop it by its own process id. SIGTERM quits it
        // as the menu does, and the session passes its exit status through: anything but 0 (a
        // crash while quitting shows as 128 + the signal) fails the journey.
        bool ok = false;
        const qint64 pid = QString::fromStdString(AtomicFile::read(home_ / "app.pid", 64)).trimmed().toLongLong(&ok);
        if (ok && pid > 0) QProcess::execute("kill", {QString::number(pid)});
        if (!started_) return;
        if (session_.state() != QProcess::NotRunning && !session_.waitForFinished(10000)) {
            ADD_FAILURE() << "the app did not quit within 10 s of SIGTERM";
            session_.kill();
            session_.waitForFinished(3000);
            return;
        }
        EXPECT_EQ(session_.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(session_.exitCode(), 0) << "the app's exit status after SIGTERM";
    }

    // Starts the program in a D-Bus session of its own with an unlocked GNOME Keyring.
    void startApp() {
        session_.setProcessEnvironment(env_);
        session_.setProcessChannelMode(QProcess::ForwardedChannels);
        const QString script = QStringLiteral(
            "mkdir -p \"$HOME/.local/share/keyrings\"\n"
            "eval \"$(printf test | gnome-keyring-daemon --unlock --components=secrets --daemonize)\"\n"
            "\"$0\" & echo $! > \"$HOME/app.pid\"\n"
            "wait $!\n"
            "status=$?\n"
            "[ -n \"${GNOME_KEYRING_PID:-}\" ] && kill \"$GNOME_KEYRING_PID\" 2>/dev/null\n"
            "exit $status\n");
        session_.start("dbus-run-session", {"--", "sh", "-c", script, program()});
        ASSERT_TRUE(session_.waitForStarted(5000));
        started_ = true;
        ASSERT_TRUE(waitUntil([&] { return !window("^Brevalto$").isEmpty(); }, 20000)) << "the panel never mapped";
    }

    // Opens the settings window from the panel's keys (the panel then collapses out of the way),
    // activates it and moves `tabs` tabs on from the first; returns the window.
    QString openSettings(int tabs) {
        // A loaded machine (or a sanitizer build) can take longer than the pause to expand the
        // panel, and then Ctrl+, reaches nothing: collapse with Escape and try again, waiting longer.
        bool shown = false;
        for (int attempt = 1; attempt <= 3 && !shown; ++attempt) {
            keys({"super+shift+space"});
            QThread::msleep(800 * attempt);
            keys({"ctrl+comma"});
            shown = waitUntil([&] { return !window("^Brevalto Settings$").isEmpty(); }, 5000 * attempt);
            if (!shown) keys({"Escape"});
        }
        EXPECT_TRUE(shown) << "the settings window never mapped";
        keys({"super+shift+space"});
        QThread::msleep(800);
        const QString settings = window("^Brevalto Settings$");
        run("xdotool", {"windowactivate", "--sync", settings});
        for (int i = 0; i < tabs; ++i) keys({"ctrl+Tab"});
        return settings;
    }

    QString run(const QString& program, const QStringList& args) {
        QProcess p;
        p.setProcessEnvironment(env_);
        p.start(program, args);
        EXPECT_TRUE(p.waitForFinished(10000)) << program.toStdString();
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }
    QString window(const QString& name) { return run("xdotool", {"search", "--onlyvisible", "--name", name}).section('\n', 0, 0); }
    void keys(const QStringList& names) {
        for (const QString& name : names) {
            run("xdotool", {"key", "--clearmodifiers", name});
            QThread::msleep(150);
        }
    }
    void type(const QString& text) { run("xdotool", {"type", "--delay", "30", text}); }
    // Copies text as another program would (xclip owns the clipboard), then gives the app time to record it.
    void copyText(const QByteArray& text) {
        QProcess copy;
        copy.setProcessEnvironment(env_);
        copy.start("xclip", {"-selection", "clipboard", "-i"});
        copy.write(text);
        copy.closeWriteChannel();
        EXPECT_TRUE(copy.waitForFinished(5000)) << "xclip";
        QThread::msleep(1500);
    }
    void screenshot(const char* name) {
        QThread::msleep(500);
        run("import", {"-window", "root", QString::fromStdString((screenshots_ / name).string())});
        EXPECT_TRUE(std::filesystem::exists(screenshots_ / name)) << name;
    }
    QPoint origin(const QString& window) {
        const QString info = run("xwininfo", {"-id", window});
        auto value = [&](const char* label) {
            return QRegularExpression(QString::fromLatin1(label) + QStringLiteral(":\\s+(-?\\d+)")).match(info).captured(1).toInt();
        };
        return {value("Absolute upper-left X"), value("Absolute upper-left Y")};
    }
    nlohmann::json defaults() {
        try {
            return nlohmann::json::parse(AtomicFile::read(home_ / "config" / "brevalto" / "defaults.json", 1 << 20));
        } catch (const std::exception&) {
            return nlohmann::json::object();
        }
    }
    static QString program() { return QStringLiteral(BREVALTO_BINARY_DIR "/brevalto"); }

    std::filesystem::path screenshots_;
    TestFolder home_;
    TestFolder standIns_;
    QProcessEnvironment env_;
    QProcess session_;
    bool started_ = false;
};

}  // namespace brevalto
