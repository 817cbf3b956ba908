// The context bar over the editor canvas, on a 3840 x 2160 capture with 40 layers and a selected
// 1920 x 1080 blur layer, in the same run:
// - step: 200 steps of the Strength slider in one drag, GUI-thread time per step ÷ one full
//   render of the document;
// - preview: from the last step until the canvas has painted the render showing it ÷ one render;
// - hover: 400 pointer moves over the canvas with the bar shown ÷ the same with it hidden.
// Runs on the offscreen platform; renders run on the app's background pool.
#include "Editor/View/ScreenshotContextBar.h"
#include "Editor/View/ScreenshotEditorView.h"

#include <benchmark/benchmark.h>

#include "BenchMain.h"
#include "EditorBench.h"

using namespace brevalto;
using namespace brevalto::bench;

namespace {

struct BarFixture {
    BarFixture() : f({blurLayer()}) {}
    static ScreenshotLayer blurLayer() {
        ScreenshotLayer blur = samples::layer(ScreenshotLayerKind::blur, QRectF(960, 540, 1920, 1080));
        blur.value = 12;
        return blur;
    }
    bool open() {
        if (!f.waitForPreview()) return false;
        f.session->setSelectedID(f.session->document().layers.back().id);
        view = std::make_unique<ScreenshotEditorView>(f.session, f.controller, [] {});
        view->resize(1052, 760);
        view->show();
        QApplication::processEvents();
        return view->contextBar()->isVisible();
    }
    EditorDocument f;
    std::unique_ptr<ScreenshotEditorView> view;
};

void BM_StrengthSlider(benchmark::State& state) {
    BarFixture bar;
    if (!bar.open()) {
        state.SkipWithError("the bar should show for the selected blur layer");
        return;
    }
    auto* strength = bar.view->contextBar()->findChild<QSlider*>(QStringLiteral("contextSlider"));
    if (!strength || strength->accessibleName() != QStringLiteral("Strength")) {
        state.SkipWithError("the bar should show the Strength slider");
        return;
    }
    benchSlider(state, *strength, 10 /* a tenth of a pixel per step */, bar.f, *bar.view->canvas(),
                [&] { return std::abs(bar.f.session->document().layers.back().value - strength->value() / 100.0) <= 1e-9; },
                "the selected layer should take the strength");
}

// Lets the repaints that are due happen.
void settle() {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 40) QApplication::processEvents(QEventLoop::AllEvents, 5);
}

void BM_HoverWithBar(benchmark::State& state) {
    BarFixture bar;
    if (!bar.open()) {
        state.SkipWithError("the bar should show for the selected blur layer");
        return;
    }
    ScreenshotCanvasView& canvas = *bar.view->canvas();
    ScreenshotContextBar& contextBar = *bar.view->contextBar();
    sendMove(canvas, canvas.viewPoint(QPointF(10, 10)));  // the pixels are read once
    QApplication::processEvents();
    double shown = 0, hidden = 0;
    int changes = 0;
    for (auto _ : state) {
        // Showing or hiding the bar repaints what it covers once; the moves are timed after that.
        contextBar.show();
        settle();
        shown += hoverMoves(canvas, *bar.f.session, changes);
        contextBar.hide();
        settle();
        hidden += hoverMoves(canvas, *bar.f.session, changes);
    }
    contextBar.show();
    if (changes < 700 * static_cast<int>(state.iterations())) state.SkipWithError("the colour should change every move");
    const double n = static_cast<double>(state.iterations());
    state.counters["shown_ms"] = shown / n * 1e3;
    state.counters["hidden_ms"] = hidden / n * 1e3;
    state.counters["ratio"] = shown / hidden;
}

}  // namespace

BENCHMARK(BM_StrengthSlider)->Unit(benchmark::kMillisecond)->Iterations(8);
BENCHMARK(BM_HoverWithBar)->Unit(benchmark::kMillisecond)->MinTime(3);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return runBenchmarks<QApplication>(argc, argv);
}
