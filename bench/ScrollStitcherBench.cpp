// Scrolling capture, each figure as a ratio to a baseline measured in the same run:
// - the displacement search for one pair of 1920-wide frames (both signatures built from the
//   frames, then the search), against one plain pass over both frames' bytes, at three heights
//   to show the cost grows linearly with the height;
// - the search for pairs of frames of C source in the left part of a wide view (where the scores
//   alone cannot decide and the rows are tried at every shift), against the search for pairs of
//   the text document of the same size;
// - a whole stitch of 60 grabs of a 1280 x 800 viewport to the composed image, against one plain
//   pass over the 60 grabs' bytes (each grab copied out of the page in both), with the peak
//   resident memory of the process.
#include "Capture/ScrollFrameSignature.h"
#include "Capture/ScrollStitcher.h"

#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include "BenchMain.h"
#include "ScrollPage.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>
#include <utility>
#include <vector>
#include <ctime>
#include <sys/resource.h>

using namespace brevalto;

namespace {

// CPU time of this thread: eight builds share the machine, and time spent preempted is not the
// code's. The stitch's file writes also wait for the disk, which only wall time shows.
struct Clock {
    using time_point = double;
    static double now() {
        timespec t{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
    }
};
using Wall = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return Clock::now() - start; }

double peakResidentMiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

// A document of text lines: runs of dark "glyph" pixels on white, 20 rows a line, with a
// coloured picture every few screens.
QImage textPage(int width, int height) {
    QImage page(width, height, QImage::Format_RGB32);
    page.fill(qRgb(252, 252, 252));
    std::mt19937 rng(5);
    for (int line = 6; line + 13 <= height; line += 20) {
        if (line % 900 < 20) {
            for (int y = line; y < std::min(line + 200, height); ++y) {
                auto* row = reinterpret_cast<QRgb*>(page.scanLine(y));
                for (int x = width / 4; x < width / 2; ++x) row[x] = qRgb((x * 3 + y) & 255, (y * 2) & 255, (x ^ y) & 255);
            }
            line += 200;
            continue;
        }
        for (int x = 10 + static_cast<int>(rng() % 30); x < width - 60;) {
            const int word = 8 + static_cast<int>(rng() % 60);
            for (int y = line; y < line + 13; ++y) {
                auto* row = reinterpret_cast<QRgb*>(page.scanLine(y));
                for (int i = x; i < x + word; ++i)
                    if (rng() % 3) row[i] = qRgb(20, 20, 40);
            }
            x += word + 7;
        }
    }
    return page;
}

// Every byte of the image read once, eight at a time.
std::uint64_t plainPass(const QImage& image) {
    std::uint64_t sum = 0;
    const auto* bytes = image.constBits();
    for (qsizetype i = 0, n = image.sizeInBytes() / 8; i < n; ++i) {
        std::uint64_t word;
        std::memcpy(&word, bytes + i * 8, 8);
        sum += word;
    }
    return sum;
}

void BM_DisplacementSearch(benchmark::State& state) {
    const int height = static_cast<int>(state.range(0));
    const QImage page = textPage(1920, height + 300);
    const QImage previous = page.copy(0, 0, 1920, height), current = page.copy(0, 137, 1920, height);
    const auto check = ScrollStitcher::findDisplacement(ScrollFrameSignature(previous), ScrollFrameSignature(current));
    if (!check || check->displacement != 137) return state.SkipWithError("the search missed the shift");

    double pair = 0, search = 0, plain = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        const ScrollFrameSignature a(previous), b(current);
        const auto found = ScrollStitcher::findDisplacement(a, b);
        pair += secondsSince(start);
        benchmark::DoNotOptimize(found);
        start = Clock::now();
        benchmark::DoNotOptimize(ScrollStitcher::findDisplacement(a, b));
        search += secondsSince(start);
        start = Clock::now();
        benchmark::DoNotOptimize(plainPass(previous) + plainPass(current));
        plain += secondsSince(start);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["pair_ms"] = pair / n * 1e3;
    state.counters["search_only_ms"] = search / n * 1e3;
    state.counters["plain_pass_ms"] = plain / n * 1e3;
    state.counters["ratio"] = pair / plain;
}

void BM_CodeSearch(benchmark::State& state) {
    constexpr int kWidth = 596, kHeight = 581, kLine = 13, kStep = 319;  // the live step of this viewport
    const QImage code = scrollCodePageImage(kWidth, 2 * kHeight + kLine, kLine), text = textPage(kWidth, 2 * kHeight + kLine);
    std::vector<std::pair<ScrollFrameSignature, ScrollFrameSignature>> codePairs, textPairs;
    for (int offset = 0; offset < kLine; ++offset)
        for (const QImage* page : {&code, &text})
            (page == &code ? codePairs : textPairs)
                .emplace_back(ScrollFrameSignature(page->copy(0, offset, kWidth, kHeight)),
                              ScrollFrameSignature(page->copy(0, offset + kStep, kWidth, kHeight)));
    double codeSeconds = 0, textSeconds = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        for (const auto& [a, b] : codePairs) {
            const auto found = ScrollStitcher::findDisplacement(a, b);
            if (!found || found->displacement != kStep) return state.SkipWithError("the search missed a shift of code");
        }
        codeSeconds += secondsSince(start);
        start = Clock::now();
        for (const auto& [a, b] : textPairs) benchmark::DoNotOptimize(ScrollStitcher::findDisplacement(a, b));
        textSeconds += secondsSince(start);
    }
    const double pairs = static_cast<double>(state.iterations()) * kLine;
    state.counters["code_pair_ms"] = codeSeconds / pairs * 1e3;
    state.counters["text_pair_ms"] = textSeconds / pairs * 1e3;
    state.counters["ratio"] = codeSeconds / textSeconds;
}

void BM_StitchSixtyFrames(benchmark::State& state) {
    constexpr int kWidth = 1280, kHeight = 800, kFrames = 60, kStep = 130;
    const QImage page = textPage(kWidth, kHeight + (kFrames - 1) * kStep);
    // Each grab is made when it is taken, as a capture does, and dropped after its append.
    const auto grab = [&](int i) { return page.copy(0, i * kStep, kWidth, kHeight); };
    const double residentBefore = peakResidentMiB();

    double stitch = 0, wall = 0, plain = 0;
    for (auto _ : state) {
        QTemporaryDir dir;
        const auto wallStart = Wall::now();
        auto start = Clock::now();
        {
            ScrollStitcher stitcher(dir.path().toStdString(), {512 << 20, 1024 << 20, 100'000});
            for (int i = 0; i < kFrames; ++i) {
                const auto kind = stitcher.append(grab(i)).kind;
                if (kind != ScrollStitcher::Outcome::Kind::first && kind != ScrollStitcher::Outcome::Kind::accepted)
                    return state.SkipWithError(stitcher.status().c_str());
            }
            const QImage composed = stitcher.compose();
            if (composed.height() != page.height()) return state.SkipWithError("wrong output height");
            benchmark::DoNotOptimize(composed.constBits());
        }
        stitch += secondsSince(start);
        wall += std::chrono::duration<double>(Wall::now() - wallStart).count();
        start = Clock::now();
        std::uint64_t sum = 0;
        for (int i = 0; i < kFrames; ++i) sum += plainPass(grab(i));
        benchmark::DoNotOptimize(sum);
        plain += secondsSince(start);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["stitch_ms"] = stitch / n * 1e3;
    state.counters["per_frame_ms"] = stitch / n / kFrames * 1e3;
    state.counters["stitch_wall_ms"] = wall / n * 1e3;  // with the waits for the disk
    state.counters["plain_pass_ms"] = plain / n * 1e3;
    state.counters["ratio"] = stitch / plain;
    state.counters["output_MiB"] = static_cast<double>(page.sizeInBytes()) / (1 << 20);
    state.counters["peak_rss_before_MiB"] = residentBefore;  // the page the grabs are taken from
    state.counters["peak_rss_MiB"] = peakResidentMiB();
}

}  // namespace

BENCHMARK(BM_DisplacementSearch)->Arg(540)->Arg(1080)->Arg(2160)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_CodeSearch)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_StitchSixtyFrames)->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char** argv) {
    return runBenchmarks<QGuiApplication>(argc, argv);
}
