// Display shots and a two-display composition against one plain xcb GetImage of the same area,
// measured in the same run. Needs an X display 3840 x 1080 wide; run it as
//   BREVALTO_TEST_SCREEN=3840x1080x24 tests/Support/with-x11 build/bench/CaptureX11Bench
// On a screen with a single monitor it splits the screen into two RandR monitors of 1920 x 1080.
#include "Capture/CaptureEngine.h"
#include "Platform/Linux/X11ScreenCapture.h"
#include "Platform/ProcessStart.h"

#include <benchmark/benchmark.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

namespace {

using namespace brevalto;

X11ScreenCapture& capture() {
    static X11ScreenCapture instance;
    return instance;
}

CaptureDisplay displayAt(int index) {
    CaptureEngine engine(capture());
    return engine.displays().at(static_cast<std::size_t>(index));
}

// The baseline: one plain GetImage of the root on a connection of its own, reply only.
void plainGetImage(benchmark::State& state, QRect area) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    for (auto _ : state) {
        xcb_get_image_reply_t* reply = xcb_get_image_reply(
            c,
            xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, root, std::int16_t(area.x()), std::int16_t(area.y()),
                          std::uint16_t(area.width()), std::uint16_t(area.height()), ~0u),
            nullptr);
        if (!reply) state.SkipWithError("no image");
        benchmark::DoNotOptimize(reply);
        std::free(reply);
    }
    xcb_disconnect(c);
}

void BM_PlainGetImage_1920x1080(benchmark::State& state) { plainGetImage(state, QRect(0, 0, 1920, 1080)); }
void BM_PlainGetImage_3840x1080(benchmark::State& state) { plainGetImage(state, QRect(0, 0, 3840, 1080)); }

void BM_DisplayShot_1920x1080(benchmark::State& state) {
    CaptureEngine engine(capture());
    const CaptureDisplay display = displayAt(0);
    for (auto _ : state) {
        auto shot = engine.captureDisplayImage(display, CaptureRequest{}, std::nullopt);
        benchmark::DoNotOptimize(shot.image.constBits());
    }
}

void BM_TwoDisplayComposition_3840x1080(benchmark::State& state) {
    CaptureEngine engine(capture());
    const auto displays = engine.displays();
    for (auto _ : state) {
        auto shot = engine.captureRect(displays, CaptureRequest{}, std::nullopt);
        if (shot.image.width() != 3840) state.SkipWithError("not a 3840 px composition");
        benchmark::DoNotOptimize(shot.image.constBits());
    }
}

BENCHMARK(BM_PlainGetImage_1920x1080)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DisplayShot_1920x1080)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainGetImage_3840x1080)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TwoDisplayComposition_3840x1080)->Unit(benchmark::kMillisecond);

// Prints as usual and keeps each benchmark's time per iteration for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        // With repetitions the median stands for the benchmark, otherwise its one run.
        for (const auto& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                times[run.run_name.str()] = run.GetAdjustedRealTime();
            } else if (run.run_type == Run::RT_Iteration && run.iterations > 0 && run.repetitions <= 1) {
                times[run.run_name.str()] = run.GetAdjustedRealTime();
            }
        }
    }
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
    startProcess();
    if (!capture().hasPermission()) {
        std::fprintf(stderr, "CaptureX11Bench: no X display\n");
        return 1;
    }
    if (capture().displays().size() == 1) {
        std::system("xrandr --setmonitor bench-left 1920/508x1080/286+0+0 screen >/dev/null 2>&1 && "
                    "xrandr --setmonitor bench-right 1920/508x1080/286+1920+0 none >/dev/null 2>&1");
    }
    const auto displays = capture().displays();
    if (displays.size() != 2 || displays[0].frame.width() != 1920 || displays[1].frame.width() != 1920) {
        std::fprintf(stderr, "CaptureX11Bench: needs two 1920 x 1080 monitors side by side\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto ratio = [&](const char* what, const char* baseline) {
        if (reporter.times.count(what) && reporter.times.count(baseline)) {
            std::printf("%s / %s = %.2f\n", what, baseline, reporter.times[what] / reporter.times[baseline]);
        }
    };
    ratio("BM_DisplayShot_1920x1080", "BM_PlainGetImage_1920x1080");
    ratio("BM_TwoDisplayComposition_3840x1080", "BM_PlainGetImage_3840x1080");
    benchmark::Shutdown();
    return 0;
}
