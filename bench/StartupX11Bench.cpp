// Start-up as a user meets it: the time from launching `brevalto` to its panel window being
// mapped, and the resident memory after ten idle seconds, with a history of 200 clips (10 of them
// images), and the launch again with a history at its limits (200 texts, 256 MiB of index). The baseline, measured in the same run, is this program started again with
// --baseline-window: a bare Qt program that maps one window of the collapsed panel's size.
// At the limits the launch is also set against the history's load alone, in this process: the
// store's load against the load as it stood before the index was mapped (StartupX11BenchOldLoad.h),
// with the page faults of each.
// Run it as
//   tests/Support/with-x11 build/bench/StartupX11Bench
#include "ClipCore/HistoryPolicy.h"
#include "BenchMain.h"
#include "BenchPrograms.h"
#include "Clipboard/ClipStore.h"
#include "FakeClock.h"
#include "Platform/AtomicFile.h"
#include "QtWait.h"
#include "StartupX11BenchOldLoad.h"
#include "TestFolder.h"

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <fstream>
#include <sys/resource.h>
#include <string>
#include <thread>
#include <vector>

using namespace brevalto;
using namespace brevalto::bench;

namespace {

namespace fs = std::filesystem;

std::string selfPath;

// A fresh home whose history holds 190 texts of mixed sizes and 10 screenshot-like images, or
// with `full`, 200 texts filling the whole 256 MiB the history allows.
struct Home {
    TestFolder folder;

    explicit Home(bool full = false) {
        AtomicFile::createFolder(folder / "run");
        FakeClock clock;
        ClipStore store(folder / "data" / "brevalto", clock);
        if (full) {
            std::vector<Clip> clips;
            const std::size_t each = (HistoryPolicy::maximumBytes - 1024 * 1024) / HistoryPolicy::maximumItems;
            for (int i = 0; i < HistoryPolicy::maximumItems; ++i) {
                std::string text(each, static_cast<char>('a' + i % 26));
                for (std::size_t at = 0; at < text.size(); at += 97) text[at] = (at / 97) % 11 ? ' ' : '\n';
                text += std::to_string(i);
                clips.emplace_back(Clip::Kind::text, text, std::nullopt, hexDigest(text),
                                   static_cast<std::int64_t>(text.size()), "bench", clock.now() - i);
            }
            store.persist(clips);
            return;
        }
        for (int i = 0; i < 190; ++i) {
            std::string text = "Clip " + std::to_string(i) + ": ";
            text += std::string(static_cast<std::size_t>(20 + (i * 97) % 4000), static_cast<char>('a' + i % 26));
            store.addText(text, "bench");
            clock.advance(1);
        }
        for (int i = 0; i < 10; ++i) {
            QImage image(1440, 900, QImage::Format_RGB32);
            image.fill(QColor(230, 232, 236));
            QPainter painter(&image);
            painter.fillRect(100 + i * 20, 100, 600, 400, QColor(40, 90 + i * 10, 160));
            painter.end();
            QByteArray png;
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            image.save(&buffer, "PNG");
            const auto before = store.items().size();
            store.addImage(png, "bench");
            waitUntil([&] { return store.items().size() > before; }, 20000);
        }
    }

    std::vector<std::string> environment() const { return bench::homeEnvironment(folder); }
};

double residentMiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with("VmRSS:")) return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

// Seconds from launch to a mapped window of the app, then of the bare window; none when either
// never maps.
std::optional<std::pair<double, double>> launchAppAndBaseline(const std::vector<std::string>& env) {
    pid_t pid = 0;
    const auto appTime = launchUntilMapped({program()}, env, pid);
    stop(pid);
    const auto baseTime = launchUntilMapped({selfPath, "--baseline-window"}, env, pid);
    stop(pid);
    if (!appTime || !baseTime) return std::nullopt;
    return std::pair(*appTime, *baseTime);
}

// The launches of one row: each iteration's app launch is its time, and the row reports both
// launches' means and their ratio.
struct Launches {
    double app = 0, baseline = 0;
    int runs = 0;

    // False, with the row skipped, when a window never mapped.
    bool launch(benchmark::State& state, const std::vector<std::string>& env) {
        const auto times = launchAppAndBaseline(env);
        if (!times) {
            state.SkipWithError("a window never mapped");
            return false;
        }
        state.SetIterationTime(times->first);
        app += times->first;
        baseline += times->second;
        ++runs;
        return true;
    }

    void report(benchmark::State& state) const {
        state.counters["app_ms"] = 1000 * app / runs;
        state.counters["baseline_ms"] = 1000 * baseline / runs;
        state.counters["ratio"] = app / baseline;
    }
};

void BM_LaunchToMappedPanel(benchmark::State& state) {
    const Home home(state.range(0) != 0);
    const auto env = home.environment();
    Launches launches;
    for (auto _ : state)
        if (!launches.launch(state, env)) return;
    launches.report(state);
}
// Argument 0: the ordinary history; 1: the history at its limits.
BENCHMARK(BM_LaunchToMappedPanel)->Arg(0)->Arg(1)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

long pageFaults() {
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt + usage.ru_majflt;
}

// The launch with the history at its limits against the bare window, and in the same run the
// store's load of that history against the old load.
void BM_LoadAtTheLimits(benchmark::State& state) {
    const Home home(true);
    const auto env = home.environment();
    const fs::path folder = home.folder / "data" / "brevalto";
    Launches launches;
    double load = 0, oldLoad = 0;
    long faults = 0, oldFaults = 0;
    for (auto _ : state) {
        if (!launches.launch(state, env)) return;
        {
            const long before = pageFaults();
            const auto start = SteadyClock::now();
            ClipStore store(folder);
            load += std::chrono::duration<double>(SteadyClock::now() - start).count();
            faults += pageFaults() - before;
            if (store.items().size() != HistoryPolicy::maximumItems) return state.SkipWithError("the history did not load");
            TaskPool::shared().waitForDone();
        }
        {
            const long before = pageFaults();
            const auto start = SteadyClock::now();
            std::vector<Clip> clips = oldload::load(folder);
            oldLoad += std::chrono::duration<double>(SteadyClock::now() - start).count();
            oldFaults += pageFaults() - before;
            if (clips.size() != HistoryPolicy::maximumItems) return state.SkipWithError("the old load read otherwise");
        }
    }
    launches.report(state);
    const int runs = launches.runs;
    state.counters["load_ms"] = 1000 * load / runs;
    state.counters["old_load_ms"] = 1000 * oldLoad / runs;
    state.counters["load_ratio"] = load / oldLoad;
    // The launch as it would be with the old load in place of the new one.
    state.counters["app_old_load_ms"] = 1000 * (launches.app - load + oldLoad) / runs;
    state.counters["faults"] = static_cast<double>(faults) / runs;
    state.counters["old_faults"] = static_cast<double>(oldFaults) / runs;
}
BENCHMARK(BM_LoadAtTheLimits)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_ResidentAfterTenIdleSeconds(benchmark::State& state) {
    const Home home;
    const auto env = home.environment();
    for (auto _ : state) {
        pid_t app = 0, base = 0;
        if (!launchUntilMapped({program()}, env, app) || !launchUntilMapped({selfPath, "--baseline-window"}, env, base)) {
            state.SkipWithError("a window never mapped");
            return;
        }
        std::this_thread::sleep_for(std::chrono::seconds(10));
        const double appMiB = residentMiB(app), baseMiB = residentMiB(base);
        stop(app);
        stop(base);
        state.counters["app_MiB"] = appMiB;
        state.counters["baseline_MiB"] = baseMiB;
        state.counters["ratio"] = appMiB / baseMiB;
    }
}
BENCHMARK(BM_ResidentAfterTenIdleSeconds)->Iterations(1)->Unit(benchmark::kSecond);

// 200 one-line texts copied with xclip while the panel stays closed, on an empty history: what the
// app's resident memory grew by, against what the bare window's grew by over the same copies.
void BM_ResidentGrowthAfterShortCopies(benchmark::State& state) {
    TestFolder home;
    AtomicFile::createFolder(home / "run");
    const auto env = homeEnvironment(home);
    for (auto _ : state) {
        pid_t app = 0, base = 0;
        if (!launchUntilMapped({program()}, env, app) || !launchUntilMapped({selfPath, "--baseline-window"}, env, base)) {
            state.SkipWithError("a window never mapped");
            return;
        }
        std::this_thread::sleep_for(std::chrono::seconds(2));
        const double appBefore = residentMiB(app), baseBefore = residentMiB(base);
        for (int i = 0; i < 200; ++i) {
            const std::string command =
                "printf 'copied line number " + std::to_string(i) + "' | xclip -selection clipboard -i";
            if (std::system(command.c_str()) != 0) return state.SkipWithError("xclip failed");
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
        std::this_thread::sleep_for(std::chrono::seconds(3));
        const double appGrowth = residentMiB(app) - appBefore, baseGrowth = residentMiB(base) - baseBefore;
        stop(app);
        stop(base);
        state.counters["app_growth_MiB"] = appGrowth;
        state.counters["baseline_growth_MiB"] = baseGrowth;
    }
}
BENCHMARK(BM_ResidentGrowthAfterShortCopies)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    selfPath = fs::canonical("/proc/self/exe").string();
    if (argc > 1 && std::string(argv[1]) == "--baseline-window") return baselineWindow(argc, argv);
    return runBenchmarks<QApplication>(argc, argv);
}
