// A user's road through requests from outside: an intent starts the app through the packaged
// D-Bus service file, a link from a terminal starts it too; the user allows the request in its
// confirmation, with the window manager slow to react as on a loaded machine, and the capture
// lands on the clipboard holding none of the confirmation. Links and intents from a terminal get
// the app's answer as their exit status.
#include "Automation/AutomationFailure.h"
#include "Automation/IntentCommandLine.h"
#include "Automation/IntentService.h"
#include "Platform/AtomicFile.h"
#include "QtWait.h"

#include <gtest/gtest.h>

#include <QDBusConnectionInterface>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <csignal>
#include <filesystem>
#include <string>
#include <tuple>

namespace brevalto {
namespace {

namespace fs = std::filesystem;

const QString kProgram = QStringLiteral(BREVALTO_BINARY_DIR "/brevalto");
constexpr QRgb kDesk = 0xff118877;  // the root window's colour, under the confirmation

QString run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QStringList visibleWindows(const QString& name) {
    return run("xdotool", {"search", "--onlyvisible", "--name", "^" + name + "$"}).split('\n', Qt::SkipEmptyParts);
}

// The window's area in root pixels.
QRect rectOf(const QString& window) {
    const QString info = run("xwininfo", {"-id", window});
    auto value = [&](const char* label) {
        const QRegularExpression field(QString::fromLatin1(label) + QStringLiteral(":\\s+(-?\\d+)"));
        return field.match(info).captured(1).toInt();
    };
    return {value("Absolute upper-left X"), value("Absolute upper-left Y"), value("Width"), value("Height")};
}

// The automation confirmation: a window named like the app that is not its panel, once it shows.
QString confirmationBeside(const QStringList& panel) {
    QString confirmation;
    EXPECT_TRUE(waitUntil([&] {
        for (const QString& window : visibleWindows("Brevalto"))
            if (!panel.contains(window)) confirmation = window;
        return !confirmation.isEmpty();
    })) << "no confirmation";
    return confirmation;
}

// Waits for the app's panel, then for its confirmation; returns the confirmation.
QString confirmation() {
    QStringList panel;
    EXPECT_TRUE(waitUntil([&] { return !(panel = visibleWindows("Brevalto")).isEmpty(); }, 20000))
        << "the app never started";
    return confirmationBeside(panel);
}

// From the confirmation's default Cancel to "Allow once", the window manager held still meanwhile:
// it takes the confirmation's frame down late.
void allowWhileTheWindowManagerLags(const QString& prompt) {
    run("xdotool", {"windowactivate", "--sync", prompt});
    const pid_t manager = qEnvironmentVariableIntValue("BREVALTO_TEST_WM_PID");
    ASSERT_GT(manager, 0);
    ::kill(manager, SIGSTOP);
    run("xdotool", {"key", "shift+Tab", "space"});
    QThread::msleep(400);
    ::kill(manager, SIGCONT);
}

QImage copiedImage() {
    QImage copied;
    EXPECT_TRUE(waitUntil([&] {
        QProcess xclip;
        xclip.start("xclip", {"-selection", "clipboard", "-t", "image/png", "-o"});
        xclip.waitForFinished(5000);
        return copied.loadFromData(xclip.readAllStandardOutput(), "PNG");
    })) << "no PNG on the clipboard";
    return copied;
}

// The pixels of the image that are not the desk's colour.
int notDesk(const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) count += image.pixel(x, y) != kDesk;
    return count;
}

class RequestsFromOutside : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(QProcess::execute("xsetroot", {"-solid", "#118877"}), 0); }
};

TEST_F(RequestsFromOutside, ACaptureIntentStartsTheAppAndCopiesTheScreenWithoutItsConfirmation) {
    // The packaged service file, pointing at the program just built, where the bus looks.
    const fs::path services = fs::path(qEnvironmentVariable("XDG_DATA_HOME").toStdString()) / "dbus-1" / "services";
    AtomicFile::createFolder(services);
    QFile packaged(BREVALTO_SOURCE_DIR "/packaging/app.brevalto.service");
    ASSERT_TRUE(packaged.open(QIODevice::ReadOnly));
    QByteArray text = packaged.readAll();
    ASSERT_TRUE(text.contains("\nExec=brevalto\n"));
    text.replace("\nExec=brevalto\n", "\nExec=" + kProgram.toUtf8() + "\n");
    AtomicFile::write(services / "app.brevalto.service", text.toStdString());

    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    ASSERT_FALSE(bus->isServiceRegistered(IntentService::kServiceName));

    QProcess intent;
    intent.start(kProgram, {"intent", "capture", "--mode", "screen", "--after", "copy"});
    ASSERT_TRUE(intent.waitForStarted(5000));

    // The app comes up with its panel, then asks.
    const QString prompt = confirmation();
    ASSERT_FALSE(prompt.isEmpty());
    EXPECT_EQ(intent.state(), QProcess::Running);  // the answer waits for the user
    const QRect promptRect = rectOf(prompt);
    allowWhileTheWindowManagerLags(prompt);

    ASSERT_TRUE(waitUntil([&] { return intent.state() == QProcess::NotRunning; }, 20000));
    EXPECT_EQ(intent.exitCode(), 0) << intent.readAllStandardError().toStdString();
    EXPECT_EQ(QString::fromUtf8(intent.readAllStandardOutput()),
              "Request sent to Brevalto. Check the app for capture status.\n");

    const QImage copied = copiedImage();
    EXPECT_EQ(copied.size(), QSize(1920, 1080));
    EXPECT_EQ(notDesk(copied.copy(promptRect)), 0) << "the confirmation is in the capture";

    const uint pid = bus->servicePid(IntentService::kServiceName);
    ASSERT_GT(pid, 0u);
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    EXPECT_TRUE(waitUntil([&] { return !bus->isServiceRegistered(IntentService::kServiceName); }));
    EXPECT_TRUE(waitUntil([&] { return ::kill(static_cast<pid_t>(pid), 0) != 0; }, 10000)) << "the app did not end";
}

TEST_F(RequestsFromOutside, ARegionLinkFreezesTheScreenWithoutItsConfirmation) {
    QProcess app;
    app.start(kProgram, {"brevalto://capture?mode=region&after=copy"});
    ASSERT_TRUE(app.waitForStarted(5000));
    const QString prompt = confirmation();
    ASSERT_FALSE(prompt.isEmpty());
    const QRect promptRect = rectOf(prompt);
    allowWhileTheWindowManagerLags(prompt);

    // The frozen frame covers the screen; the user drags over where the confirmation was.
    ASSERT_TRUE(waitUntil([&] {
        for (const QString& window : run("xdotool", {"search", "--onlyvisible", "--class", "brevalto"}).split('\n'))
            if (rectOf(window).size() == QSize(1920, 1080)) return true;
        return false;
    })) << "no frozen frame";
    const QPoint from = promptRect.topLeft(), to = promptRect.bottomRight() + QPoint(1, 1);
    run("xdotool", {"mousemove", QString::number(from.x()), QString::number(from.y()), "mousedown", "1", "mousemove",
                    QString::number(to.x()), QString::number(to.y()), "mouseup", "1", "key", "Return"});

    const QImage copied = copiedImage();
    EXPECT_EQ(copied.size(), promptRect.size());
    EXPECT_EQ(notDesk(copied), 0) << "the confirmation is in the frozen frame";

    app.terminate();
    EXPECT_TRUE(app.waitForFinished(10000));
}

// What `brevalto ARGUMENTS` ends with: exit status (-1 for none), standard output, standard error.
std::tuple<int, std::string, std::string> runBrevalto(const QStringList& arguments) {
    QProcess process;
    process.start(kProgram, arguments);
    if (!process.waitForFinished(10000)) process.kill();
    process.waitForFinished();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput().toStdString(), process.readAllStandardError().toStdString()};
}

TEST_F(RequestsFromOutside, LinksAndIntentsFromATerminalExitWithTheAppsAnswer) {
    const std::string invalid = std::string(AutomationFailure::message(AutomationFailure::Kind::invalid)) + "\n";
    const std::string usage = IntentCommandLine::programUsageText().toStdString();
    const std::string version = "brevalto " BREVALTO_VERSION "\n";
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();

    QProcess app;
    app.setProcessChannelMode(QProcess::ForwardedChannels);
    app.start(kProgram, {});
    ASSERT_TRUE(waitUntil([&] { return bus->isServiceRegistered(IntentService::kServiceName); }, 20000));
    QStringList panel;
    ASSERT_TRUE(waitUntil([&] { return !(panel = visibleWindows("Brevalto")).isEmpty(); }, 20000));

    const std::pair<QStringList, std::tuple<int, std::string, std::string>> rows[] = {
        {{"brevalto://capture?mode=bogus"}, {1, "", invalid}},
        // Answered by the command itself: nothing goes to the app.
        {{"--help"}, {0, usage, ""}},
        {{"-h"}, {0, usage, ""}},
        {{"--version"}, {0, version, ""}},
        {{"--helper"}, {1, "", invalid}},
        {{"brevalto://history", "brevalto://settings"}, {1, "", "Open one Brevalto URL at a time.\n"}},
        {{"intent", "capture", "--mode", "bogus"}, {1, "", invalid}},
        {{"brevalto://history"}, {0, "", ""}},
        {{"intent", "open", "--destination", "history"}, {0, "Request sent to Brevalto.\n", ""}},
        // Taken once checked: the command does not wait for the confirmation, which then holds
        // the next request back.
        {{"brevalto://capture?mode=screen"}, {0, "", ""}},
        {{"brevalto://settings"},
         {1, "", std::string(AutomationFailure::message(AutomationFailure::Kind::busy)) + "\n"}},
    };
    for (const auto& [arguments, outcome] : rows) EXPECT_EQ(runBrevalto(arguments), outcome) << arguments.join(' ').toStdString();

    const QString prompt = confirmationBeside(panel);
    ASSERT_FALSE(prompt.isEmpty());
    run("xdotool", {"windowactivate", "--sync", prompt});
    run("xdotool", {"key", "Escape"});
    app.terminate();
    ASSERT_TRUE(app.waitForFinished(10000));

    // A first start for a refused link says so and does not stay; one for help or the version
    // only answers.
    EXPECT_EQ(runBrevalto({"brevalto://capture?mode=bogus"}), std::make_tuple(1, std::string(), invalid));
    EXPECT_EQ(runBrevalto({"--version"}), std::make_tuple(0, version, std::string()));
    EXPECT_EQ(runBrevalto({"--help", "brevalto://history"}), std::make_tuple(0, usage, std::string()));
    EXPECT_FALSE(bus->isServiceRegistered(IntentService::kServiceName));
}

}  // namespace
}  // namespace brevalto
