// The document renderer, each figure as a ratio to a baseline measured in the same run:
// - rendering a 1920 x 1080 document of 40 layers (arrows, text, shapes, four blurs at sigma 12,
//   two pixelates, a spotlight and a magnifier) against drawing its decoded source image into a
//   context of the same size, and against rendering the document with its source layer alone
//   (both renders decode the source); render_cpu_ms is the render's processor time;
// - blurring a 1920 x 1080 region at sigma 4 and at sigma 40 against copying the region (the
//   two blur times should be about equal: the cost does not grow with sigma).
#include "Document/ImageEffects.h"
#include "Document/RenderSamples.h"
#include "Document/ScreenshotRenderer.h"
#include "Imaging/ImageDecoding.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include "BenchMain.h"

#include <chrono>
#include <ctime>
#include <random>

using namespace brevalto;

namespace {

using Clock = std::chrono::steady_clock;
using Kind = ScreenshotLayerKind;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Processor time of this thread, which a busy machine inflates less than the wall clock.
double threadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Something like a screenshot: a light window with rows of text and a few coloured panels.
QImage screenLike() {
    QImage image(1920, 1080, QImage::Format_ARGB32);
    image.fill(QColor(238, 240, 244));
    QPainter painter(&image);
    painter.fillRect(0, 0, 1920, 40, QColor(50, 54, 62));
    painter.fillRect(0, 40, 300, 1040, QColor(225, 228, 234));
    painter.fillRect(1400, 200, 420, 300, QColor(70, 130, 200));
    painter.setFont(QFont(QStringLiteral("DejaVu Sans"), 13));
    for (int row = 0; row < 40; ++row)
        painter.drawText(330, 80 + row * 24, QStringLiteral("Row %1: the quick brown fox jumps over the lazy dog, 0123456789").arg(row));
    return image;
}

ScreenshotLayer layerOf(Kind kind, QRectF frame) {
    ScreenshotLayer layer;
    layer.kind = kind;
    layer.frame = frame;
    layer.style.fontName = "DejaVu Sans";
    return layer;
}

void addFortyLayers(ScreenshotDocument& document) {
    auto& layers = document.layers;
    for (int i = 0; i < 10; ++i) {
        ScreenshotLayer arrow = layerOf(i % 2 ? Kind::curvedArrow : Kind::arrow, QRectF(100 + i * 170, 600, 150, 200));
        arrow.style.strokeWidth = 4;
        layers.push_back(arrow);
    }
    for (int i = 0; i < 8; ++i) {
        ScreenshotLayer text = layerOf(Kind::text, QRectF(80 + i * 220, 850, 200, 90));
        text.text = "A note about this part of the screen";
        text.style.filled = true;
        text.style.fontSize = 18;
        layers.push_back(text);
    }
    for (int i = 0; i < 8; ++i) {
        ScreenshotLayer shape = layerOf(i % 2 ? Kind::oval : Kind::rectangle, QRectF(60 + i * 230, 100, 180, 120));
        shape.style.handDrawn = i % 4 == 0;
        layers.push_back(shape);
    }
    for (int i = 0; i < 2; ++i) {
        ScreenshotLayer pen = layerOf(Kind::highlighter, QRectF(330, 300 + i * 48, 700, 10));
        pen.points = {QPointF(0, 0.5), QPointF(0.5, 0.6), QPointF(1, 0.4)};
        pen.style.stroke = {1, 0.9, 0, 1};
        layers.push_back(pen);
    }
    for (int i = 0; i < 2; ++i) {
        ScreenshotLayer counter = layerOf(Kind::counter, QRectF(40 + i * 60, 960, 44, 44));
        counter.text = std::to_string(i + 1);
        layers.push_back(counter);
    }
    for (int i = 0; i < 4; ++i) {
        ScreenshotLayer blur = layerOf(Kind::blur, QRectF(330 + i * 260, 420, 240, 120));
        blur.value = 12;
        layers.push_back(blur);
    }
    for (int i = 0; i < 2; ++i) {
        ScreenshotLayer pixelate = layerOf(Kind::pixelate, QRectF(1400 + i * 220, 560, 200, 100));
        pixelate.value = 12;
        layers.push_back(pixelate);
    }
    layers.push_back(layerOf(Kind::spotlight, QRectF(1380, 180, 460, 340)));
    ScreenshotLayer magnifier = layerOf(Kind::magnifier, QRectF(340, 70, 160, 60));
    magnifier.value = 2;
    magnifier.points = {QPointF(1.5, 2.5)};
    layers.push_back(magnifier);
    ScreenshotLayer redact = layerOf(Kind::redact, QRectF(1500, 60, 300, 40));
    layers.push_back(redact);
    ScreenshotLayer freehand = layerOf(Kind::freehand, QRectF(1100, 700, 300, 200));
    for (int i = 0; i <= 40; ++i) freehand.points.emplace_back(i / 40.0, 0.5 + 0.4 * std::sin(i / 4.0));
    layers.push_back(freehand);
}

void BM_RenderFortyLayers(benchmark::State& state) {
    const QImage source = screenLike();
    samples::RenderedDocument d(source);
    samples::RenderedDocument plain(source);
    addFortyLayers(d.document);
    if (d.document.layers.size() != 41) state.SkipWithError("the document should hold 40 layers over its image");
    const QImage decoded =
        loadScreenshotImage(ScreenshotDocument::assetURL(d.document.assets.front(), d.folder));
    double renderTime = 0, drawTime = 0, plainTime = 0, renderCpu = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        const double cpu = threadSeconds();
        benchmark::DoNotOptimize(ScreenshotRenderer::render(d.document, d.folder, false, false));
        renderCpu += threadSeconds() - cpu;
        renderTime += secondsSince(start);
        start = Clock::now();
        {
            BitmapContext context = ScreenshotRenderer::rasterize(std::nullopt, 1920, 1080);
            context.painter().drawImage(QRectF(0, 0, 1920, 1080), decoded);
            benchmark::DoNotOptimize(context.takeImage());
        }
        drawTime += secondsSince(start);
        start = Clock::now();
        benchmark::DoNotOptimize(ScreenshotRenderer::render(plain.document, plain.folder, false, false));
        plainTime += secondsSince(start);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["render_ms"] = renderTime / n * 1e3;
    state.counters["render_cpu_ms"] = renderCpu / n * 1e3;
    state.counters["draw_source_ms"] = drawTime / n * 1e3;
    state.counters["render_source_ms"] = plainTime / n * 1e3;
    state.counters["ratio_to_draw"] = renderTime / drawTime;
    state.counters["ratio_to_source_render"] = renderTime / plainTime;
}

void BM_BlurFullHD(benchmark::State& state) {
    const double sigma = static_cast<double>(state.range(0));
    QImage noise(1920, 1080, QImage::Format_ARGB32_Premultiplied);
    std::mt19937 rng(7);
    for (int y = 0; y < noise.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(noise.scanLine(y));
        for (int x = 0; x < noise.width(); ++x) line[x] = qRgb(rng() % 256, rng() % 256, rng() % 256);
    }
    double blurTime = 0, copyTime = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        QImage copy = noise.copy();
        copyTime += secondsSince(start);
        start = Clock::now();
        ImageEffects::gaussianBlur(copy, sigma);
        blurTime += secondsSince(start);
        benchmark::DoNotOptimize(copy.constBits());
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["blur_ms"] = blurTime / n * 1e3;
    state.counters["copy_ms"] = copyTime / n * 1e3;
    state.counters["ratio"] = blurTime / copyTime;
}

}  // namespace

BENCHMARK(BM_RenderFortyLayers)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_BlurFullHD)->Arg(4)->Arg(40)->Unit(benchmark::kMillisecond)->Iterations(20);

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    return runBenchmarks<QApplication>(argc, argv);
}
