#pragma once

// What the editor benchmarks share: a 3840 x 2160 capture with 40 layers in an editing session,
// pointer moves over the canvas, one full render as the baseline, and a slider run timed on the
// GUI thread while the renders it asks for run in the background.
#include "Document/ScreenshotDocumentSession.h"
#include "Document/ScreenshotRenderer.h"
#include "Editor/Canvas/ScreenshotCanvasView.h"
#include "Editor/ScreenshotEditorController.h"
#include "Platform/Defaults.h"

#include "Document/RenderSamples.h"
#include "FakePasteboard.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QSlider>

#include <chrono>
#include <functional>
#include <memory>

namespace brevalto::bench {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// 40 arrows and rectangles spread over a 3840 x 2160 capture, plus any layers the caller adds,
// in a session whose renders run on the executor given (the app's pool unless told otherwise).
struct EditorDocument {
    explicit EditorDocument(std::vector<ScreenshotLayer> extra = {}, TaskExecutor& executor = TaskPool::shared())
        : files(samples::coordinateImage(3840, 2160)) {
        for (int i = 0; i < 40; ++i) {
            const ScreenshotLayerKind kind = i % 2 ? ScreenshotLayerKind::rectangle : ScreenshotLayerKind::arrow;
            ScreenshotLayer layer = samples::layer(kind, QRectF(40 + i * 90, 60 + (i * 131) % 1900, 200, 140));
            if (kind == ScreenshotLayerKind::arrow) layer.points = {{0, 0}, {1, 1}, {0.5, 0.1}};
            files.document.layers.push_back(std::move(layer));
        }
        for (ScreenshotLayer& layer : extra) files.document.layers.push_back(std::move(layer));
        session = std::make_shared<ScreenshotDocumentSession>(files.document, files.folder, defaults, executor);
    }
    // Waits until the session's first render has arrived; false when it never did.
    bool waitForPreview(int timeoutMs = 20000) {
        QElapsedTimer timer;
        timer.start();
        while (session->preview().isNull() && timer.elapsed() < timeoutMs) QApplication::processEvents(QEventLoop::AllEvents, 5);
        return !session->preview().isNull();
    }
    // One full render of the current document on this thread.
    double renderSeconds() const {
        const auto start = Clock::now();
        benchmark::DoNotOptimize(ScreenshotRenderer::render(session->document(), files.folder, true, false, {}));
        return secondsSince(start);
    }

    samples::RenderedDocument files;
    Defaults defaults;
    FakePasteboard board;
    ScreenshotEditorController controller{board, defaults};
    std::shared_ptr<ScreenshotDocumentSession> session;
};

inline void sendMove(QWidget& widget, QPointF at) {
    QMouseEvent event(QEvent::MouseMove, at, widget.mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
}

// 400 moves across the image, each to a pixel of another colour and each followed by the events
// it causes; `changes` counts the moves that changed the session's colour under the pointer.
inline double hoverMoves(ScreenshotCanvasView& canvas, ScreenshotDocumentSession& session, int& changes) {
    const auto begin = Clock::now();
    for (int i = 0; i < 400; ++i) {
        const auto before = session.hoverColor();
        sendMove(canvas, canvas.viewPoint(QPointF(200 + i * 8.5, 300 + (i % 7) * 190)));
        QApplication::processEvents();
        if (session.hoverColor() != before) ++changes;
    }
    return secondsSince(begin);
}

struct SliderRun {
    double stepSeconds = 0;     // GUI-thread time of all steps, each with the events it causes
    double previewSeconds = 0;  // from the last step until the canvas has painted its render
    bool previewed = false;
};

// Counts the paints a widget receives.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

// Moves the slider by `delta` for `steps` steps as one drag (pressed first, released after),
// then waits until the canvas has painted the render of the last step: the first paint after
// that render arrived, through the repaint the canvas asks for itself.
inline SliderRun slide(QSlider& slider, int steps, int delta, ScreenshotDocumentSession& session,
                       ScreenshotCanvasView& canvas) {
    SliderRun run;
    bool arrived = false;
    PaintCounter counter;
    int paintsAtArrival = 0;
    const auto connection = QObject::connect(&session, &ScreenshotDocumentSession::changed, &canvas,
                                             [&](ScreenshotDocumentSession::Property property) {
                                                 if (property != ScreenshotDocumentSession::Property::preview) return;
                                                 arrived = true;
                                                 paintsAtArrival = counter.paints;
                                             });
    canvas.installEventFilter(&counter);
    slider.setSliderDown(true);
    Clock::time_point last;
    for (int i = 0; i < steps; ++i) {
        // A render superseded by a later step is dropped when it arrives, so the preview that
        // follows the last step is that step's own.
        arrived = false;
        last = Clock::now();
        slider.setValue(slider.value() + delta);
        QApplication::processEvents();
        run.stepSeconds += secondsSince(last);
    }
    const auto painted = [&] { return arrived && counter.paints > paintsAtArrival; };
    while (!painted() && secondsSince(last) < 20) QApplication::processEvents(QEventLoop::AllEvents, 1);
    run.previewSeconds = secondsSince(last);
    run.previewed = painted();
    canvas.removeEventFilter(&counter);
    QObject::disconnect(connection);
    slider.setSliderDown(false);
    QApplication::processEvents();
    return run;
}

// Slides `slider` back and forth by `delta`, 200 steps a run, and reports the GUI-thread time per
// step and the time from the last step to its preview, each against one full render of the
// document after the run. `took` says whether the selected layer took the slider's value.
inline void benchSlider(benchmark::State& state, QSlider& slider, int delta, EditorDocument& f,
                        ScreenshotCanvasView& canvas, const std::function<bool()>& took, const char* tookError) {
    double steps = 0, preview = 0, render = 0;
    for (auto _ : state) {
        const SliderRun run = slide(slider, 200, delta, *f.session, canvas);
        if (!run.previewed) state.SkipWithError("the last step should reach the canvas");
        if (!took()) state.SkipWithError(tookError);
        steps += run.stepSeconds / 200;
        preview += run.previewSeconds;
        render += f.renderSeconds();
        delta = -delta;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["step_us"] = steps / n * 1e6;
    state.counters["preview_ms"] = preview / n * 1e3;
    state.counters["render_ms"] = render / n * 1e3;
    state.counters["step_ratio"] = steps / render;
    state.counters["preview_ratio"] = preview / render;
}

}  // namespace brevalto::bench
