#include "AppJourney.h"

#include "Platform/AtomicFile.h"
#include "PrivateUser.h"
#include "QtWait.h"

#include <QRegularExpression>
#include <QThread>

namespace brevalto {

namespace fs = std::filesystem;

AppJourney::AppJourney(fs::path screenshots) : screenshots_(std::move(screenshots)) {
    env_ = privateUserEnvironment(home_.path());
    env_.remove("DBUS_SESSION_BUS_ADDRESS");
    fs::remove_all(screenshots_);
    fs::create_directories(screenshots_);
}

void AppJourney::TearDown() {
    // The app runs under the session script; stop it by its own process id.
    bool ok = false;
    const qint64 pid = QString::fromStdString(AtomicFile::read(home_ / "app.pid", 64)).trimmed().toLongLong(&ok);
    if (ok && pid > 0) QProcess::execute("kill", {QString::number(pid)});
    if (session_.state() != QProcess::NotRunning && !session_.waitForFinished(10000)) {
        session_.kill();
        session_.waitForFinished(3000);
    }
}

void AppJourney::startApp() {
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
    session_.start("dbus-run-session", {"--", "sh", "-c", script, QStringLiteral(BREVALTO_BINARY_DIR "/brevalto")});
    ASSERT_TRUE(session_.waitForStarted(5000));
    ASSERT_TRUE(waitUntil([&] { return !window("^Brevalto$").isEmpty(); }, 20000)) << "the panel never mapped";
}

QString AppJourney::run(const QString& program, const QStringList& args) {
    QProcess p;
    p.setProcessEnvironment(env_);
    p.start(program, args);
    EXPECT_TRUE(p.waitForFinished(10000)) << program.toStdString();
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

QString AppJourney::window(const QString& name) {
    return run("xdotool", {"search", "--onlyvisible", "--name", name}).section('\n', 0, 0);
}

void AppJourney::keys(const QStringList& names) {
    for (const QString& name : names) {
        run("xdotool", {"key", "--clearmodifiers", name});
        QThread::msleep(150);
    }
}

void AppJourney::type(const QString& text) { run("xdotool", {"type", "--delay", "30", text}); }

void AppJourney::screenshot(const char* name) {
    QThread::msleep(500);
    run("import", {"-window", "root", QString::fromStdString((screenshots_ / name).string())});
    EXPECT_TRUE(fs::exists(screenshots_ / name)) << name;
}

QRect AppJourney::geometry(const QString& window) {
    const QString info = run("xwininfo", {"-id", window});
    auto value = [&](const char* label) {
        return QRegularExpression(QString::fromLatin1(label) + QStringLiteral(":\\s+(-?\\d+)")).match(info).captured(1).toInt();
    };
    return {value("Absolute upper-left X"), value("Absolute upper-left Y"), value("Width"), value("Height")};
}

}  // namespace brevalto
