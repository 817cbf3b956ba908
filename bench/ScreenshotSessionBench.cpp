// The editing session, each figure as a ratio to a plain baseline measured in the same run:
// - smart selection over a 4-megapixel image (2000 x 2000, the fill reaching nearly every pixel)
//   against one plain pass that sums the image's bytes;
// - an undo and a redo on a document of 200 layers, the session's own work apart from the save
//   (reported beside it), against copying those 200 layers by value.
#include "Document/ScreenshotDocumentSession.h"
#include "Document/SmartSelection.h"
#include "Platform/Defaults.h"

#include "Document/RenderSamples.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include "BenchMain.h"

#include <chrono>
#include <random>

using namespace brevalto;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Background work is not run: the figures are the session's own.
class DiscardingExecutor final : public TaskExecutor {
public:
    void start(std::function<void()>) override {}
};

void BM_SmartSelection4MP(benchmark::State& state) {
    ScreenshotColor::Pixels pixels;
    pixels.width = 2000, pixels.height = 2000;
    pixels.bytes.assign(2000u * 2000u * 4u, 255);
    std::mt19937 rng(5);
    // Light noise everywhere and a few dark blocks, so the fill covers most of the image and
    // every mean is computed from varied pixels.
    for (std::size_t i = 0; i < pixels.bytes.size(); i += 4)
        for (int c = 0; c < 3; ++c) pixels.bytes[i + c] = static_cast<std::uint8_t>(240 + rng() % 16);
    for (int block = 0; block < 20; ++block) {
        const int bx = static_cast<int>(rng() % 1900), by = static_cast<int>(rng() % 1900);
        for (int y = by; y < by + 80; ++y)
            for (int x = bx; x < bx + 80; ++x) std::fill_n(pixels.bytes.begin() + (y * 2000 + x) * 4, 3, 0);
    }
    double fillTime = 0, passTime = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        benchmark::DoNotOptimize(findSmartSelection(pixels, 1, 1, 0.12));
        fillTime += secondsSince(start);
        start = Clock::now();
        std::uint64_t sum = 0;
        for (std::uint8_t b : pixels.bytes) sum += b;
        benchmark::DoNotOptimize(sum);
        passTime += secondsSince(start);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["fill_ms"] = fillTime / n * 1e3;
    state.counters["pass_ms"] = passTime / n * 1e3;
    state.counters["ratio"] = fillTime / passTime;
}

void BM_UndoRedo200Layers(benchmark::State& state) {
    samples::RenderedDocument files(samples::solid(1600, 1000, Qt::white));
    std::mt19937 rng(9);
    for (int i = 0; i < 199; ++i) {
        ScreenshotLayer layer = samples::layer(i % 2 ? ScreenshotLayerKind::freehand : ScreenshotLayerKind::text,
                                               QRectF(i, i, 300, 120));
        if (i % 2) {
            for (int p = 0; p < 400; ++p) layer.points.emplace_back(rng() % 1000 / 1000.0, rng() % 1000 / 1000.0);
        } else {
            layer.text = "Label number " + std::to_string(i) + ", with a few more words to wrap.";
        }
        files.document.layers.push_back(std::move(layer));
    }
    Defaults defaults;
    DiscardingExecutor executor;
    double saveTime = 0;
    ScreenshotDocumentSession session(files.document, files.folder, defaults, executor,
                                      [&](const ScreenshotDocument& d, const std::filesystem::path& folder) {
                                          const auto start = Clock::now();
                                          ScreenshotDocument::save(d, folder);
                                          saveTime += secondsSince(start);
                                      });
    session.edit([](ScreenshotDocument& d) { d.layers[5].frame.translate(3, 3); });
    if (session.document().layers.size() != 200) state.SkipWithError("the document should hold 200 layers");

    double undoTime = 0, redoTime = 0, copyTime = 0, undoSave = 0, redoSave = 0;
    for (auto _ : state) {
        double before = saveTime;
        auto start = Clock::now();
        session.undo();
        undoTime += secondsSince(start);
        undoSave += saveTime - before;
        before = saveTime;
        start = Clock::now();
        session.redo();
        redoTime += secondsSince(start);
        redoSave += saveTime - before;

        start = Clock::now();
        std::vector<ScreenshotLayer> copy(session.document().layers.begin(), session.document().layers.end());
        benchmark::DoNotOptimize(copy);
        copyTime += secondsSince(start);
    }
    if (!session.redoStack().empty()) state.SkipWithError("undo and redo should pair up");
    const double n = static_cast<double>(state.iterations());
    state.counters["undo_ms"] = (undoTime - undoSave) / n * 1e3;
    state.counters["redo_ms"] = (redoTime - redoSave) / n * 1e3;
    state.counters["save_ms"] = (undoSave + redoSave) / (2 * n) * 1e3;
    state.counters["copy_ms"] = copyTime / n * 1e3;
    state.counters["undo_ratio"] = (undoTime - undoSave) / copyTime;
    state.counters["redo_ratio"] = (redoTime - redoSave) / copyTime;
}

}  // namespace

BENCHMARK(BM_SmartSelection4MP)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UndoRedo200Layers)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) { return runBenchmarks<QCoreApplication>(argc, argv); }
