// Screenshot documents, each figure as a ratio to a plain baseline measured in the same run:
// - validation of a document at every count limit (256 assets, 512 layers of 20,000 points and
//   over 30,000 bytes of text each; /1: text of combining accents) against copying its layers;
// - decoding an index close to its 16 MiB bound against parsing the same bytes as bare JSON;
// - the distinct-mode average of a 4K region against summing its bytes.
#include "Document/DocumentValidation.h"
#include "Document/ScreenshotColor.h"
#include "Document/ScreenshotDocument.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include "BenchMain.h"
#include <nlohmann/json.hpp>

#include <chrono>
#include <random>

using namespace brevalto;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Text of plain words, or of letters with combining accents (more code points than characters,
// so the character count needs the cluster boundaries).
ScreenshotDocument documentWith(std::size_t layers, std::size_t points, std::size_t textLength,
                                bool combining = false) {
    std::mt19937 rng(3);
    ScreenshotDocument d;
    d.historyID = Uuid::random();
    d.canvas = QSizeF(8000, 8000);
    d.sourceScale = 2;
    for (int i = 0; i < 256; ++i) {
        const Uuid id = Uuid::random();
        d.assets.push_back({id, id.string() + ".png", 1000, 1000});
    }
    d.sourceAssetID = d.assets.front().id;
    std::string text;
    while (text.size() < textLength) text += combining ? "e\xCC\x81" : (rng() % 5 ? "wörd " : "👋🏽 ");
    for (std::size_t i = 0; i < layers; ++i) {
        ScreenshotLayer layer;
        layer.kind = ScreenshotLayerKind::freehand;
        layer.frame = QRectF(10, 10, 500, 300);
        layer.text = text;
        for (std::size_t p = 0; p < points; ++p)
            layer.points.emplace_back(static_cast<double>(rng() % 2000) / 100 - 10, static_cast<double>(rng() % 100) / 100);
        d.layers.push_back(std::move(layer));
    }
    return d;
}

void BM_ValidateAtTheLimits(benchmark::State& state) {
    const ScreenshotDocument document = documentWith(512, 20'000, state.range(0) ? 90'000 : 34'000, state.range(0) != 0);
    double validateTime = 0, baselineTime = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        validateDocument(document);
        validateTime += secondsSince(start);
        start = Clock::now();
        // Copies share their layers, so the baseline copies the layers by value.
        std::vector<ScreenshotLayer> copy(document.layers.begin(), document.layers.end());
        benchmark::DoNotOptimize(copy);
        baselineTime += secondsSince(start);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["validate_ms"] = validateTime / n * 1e3;
    state.counters["copy_ms"] = baselineTime / n * 1e3;
    state.counters["ratio"] = validateTime / baselineTime;
}

void BM_DecodeLargestIndex(benchmark::State& state) {
    const std::string bytes = documentWith(512, 1500, 200).encode();
    double decodeTime = 0, baselineTime = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        benchmark::DoNotOptimize(ScreenshotDocument::decode(bytes));
        decodeTime += secondsSince(start);
        start = Clock::now();
        benchmark::DoNotOptimize(nlohmann::json::parse(bytes));
        baselineTime += secondsSince(start);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["index_MiB"] = static_cast<double>(bytes.size()) / (1024.0 * 1024.0);
    state.counters["decode_ms"] = decodeTime / n * 1e3;
    state.counters["parse_ms"] = baselineTime / n * 1e3;
    state.counters["ratio"] = decodeTime / baselineTime;
}

void BM_DistinctAverage4K(benchmark::State& state) {
    ScreenshotColor::Pixels pixels{3840, 2160, {}};
    pixels.bytes.resize(3840u * 2160u * 4u);
    std::mt19937 rng(9);
    for (std::size_t i = 0; i < pixels.bytes.size(); i += 4) {
        const auto v = static_cast<std::uint8_t>(rng() % 8 ? 240 : 20);  // text on a light background
        pixels.bytes[i] = pixels.bytes[i + 1] = pixels.bytes[i + 2] = v;
        pixels.bytes[i + 3] = 255;
    }
    double averageTime = 0, baselineTime = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        benchmark::DoNotOptimize(pixels.averageColor(true, QRectF(0, 0, 3840, 2160)));
        averageTime += secondsSince(start);
        start = Clock::now();
        std::uint64_t sum = 0;
        for (std::uint8_t b : pixels.bytes) sum += b;
        benchmark::DoNotOptimize(sum);
        baselineTime += secondsSince(start);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["average_ms"] = averageTime / n * 1e3;
    state.counters["sum_ms"] = baselineTime / n * 1e3;
    state.counters["ratio"] = averageTime / baselineTime;
}

}  // namespace

BENCHMARK(BM_ValidateAtTheLimits)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_DecodeLargestIndex)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_DistinctAverage4K)->Unit(benchmark::kMillisecond)->Iterations(10);

int main(int argc, char** argv) {
    return runBenchmarks<QCoreApplication>(argc, argv);
}
