// The editor view around the canvas, as ratios to the bare canvas over the same session in the
// same run, on a 3840 x 2160 capture with 40 layers:
// - open: construction to the first complete paint of the view (toolbar, canvas, status line) ÷
//   the same for the bare canvas in a window of the same size;
// - floor: what Qt itself asks for a row of the bar's icon buttons, as many as the view has
//   items: a window of the same size holding the canvas under a row of 26 buttons ÷ the canvas
//   alone in that window (what making the widgets and showing them costs, which no laziness of
//   ours can remove; these buttons sit in a plain widget, so each draws itself with a painter of
//   its own, where the view's rows draw all of theirs with one);
// - hover: 400 pointer moves over the canvas, each to a pixel of another colour and each followed
//   by the events it causes (the view's colour readout among them) ÷ the same moves over the bare
//   canvas.
// Runs on the offscreen platform, which cannot shape windows or pass on their size hints and
// says so on every call: those notices are dropped, not written out inside the timed opens.
#include "Editor/View/ScreenshotEditorView.h"

#include "Editor/View/EditorControls.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include <benchmark/benchmark.h>

#include "BenchMain.h"
#include "EditorBench.h"

using namespace brevalto;
using namespace brevalto::bench;

namespace {

constexpr QSize kWindow(1052, 760);  // the editor workspace of the panel

using Fixture = EditorDocument;

// A top-level window of the workspace's size holding the bare canvas or the whole view.
std::unique_ptr<QWidget> makeWindow(Fixture& f, bool view) {
    if (view) {
        auto editor = std::make_unique<ScreenshotEditorView>(f.session, f.controller, [] {});
        editor->resize(kWindow);
        return editor;
    }
    auto canvas = std::make_unique<ScreenshotCanvasView>(f.session);
    canvas->resize(kWindow);
    return canvas;
}

ScreenshotCanvasView* canvasOf(QWidget& window) {
    if (auto* canvas = qobject_cast<ScreenshotCanvasView*>(&window)) return canvas;
    return window.findChild<ScreenshotCanvasView*>();
}

// Construction, show and the events up to the first paint of the canvas; false when it never painted.
bool openOnce(Fixture& f, bool view, double& seconds) {
    const auto begin = Clock::now();
    std::unique_ptr<QWidget> window = makeWindow(f, view);
    PaintCounter counter;
    canvasOf(*window)->installEventFilter(&counter);
    window->show();
    QApplication::processEvents();
    seconds += secondsSince(begin);
    return counter.paints > 0;
}

void BM_OpenToFirstPaint(benchmark::State& state) {
    Fixture f;
    if (!f.waitForPreview()) state.SkipWithError("the document should render");
    double bare = 0, view = 0;
    for (auto _ : state) {
        if (!openOnce(f, false, bare) || !openOnce(f, true, view)) state.SkipWithError("no paint");
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["canvas_ms"] = bare / n * 1e3;
    state.counters["view_ms"] = view / n * 1e3;
    state.counters["ratio"] = view / bare;
}

void BM_ButtonRowFloor(benchmark::State& state) {
    Fixture f;
    if (!f.waitForPreview()) state.SkipWithError("the document should render");
    const int n = static_cast<int>(state.range(0));
    double bare = 0, row = 0;
    for (auto _ : state) {
        for (const bool buttons : {false, true}) {
            const auto begin = Clock::now();
            auto window = std::make_unique<QWidget>();
            auto* column = new QVBoxLayout(window.get());
            column->setContentsMargins(0, 0, 0, 0);
            if (buttons) {
                auto* bar = new QWidget(window.get());
                auto* items = new QHBoxLayout(bar);
                for (int i = 0; i < n; ++i)
                    items->addWidget(new EditorIconButton(QStringLiteral("pin"), QStringLiteral("Pin floating"),
                                                          QStringLiteral("pin%1").arg(i), bar));
                column->addWidget(bar);
            }
            auto* canvas = new ScreenshotCanvasView(f.session, window.get());
            column->addWidget(canvas, 1);
            window->resize(kWindow);
            PaintCounter counter;
            canvas->installEventFilter(&counter);
            window->show();
            QApplication::processEvents();
            (buttons ? row : bare) += secondsSince(begin);
            if (counter.paints == 0) state.SkipWithError("no paint");
        }
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["canvas_ms"] = bare / iterations * 1e3;
    state.counters["row_ms"] = row / iterations * 1e3;
    state.counters["button_us"] = (row - bare) / iterations / n * 1e6;
    state.counters["ratio"] = row / bare;
}

void BM_HoverMoves(benchmark::State& state) {
    Fixture f;
    if (!f.waitForPreview()) state.SkipWithError("the document should render");
    std::unique_ptr<QWidget> bareWindow = makeWindow(f, false), viewWindow = makeWindow(f, true);
    for (QWidget* w : {bareWindow.get(), viewWindow.get()}) {
        w->show();
        QApplication::processEvents();
        sendMove(*canvasOf(*w), canvasOf(*w)->viewPoint(QPointF(10, 10)));  // the pixels are read once
        QApplication::processEvents();
    }
    double bare = 0, view = 0;
    int changes = 0;
    for (auto _ : state) {
        bare += hoverMoves(*canvasOf(*bareWindow), *f.session, changes);
        view += hoverMoves(*canvasOf(*viewWindow), *f.session, changes);
    }
    if (changes < 700 * static_cast<int>(state.iterations())) state.SkipWithError("the colour should change every move");
    const double n = static_cast<double>(state.iterations());
    state.counters["canvas_ms"] = bare / n * 1e3;
    state.counters["view_ms"] = view / n * 1e3;
    state.counters["ratio"] = view / bare;
}

QtMessageHandler defaultHandler = nullptr;

void quietOffscreenNotices(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.startsWith(QStringLiteral("This plugin does not support"))) return;
    defaultHandler(type, context, message);
}

}  // namespace

BENCHMARK(BM_OpenToFirstPaint)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_ButtonRowFloor)->Arg(26)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_HoverMoves)->Unit(benchmark::kMillisecond)->MinTime(3);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    defaultHandler = qInstallMessageHandler(quietOffscreenNotices);
    return runBenchmarks<QApplication>(argc, argv);
}
