// Start-up as a user meets it: the time from launching `brevalto` to its panel window being
// mapped, and the resident memory after ten idle seconds, with a history of 200 clips (10 of them
// images), and the launch again with a history at its limits (200 texts, 256 MiB of index). The baseline, measured in the same run, is this program started again with
// --baseline-window: a bare Qt program that maps one window of the collapsed panel's size.
// Run it as
//   tests/Support/with-x11 build/bench/StartupX11Bench
#include "ClipCore/HistoryPolicy.h"
#include "Clipboard/ClipStore.h"
#include "FakeClock.h"
#include "Platform/AtomicFile.h"
#include "QtWait.h"
#include "TestFolder.h"

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QWidget>

#include <benchmark/benchmark.h>

#include "BenchMain.h"

#include <xcb/xcb.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace brevalto;

namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

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

    std::vector<std::string> environment() const {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry(*e);
            if (entry.starts_with("HOME=") || entry.starts_with("XDG_")) continue;
            env.push_back(entry);
        }
        env.push_back("HOME=" + folder.path().string());
        env.push_back("XDG_DATA_HOME=" + (folder / "data").string());
        env.push_back("XDG_CONFIG_HOME=" + (folder / "config").string());
        env.push_back("XDG_RUNTIME_DIR=" + (folder / "run").string());
        return env;
    }
};

pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    std::vector<char*> argv, envp;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) return -1;
    return pid;
}

void stop(pid_t pid) {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

// Watches the X server for a viewable client window of the given title.
class MapWatcher {
public:
    MapWatcher() : c_(xcb_connect(nullptr, nullptr)) {
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
        clientList_ = atom("_NET_CLIENT_LIST");
        netWmName_ = atom("_NET_WM_NAME");
        utf8_ = atom("UTF8_STRING");
    }
    ~MapWatcher() { xcb_disconnect(c_); }

    bool mapped(const std::string& title) {
        auto* reply = xcb_get_property_reply(
            c_, xcb_get_property(c_, 0, root_, clientList_, XCB_ATOM_WINDOW, 0, 1024), nullptr);
        if (!reply) return false;
        const auto* windows = static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
        const int count = xcb_get_property_value_length(reply) / 4;
        bool found = false;
        for (int i = 0; i < count && !found; ++i) {
            auto* name = xcb_get_property_reply(c_, xcb_get_property(c_, 0, windows[i], netWmName_, utf8_, 0, 64), nullptr);
            if (name) {
                const std::string text(static_cast<const char*>(xcb_get_property_value(name)),
                                       static_cast<std::size_t>(xcb_get_property_value_length(name)));
                if (text == title) {
                    auto* attributes = xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, windows[i]), nullptr);
                    found = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
                    std::free(attributes);
                }
                std::free(name);
            }
        }
        std::free(reply);
        return found;
    }

private:
    xcb_atom_t atom(const char* name) {
        auto* reply = xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, static_cast<std::uint16_t>(strlen(name)), name), nullptr);
        const xcb_atom_t a = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
        std::free(reply);
        return a;
    }

    xcb_connection_t* c_;
    xcb_window_t root_;
    xcb_atom_t clientList_, netWmName_, utf8_;
};

// Starts a program and returns the seconds until its window is mapped (the program keeps running).
std::optional<double> launchUntilMapped(const std::vector<std::string>& args, const std::vector<std::string>& env,
                                        pid_t& pid) {
    MapWatcher watcher;
    const auto start = SteadyClock::now();
    pid = spawn(args, env);
    if (pid < 0) return std::nullopt;
    while (!watcher.mapped("Brevalto")) {
        if (SteadyClock::now() - start > std::chrono::seconds(20)) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

double residentMiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with("VmRSS:")) return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

std::string program() { return std::string(BREVALTO_BINARY_DIR) + "/brevalto"; }

void BM_LaunchToMappedPanel(benchmark::State& state) {
    const Home home(state.range(0) != 0);
    const auto env = home.environment();
    double app = 0, baseline = 0;
    int runs = 0;
    for (auto _ : state) {
        pid_t pid = 0;
        const auto appTime = launchUntilMapped({program()}, env, pid);
        stop(pid);
        const auto baseTime = launchUntilMapped({selfPath, "--baseline-window"}, env, pid);
        stop(pid);
        if (!appTime || !baseTime) {
            state.SkipWithError("a window never mapped");
            return;
        }
        state.SetIterationTime(*appTime);
        app += *appTime;
        baseline += *baseTime;
        ++runs;
    }
    state.counters["app_ms"] = 1000 * app / runs;
    state.counters["baseline_ms"] = 1000 * baseline / runs;
    state.counters["ratio"] = app / baseline;
}
// Argument 0: the ordinary history; 1: the history at its limits.
BENCHMARK(BM_LaunchToMappedPanel)->Arg(0)->Arg(1)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

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

// The baseline program: a bare Qt window of the collapsed panel's size and title.
int baselineWindow(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Brevalto"));
    window.setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    window.setGeometry(841, 8, 238, 32);
    window.show();
    return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
    selfPath = fs::canonical("/proc/self/exe").string();
    if (argc > 1 && std::string(argv[1]) == "--baseline-window") return baselineWindow(argc, argv);
    return runBenchmarks<QApplication>(argc, argv);
}
