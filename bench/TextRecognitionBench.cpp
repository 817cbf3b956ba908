// Text and QR recognition on the device, each figure as a ratio to a baseline measured in the
// same run:
// - recognizeText on a 1920 x 1080 screenshot of a text-heavy window drawn here with known text,
//   against the tesseract command-line program on the same image with the same languages and
//   the same OpenMP thread policy (/0: English alone, /1: automatic mode's languages, /2: English
//   on a dark desktop with a window of small text), with the character error rate of both;
// - reading the one QR code of a 1080p screenshot, against turning the image grey.
#include "AI/TextRecognition.h"
#include "Platform/Linux/TesseractTextRecognizer.h"
#include "TestFolder.h"
#include "TextImages.h"

#include <QApplication>
#include <QPainter>
#include <QProcess>

#include <benchmark/benchmark.h>

#include "BenchMain.h"

#include <chrono>
#include <random>

using namespace brevalto;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

const char* const kWords[] = {
    "the", "window", "settings", "release", "notes", "version", "update", "folder", "image", "capture",
    "history", "panel", "shortcut", "account", "upload", "bucket", "region", "language", "network", "preview",
    "quickly", "between", "selected", "recent", "changes", "display", "command", "project", "report", "status",
    "error", "message", "document", "export", "import", "search", "results", "button", "default", "options"};

// A window filling a 1080p screen: a title bar and paragraphs of 15-pixel text.
struct Screenshot {
    QImage image;
    QString text;  // every line drawn, top to bottom, joined with line feeds
};

// `count` sentences of `words` to `words` + 8 random words.
QStringList sentences(int count, int words) {
    std::mt19937 rng(11);
    QStringList lines;
    for (int i = 0; i < count; ++i) {
        QStringList line;
        const int length = words + static_cast<int>(rng() % 9);
        for (int w = 0; w < length; ++w) line << kWords[rng() % std::size(kWords)];
        if (i % 7 == 3) line << QStringLiteral("(%1.%2)").arg(rng() % 100).arg(rng() % 10);
        QString text = line.join(' ');
        text[0] = text[0].toUpper();
        lines << text + '.';
    }
    return lines;
}

Screenshot textHeavyWindow() {
    const QStringList lines = sentences(40, 14);
    TextImage body = renderTextLines(QSize(1920, 1080), lines, pixelFont("DejaVu Sans", 15), 0, 6);
    Screenshot shot;
    shot.image = QImage(1920, 1080, QImage::Format_ARGB32_Premultiplied);
    shot.image.fill(QColor(236, 236, 236));
    QPainter painter(&shot.image);
    painter.fillRect(QRect(0, 0, 1920, 36), QColor(60, 60, 66));
    painter.setFont(pixelFont("DejaVu Sans", 15));
    painter.setPen(Qt::white);
    const QString title = QStringLiteral("Release notes for the next version");
    painter.drawText(QRect(0, 0, 1920, 36), Qt::AlignCenter, title);
    painter.fillRect(QRect(40, 60, 1840, 1000), Qt::white);
    painter.drawImage(QPoint(60, 70), body.image, QRect(0, 0, 1800, 980));
    painter.end();
    shot.text = title + '\n' + lines.join('\n');
    return shot;
}

// A window of 11-pixel text, which is read enlarged, on a dark desktop.
Screenshot smallTextOnDarkDesktop() {
    const QStringList lines = sentences(36, 6);
    TextImage body = renderTextLines(QSize(1000, 640), lines, pixelFont("DejaVu Sans", 11), 4, 4);
    Screenshot shot;
    shot.image = QImage(1920, 1080, QImage::Format_ARGB32_Premultiplied);
    shot.image.fill(Qt::black);
    QPainter painter(&shot.image);
    painter.fillRect(QRect(300, 180, 1000, 22), QColor(90, 120, 170));
    painter.drawImage(QPoint(300, 202), body.image);
    painter.end();
    shot.text = lines.join('\n');
    return shot;
}

// Runs of white space made one space, so that the rate counts characters rather than layout.
QString simplified(const QString& text) { return text.simplified(); }

double errorRate(const QString& read, const QString& expected) {
    const QString a = simplified(read), b = simplified(expected);
    return static_cast<double>(editDistance(a, b)) / b.size();
}

void BM_RecognizeScreenshot(benchmark::State& state) {
    const bool automatic = state.range(0) == 1;
    TestFolder folder;
    const Screenshot shot = state.range(0) == 2 ? smallTextOnDarkDesktop() : textHeavyWindow();
    const QString file = QString::fromStdString((folder / "screenshot.png").string());
    shot.image.save(file, "PNG");
    const QUrl url = QUrl::fromLocalFile(file);
    const QString language = automatic ? QStringLiteral("auto") : QStringLiteral("en-US");
    const QString cliLanguages = automatic ? QStringLiteral("eng+jpn+vie") : QStringLiteral("eng");

    // The program's OpenMP threads adjust to the machine's load, as the recognizer's do.
    QProcessEnvironment cliEnvironment = QProcessEnvironment::systemEnvironment();
    cliEnvironment.insert(QStringLiteral("OMP_DYNAMIC"), QStringLiteral("true"));
    TesseractTextRecognizer recognizer;
    recognizeText(recognizer, url, language, std::nullopt, {});  // the engine a running app keeps
    double ownTime = 0, cliTime = 0, ownError = 0, cliError = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        const OCRResult result = recognizeText(recognizer, url, language, std::nullopt, {});
        ownTime += secondsSince(start);
        ownError = errorRate(result.text, shot.text);

        start = Clock::now();
        QProcess cli;
        cli.setProcessEnvironment(cliEnvironment);
        cli.start(QStringLiteral("tesseract"), {file, QStringLiteral("stdout"), QStringLiteral("-l"), cliLanguages});
        cli.waitForFinished(-1);
        const QString cliText = QString::fromUtf8(cli.readAllStandardOutput());
        cliTime += secondsSince(start);
        if (cli.exitCode() != 0) state.SkipWithError("the tesseract program did not run");
        cliError = errorRate(cliText, shot.text);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["recognize_ms"] = ownTime / n * 1e3;
    state.counters["cli_ms"] = cliTime / n * 1e3;
    state.counters["ratio"] = ownTime / cliTime;
    state.counters["cer_pct"] = ownError * 100;
    state.counters["cli_cer_pct"] = cliError * 100;
}

void BM_DecodeQRCode1080p(benchmark::State& state) {
    QImage image(1920, 1080, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(245, 245, 245));
    QPainter painter(&image);
    painter.setFont(pixelFont("DejaVu Sans", 15));
    painter.setPen(Qt::black);
    for (int y = 40; y < 1080; y += 24) painter.drawText(QPoint(40, y), QStringLiteral("Scan the code to open the page on your phone."));
    painter.drawImage(QPoint(1300, 400), qrCodeImage("https://example.com/brevalto/download?version=2", 5));
    painter.end();
    TesseractTextRecognizer recognizer;
    double decodeTime = 0, baselineTime = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        const auto payloads = recognizer.readQRCodes(image, image.rect(), {});
        decodeTime += secondsSince(start);
        if (payloads.size() != 1) state.SkipWithError("the code was not read");
        start = Clock::now();
        benchmark::DoNotOptimize(image.convertToFormat(QImage::Format_Grayscale8));
        baselineTime += secondsSince(start);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["decode_ms"] = decodeTime / n * 1e3;
    state.counters["grey_ms"] = baselineTime / n * 1e3;
    state.counters["ratio"] = decodeTime / baselineTime;
}

}  // namespace

BENCHMARK(BM_RecognizeScreenshot)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_DecodeQRCode1080p)->Unit(benchmark::kMillisecond)->Iterations(20);

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    return runBenchmarks<QApplication>(argc, argv);
}
