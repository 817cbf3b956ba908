// The editor's export and colour commands on a 3840 x 2160 capture with 40 layers, as ratios to a
// baseline measured in the same run:
// - gif: "Before/after GIF…" (both frames rendered and encoded; the save dialog is cancelled) ÷
//   the PNG encode of the after frame alone;
// - sample: "Sample text color" over a 1000 x 400 selection ÷ one render of the document.
// Runs on the offscreen platform.
#include "Document/ScreenshotDocumentSession.h"
#include "Document/ScreenshotOutput.h"
#include "Document/ScreenshotRenderer.h"
#include "Editor/ScreenshotEditorController.h"
#include "Editor/View/ScreenshotEditorView.h"
#include "Platform/Defaults.h"

#include "Document/RenderSamples.h"
#include "FakePasteboard.h"
#include "ManualExecutor.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include "BenchMain.h"

#include <chrono>
#include <memory>

using namespace brevalto;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

class CancelledDialogs final : public ScreenshotOutput::Dialogs {
public:
    std::optional<QUrl> chooseSaveFile(ScreenshotOutput::ContentType, const QString&, const std::filesystem::path&) override {
        return std::nullopt;
    }
    bool confirmPrint(QPrinter&) override { return false; }
};

struct Fixture {
    Fixture() : files(samples::coordinateImage(3840, 2160)) {
        for (int i = 0; i < 40; ++i) {
            const ScreenshotLayerKind kind = i % 4 == 0   ? ScreenshotLayerKind::redact
                                             : i % 2 == 1 ? ScreenshotLayerKind::rectangle
                                                          : ScreenshotLayerKind::arrow;
            ScreenshotLayer layer = samples::layer(kind, QRectF(40 + i * 90, 60 + (i * 131) % 1900, 200, 140));
            if (kind == ScreenshotLayerKind::arrow) layer.points = {{0, 0}, {1, 1}, {0.5, 0.1}};
            files.document.layers.push_back(std::move(layer));
        }
        session = std::make_shared<ScreenshotDocumentSession>(files.document, files.folder, defaults, executor);
        // The editor shows the document before any command: its first render has arrived.
        session->scheduleRender();
        executor.runAll();
        ManualExecutor::deliver();
        view = std::make_unique<ScreenshotEditorView>(session, controller, [] {});
        view->setDialogs(dialogs);
    }
    samples::RenderedDocument files;
    Defaults defaults;
    ManualExecutor executor;
    FakePasteboard board;
    CancelledDialogs dialogs;
    ScreenshotEditorController controller{board, defaults};
    std::shared_ptr<ScreenshotDocumentSession> session;
    std::unique_ptr<ScreenshotEditorView> view;
};

void BM_BeforeAfterGIF(benchmark::State& state) {
    Fixture f;
    const QImage after = ScreenshotRenderer::render(f.session->document(), f.session->directory(), true, false);
    double png = 0, gif = 0;
    for (auto _ : state) {
        auto begin = Clock::now();
        benchmark::DoNotOptimize(
            ScreenshotOutput::encode(after, ScreenshotOutput::Format::png, Qt::white, true, 1, 0.9).size());
        png += secondsSince(begin);
        begin = Clock::now();
        f.view->saveBeforeAfterGIF();
        gif += secondsSince(begin);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["png_ms"] = png / n * 1e3;
    state.counters["gif_ms"] = gif / n * 1e3;
    state.counters["ratio"] = gif / png;
}

void BM_SampleTextColor(benchmark::State& state) {
    Fixture f;
    f.session->setSelectionRect(QRectF(1200, 800, 1000, 400));
    f.view->state().sampleMode = QStringLiteral("text");
    double render = 0, sample = 0;
    for (auto _ : state) {
        auto begin = Clock::now();
        benchmark::DoNotOptimize(
            ScreenshotRenderer::render(f.session->document(), f.session->directory(), false, false).width());
        render += secondsSince(begin);
        begin = Clock::now();
        f.view->sampleColor(true);
        sample += secondsSince(begin);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["render_ms"] = render / n * 1e3;
    state.counters["sample_ms"] = sample / n * 1e3;
    state.counters["ratio"] = sample / render;
}

}  // namespace

BENCHMARK(BM_BeforeAfterGIF)->Unit(benchmark::kMillisecond)->MinTime(5);
BENCHMARK(BM_SampleTextColor)->Unit(benchmark::kMillisecond)->MinTime(5);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return runBenchmarks<QApplication>(argc, argv);
}
