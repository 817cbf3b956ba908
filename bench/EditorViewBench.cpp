// The editor view around the canvas, as ratios to the bare canvas over the same session in the
// same run, on a 3840 x 2160 capture with 40 layers:
// - open: construction to the first complete paint of the view (toolbar, canvas, status line) ÷
//   the same for the bare canvas in a window of the same size;
// - hover: 400 pointer moves over the canvas, each to a pixel of another colour and each followed
//   by the events it causes (the view's colour readout among them) ÷ the same moves over the bare
//   canvas.
// Runs on the offscreen platform.
#include "Document/ScreenshotDocumentSession.h"
#include "Editor/Canvas/ScreenshotCanvasView.h"
#include "Editor/ScreenshotEditorController.h"
#include "Editor/View/ScreenshotEditorView.h"
#include "Platform/Defaults.h"

#include "Document/RenderSamples.h"
#include "FakePasteboard.h"
#include "ManualExecutor.h"

#include <QApplication>
#include <QMouseEvent>

#include <benchmark/benchmark.h>

#include "BenchMain.h"

#include <chrono>
#include <memory>

using namespace brevalto;

namespace {

using Clock = std::chrono::steady_clock;
constexpr QSize kWindow(1052, 760);  // the editor workspace of the panel

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Counts the paints a widget receives.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

struct Fixture {
    Fixture() : files(samples::coordinateImage(3840, 2160)) {
        for (int i = 0; i < 40; ++i) {
            const ScreenshotLayerKind kind = i % 2 ? ScreenshotLayerKind::rectangle : ScreenshotLayerKind::arrow;
            ScreenshotLayer layer = samples::layer(kind, QRectF(40 + i * 90, 60 + (i * 131) % 1900, 200, 140));
            if (kind == ScreenshotLayerKind::arrow) layer.points = {{0, 0}, {1, 1}, {0.5, 0.1}};
            files.document.layers.push_back(std::move(layer));
        }
        session = std::make_shared<ScreenshotDocumentSession>(files.document, files.folder, defaults, executor);
        executor.runAll();
    }
    samples::RenderedDocument files;
    Defaults defaults;
    ManualExecutor executor;
    FakePasteboard board;
    ScreenshotEditorController controller{board, defaults};
    std::shared_ptr<ScreenshotDocumentSession> session;
};

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
    if (f.session->preview().isNull()) state.SkipWithError("the document should render");
    double bare = 0, view = 0;
    for (auto _ : state) {
        if (!openOnce(f, false, bare) || !openOnce(f, true, view)) state.SkipWithError("no paint");
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["canvas_ms"] = bare / n * 1e3;
    state.counters["view_ms"] = view / n * 1e3;
    state.counters["ratio"] = view / bare;
}

void send(QWidget& widget, QPointF at) {
    QMouseEvent event(QEvent::MouseMove, at, widget.mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
}

// 400 moves across the image, each followed by the events it causes.
double hover(QWidget& window, int& changes, Fixture& f) {
    ScreenshotCanvasView& canvas = *canvasOf(window);
    const auto before = f.session->hoverColor();
    const auto begin = Clock::now();
    for (int i = 0; i < 400; ++i) {
        send(canvas, canvas.viewPoint(QPointF(200 + i * 8.5, 300 + (i % 7) * 190)));
        QApplication::processEvents();
        if (f.session->hoverColor() != before) ++changes;
    }
    return secondsSince(begin);
}

void BM_HoverMoves(benchmark::State& state) {
    Fixture f;
    std::unique_ptr<QWidget> bareWindow = makeWindow(f, false), viewWindow = makeWindow(f, true);
    for (QWidget* w : {bareWindow.get(), viewWindow.get()}) {
        w->show();
        QApplication::processEvents();
        send(*canvasOf(*w), canvasOf(*w)->viewPoint(QPointF(10, 10)));  // the pixels are read once
        QApplication::processEvents();
    }
    double bare = 0, view = 0;
    int changes = 0;
    for (auto _ : state) {
        bare += hover(*bareWindow, changes, f);
        view += hover(*viewWindow, changes, f);
    }
    if (changes < 700 * static_cast<int>(state.iterations())) state.SkipWithError("the colour should change every move");
    const double n = static_cast<double>(state.iterations());
    state.counters["canvas_ms"] = bare / n * 1e3;
    state.counters["view_ms"] = view / n * 1e3;
    state.counters["ratio"] = view / bare;
}

}  // namespace

BENCHMARK(BM_OpenToFirstPaint)->Unit(benchmark::kMillisecond)->MinTime(3);
BENCHMARK(BM_HoverMoves)->Unit(benchmark::kMillisecond)->MinTime(3);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return runBenchmarks<QApplication>(argc, argv);
}
