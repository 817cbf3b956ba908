// From a region request to the frozen frame mapped and painted over the display, against one
// plain display shot of the same display in the same run. Run it as
//   tests/Support/with-x11 build/bench/CaptureOverlayX11Bench
#include "Capture/CaptureCoordinator.h"
#include "Capture/CaptureEngine.h"
#include "Capture/CaptureOverlays.h"
#include "Capture/FrozenCaptureView.h"
#include "Platform/Linux/QtScreens.h"
#include "Platform/Linux/X11ScreenCapture.h"
#include "Platform/ProcessStart.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QWindow>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

namespace {

using namespace brevalto;

X11ScreenCapture& capture() {
    static X11ScreenCapture instance;
    return instance;
}

// Counts paints of the selection windows, wherever they come from.
class PaintCounter : public QObject {
public:
    bool eventFilter(QObject* receiver, QEvent* event) override {
        if (event->type() == QEvent::Paint && qobject_cast<FrozenCaptureView*>(receiver)) ++paints;
        return false;
    }
    int paints = 0;
};

bool spinUntil(const std::function<bool()>& condition) {
    QDeadlineTimer deadline(5000);
    while (!condition()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    return true;
}

void BM_DisplayShot(benchmark::State& state) {
    CaptureEngine engine(capture());
    const CaptureDisplay display = engine.displays().at(0);
    for (auto _ : state) {
        auto shot = engine.captureDisplayImage(display, CaptureRequest{}, std::nullopt);
        benchmark::DoNotOptimize(shot.image.constBits());
    }
}

void BM_RegionRequestToPaintedOverlay(benchmark::State& state) {
    QtScreens screens;
    CaptureEngine engine(capture());
    CaptureOverlays overlays(screens);
    QtCaptureTimer timer;
    CaptureCoordinator coordinator(engine, overlays, timer);
    PaintCounter counter;
    qApp->installEventFilter(&counter);
    for (auto _ : state) {
        counter.paints = 0;
        bool ended = false;
        coordinator.capture(CaptureRequest{}, [&](CaptureCoordinator::Result) { ended = true; });
        if (!spinUntil([&] {
                auto* view = overlays.keyView();
                return view && view->windowHandle() && view->windowHandle()->isExposed() && counter.paints > 0;
            })) {
            state.SkipWithError("the overlay did not appear");
            break;
        }
        state.PauseTiming();
        coordinator.cancelCapture();
        spinUntil([&] { return ended && overlays.selectionViews().empty(); });
        state.ResumeTiming();
    }
    qApp->removeEventFilter(&counter);
}

BENCHMARK(BM_DisplayShot)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RegionRequestToPaintedOverlay)->Unit(benchmark::kMillisecond);

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
                times[run.run_name.str()] = run.GetAdjustedRealTime();
            }
        }
    }
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
    startProcess();
    QApplication app(argc, argv);
    if (!capture().hasPermission()) {
        std::fprintf(stderr, "CaptureOverlayX11Bench: no X display\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto& t = reporter.times;
    if (t.count("BM_RegionRequestToPaintedOverlay") && t.count("BM_DisplayShot")) {
        std::printf("BM_RegionRequestToPaintedOverlay / BM_DisplayShot = %.2f\n",
                    t.at("BM_RegionRequestToPaintedOverlay") / t.at("BM_DisplayShot"));
    }
    benchmark::Shutdown();
    return 0;
}
