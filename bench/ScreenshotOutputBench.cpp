// Image output, as a ratio to a baseline measured in the same run: encoding a 1920 x 1080
// screenshot (text on the left, a photograph-like area on the right) to a PNG file, against
// ImageMagick's convert writing the same pixels (read from an uncompressed PPM) to a PNG file.
// Both outputs are checked to decode to exactly the input pixels before anything is timed.
#include "Document/ScreenshotOutput.h"
#include "Platform/AtomicFile.h"

#include <QCoreApplication>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QColorSpace>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include "BenchMain.h"

#include <chrono>
#include <cmath>
#include <random>

using namespace brevalto;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

const char* const kConvert = "/usr/bin/convert";

QImage mixedScreenshot() {
    QImage image(1920, 1080, QImage::Format_RGB32);
    image.fill(QColor(250, 250, 250));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing);
    // An editor of text: coloured lines of code with anti-aliased glyphs.
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(14);
    painter.setFont(font);
    std::mt19937 rng(5);
    const QColor inks[] = {QColor(30, 30, 30), QColor(0, 90, 170), QColor(160, 40, 90), QColor(20, 120, 60)};
    for (int y = 40, line = 0; y < 1060; y += 19, ++line) {
        QString text = QStringLiteral("%1  ").arg(line, 3);
        for (int w = 0, words = 3 + static_cast<int>(rng() % 9); w < words; ++w)
            text += QStringLiteral("token_%1(%2) ").arg(rng() % 1000).arg(rng() % 97);
        painter.setPen(inks[rng() % 4]);
        painter.drawText(20 + static_cast<int>(rng() % 4) * 16, y, text.left(110));
    }
    painter.end();
    // A photograph: smooth shapes of light and colour with sensor noise.
    std::normal_distribution<double> noise(0, 3);
    for (int y = 0; y < 1080; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 1000; x < 1920; ++x) {
            const double u = (x - 1000) / 920.0, v = y / 1080.0;
            const double r = 120 + 90 * std::sin(u * 5 + v * 2) + 30 * std::cos(v * 11);
            const double g = 110 + 70 * std::cos(u * 3 - v * 4) + 25 * std::sin(u * v * 20);
            const double b = 100 + 60 * std::sin(v * 6 + 1) + 40 * std::cos(u * 9);
            auto channel = [&](double c) { return std::clamp(static_cast<int>(std::lround(c + noise(rng))), 0, 255); };
            row[x] = qRgb(channel(r), channel(g), channel(b));
        }
    }
    return image;
}

// The pixel values only: a decoder may attach a colour space from the file's tags.
bool samePixels(QImage a, QImage b) {
    if (a.isNull() || b.isNull()) return false;
    a = a.convertToFormat(QImage::Format_RGB32);
    b = b.convertToFormat(QImage::Format_RGB32);
    a.setColorSpace(QColorSpace());
    b.setColorSpace(QColorSpace());
    return a == b;
}

void BM_EncodeScreenshotPNG(benchmark::State& state) {
    QTemporaryDir dir;
    const QString input = dir.filePath(QStringLiteral("in.ppm"));
    const QString theirs = dir.filePath(QStringLiteral("convert.png"));
    const std::filesystem::path ours = dir.filePath(QStringLiteral("ours.png")).toStdString();
    const QImage image = mixedScreenshot();
    if (!image.save(input, "PPM")) return state.SkipWithError("cannot write the input");
    auto runConvert = [&] {
        QProcess process;
        process.start(QString::fromLatin1(kConvert), {input, theirs});
        return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    };
    auto encodeToFile = [&] {
        AtomicFile::write(ours, ScreenshotOutput::encode(image, ScreenshotOutput::Format::png, Qt::white, false, 1, 0.9));
    };
    if (!runConvert()) return state.SkipWithError("convert failed");
    encodeToFile();
    if (!samePixels(QImage(theirs), image)) return state.SkipWithError("convert changed the pixels");
    if (!samePixels(QImage(QString::fromStdString(ours.string())), image))
        return state.SkipWithError("the encoder changed the pixels");

    double oursTime = 0, theirsTime = 0, encodeTime = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        benchmark::DoNotOptimize(
            ScreenshotOutput::encode(image, ScreenshotOutput::Format::png, Qt::white, false, 1, 0.9));
        encodeTime += secondsSince(start);
        start = Clock::now();
        encodeToFile();
        oursTime += secondsSince(start);
        start = Clock::now();
        runConvert();
        theirsTime += secondsSince(start);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["ours_ms"] = oursTime / n * 1e3;
    state.counters["encode_only_ms"] = encodeTime / n * 1e3;  // the same without the file
    state.counters["convert_ms"] = theirsTime / n * 1e3;
    state.counters["ours_KiB"] = static_cast<double>(std::filesystem::file_size(ours)) / 1024.0;
    state.counters["convert_KiB"] = static_cast<double>(QFileInfo(theirs).size()) / 1024.0;
    state.counters["ratio"] = oursTime / theirsTime;
}

}  // namespace

BENCHMARK(BM_EncodeScreenshotPNG)->Unit(benchmark::kMillisecond)->Iterations(10);

int main(int argc, char** argv) {
    return runBenchmarks<QGuiApplication>(argc, argv);
}
