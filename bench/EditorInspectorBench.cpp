// The Tool style page of the editor's inspector sheet, on a 3840 x 2160 capture with 40 layers and
// a selected rectangle, as ratios to one full render of the document in the same run:
// - step: 200 steps of the Opacity slider, GUI-thread time per step (the style written into the
//   session and the layer, the render asked for, the events that follow) ÷ one render;
// - preview: from the last step until the canvas has painted the render showing it ÷ one render.
// Runs on the offscreen platform; renders run on the app's background pool.
#include "Editor/View/ScreenshotEditorView.h"

#include <benchmark/benchmark.h>

#include "BenchMain.h"
#include "EditorBench.h"

using namespace brevalto;
using namespace brevalto::bench;

namespace {

void BM_ToolStyleOpacitySlider(benchmark::State& state) {
    ScreenshotLayer selected = samples::layer(ScreenshotLayerKind::rectangle, QRectF(600, 400, 1600, 900));
    selected.style.strokeWidth = 12;
    EditorDocument f({selected});
    if (!f.waitForPreview()) state.SkipWithError("the document should render");
    f.session->setSelectedID(f.session->document().layers.back().id);
    ScreenshotEditorView view(f.session, f.controller, [] {});
    view.resize(1052, 760);
    view.show();
    QApplication::processEvents();
    view.openToolStyle();
    QApplication::processEvents();
    auto* opacity = view.findChild<QSlider*>(QStringLiteral("opacitySlider"));
    if (!opacity) {
        state.SkipWithError("the Tool style page should show the Opacity slider");
        return;
    }
    double steps = 0, preview = 0, render = 0;
    int direction = -2;
    for (auto _ : state) {
        const SliderRun run = slide(*opacity, 200, direction, *f.session, *view.canvas());
        if (!run.previewed) state.SkipWithError("the last step should reach the canvas");
        if (f.session->document().layers.back().style.opacity != opacity->value() / 1000.0)
            state.SkipWithError("the selected layer should take the opacity");
        steps += run.stepSeconds / 200;
        preview += run.previewSeconds;
        render += f.renderSeconds();
        direction = -direction;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["step_us"] = steps / n * 1e6;
    state.counters["preview_ms"] = preview / n * 1e3;
    state.counters["render_ms"] = render / n * 1e3;
    state.counters["step_ratio"] = steps / render;
    state.counters["preview_ratio"] = preview / render;
}

}  // namespace

BENCHMARK(BM_ToolStyleOpacitySlider)->Unit(benchmark::kMillisecond)->Iterations(8);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return runBenchmarks<QApplication>(argc, argv);
}
