// The app at rest: CPU time and wake-ups (context switches of all its threads) while `brevalto`
// sits idle with its collapsed panel on screen, against the baseline measured over the same
// seconds: a bare Qt program that shows one window (this program started again with
// --baseline-window). Both run side by side; the figures are ratios app / baseline.
// Run it as
//   tests/Support/with-x11 build/bench/IdleX11Bench
// BREVALTO_IDLE_SECONDS sets the idle span (60 by default; a few seconds for a quick look).
#include "BenchMain.h"
#include "BenchPrograms.h"
#include "Platform/AtomicFile.h"
#include "TestFolder.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <dirent.h>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>

using namespace brevalto;
using namespace brevalto::bench;

namespace {

namespace fs = std::filesystem;

std::string selfPath;

// What a process has used so far: CPU time of all its threads, and how often its threads were
// switched out (voluntarily: they slept and woke again; or not).
struct Usage {
    double cpuSeconds = 0;
    long long wakeups = 0;
};

Usage usageOf(pid_t pid) {
    Usage usage;
    const std::string root = "/proc/" + std::to_string(pid);
    // utime and stime are fields 14 and 15, counted after the command name's closing parenthesis.
    std::ifstream stat(root + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    if (close != std::string::npos) {
        std::istringstream fields(line.substr(close + 2));
        std::string field;
        long long utime = 0, stime = 0;
        for (int i = 3; fields >> field; ++i) {
            if (i == 14) utime = std::stoll(field);
            if (i == 15) {
                stime = std::stoll(field);
                break;
            }
        }
        usage.cpuSeconds = static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }
    if (DIR* tasks = ::opendir((root + "/task").c_str())) {
        while (dirent* entry = ::readdir(tasks)) {
            if (entry->d_name[0] == '.') continue;
            std::ifstream status(root + "/task/" + entry->d_name + "/status");
            while (std::getline(status, line)) {
                if (line.starts_with("voluntary_ctxt_switches:")) usage.wakeups += std::stoll(line.substr(24));
                if (line.starts_with("nonvoluntary_ctxt_switches:")) usage.wakeups += std::stoll(line.substr(27));
            }
        }
        ::closedir(tasks);
    }
    return usage;
}

int idleSeconds() {
    const char* value = std::getenv("BREVALTO_IDLE_SECONDS");
    const int seconds = value ? std::atoi(value) : 60;
    return seconds > 0 ? seconds : 60;
}

void BM_IdleCpuAndWakeups(benchmark::State& state) {
    TestFolder home;
    AtomicFile::createFolder(home / "run");
    const auto env = homeEnvironment(home);
    const int seconds = idleSeconds();
    for (auto _ : state) {
        pid_t app = 0, base = 0;
        if (!launchUntilMapped({program()}, env, app) || !launchUntilMapped({selfPath, "--baseline-window"}, env, base)) {
            state.SkipWithError("a window never mapped");
            return;
        }
        std::this_thread::sleep_for(std::chrono::seconds(2));  // start-up work is over
        const Usage appBefore = usageOf(app), baseBefore = usageOf(base);
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const Usage appAfter = usageOf(app), baseAfter = usageOf(base);
        stop(app);
        stop(base);

        const double appCpu = appAfter.cpuSeconds - appBefore.cpuSeconds;
        const double baseCpu = baseAfter.cpuSeconds - baseBefore.cpuSeconds;
        const double appWakeups = static_cast<double>(appAfter.wakeups - appBefore.wakeups);
        const double baseWakeups = static_cast<double>(baseAfter.wakeups - baseBefore.wakeups);
        state.counters["app_cpu_ms"] = 1000 * appCpu;
        state.counters["baseline_cpu_ms"] = 1000 * baseCpu;
        // A clock tick is the resolution: a baseline that used none counts as one.
        state.counters["cpu_ratio"] = appCpu / std::max(baseCpu, 1.0 / static_cast<double>(::sysconf(_SC_CLK_TCK)));
        state.counters["app_wakeups_per_s"] = appWakeups / seconds;
        state.counters["baseline_wakeups_per_s"] = baseWakeups / seconds;
        state.counters["wakeup_ratio"] = appWakeups / std::max(baseWakeups, 1.0);
    }
}
BENCHMARK(BM_IdleCpuAndWakeups)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    selfPath = fs::canonical("/proc/self/exe").string();
    if (argc > 1 && std::string(argv[1]) == "--baseline-window") return baselineWindow(argc, argv);
    return runBenchmarks<QApplication>(argc, argv);
}
