// How long a copy made in another application takes to become a clip: xclip copies (a text, or a
// 1920x1080 screenshot-like PNG near 2 MB), and the time runs from starting xclip until the store holds
// the new clip. The baseline, measured in the same run after each copy, is the time xclip itself
// needs to read the same content back. Figures are medians over 50 copies; to_store is the part
// until the monitor hands the content to the store. Run it as
//   tests/Support/with-x11 build/bench/ClipboardLatencyX11Bench
#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
#include "FakePasteboardOwner.h"
#include "Platform/Defaults.h"
#include "Platform/Linux/QtPasteboard.h"
#include "Platform/Linux/X11Apps.h"
#include "QtWait.h"
#include "TestFolder.h"

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include "BenchMain.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

using namespace brevalto;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int copies = 50;

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// A desktop-like picture: panels, text lines and a photograph, different per copy.
QByteArray screenshotPNG(int variant) {
    QImage image(1920, 1080, QImage::Format_RGB32);
    image.fill(QColor(238, 240, 244));
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 900, 600);
    gradient.setColorAt(0, QColor(40, 90, 160));
    gradient.setColorAt(1, QColor(220, 140, 60));
    painter.fillRect(980, 120, 880, 600, gradient);
    painter.fillRect(0, 0, 1920, 36, QColor(32, 34, 40));
    // A photograph in a window (grain over the gradient), which brings the file near 2 MB
    // as a real screenshot of a desktop with pictures on it.
    std::uint32_t seed = 0x9e3779b9u + static_cast<std::uint32_t>(variant);
    for (int y = 120; y < 1040; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 980; x < 1860; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int grain = int(seed >> 26) - 32;
            const QRgb p = row[x];
            row[x] = qRgb(std::clamp(qRed(p) + grain, 0, 255), std::clamp(qGreen(p) + grain, 0, 255),
                          std::clamp(qBlue(p) + grain, 0, 255));
        }
    }
    painter.setPen(Qt::black);
    for (int line = 0; line < 40; ++line) {
        painter.drawText(60, 80 + line * 24,
                         QStringLiteral("Copy %1 · line %2 · the quick brown fox jumps over the lazy dog").arg(variant).arg(line));
    }
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

void copyToClipLatency(benchmark::State& state, const QString& target, const std::function<QByteArray(int)>& content) {
    TestFolder folder;
    TestFolder history;
    ClipStore store(history.path());
    QtPasteboard board;
    X11Apps apps;
    Defaults defaults;
    ClipboardMonitor monitor(store, board, apps, defaults);
    monitor.start();

    std::vector<QString> files;
    double bytes = 0;
    for (int i = 0; i < copies; ++i) {
        const QByteArray data = content(i);
        bytes += static_cast<double>(data.size());
        files.push_back(QString::fromStdString((folder / ("copy" + std::to_string(i))).string()));
        QFile file(files.back());
        if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size()) {
            state.SkipWithError("cannot write the input");
            return;
        }
    }

    std::vector<double> latencies;
    std::vector<double> baselines;
    std::vector<double> handedOver;
    int i = 0;
    for (auto _ : state) {
        const std::size_t before = store.items().size();
        const auto start = Clock::now();
        if (!Xclip::copyFile(files[static_cast<std::size_t>(i % copies)], target)) {
            state.SkipWithError("xclip could not copy");
            break;
        }
        // The monitor's own part ends when the content is handed to the store (an image is then
        // normalised in the background; a text is stored at once).
        double handed = 0;
        const bool stored = waitUntil(
            [&] {
                if (handed == 0 && (store.pendingImages() > 0 || store.items().size() > before)) {
                    handed = std::chrono::duration<double>(Clock::now() - start).count();
                }
                return store.items().size() > before;
            },
            10000);
        handedOver.push_back(handed * 1e3);
        const double latency = std::chrono::duration<double>(Clock::now() - start).count();
        if (!stored) {
            state.SkipWithError("the copy was not recorded");
            break;
        }
        state.SetIterationTime(latency);
        latencies.push_back(latency * 1e3);

        const auto readStart = Clock::now();
        const bool readBack = Xclip::paste(target).has_value();
        baselines.push_back(std::chrono::duration<double>(Clock::now() - readStart).count() * 1e3);
        if (!readBack) {
            state.SkipWithError("xclip could not read back");
            break;
        }
        ++i;
    }
    const double clip = median(latencies);
    const double baseline = median(baselines);
    state.counters["copy_to_clip_median_ms"] = clip;
    state.counters["xclip_read_median_ms"] = baseline;
    state.counters["to_store_median_ms"] = median(handedOver);
    state.counters["ratio"] = baseline > 0 ? clip / baseline : 0;
    state.counters["input_KiB"] = bytes / copies / 1024.0;
}

void BM_CopyToClip_Text(benchmark::State& state) {
    copyToClipLatency(state, QStringLiteral("UTF8_STRING"), [](int i) {
        return QStringLiteral("Copied line %1: https://example.org/notes?id=%1 — ready to paste").arg(i).toUtf8();
    });
}

void BM_CopyToClip_PNG_1920x1080(benchmark::State& state) {
    copyToClipLatency(state, QStringLiteral("image/png"), screenshotPNG);
}

}  // namespace

BENCHMARK(BM_CopyToClip_Text)->Unit(benchmark::kMillisecond)->Iterations(copies)->UseManualTime();
BENCHMARK(BM_CopyToClip_PNG_1920x1080)->Unit(benchmark::kMillisecond)->Iterations(copies)->UseManualTime();

int main(int argc, char** argv) {
    return runBenchmarks<QApplication>(argc, argv);
}
