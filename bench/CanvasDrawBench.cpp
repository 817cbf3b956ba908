// The canvas while the user draws, as a ratio to a plain baseline measured in the same run: a
// rectangle dragged across a 3840 x 2160 document of 100 layers, each pointer move (the draft's
// update and the repaint of the region it changed) against one plain repaint of the whole canvas.
// Runs on the offscreen platform.
#include "Document/ScreenshotDocumentSession.h"
#include "Editor/Canvas/ScreenshotCanvasView.h"
#include "Platform/Defaults.h"

#include "Document/RenderSamples.h"
#include "ManualExecutor.h"

#include <QApplication>
#include <QMouseEvent>

#include <benchmark/benchmark.h>

#include "BenchMain.h"

#include <chrono>
#include <cmath>

using namespace brevalto;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

void send(QWidget& widget, QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons buttons) {
    QMouseEvent event(type, at, widget.mapToGlobal(at), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
}

void BM_DragAcross4KWith100Layers(benchmark::State& state) {
    samples::RenderedDocument files(samples::coordinateImage(3840, 2160));
    for (int i = 0; i < 100; ++i) {
        const ScreenshotLayerKind kind = i % 3 == 0   ? ScreenshotLayerKind::arrow
                                         : i % 3 == 1 ? ScreenshotLayerKind::rectangle
                                                      : ScreenshotLayerKind::oval;
        ScreenshotLayer layer = samples::layer(kind, QRectF(30 + i * 36, 40 + (i * 97) % 1900, 180, 120));
        if (kind == ScreenshotLayerKind::arrow) layer.points = {{0, 0}, {1, 1}, {0.5, 0.1}};
        files.document.layers.push_back(std::move(layer));
    }
    Defaults defaults;
    ManualExecutor executor;
    auto session = std::make_shared<ScreenshotDocumentSession>(files.document, files.folder, defaults, executor);
    executor.runAll();
    if (session->preview().isNull()) state.SkipWithError("the document should render");
    ScreenshotCanvasView canvas(session);
    canvas.resize(1600, 1000);
    canvas.show();
    QApplication::processEvents();
    session->selectTool(QStringLiteral("rectangle"));
    QApplication::processEvents();

    const QPointF start = canvas.viewPoint(QPointF(100, 100));
    send(canvas, QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
    QApplication::processEvents();
    double moveTime = 0, repaintTime = 0;
    int step = 0;
    for (auto _ : state) {
        // Back and forth across the document, a few view points a move.
        const double t = (step++ % 400) / 400.0;
        const QPointF to = canvas.viewPoint(QPointF(200 + 3500 * std::abs(2 * t - 1), 150 + 1900 * t));
        auto begin = Clock::now();
        send(canvas, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
        QApplication::processEvents();
        moveTime += secondsSince(begin);

        begin = Clock::now();
        canvas.update();
        QApplication::processEvents();
        repaintTime += secondsSince(begin);
    }
    send(canvas, QEvent::MouseButtonRelease, canvas.viewPoint(QPointF(300, 300)), Qt::LeftButton, Qt::NoButton);
    if (session->document().layers.size() != 102) state.SkipWithError("the drag should add a layer");
    const double n = static_cast<double>(state.iterations());
    state.counters["move_ms"] = moveTime / n * 1e3;
    state.counters["repaint_ms"] = repaintTime / n * 1e3;
    state.counters["ratio"] = moveTime / repaintTime;
}

}  // namespace

BENCHMARK(BM_DragAcross4KWith100Layers)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return runBenchmarks<QApplication>(argc, argv);
}
