// A whole-screen capture by hot key, from the key press to its result, against a baseline started
// in the same run: this program started again as a plain capture tool that grabs the screen with
// one xcb GetImage, encodes one PNG with Qt and then either writes it to a file (--baseline-file)
// or offers it on the clipboard (--baseline-clipboard). Both run on the same screen, which shows
// a screenshot-like desktop drawn by this program started again with --desktop.
//   to_file:      Super+Shift+3 until the auto-saved PNG is in the folder, against the baseline
//                 started until its file is there;
//   to_clipboard: Super+Shift+3 until a PNG is readable from the clipboard (xclip), against the
//                 baseline started until the same.
// When the flameshot package is installed, the screenshot tool a Linux user would pick instead is
// measured in the same loop too: `flameshot full -p FOLDER` until its file is there, and
// `flameshot full -c` until its PNG is readable from the clipboard (peer_ms, ratio_to_peer).
// Figures are medians over the iterations. Run it as
//   tests/Support/with-x11 build/bench/ScreenshotHotKeyX11Bench
#include "BenchPrograms.h"
#include "Platform/AtomicFile.h"
#include "Platform/Defaults.h"
#include "Platform/ProcessStart.h"
#include "TestFolder.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QImage>
#include <QMimeData>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <fstream>
#include <cstring>
#include <set>

using namespace brevalto;
using namespace brevalto::bench;

namespace {

namespace fs = std::filesystem;

std::string selfPath;

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double msSince(SteadyClock::time_point start) {
    return std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
}

// The screen's pixels by one GetImage of the root, as a QImage.
QImage grabScreen() {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    xcb_get_image_reply_t* reply = xcb_get_image_reply(
        c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, 0, 0, screen->width_in_pixels,
                         screen->height_in_pixels, ~0u),
        nullptr);
    QImage image;
    if (reply) {
        image = QImage(xcb_get_image_data(reply), screen->width_in_pixels, screen->height_in_pixels,
                       QImage::Format_RGB32)
                    .copy();
        std::free(reply);
    }
    xcb_disconnect(c);
    return image;
}

QByteArray encodePNG(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

int baselineFile(const std::string& path) {
    const QByteArray png = encodePNG(grabScreen());
    const std::string staging = path + ".part";
    std::ofstream(staging, std::ios::binary).write(png.constData(), png.size());
    fs::rename(staging, path);
    return png.isEmpty() ? 1 : 0;
}

int baselineClipboard(int argc, char** argv) {
    QApplication app(argc, argv);
    auto* data = new QMimeData;
    data->setData(QStringLiteral("image/png"), encodePNG(grabScreen()));
    QGuiApplication::clipboard()->setMimeData(data);
    // Serves the clipboard until someone else takes it.
    QObject::connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, &app, [] {
        if (!QGuiApplication::clipboard()->ownsClipboard()) QCoreApplication::quit();
    });
    return QApplication::exec();
}

QString run(const QString& program, const QStringList& args) {
    QProcess process;
    process.start(program, args);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

bool clipboardHasPNG() {
    if (!run(QStringLiteral("xclip"), {"-selection", "clipboard", "-o", "-t", "TARGETS"}).contains("image/png"))
        return false;
    QProcess read;
    read.start(QStringLiteral("xclip"), {"-selection", "clipboard", "-o", "-t", "image/png"});
    read.waitForFinished(10000);
    return read.readAllStandardOutput().startsWith("\x89PNG");
}

std::set<fs::path> filesIn(const fs::path& folder) {
    std::set<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == ".png") files.insert(entry.path());
    return files;
}

// Whether the folder holds a PNG written to its end (the tool writes in place, not by renaming).
bool wholePNGIn(const fs::path& folder) {
    for (const auto& file : filesIn(folder)) {
        std::ifstream in(file, std::ios::binary | std::ios::ate);
        if (!in || in.tellg() < 12) continue;
        in.seekg(-8, std::ios::end);
        char end[8] = {};
        if (in.read(end, 8) && std::memcmp(end, "IEND\xae\x42\x60\x82", 8) == 0) return true;
    }
    return false;
}

bool hasPeer() { return !QStandardPaths::findExecutable(QStringLiteral("flameshot")).isEmpty(); }

// Stops the screenshot tool's own processes on this display (its clipboard offer outlives the
// command that made it), by the ids /proc gives: only those started here have our display.
void stopPeers() {
    const std::string display = std::string("DISPLAY=") + (std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "");
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream comm(entry.path() / "comm");
        std::string command;
        if (!std::getline(comm, command) || command != "flameshot") continue;
        std::ifstream environ(entry.path() / "environ", std::ios::binary);
        std::string variable;
        bool ours = false;
        while (std::getline(environ, variable, '\0')) ours = ours || variable == display;
        if (ours) stop(static_cast<pid_t>(std::stoi(name)));
    }
}


// A desktop-like picture: a top bar, windows with text, a photograph-like gradient.
class Desktop : public QWidget {
public:
    Desktop() {
        setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnBottomHint);
        setGeometry(QGuiApplication::primaryScreen()->geometry());
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(238, 240, 244));
        QLinearGradient gradient(0, 0, 900, 600);
        gradient.setColorAt(0, QColor(40, 90, 160));
        gradient.setColorAt(1, QColor(220, 140, 60));
        painter.fillRect(980, 120, 880, 600, gradient);
        painter.fillRect(0, 0, width(), 36, QColor(32, 34, 40));
        painter.setPen(Qt::black);
        for (int line = 0; line < 40; ++line)
            painter.drawText(60, 80 + line * 24,
                             QStringLiteral("Line %1 · the quick brown fox jumps over the lazy dog · 0123456789").arg(line));
    }
};

// The desktop picture in a process of its own, which repaints whatever is uncovered at once, as
// the programs under a real desktop's panels do.
struct DesktopProgram {
    pid_t pid = 0;
    DesktopProgram() {
        TestFolder home;
        pid = spawn({selfPath, "--desktop"}, homeEnvironment(home));
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    ~DesktopProgram() {
        if (pid > 0) stop(pid);
    }
};

struct Session {
    TestFolder home;
    fs::path shots;
    pid_t app = 0;

    explicit Session(bool copy) : shots(home / "shots") {
        AtomicFile::createFolder(home / "run");
        AtomicFile::createFolder(shots);
        AtomicFile::createFolder(home / "config" / "brevalto");
        Defaults defaults(home / "config" / "brevalto" / "defaults.json");
        defaults.set("capture.autoSave", true);
        defaults.set("capture.autoCopy", copy);
        defaults.set("capture.folder", shots.string());
        defaults.setData("shortcut.screen", R"({"keyCode":20,"modifiers":768})");  // Super+Shift+3
    }
    ~Session() {
        if (app > 0) stop(app);
    }
    bool start() { return launchUntilMapped({program()}, homeEnvironment(home), app).has_value(); }
};

constexpr int kShots = 8;

void report(benchmark::State& state, const std::vector<double>& app, const std::vector<double>& baseline,
            const std::vector<double>& peer) {
    state.counters["app_ms"] = median(app);
    state.counters["baseline_ms"] = median(baseline);
    state.counters["ratio"] = median(app) / median(baseline);
    if (peer.empty()) return;
    state.counters["peer_ms"] = median(peer);
    state.counters["ratio_to_peer"] = median(app) / median(peer);
}

void BM_HotKeyToFile(benchmark::State& state) {
    DesktopProgram desktop;
    Session session(false);
    if (!session.start()) return state.SkipWithError("the app never mapped");
    std::this_thread::sleep_for(std::chrono::seconds(2));
    std::vector<double> app, baseline, peer;
    for (auto _ : state) {
        for (int i = 0; i < kShots; ++i) {
            QCoreApplication::processEvents();
            const auto before = filesIn(session.shots);
            auto start = SteadyClock::now();
            run(QStringLiteral("xdotool"), {"key", "super+shift+3"});
            while (filesIn(session.shots).size() == before.size()) {
                if (msSince(start) > 20000) return state.SkipWithError("no file was saved");
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
            app.push_back(msSince(start));
            std::this_thread::sleep_for(std::chrono::milliseconds(600));  // the floating thumbnail settles

            const fs::path file = session.home / ("baseline" + std::to_string(i) + ".png");
            start = SteadyClock::now();
            const pid_t pid = spawn({selfPath, "--baseline-file", file.string()}, homeEnvironment(session.home));
            ::waitpid(pid, nullptr, 0);
            if (!fs::exists(file)) return state.SkipWithError("the baseline wrote nothing");
            baseline.push_back(msSince(start));

            if (!hasPeer()) continue;
            const fs::path folder = session.home / ("peer" + std::to_string(i));
            fs::create_directories(folder);
            start = SteadyClock::now();
            const pid_t tool = spawn({"/usr/bin/env", "flameshot", "full", "-p", folder.string()}, homeEnvironment(session.home));
            while (!wholePNGIn(folder)) {
                if (msSince(start) > 20000) return state.SkipWithError("the screenshot tool saved nothing");
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
            peer.push_back(msSince(start));
            ::waitpid(tool, nullptr, 0);
            stopPeers();
        }
    }
    report(state, app, baseline, peer);
}

void BM_HotKeyToClipboard(benchmark::State& state) {
    DesktopProgram desktop;
    Session session(true);
    if (!session.start()) return state.SkipWithError("the app never mapped");
    std::this_thread::sleep_for(std::chrono::seconds(2));
    std::vector<double> app, baseline, peer;
    auto clearClipboard = [] {
        QProcess copy;
        copy.start(QStringLiteral("xclip"), {"-selection", "clipboard", "-i"});
        copy.write("x");
        copy.closeWriteChannel();
        copy.waitForFinished(5000);
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
    };
    for (auto _ : state) {
        for (int i = 0; i < kShots; ++i) {
            clearClipboard();
            auto start = SteadyClock::now();
            run(QStringLiteral("xdotool"), {"key", "super+shift+3"});
            while (!clipboardHasPNG()) {
                if (msSince(start) > 20000) return state.SkipWithError("nothing reached the clipboard");
            }
            app.push_back(msSince(start));
            std::this_thread::sleep_for(std::chrono::milliseconds(600));

            clearClipboard();
            start = SteadyClock::now();
            const pid_t pid = spawn({selfPath, "--baseline-clipboard"}, homeEnvironment(session.home));
            while (!clipboardHasPNG()) {
                if (msSince(start) > 20000) return state.SkipWithError("the baseline offered nothing");
            }
            baseline.push_back(msSince(start));
            stop(pid);

            if (!hasPeer()) continue;
            clearClipboard();
            start = SteadyClock::now();
            const pid_t tool = spawn({"/usr/bin/env", "flameshot", "full", "-c"}, homeEnvironment(session.home));
            while (!clipboardHasPNG()) {
                if (msSince(start) > 20000) return state.SkipWithError("the screenshot tool offered nothing");
            }
            peer.push_back(msSince(start));
            ::waitpid(tool, nullptr, 0);
            stopPeers();
        }
    }
    report(state, app, baseline, peer);
}

BENCHMARK(BM_HotKeyToFile)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_HotKeyToClipboard)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
    startProcess();
    selfPath = fs::canonical("/proc/self/exe").string();
    if (argc > 2 && std::string(argv[1]) == "--baseline-file") return baselineFile(argv[2]);
    if (argc > 1 && std::string(argv[1]) == "--baseline-clipboard") return baselineClipboard(argc, argv);
    if (argc > 1 && std::string(argv[1]) == "--desktop") {
        QApplication app(argc, argv);
        Desktop desktop;
        desktop.show();
        return QApplication::exec();
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
