#include "Capture/CaptureCoordinator.h"
#include "Capture/CaptureEngine.h"
#include "Capture/CaptureOverlays.h"
#include "Capture/ScrollStitcher.h"
#include "Capture/ScrollingCapture.h"
#include "Capture/ScrollingCaptureView.h"
#include "Platform/Linux/QtScreens.h"
#include "Platform/Linux/X11Apps.h"
#include "Platform/Linux/X11RawKeyWatcher.h"
#include "Platform/Linux/X11ScreenCapture.h"
#include "Platform/Linux/X11WheelScroller.h"
#include <QApplication>
#include <QTimer>
#include <cstdio>
using namespace brevalto;
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QtScreens screens;
    X11ScreenCapture screen;
    CaptureEngine engine(screen);
    CaptureOverlays overlays(screens);
    QtCaptureTimer countdown;
    X11Apps apps;
    CaptureCoordinator coordinator(engine, overlays, countdown, &apps);
    X11WheelScroller wheel;
    X11RawKeyWatcher keys;
    ScrollingCaptureServices s{&coordinator, &engine, &screen, &apps, &wheel, &keys, nullptr, nullptr,
                               ScrollStitcher::stagingRoot(), nullptr};
    auto target = apps.frontmost();
    std::printf("target %s pid %lld\n", target ? qPrintable(target->name) : "-", target ? (long long)target->processId : 0);
    ScrollingCapture capture(s, target, 0,
        [](const CapturedScreenshot& shot, bool partial, std::function<void(bool)> taken) {
            shot.image.save("/tmp/s/result.png");
            std::printf("result %dx%d partial %d\n", shot.image.width(), shot.image.height(), int(partial));
            std::fflush(stdout);
            taken(true);
        },
        [&] { std::printf("closed\n"); std::fflush(stdout); QTimer::singleShot(500, &app, &QApplication::quit); },
        [] { return QStringLiteral("Screenshot_trial.png"); });
    QObject::connect(&capture, &ScrollingCapture::changed, [&] {
        static QString last;
        if (capture.status() != last) { last = capture.status(); std::printf("status: %s\n", qPrintable(last)); std::fflush(stdout); }
    });
    QWidget* panel = ScrollingCaptureView::makePanel(capture);
    panel->show();
    if (argc > 1 && QString(argv[1]) == "start") QTimer::singleShot(1500, &capture, &ScrollingCapture::start);
    return app.exec();
}
