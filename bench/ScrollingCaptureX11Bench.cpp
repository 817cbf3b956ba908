// A 40-step scrolling capture of another process's window that scrolls a known amount per wheel
// click, against 40 plain grabs of the same viewport in the same run. Besides the capture's wall
// time (mostly its waits for the content to settle) it reports the session's own work: the time
// its steps take (wheel clicks, target checks, stable-frame checks, overlap search, strips), with
// and without the grabs they make. Run it as
//   tests/Support/with-x11 build/bench/ScrollingCaptureX11Bench
#include "Capture/CaptureCoordinator.h"
#include "Capture/CaptureEngine.h"
#include "Capture/CaptureInteraction.h"
#include "Capture/ScrollingCapture.h"
#include "FakeCaptureInteraction.h"
#include "Platform/Linux/X11Apps.h"
#include "Platform/Linux/X11ScreenCapture.h"
#include "Platform/Linux/X11WheelScroller.h"
#include "QtWait.h"
#include "TestFolder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

using namespace brevalto;
constexpr int kSteps = 40;

// The X server's screen, with the time spent in viewport grabs added up.
class TimedScreen final : public ScreenCapture {
public:
    X11ScreenCapture real;
    double grabSeconds = 0;
    int grabs = 0;
    bool hasPermission() const override { return real.hasPermission(); }
    std::vector<ScreenCaptureDisplay> displays() override { return real.displays(); }
    QImage grabDisplay(std::uint32_t id, const QRect& rect, bool cursor) override {
        QElapsedTimer t;
        t.start();
        QImage image = real.grabDisplay(id, rect, cursor);
        grabSeconds += t.nsecsElapsed() / 1e9;
        ++grabs;
        return image;
    }
    std::vector<ScreenCaptureWindow> windows() override { return real.windows(); }
    QImage grabWindow(std::uint32_t id, bool cursor) override { return real.grabWindow(id, cursor); }
    QImage wallpaper(std::uint32_t id) override { return real.wallpaper(id); }
};

// The capture's waits on a Qt timer, with the time spent in the steps they run added up: every
// step of a running capture (scroll, grab and check, append) runs from one of them.
class MeasuringTimer final : public CaptureTimer {
public:
    double stepSeconds = 0;
    MeasuringTimer() {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QElapsedTimer t;
            t.start();
            if (auto fire = std::exchange(fire_, nullptr)) fire();
            stepSeconds += t.nsecsElapsed() / 1e9;
        });
    }
    void start(double seconds, std::function<void()> fire) override {
        fire_ = std::move(fire);
        timer_.start(int(seconds * 1000));
    }
    void stop() override {
        timer_.stop();
        fire_ = nullptr;
    }

private:
    QTimer timer_;
    std::function<void()> fire_;
};

struct Desk {
    QProcess page;
    QRect client;
    TimedScreen screen;
    CaptureEngine engine{screen};
    X11Apps apps;
    X11WheelScroller wheel;
    FakeCaptureInteraction ui;
    FakeClock clock;
    ManualCaptureTimer countdown{clock};
    CaptureCoordinator coordinator{engine, ui, countdown, &apps};
    MeasuringTimer timer;
    TestFolder staging;

    Desk() {
        page.start(QStringLiteral(BREVALTO_BINARY_DIR "/tests/ScrollPage"), {"320", "400", "9000"});
        waitUntil([&] { return page.canReadLine(); }, 10000);
        const auto words = QString::fromUtf8(page.readLine()).split(' ');
        if (words.size() == 5) client = QRect(words[1].toInt(), words[2].toInt(), words[3].toInt(), words[4].toInt());
        waitUntil([&] { return apps.frontmost() && apps.frontmost()->processId == page.processId(); });
    }
    ~Desk() {
        page.terminate();
        page.waitForFinished(3000);
    }
    std::uint32_t displayID() { return screen.displays().at(0).id; }
};

Desk& desk() {
    static Desk instance;
    return instance;
}

void BM_PlainViewportGrabs(benchmark::State& state) {
    Desk& d = desk();
    const std::uint32_t id = d.displayID();
    for (auto _ : state) {
        for (int i = 0; i < kSteps; ++i) {
            const QImage image = d.screen.real.grabDisplay(id, d.client, false);
            if (image.size() != d.client.size()) state.SkipWithError("no viewport image");
            benchmark::DoNotOptimize(image.constBits());
        }
    }
}

void BM_ScrollingCapture(benchmark::State& state) {
    Desk& d = desk();
    double ownWork = 0, grabTime = 0, grabs = 0;
    for (auto _ : state) {
        d.wheel.scroll(d.client.center(), -400);  // back to the top of the page
        QThread::msleep(200);
        bool closed = false;
        ScrollingCaptureServices services{&d.coordinator, &d.engine, &d.screen, &d.apps, &d.wheel, nullptr,
                                          &d.timer, nullptr, nullptr, d.staging.path(), nullptr};
        ScrollingCapture capture(services, d.apps.application(d.page.processId()), 0,
                                 [](const CapturedScreenshot&, bool, std::function<void(bool)> taken) { taken(true); },
                                 [&] { closed = true; }, {});
        auto settings = capture.settings();
        settings.speed = 2;
        capture.setSettings(settings);
        capture.start();
        waitUntil([&] { return d.coordinator.isSelecting(); });
        d.screen.grabSeconds = 0;
        d.screen.grabs = 0;
        d.timer.stepSeconds = 0;
        QElapsedTimer t;
        t.start();
        d.ui.complete(CaptureCoordinator::Selection::region(d.client));
        const double selection = t.nsecsElapsed() / 1e9;  // the first frame and the first step
        if (!waitUntil([&] { return capture.frames() > kSteps || capture.paused() || closed; }, 60000) ||
            capture.frames() <= kSteps) {
            state.SkipWithError(capture.status().toUtf8().constData());
        }
        const double seconds = t.nsecsElapsed() / 1e9;
        state.SetIterationTime(seconds);
        ownWork += selection + d.timer.stepSeconds - d.screen.grabSeconds;
        grabTime += d.screen.grabSeconds;
        grabs += d.screen.grabs;
        capture.cancel();
    }
    state.counters["grabs"] = benchmark::Counter(grabs, benchmark::Counter::kAvgIterations);
    state.counters["grab_ms"] = benchmark::Counter(grabTime * 1000, benchmark::Counter::kAvgIterations);
    state.counters["own_ms"] = benchmark::Counter(ownWork * 1000, benchmark::Counter::kAvgIterations);
}

BENCHMARK(BM_PlainViewportGrabs)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_ScrollingCapture)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            times[run.run_name.function_name] = run.GetAdjustedRealTime();
            for (const auto& [name, counter] : run.counters) counters[name] = counter.value;
        }
    }
    std::map<std::string, double> times, counters;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (!desk().client.isValid()) {
        std::fprintf(stderr, "ScrollingCaptureX11Bench: the page window did not come up\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double plain = reporter.times["BM_PlainViewportGrabs"];
    const double capture = reporter.times["BM_ScrollingCapture"];
    if (plain > 0 && capture > 0) {
        const double own = reporter.counters["own_ms"], grabs = reporter.counters["grab_ms"];
        std::printf("40-step scrolling capture, wall time (waits included) / 40 plain viewport grabs = %.2f\n",
                    capture / plain);
        std::printf("session's steps with their %.0f grabs / 40 plain grabs = %.2f\n", reporter.counters["grabs"],
                    (own + grabs) / plain);
        std::printf("session's own work without grabs / 40 plain grabs = %.2f\n", own / plain);
    }
    benchmark::Shutdown();
    return 0;
}
