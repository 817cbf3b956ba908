// The workflow's text work on the GUI thread, as ratios to a baseline measured in the same run:
// - indexing: a history of 100 image clips indexed by a recognizer that answers at once; the GUI
//   thread's CPU time of the whole run per clip ÷ the GUI thread's CPU time of one
//   ClipStore::setOCRText on the same history. Exactly 100 recognitions per run.
// - OCR from the More menu on a 3840 x 2160 selection: the menu item's trigger until the panel
//   holds the preview on its temporary PNG ÷ one PNG encode of that image.
#include "AI/AIActionModel.h"
#include "ClipCore/Clip.h"
#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
#include "Document/ScreenshotDocumentSession.h"
#include "Document/ScreenshotOutput.h"
#include "Editor/ScreenshotEditorController.h"
#include "Editor/View/EditorMoreMenu.h"
#include "Editor/View/ScreenshotEditorView.h"
#include "Panel/PanelController.h"
#include "Platform/Defaults.h"
#include "Workflow/ScreenshotWorkflow.h"
#include "Workflow/TextIndexer.h"

#include "FakeApps.h"
#include "FakeCaptureInteraction.h"
#include "FakeClock.h"
#include "FakePasteboard.h"
#include "FakeScreenCapture.h"
#include "FakeScreens.h"
#include "ManualAIBackend.h"
#include "QtWait.h"
#include "TestFolder.h"
#include "TestImages.h"
#include "TextImages.h"

#include <QAction>
#include <QApplication>

#include <benchmark/benchmark.h>

#include "BenchMain.h"

#include <chrono>
#include <ctime>
#include <filesystem>

using namespace brevalto;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// CPU time of the calling thread: the GUI thread's own work, whatever the writer thread and the
// other programs on a loaded machine do meanwhile.
double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

OCRResult recognized(const QString& text) {
    OCRResult result;
    result.text = text;
    return result;
}

std::vector<Clip> hundredImages() {
    std::vector<Clip> clips;
    for (int i = 0; i < 100; ++i) {
        const std::string digest = hexDigest("image " + std::to_string(i));
        clips.emplace_back(Clip::Kind::image, std::nullopt, digest + ".png", digest, 250'000, "Screenshot",
                           800'000'000.0 - i);
    }
    return clips;
}

void BM_IndexHundredImages(benchmark::State& state) {
    TestFolder folder;
    ClipStore store(folder / "store");
    const std::vector<Clip> clips = hundredImages();
    TextIndexer indexer(store);
    int recognitions = 0;
    // Answers at once: the outcome arrives through the event loop, as a finished recognition does.
    indexer.setRecognize([&](QObject* receiver, const QUrl&, const QString&, auto done) {
        ++recognitions;
        QMetaObject::invokeMethod(
            receiver,
            [done = std::move(done)] {
                TaskResult<OCRResult> result(recognized(QStringLiteral("Invoice 4711 total 99 EUR")));
                done(result);
            },
            Qt::QueuedConnection);
        return TaskHandle();
    });
    double loop = 0, single = 0;
    int runs = 0, singles = 0, wrongCounts = 0;
    for (auto _ : state) {
        state.PauseTiming();
        store.persist(clips);
        state.ResumeTiming();
        recognitions = 0;
        double start = threadSeconds();
        indexer.schedule();
        while (indexer.running()) QCoreApplication::processEvents();
        store.flush();
        loop += threadSeconds() - start;
        ++runs;
        if (recognitions != 100) ++wrongCounts;

        // The baseline on the same history: one stored text at a time, each written out as the
        // indexer's are.
        state.PauseTiming();
        store.persist(clips);
        state.ResumeTiming();
        start = threadSeconds();
        for (const Clip& clip : clips) store.setOCRText("Invoice 4711 total 99 EUR", clip.id);
        store.flush();
        single += threadSeconds() - start;
        singles += static_cast<int>(clips.size());
    }
    const double perClip = loop / (runs * 100.0);
    const double perText = single / singles;
    state.counters["loop_per_clip_us"] = perClip * 1e6;
    state.counters["setOCRText_us"] = perText * 1e6;
    state.counters["runs_without_100_recognitions"] = wrongCounts;
    state.counters["ratio"] = perClip / perText;
}

// A screen full of text lines, as a capture of a terminal or a document shows it.
QImage screenOfText() {
    QStringList lines;
    for (int i = 0; i < 90; ++i)
        lines << QStringLiteral("%1  Invoice 4711 total 99 EUR, shipped %2 items to warehouse %3").arg(i).arg(i * 7).arg(i % 13);
    return renderTextLines(QSize(3840, 2160), lines, pixelFont(QStringLiteral("DejaVu Sans Mono"), 18)).image;
}

struct Desktop {
    Desktop() {
        screens.setScreens({FakeScreens::screen("main", 0, 0, 1920, 1080)});
        controller.setAIActions(&ai);
    }
    TestFolder folder, out;
    FakeClock clock;
    ClipStore store{folder.path(), clock};
    FakePasteboard board;
    FakeApps apps;
    FakeScreens screens;
    Defaults defaults;
    ClipboardMonitor monitor{store, board, apps, defaults};
    PanelController controller{store, monitor, screens, apps, defaults};
    FakeScreenCapture screen;
    FakeCaptureInteraction ui;
    ManualCaptureTimer timer{clock};
    ManualAIBackend ai;
    ScreenshotWorkflow workflow{store, monitor, controller, defaults, screens,
                                {.screen = &screen, .apps = &apps, .clock = &clock, .interaction = &ui,
                                 .timer = &timer, .temporaryRoot = out.path() / "tmp"}};
};

void BM_OCRFromTheMoreMenu(benchmark::State& state) {
    Desktop desktop;
    const QImage image = screenOfText();
    std::optional<Clip> clip;
    desktop.store.addImage(image, "Screenshot", 1.0, {}, [&](auto c) { clip = c; });
    if (!waitUntil([&] { return clip.has_value(); }, 60'000)) return state.SkipWithError("the capture was not stored");
    desktop.workflow.openInEditor(*clip);
    const auto session = desktop.workflow.editor()->session();
    if (!session) return state.SkipWithError("no editor session");
    session->setSelectionRect(QRectF(0, 0, 3840, 2160));
    // The user clicks in an editor that shows the capture, so its first render is done.
    if (!waitUntil([&] { return !session->preview().isNull(); }, 60'000))
        return state.SkipWithError("the editor never rendered");
    ScreenshotEditorView view(session, *desktop.workflow.editor(), [] {});
    EditorMoreMenu menu(view);
    QAction* ocr = menu.findChild<QAction*>(QStringLiteral("ocr"));
    if (!ocr) return state.SkipWithError("no OCR item");

    double click = 0, encode = 0, render = 0;
    for (auto _ : state) {
        desktop.controller.closeCurrentWorkspace();
        desktop.controller.setPreviewExpanded(false);
        desktop.ai.jobs.clear();
        auto start = Clock::now();
        ocr->trigger();
        const bool shown = desktop.controller.translation() && desktop.controller.previewExpanded();
        click += secondsSince(start);
        if (!shown || desktop.ai.jobs.size() != 1) return state.SkipWithError("the preview did not open");
        start = Clock::now();
        benchmark::DoNotOptimize(
            ScreenshotOutput::encode(image, ScreenshotOutput::Format::png, Qt::white, false, 1.0, 0.9));
        encode += secondsSince(start);
        start = Clock::now();  // the rendering of the selection alone, to show where the click spends its time
        benchmark::DoNotOptimize(desktop.workflow.editor()->selectionImage(true, false));
        render += secondsSince(start);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["click_to_preview_ms"] = click / n * 1e3;
    state.counters["png_encode_ms"] = encode / n * 1e3;
    state.counters["of_which_render_ms"] = render / n * 1e3;
    state.counters["ratio"] = click / encode;
}

}  // namespace

BENCHMARK(BM_IndexHundredImages)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(BM_OCRFromTheMoreMenu)->Unit(benchmark::kMillisecond)->Iterations(8);

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    return runBenchmarks<QApplication>(argc, argv);
}
