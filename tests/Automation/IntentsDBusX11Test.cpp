// A user's road through the intents: `brevalto intent capture` while no Brevalto runs starts the
// app through the packaged D-Bus service file, the user allows the request in its confirmation,
// and the capture of the screen lands on the clipboard. Links and intents from a terminal get the
// app's answer as their exit status.
#include "Automation/AutomationFailure.h"
#include "Automation/IntentService.h"
#include "Platform/AtomicFile.h"
#include "QtWait.h"

#include <gtest/gtest.h>

#include <QDBusConnectionInterface>
#include <QFile>
#include <QImage>
#include <QProcess>

#include <csignal>
#include <filesystem>
#include <string>
#include <tuple>

namespace brevalto {
namespace {

namespace fs = std::filesystem;

const QString kProgram = QStringLiteral(BREVALTO_BINARY_DIR "/brevalto");

QString run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QStringList visibleWindows(const QString& name) {
    return run("xdotool", {"search", "--onlyvisible", "--name", "^" + name + "$"}).split('\n', Qt::SkipEmptyParts);
}

// The automation confirmation: a window named like the app that is not its panel, once it shows.
QString confirmationBeside(const QStringList& panel) {
    QString confirmation;
    waitUntil([&] {
        for (const QString& window : visibleWindows("Brevalto"))
            if (!panel.contains(window)) confirmation = window;
        return !confirmation.isEmpty();
    });
    return confirmation;
}

TEST(IntentsEndToEnd, ACaptureIntentStartsTheAppAndCopiesTheScreenOnceAllowed) {
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
    QStringList panel;
    ASSERT_TRUE(waitUntil([&] { return !(panel = visibleWindows("Brevalto")).isEmpty(); }, 20000))
        << "the app never started";
    const QString confirmation = confirmationBeside(panel);
    ASSERT_FALSE(confirmation.isEmpty()) << "no confirmation";
    EXPECT_EQ(intent.state(), QProcess::Running);  // the answer waits for the user
    run("xdotool", {"windowactivate", "--sync", confirmation});
    // From the default Cancel to "Allow once".
    run("xdotool", {"key", "shift+Tab", "space"});

    ASSERT_TRUE(waitUntil([&] { return intent.state() == QProcess::NotRunning; }, 20000));
    EXPECT_EQ(intent.exitCode(), 0) << intent.readAllStandardError().toStdString();
    EXPECT_EQ(QString::fromUtf8(intent.readAllStandardOutput()),
              "Request sent to Brevalto. Check the app for capture status.\n");

    QImage copied;
    ASSERT_TRUE(waitUntil([&] {
        QProcess xclip;
        xclip.start("xclip", {"-selection", "clipboard", "-t", "image/png", "-o"});
        xclip.waitForFinished(5000);
        return copied.loadFromData(xclip.readAllStandardOutput(), "PNG");
    })) << "no PNG on the clipboard";
    EXPECT_EQ(copied.size(), QSize(1920, 1080));

    const uint pid = bus->servicePid(IntentService::kServiceName);
    ASSERT_GT(pid, 0u);
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    EXPECT_TRUE(waitUntil([&] { return !bus->isServiceRegistered(IntentService::kServiceName); }));
    EXPECT_TRUE(waitUntil([&] { return ::kill(static_cast<pid_t>(pid), 0) != 0; }, 10000)) << "the app did not end";
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

TEST(IntentsEndToEnd, LinksAndIntentsFromATerminalExitWithTheAppsAnswer) {
    const std::string invalid = std::string(AutomationFailure::message(AutomationFailure::Kind::invalid)) + "\n";
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();

    QProcess app;
    app.setProcessChannelMode(QProcess::ForwardedChannels);
    app.start(kProgram, {});
    ASSERT_TRUE(waitUntil([&] { return bus->isServiceRegistered(IntentService::kServiceName); }, 20000));
    QStringList panel;
    ASSERT_TRUE(waitUntil([&] { return !(panel = visibleWindows("Brevalto")).isEmpty(); }, 20000));

    const std::pair<QStringList, std::tuple<int, std::string, std::string>> rows[] = {
        {{"brevalto://capture?mode=bogus"}, {1, "", invalid}},
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

    const QString confirmation = confirmationBeside(panel);
    ASSERT_FALSE(confirmation.isEmpty()) << "no confirmation";
    run("xdotool", {"windowactivate", "--sync", confirmation});
    run("xdotool", {"key", "Escape"});
    app.terminate();
    ASSERT_TRUE(app.waitForFinished(10000));

    // A first start for a refused link says so and does not stay.
    EXPECT_EQ(runBrevalto({"brevalto://capture?mode=bogus"}), std::make_tuple(1, std::string(), invalid));
    EXPECT_FALSE(bus->isServiceRegistered(IntentService::kServiceName));
}

}  // namespace
}  // namespace brevalto
