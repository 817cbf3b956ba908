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
    benchSlider(state, *opacity, -2, f, *view.canvas(),
                [&] { return f.session->document().layers.back().style.opacity == opacity->value() / 1000.0; },
                "the selected layer should take the opacity");
}

}  // namespace

BENCHMARK(BM_ToolStyleOpacitySlider)->Unit(benchmark::kMillisecond)->Iterations(8);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return runBenchmarks<QApplication>(argc, argv);
}
