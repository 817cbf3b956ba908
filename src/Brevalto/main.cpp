#include "App/AppDelegate.h"
#include "App/SingleInstance.h"
#include "Automation/IntentCommandLine.h"
#include "Automation/IntentService.h"
#include "Imaging/ImageDecoding.h"
#include "KeychainItems/KeychainClient.h"
#include "KeychainItems/SecretServiceStore.h"
#include "Platform/AppPaths.h"
#include "Platform/Clock.h"
#include "Platform/Defaults.h"
#include "Platform/Linux/Cld2LanguageDetector.h"
#include "Platform/Linux/CurlHttpClient.h"
#include "Platform/Linux/PosixChildProcessRunner.h"
#include "Platform/Linux/QtPasteboard.h"
#include "Platform/Linux/QtScreens.h"
#include "Platform/Linux/TesseractTextRecognizer.h"
#include "Platform/Linux/X11HotKeys.h"
#include "Platform/Linux/X11Apps.h"
#include "Platform/Linux/X11Keyboard.h"
#include "Platform/Linux/X11RawKeyWatcher.h"
#include "Platform/Linux/X11ScreenCapture.h"
#include "Platform/Linux/X11WheelScroller.h"
#include "Platform/ProcessStart.h"
#include "Platform/Symbols.h"
#include "Platform/Task.h"

#include <QApplication>
#include <QIcon>
#include <QSocketNotifier>
#include <QTimer>

#include <xcb/xcb.h>

#include <csignal>
#include <filesystem>
#include <optional>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

using namespace brevalto;

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

// SIGTERM and SIGINT end the event loop, so that quitting runs the same steps as the menu.
void quitOnTerminationSignals(QApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char byte;
        [[maybe_unused]] const auto got = ::read(signalPipe[0], &byte, 1);
        QApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    startProcess();
    // `brevalto --help` and `--version` are answered here, before any display or running app.
    if (argc > 1)
        if (const auto answer = IntentCommandLine::programAnswer(QString::fromLocal8Bit(argv[1]),
                                                                 QStringLiteral(BREVALTO_VERSION))) {
            const QByteArray bytes = answer->toUtf8();
            const bool printed = std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout) ==
                                     std::size_t(bytes.size()) &&
                                 std::fflush(stdout) == 0;
            return printed ? 0 : 1;
        }
    // `brevalto intent …` asks the running app over the session bus: no window, no instance of its own.
    if (argc > 1 && std::strcmp(argv[1], "intent") == 0) {
        QCoreApplication client(argc, argv);
        const int status = IntentCommandLine::run(QCoreApplication::arguments().mid(2), QDBusConnection::sessionBus());
        // Ends here, with the application object alive: the bus thread may still be handing the
        // last answer on, and would find the types it copies gone if static objects went first.
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(status);
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brevalto"));
    QApplication::setDesktopFileName(QStringLiteral("brevalto"));
    QApplication::setOrganizationDomain(QStringLiteral("brevalto.app"));
    QApplication::setQuitOnLastWindowClosed(false);
    Symbols::registerResources();
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("brevalto"), QIcon(Symbols::templatePath("AppIcon"))));
    raiseImageAllocationLimit();

    QStringList urls = QApplication::arguments().mid(1);

    // One Brevalto per user: a later start hands its links to the running one.
    QString socketPath;
    try {
        socketPath = SingleInstance::defaultSocketPath();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "brevalto: %s\n", e.what());
        return 1;
    }
    SingleInstance instance(socketPath);
    switch (instance.start()) {
        case SingleInstance::Role::secondary:
            if (urls.isEmpty()) {
                std::fprintf(stderr, "brevalto: already running\n");
                return 0;
            }
            switch (instance.send(urls)) {
                case SingleInstance::Handover::accepted:
                    return 0;
                case SingleInstance::Handover::refused:
                    std::fprintf(stderr, "%s\n", qPrintable(instance.errorString()));
                    return 1;
                case SingleInstance::Handover::failed:
                    break;
            }
            [[fallthrough]];
        case SingleInstance::Role::failed:
            std::fprintf(stderr, "brevalto: %s\n", qPrintable(instance.errorString()));
            return 1;
        case SingleInstance::Role::primary:
            break;
    }
    // Started for a link the app would refuse: say so, as to a later start, and do not run.
    if (!urls.isEmpty()) {
        try {
            AppDelegate::requestFromURLs(urls);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 1;
        }
    }

    std::filesystem::path configFolder, dataFolder;
    std::optional<LaunchAtLogin> login;
    try {
        configFolder = AppPaths::configFolder();
        dataFolder = AppPaths::dataFolder();
        login.emplace(LaunchAtLogin::forCurrentUser());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "brevalto: %s\n", e.what());
        return 1;
    }

    Defaults defaults(configFolder / "defaults.json");
    QtPasteboard pasteboard;
    X11Apps apps;
    QtScreens screens;
    X11ScreenCapture screenCapture;
    TesseractTextRecognizer textRecognizer;
    CurlHttpClient http;
    X11HotKeys hotKeys;
    X11Keyboard keyboard;
    PosixChildProcessRunner processes;
    Cld2LanguageDetector languageDetector;
    X11WheelScroller wheel;
    X11RawKeyWatcher rawKeys;
    SecretServiceStore secretStore;
    KeychainClient keychain(secretStore,
                            KeychainClient::installedServicePath(QCoreApplication::applicationFilePath().toStdString()));

    AppEnvironment environment;
    environment.platform.defaults = &defaults;
    environment.platform.clock = &Clock::system();
    environment.platform.pasteboard = &pasteboard;
    environment.platform.apps = &apps;
    environment.platform.screens = &screens;
    environment.platform.screenCapture = &screenCapture;
    environment.platform.textRecognizer = &textRecognizer;
    environment.platform.http = &http;
    environment.platform.hotKeys = &hotKeys;
    environment.platform.keyboard = &keyboard;
    environment.platform.processes = &processes;
    environment.platform.languageDetector = &languageDetector;
    environment.platform.keychain = &keychain;
    environment.platform.wheel = &wheel;
    environment.platform.rawKeys = &rawKeys;
    environment.dataFolder = dataFolder;
    environment.login = std::move(*login);

    int status = 0;
    {
        AppDelegate delegate(std::move(environment));
        QObject::connect(&delegate, &AppDelegate::quitRequested, &app, &QApplication::quit);
        QObject::connect(&instance, &SingleInstance::urlsReceived, &delegate, &AppDelegate::openURLs);
        instance.setCheck([&delegate](const QStringList& received) { return delegate.refusalOfURLs(received); });
        QObject::connect(&app, &QApplication::aboutToQuit, &delegate, &AppDelegate::applicationWillTerminate);
        quitOnTerminationSignals(app);

        // The intents go on the session bus once the dispatcher has its handler; they go before it.
        std::unique_ptr<IntentService> intents;
        QTimer::singleShot(0, &delegate, [&delegate, &intents, urls] {
            delegate.applicationDidFinishLaunching();
            // The panel's window goes to the X server before the session bus is asked for
            // anything, which may take a while (a bus started on demand).
            if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()) xcb_flush(x11->connection());
            intents = IntentService::publishOnSessionBus(*delegate.dispatcher());
            if (!urls.isEmpty()) delegate.openURLs(urls);
        });
        status = QApplication::exec();
        instance.setCheck({});
    }
    // Work that the app's objects cancelled as they closed (a recognition) may still be ending on
    // the shared pool: it ends before the platform services it uses go.
    TaskPool::shared().waitForDone();
    return status;
}
