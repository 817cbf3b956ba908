// Drawing translated text back into a screenshot, as a ratio to a baseline measured in the same
// run: re-rendering a 1920 x 1080 PNG with 50 regions whose texts take about 100 fitting
// attempts each, against rendering the same PNG with no region (decode, draw, PNG encode).
// fit_steps is the mean number of half-point steps from a region's starting size to its fit.
#include "AI/ReplacementTextRenderer.h"

#include <QApplication>
#include <QBuffer>
#include <QImageWriter>
#include <QPainter>

#include <benchmark/benchmark.h>

#include "BenchMain.h"

#include <chrono>

using namespace brevalto;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

QByteArray screenLikePNG() {
    QImage image(1920, 1080, QImage::Format_ARGB32);
    image.fill(QColor(238, 240, 244));
    QPainter painter(&image);
    painter.fillRect(0, 0, 1920, 40, QColor(50, 54, 62));
    painter.fillRect(1400, 200, 420, 300, QColor(70, 130, 200));
    painter.setFont(QFont(QStringLiteral("DejaVu Sans"), 13));
    for (int row = 0; row < 40; ++row)
        painter.drawText(30, 80 + row * 24, QStringLiteral("Row %1: the quick brown fox jumps over the lazy dog").arg(row));
    painter.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "png").write(image);
    return png;
}

// 50 boxes of 180 x 96 pixels in a 10 x 5 grid, each starting at 60 points and holding a text
// that fits at about 10.
std::vector<EditableImageRegion> fiftyRegions() {
    const QString words = QStringLiteral(
        "Translated interface text wraps over several lines inside its box and shrinks until it fits the "
        "space the original words took, keeping numbers 42 and names intact ");
    std::vector<EditableImageRegion> regions;
    for (int i = 0; i < 50; ++i) {
        EditableImageRegion region;
        region.id = i;
        region.text = words.left(150 + i % 7);
        region.x = (10 + (i % 10) * 190) / 1920.0;
        region.width = 180 / 1920.0;
        region.height = 96 / 1080.0;
        region.y = 1 - (60 + (i / 10) * 200 + 96) / 1080.0;
        region.scale = 60 / (96 * replacementText::kSizeFactor);
        regions.push_back(region);
    }
    return regions;
}

void BM_RenderFiftyRegions(benchmark::State& state) {
    const QByteArray png = screenLikePNG();
    const auto regions = fiftyRegions();
    double steps = 0;
    for (const auto& region : regions) {
        ReplacementTextLayout layout(region.text);
        const double start = startingTextSize(region.scale, 96);
        steps += (start - fitReplacementText(layout, QSizeF(180, 96), start).value_or(0)) / replacementText::kSizeStep;
    }
    double renderTime = 0, baseTime = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        benchmark::DoNotOptimize(renderReplacementText(png, {}).size());
        baseTime += secondsSince(start);
        start = Clock::now();
        benchmark::DoNotOptimize(renderReplacementText(png, regions).size());
        renderTime += secondsSince(start);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["render_ms"] = renderTime / n * 1e3;
    state.counters["baseline_ms"] = baseTime / n * 1e3;
    state.counters["fit_steps"] = steps / double(regions.size());
    state.counters["ratio"] = renderTime / baseTime;
}

}  // namespace

BENCHMARK(BM_RenderFiftyRegions)->Unit(benchmark::kMillisecond)->Iterations(10);

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    return runBenchmarks<QApplication>(argc, argv);
}
