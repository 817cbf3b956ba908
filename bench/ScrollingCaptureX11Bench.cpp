// A 40-step scrolling capture of another process's window that scrolls a known amount per wheel
// click, on four pages: a varied picture, lines that differ only by their number, numbers alone
// at the left edge as a terminal shows a count, and C source in the left part of a wide view. Its own work per step (wheel clicks, target
// checks, the grabs and checks until the content settles on the GUI thread; the stitcher's
// append on its own thread) is compared with one plain grab of the viewport plus one overlap
// search of the same pair of frames of the same page, measured in the same run, and the pages'
// figures with the varied page's. It also reports the longest time the GUI thread was held by
// one step. Run it as
//   tests/Support/with-x11 build/bench/ScrollingCaptureX11Bench
#include "Capture/CaptureCoordinator.h"
#include "Capture/CaptureEngine.h"
#include "Capture/CaptureInteraction.h"
#include "Capture/ScrollStitcher.h"
#include "Capture/ScrollingCapture.h"
#include "FakeCaptureInteraction.h"
#include "Platform/Linux/X11Apps.h"
#include "Platform/Linux/X11ScreenCapture.h"
#include "Platform/Linux/X11WheelScroller.h"
#include "Platform/ProcessStart.h"
#include "QtWait.h"
#include "TestFolder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <string>
#include <cstdio>
#include <ctime>

namespace {

using namespace brevalto;
constexpr int kSteps = 40;
const char* const kPages[] = {"picture", "numbered", "sparse", "code"};
constexpr int kPageCount = 4;
const char* const kWidths[] = {"320", "320", "320", "800"};  // the code in the left part of a wide view

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

double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec / 1e9;
}

// The capture's waits on a Qt timer, with the time spent in the steps they run added up: every
// step of a running capture on the GUI thread (scroll, grabs and checks) runs from one of them.
class MeasuringTimer final : public CaptureTimer {
public:
    double stepSeconds = 0;
    double longestStep = 0;
    double longestStepCpu = 0;  // the GUI thread's own processor time in that step
    MeasuringTimer() {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QElapsedTimer t;
            t.start();
            const double cpu = threadSeconds();
            if (auto fire = std::exchange(fire_, nullptr)) fire();
            const double seconds = t.nsecsElapsed() / 1e9;
            stepSeconds += seconds;
            if (seconds > longestStep) longestStep = seconds, longestStepCpu = threadSeconds() - cpu;
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

// The stitcher's thread, with the time its appends take added up.
class MeasuringExecutor final : public TaskExecutor {
public:
    std::atomic<double> seconds = 0;
    void start(std::function<void()> work) override {
        pool_.start([this, work = std::move(work)] {
            QElapsedTimer t;
            t.start();
            work();
            seconds = seconds + t.nsecsElapsed() / 1e9;
        });
    }

private:
    TaskPool pool_{1};
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
    MeasuringExecutor executor;
    TestFolder staging;

    explicit Desk(const char* kind, const char* width) {
        page.start(QStringLiteral(BREVALTO_BINARY_DIR "/tests/ScrollPage"), {width, "400", "9000", kind});
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

// The desk of one page, one at a time (the benchmarks of a page run one after the other).
Desk& desk(int page) {
    static std::unique_ptr<Desk> instance;
    static int shown = -1;
    if (shown != page) {
        instance.reset();
        instance = std::make_unique<Desk>(kPages[page], kWidths[page]);
        shown = page;
    }
    return *instance;
}

// One plain grab of the viewport and one overlap search of two frames a wheel step apart.
void BM_GrabAndSearch(benchmark::State& state) {
    Desk& d = desk(int(state.range(0)));
    if (!d.client.isValid()) return state.SkipWithError("the page window did not come up");
    const std::uint32_t id = d.displayID();
    d.wheel.scroll(d.client.center(), -400);
    QThread::msleep(200);
    const ScrollFrameSignature before(d.screen.real.grabDisplay(id, d.client, false));
    d.wheel.scroll(d.client.center(), 6);
    QThread::msleep(200);
    const ScrollFrameSignature after(d.screen.real.grabDisplay(id, d.client, false));
    for (auto _ : state) {
        const QImage image = d.screen.real.grabDisplay(id, d.client, false);
        if (image.size() != d.client.size()) state.SkipWithError("no viewport image");
        const auto found = ScrollStitcher::findDisplacement(before, after);
        if (!found) state.SkipWithError("the pair does not match");
        benchmark::DoNotOptimize(found);
    }
}

void BM_ScrollingCapture(benchmark::State& state) {
    Desk& d = desk(int(state.range(0)));
    if (!d.client.isValid()) return state.SkipWithError("the page window did not come up");
    double ownWork = 0, appends = 0, grabs = 0, steps = 0, longest = 0, longestCpu = 0;
    for (auto _ : state) {
        d.wheel.scroll(d.client.center(), -400);  // back to the top of the page
        QThread::msleep(200);
        bool closed = false;
        ScrollingCaptureServices services{&d.coordinator, &d.engine, &d.screen, &d.apps, &d.wheel, nullptr,
                                          &d.timer, nullptr, &d.executor, d.staging.path(), nullptr};
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
        d.timer.longestStep = d.timer.longestStepCpu = 0;
        QElapsedTimer t;
        t.start();
        d.ui.complete(CaptureCoordinator::Selection::region(d.client));
        d.executor.seconds = 0;  // the first frame is stored during the selection
        if (!waitUntil([&] { return capture.frames() > kSteps || capture.paused() || closed; }, 60000) ||
            capture.frames() <= kSteps) {
            state.SkipWithError(capture.status().toUtf8().constData());
        }
        const double seconds = t.nsecsElapsed() / 1e9;
        state.SetIterationTime(seconds);
        capture.cancel();
        ownWork += d.timer.stepSeconds + d.executor.seconds;
        appends += d.executor.seconds;
        grabs += d.screen.grabs;
        steps += capture.frames() - 1;
        if (d.timer.longestStep > longest) longest = d.timer.longestStep, longestCpu = d.timer.longestStepCpu;
    }
    state.counters["grabs_per_step"] = grabs / steps;
    state.counters["own_ms_per_step"] = ownWork * 1000 / steps;
    state.counters["append_ms_per_step"] = appends * 1000 / steps;
    state.counters["longest_gui_step_ms"] = longest * 1000;
    state.counters["its_cpu_ms"] = longestCpu * 1000;
}

// Each page's baseline right before its capture.
const bool registered = [] {
    for (int page = 0; page < kPageCount; ++page) {
        benchmark::RegisterBenchmark((std::string("BM_GrabAndSearch/") + kPages[page]).c_str(), BM_GrabAndSearch)
            ->Arg(page)->Unit(benchmark::kMillisecond)->Iterations(200);
        benchmark::RegisterBenchmark((std::string("BM_ScrollingCapture/") + kPages[page]).c_str(), BM_ScrollingCapture)
            ->Arg(page)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);
    }
    return true;
}();

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            times[run.run_name.function_name] = run.GetAdjustedRealTime();
            for (const auto& [name, counter] : run.counters) counters[run.run_name.function_name][name] = counter.value;
        }
    }
    std::map<std::string, double> times;
    std::map<std::string, std::map<std::string, double>> counters;
};

}  // namespace

int main(int argc, char** argv) {
    startProcess();
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    double varied = 0, variedOwn = 0;
    for (const char* page : kPages) {
        const double baseline = reporter.times[std::string("BM_GrabAndSearch/") + page];
        auto& counters = reporter.counters[std::string("BM_ScrollingCapture/") + page];
        if (baseline <= 0 || !counters.count("own_ms_per_step")) continue;
        const double ratio = counters["own_ms_per_step"] / baseline;
        if (page == kPages[0]) varied = ratio, variedOwn = counters["own_ms_per_step"];
        std::printf("%s: own work per step (%.1f grabs, checks, append: %.2f ms) / one grab and one overlap search "
                    "(%.2f ms) = %.2f",
                    page, counters["grabs_per_step"], counters["own_ms_per_step"], baseline, ratio);
        if (varied > 0 && page != kPages[0])
            std::printf(" (%.2f x the picture's; its own work per step %.2f x the picture's)", ratio / varied,
                        counters["own_ms_per_step"] / variedOwn);
        std::printf("\n  of which the append on the stitcher's thread = %.2f\n", counters["append_ms_per_step"] / baseline);
        std::printf("  longest GUI-thread step = %.2f ms (the thread's own processor time in it %.2f ms)\n",
                    counters["longest_gui_step_ms"], counters["its_cpu_ms"]);
    }
    benchmark::Shutdown();
    return 0;
}
