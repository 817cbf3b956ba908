// The clip store's heavy paths, each as a ratio to a plain baseline measured in the same run:
// - persist of a full history (200 text clips of mixed sizes) against writing the same index
//   bytes with one write(2);
// - a copy into a history at its limits (200 clips, 256 MiB of text): the time the GUI thread
//   spends handing the change over and applying the finished write, against one bare QTimer tick;
// - the writer's encoding and atomic write of that history against one write(2) of its bytes;
// - addImage of a 40-megapixel screenshot (decode, upright, PNG, digest, file and index writes,
//   until the completion runs) and its normalisation step alone, against encoding the same
//   decoded image once with QImageWriter.
#include "ClipCore/Clip.h"
#include "ClipCore/HistoryPolicy.h"
#include "Clipboard/ClipStore.h"
#include "Platform/AtomicFile.h"
#include "Imaging/ImageDecoding.h"
#include "QtWait.h"
#include "TestFolder.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImageWriter>
#include <QPainter>
#include <QTimer>

#include <benchmark/benchmark.h>

#include "BenchMain.h"

#include <chrono>
#include <fcntl.h>
#include <random>
#include <thread>
#include <unistd.h>

using namespace brevalto;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::vector<Clip> fullHistory() {
    // Mostly short snippets, some paragraphs, a few pasted files: about 6 MiB in all.
    static const std::size_t sizes[] = {12, 40, 80, 200, 600, 2'000, 8'000, 40'000, 300'000};
    static const std::size_t weights[] = {40, 40, 30, 30, 20, 15, 12, 8, 5};
    std::mt19937 rng(11);
    std::vector<Clip> clips;
    for (std::size_t kind = 0, n = 0; kind < std::size(sizes); ++kind) {
        for (std::size_t i = 0; i < weights[kind]; ++i, ++n) {
            std::string text;
            while (text.size() < sizes[kind]) text += "word" + std::to_string(rng() % 10'000) + (rng() % 9 ? " " : "\n\t\"");
            Clip clip(Clip::Kind::text, text, std::nullopt, hexDigest(text), static_cast<std::int64_t>(text.size()),
                      "org.example.Editor", 800'000'000.0 - static_cast<double>(n));
            clips.push_back(std::move(clip));
        }
    }
    return clips;
}

void plainWrite(const std::filesystem::path& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) std::abort();
    ::close(fd);
}

void BM_PersistFullHistory(benchmark::State& state) {
    TestFolder folder;
    ClipStore store(folder / "store");
    const std::vector<Clip> clips = fullHistory();
    const std::string bytes = encodeClips(clips);
    double persistTime = 0, baselineTime = 0, encodeTime = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        store.persist(clips);
        persistTime += secondsSince(start);
        start = Clock::now();
        plainWrite(folder / "plain.json", bytes);
        baselineTime += secondsSince(start);
        start = Clock::now();  // the JSON encoding alone, to show where persist spends its time
        benchmark::DoNotOptimize(encodeClips(clips));
        encodeTime += secondsSince(start);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["clips"] = static_cast<double>(clips.size());
    state.counters["index_MiB"] = static_cast<double>(bytes.size()) / (1024.0 * 1024.0);
    state.counters["persist_ms"] = persistTime / n * 1e3;
    state.counters["write_ms"] = baselineTime / n * 1e3;
    state.counters["of_which_json_ms"] = encodeTime / n * 1e3;
    state.counters["ratio"] = persistTime / baselineTime;
}

// 200 texts of about 1.27 MiB each: the whole 256 MiB that the history allows.
std::vector<Clip> historyAtItsLimits() {
    std::vector<Clip> clips;
    const std::size_t each = (HistoryPolicy::maximumBytes - 1024 * 1024) / HistoryPolicy::maximumItems;
    for (int i = 0; i < HistoryPolicy::maximumItems; ++i) {
        std::string text(each, 'a' + i % 26);
        for (std::size_t at = 0; at < text.size(); at += 97) text[at] = (at / 97) % 11 ? ' ' : '\n';
        text += std::to_string(i);
        Clip clip(Clip::Kind::text, text, std::nullopt, hexDigest(text), static_cast<std::int64_t>(text.size()),
                  "org.example.Editor", 800'000'000.0 - i);
        clips.push_back(std::move(clip));
    }
    return clips;
}

double timerTick() {
    bool fired = false;
    const auto start = Clock::now();
    QTimer::singleShot(0, [&] { fired = true; });
    while (!fired) QCoreApplication::processEvents();
    return secondsSince(start);
}

void BM_CopyIntoFullHistory(benchmark::State& state) {
    TestFolder folder;
    ClipStore store(folder / "store");
    store.persist(historyAtItsLimits());
    double handOver = 0, apply = 0, tick = 0, worst = 0;
    int copy = 0;
    for (auto _ : state) {
        const auto before = store.items().front().id;
        auto start = Clock::now();
        store.addText("copied text " + std::to_string(++copy), "org.example.Browser");
        const double handed = secondsSince(start);
        handOver += handed;
        // Events are handled one call at a time until the finished write is applied; only the
        // call that applies it counts, the waiting in between is the writer's.
        double applied = 0;
        while (store.items().front().id == before) {
            start = Clock::now();
            QCoreApplication::processEvents();
            applied = secondsSince(start);
            if (store.items().front().id == before) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        apply += applied;
        worst = std::max(worst, handed + applied);
        tick += timerTick();
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["history_MiB"] = static_cast<double>(HistoryPolicy::maximumBytes) / (1024.0 * 1024.0);
    state.counters["gui_ms"] = (handOver + apply) / n * 1e3;
    state.counters["gui_worst_ms"] = worst * 1e3;
    state.counters["hand_over_ms"] = handOver / n * 1e3;
    state.counters["apply_ms"] = apply / n * 1e3;
    state.counters["tick_ms"] = tick / n * 1e3;
    state.counters["ratio"] = (handOver + apply) / tick;
}

void BM_WriterFullHistory(benchmark::State& state) {
    TestFolder folder;
    const std::vector<Clip> clips = historyAtItsLimits();
    const std::string bytes = encodeClips(clips);
    double writerTime = 0, baselineTime = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        AtomicFile::write(folder / "history.json", [&](const AtomicFile::Sink& sink) { encodeClips(clips, sink); });
        writerTime += secondsSince(start);
        start = Clock::now();
        plainWrite(folder / "plain.json", bytes);
        ::sync();  // the atomic write's data reached the disk; give the plain one the same
        baselineTime += secondsSince(start);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["index_MiB"] = static_cast<double>(bytes.size()) / (1024.0 * 1024.0);
    state.counters["writer_ms"] = writerTime / n * 1e3;
    state.counters["write_ms"] = baselineTime / n * 1e3;
    state.counters["ratio"] = writerTime / baselineTime;
}

// An 8000 x 5000 desktop: flat panels, window frames and rows of glyph-like marks.
QImage screenshot() {
    QImage image(8000, 5000, QImage::Format_RGB32);
    image.fill(QColor(236, 238, 242));
    QPainter painter(&image);
    std::mt19937 rng(5);
    for (int w = 0; w < 12; ++w) {
        const QRect window(static_cast<int>(rng() % 6000), static_cast<int>(rng() % 3500), 1500 + static_cast<int>(rng() % 1500),
                           1000 + static_cast<int>(rng() % 1200));
        painter.fillRect(window, QColor(255, 255, 255));
        painter.fillRect(window.x(), window.y(), window.width(), 56, QColor(60 + w * 10, 70, 90));
        for (int y = window.y() + 80; y < window.bottom() - 30; y += 34) {
            for (int x = window.x() + 24; x < window.right() - 40; x += 14 + static_cast<int>(rng() % 6)) {
                if (rng() % 7 == 0) continue;  // word gaps
                painter.fillRect(x, y + static_cast<int>(rng() % 6), 9, 14 + static_cast<int>(rng() % 8), QColor(20, 20, 30));
            }
        }
    }
    painter.end();
    return image;
}

QByteArray pngBytes(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image)) std::abort();
    return bytes;
}

void BM_AddImageFortyMegapixels(benchmark::State& state) {
    raiseImageAllocationLimit();
    TestFolder folder;
    ClipStore store(folder / "store");
    const QImage image = screenshot();
    const QByteArray input = pngBytes(image);
    double addTime = 0, normaliseTime = 0, baselineTime = 0;
    for (auto _ : state) {
        bool done = false, stored = false;
        auto start = Clock::now();
        store.addImage(input, "org.example.Capture", 2.0, {}, [&](std::optional<Clip> clip) {
            done = true;
            stored = clip.has_value();
        });
        waitUntil([&] { return done; }, 600'000);
        addTime += secondsSince(start);
        if (!stored) state.SkipWithError("the image was not stored");

        start = Clock::now();
        benchmark::DoNotOptimize(normalizeImageToPNG(input));
        normaliseTime += secondsSince(start);

        start = Clock::now();
        benchmark::DoNotOptimize(pngBytes(image));
        baselineTime += secondsSince(start);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["input_MiB"] = static_cast<double>(input.size()) / (1024.0 * 1024.0);
    state.counters["addImage_ms"] = addTime / n * 1e3;
    state.counters["normalise_ms"] = normaliseTime / n * 1e3;
    state.counters["encode_ms"] = baselineTime / n * 1e3;
    state.counters["addImage_ratio"] = addTime / baselineTime;
    state.counters["normalise_ratio"] = normaliseTime / baselineTime;
}

}  // namespace

BENCHMARK(BM_PersistFullHistory)->Unit(benchmark::kMillisecond)->Iterations(50);
BENCHMARK(BM_CopyIntoFullHistory)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_WriterFullHistory)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_AddImageFortyMegapixels)->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char** argv) {
    return runBenchmarks<QCoreApplication>(argc, argv);
}
