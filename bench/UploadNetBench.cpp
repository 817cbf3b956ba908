// Uploads of a 40-megapixel screenshot-like image to the S3-compatible server s3rver on
// 127.0.0.1, as ratios to baselines measured in the same run:
// - the PUT of the already encoded PNG through S3Client, against curl's own signed upload
//   (--aws-sigv4) of the same file to the same server (curl is handed the body's digest, which
//   S3Client computes itself);
// - the controller's whole upload (render to PNG, digest, history, PUT), against encoding the
//   same image alone;
// - the controller's R2 upload (destination and object checks, the PUT through the Cloudflare
//   API) against its S3 upload of the same image, both to the Cloudflare stand-in.
#include "Document/ScreenshotOutput.h"
#include "FakeKeychain.h"
#include "FakePasteboard.h"
#include "LoginBrowser.h"
#include "LoopbackHttpServer.h"
#include "Platform/Defaults.h"
#include "Platform/Hashing.h"
#include "Platform/Linux/CurlHttpClient.h"
#include "QtWait.h"
#include "S3rver.h"
#include "StandIns.h"
#include "TestFolder.h"
#include "Upload/S3Client.h"
#include "Upload/S3OwnedObject.h"
#include "Upload/S3UploadController.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>

#include <benchmark/benchmark.h>

#include "BenchMain.h"

#include <chrono>
#include <cmath>
#include <random>

using namespace brevalto;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

const char* const kAccessKey = "S3RVER";
const char* const kSecretKey = "any-secret-key-0123456789";

// 8000 x 5000 pixels: windows of text on a light desktop, and a photograph-like area with noise.
QImage largeScreenshot() {
    QImage image(8000, 5000, QImage::Format_RGB32);
    image.fill(QColor(236, 238, 242));
    QPainter painter(&image);
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(16);
    painter.setFont(font);
    std::mt19937 rng(7);
    for (int window = 0; window < 6; ++window) {
        const QRect frame(40 + window % 3 * 2640, 40 + window / 3 * 2480, 2560, 2400);
        painter.fillRect(frame, Qt::white);
        painter.setPen(QColor(40, 40, 40));
        for (int y = frame.top() + 30; y < frame.bottom(); y += 22) {
            QString text;
            for (int w = 0, words = 4 + static_cast<int>(rng() % 12); w < words; ++w)
                text += QStringLiteral("value_%1 = %2; ").arg(rng() % 1000).arg(rng() % 97);
            painter.drawText(frame.left() + 16, y, text);
        }
    }
    painter.end();
    std::normal_distribution<double> noise(0, 3);
    for (int y = 2600; y < 4900; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 5400; x < 7900; ++x) {
            const double u = x / 8000.0, v = y / 5000.0;
            auto channel = [&](double c) { return std::clamp(static_cast<int>(std::lround(c + noise(rng))), 0, 255); };
            row[x] = qRgb(channel(120 + 90 * std::sin(u * 9 + v * 3)), channel(110 + 70 * std::cos(u * 5 - v * 7)),
                          channel(100 + 60 * std::sin(v * 11 + 1)));
        }
    }
    return image;
}

QByteArray encodePNG(const QImage& image) {
    return ScreenshotOutput::encode(image, ScreenshotOutput::Format::png, Qt::white, false, 1.0, 0.9);
}

S3Settings destination(const std::string& endpoint) {
    S3Settings settings;
    settings.endpoint = endpoint;
    settings.bucket = "photos";
    return settings;
}

void BM_PutEncodedPNG(benchmark::State& state) {
    S3rver server(QStringLiteral("photos"));
    if (server.endpoint.empty()) return state.SkipWithError("s3rver did not start: run scripts/setup");
    TestFolder folder;
    const QByteArray bytes = encodePNG(largeScreenshot());
    const QString file = QString::fromStdString((folder / "shot.png").string());
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size()) return state.SkipWithError("cannot write");
    out.close();
    const auto png = std::make_shared<const std::string>(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    CurlHttpClient http;
    const S3Client client(destination(server.endpoint), {kAccessKey, kSecretKey}, true, http);
    const std::string digest = sha256Hex(sha256(*png));

    double oursTime = 0, curlTime = 0;
    for (auto _ : state) {
        S3OwnedObject record{Uuid::random(), 800'000'000.0, client.settings, "", digest, {}, {}};
        record.key = record.settings.objectKey(record.createdAt, record.id);
        auto start = Clock::now();
        client.put(record, png, nullptr);
        oursTime += secondsSince(start);

        QProcess curl;
        start = Clock::now();
        curl.start(QStringLiteral("curl"),
                   {"-sS", "-f", "--aws-sigv4", "aws:amz:auto:s3", "--user", QStringLiteral("%1:%2").arg(kAccessKey, kSecretKey),
                    "-H", "Content-Type: image/png", "-H", QString::fromStdString("x-amz-content-sha256: " + digest), "-T", file,
                    QString::fromStdString(server.endpoint + "/photos/curl/" + record.uploadID() + ".png")});
        if (!curl.waitForFinished(120'000) || curl.exitCode() != 0) return state.SkipWithError("curl failed");
        curlTime += secondsSince(start);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["MiB"] = static_cast<double>(bytes.size()) / (1024.0 * 1024.0);
    state.counters["ours_ms"] = oursTime / n * 1e3;
    state.counters["curl_ms"] = curlTime / n * 1e3;
    state.counters["ratio"] = oursTime / curlTime;
}

void BM_WholeUpload(benchmark::State& state) {
    S3rver server(QStringLiteral("photos"));
    if (server.endpoint.empty()) return state.SkipWithError("s3rver did not start: run scripts/setup");
    TestFolder folder;
    const QImage image = largeScreenshot();
    FakePasteboard board;
    Defaults defaults;
    FakeKeychain keychain;
    CurlHttpClient http;
    S3UploadController uploads(&board, defaults, "app.brevalto.S3", folder / "uploads.json",
                               S3UploadController::Parts{.keychain = &keychain, .http = &http, .allowLoopbackHTTP = true});
    uploads.setSettings(destination(server.endpoint));
    uploads.saveSettings(kAccessKey, kSecretKey);

    double uploadTime = 0, encodeTime = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        // Without link copy an uploaded record is never reused: every round sends the image.
        if (!uploads.upload(image, false, std::nullopt)) return state.SkipWithError("the upload did not start");
        if (!waitUntil([&] { return !uploads.busy(); }, 300'000) || !uploads.status().startsWith("Upload complete"))
            return state.SkipWithError(uploads.status().toStdString().c_str());
        uploadTime += secondsSince(start);
        start = Clock::now();
        benchmark::DoNotOptimize(encodePNG(image));
        encodeTime += secondsSince(start);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["upload_ms"] = uploadTime / n * 1e3;
    state.counters["encode_ms"] = encodeTime / n * 1e3;
    state.counters["ratio"] = uploadTime / encodeTime;
}

// R2 and S3 uploads through the controller.
bool finished(S3UploadController& uploads, const char* status) {
    return waitUntil([&] { return !uploads.busy(); }, 300'000) && uploads.status().startsWith(QString::fromLatin1(status));
}

void BM_R2AgainstS3Upload(benchmark::State& state) {
    TestFolder folder;
    CloudflareStandIn cloudflare(folder / "cloudflare.log");
    if (!cloudflare.running()) return state.SkipWithError("the Cloudflare stand-in did not start");
    CurlHttpClient http;
    FakePasteboard board;
    Defaults s3Defaults, r2Defaults;
    FakeKeychain keychain;
    const std::uint16_t loginPort = LoopbackHttpServer::closedPort();

    S3UploadController s3(&board, s3Defaults, "app.brevalto.S3", folder / "s3.json",
                          S3UploadController::Parts{.keychain = &keychain, .http = &http, .allowLoopbackHTTP = true});
    S3Settings settings;
    settings.endpoint = cloudflare.url("/s3");
    settings.bucket = "photos";
    s3.setSettings(settings);
    s3.saveSettings(QStringLiteral("S3RVER"), QStringLiteral("any-secret-key-0123456789"));

    S3UploadController::Parts parts{.keychain = &keychain, .http = &http};
    parts.cloudflare = CloudflareEndpoints{cloudflare.url("/client/v4"), cloudflare.url("/oauth2"), loginPort};
    parts.openBrowser = LoginBrowser::following(http, loginPort);
    S3UploadController r2(&board, r2Defaults, "app.brevalto.S3", folder / "r2.json", parts);
    r2.connectCloudflare();
    if (!finished(r2, "Cloudflare connected")) return state.SkipWithError(r2.status().toStdString().c_str());
    r2.saveR2Destination();
    r2.setUseCloudflare(true);

    const QImage image = largeScreenshot();
    double r2Time = 0, s3Time = 0;
    for (auto _ : state) {
        // Without link copy an uploaded record is never reused: every round sends the image.
        auto start = Clock::now();
        if (!r2.upload(image, false, std::nullopt) || !finished(r2, "Upload complete"))
            return state.SkipWithError(r2.status().toStdString().c_str());
        r2Time += secondsSince(start);
        start = Clock::now();
        if (!s3.upload(image, false, std::nullopt) || !finished(s3, "Upload complete"))
            return state.SkipWithError(s3.status().toStdString().c_str());
        s3Time += secondsSince(start);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["r2_ms"] = r2Time / n * 1e3;
    state.counters["s3_ms"] = s3Time / n * 1e3;
    state.counters["ratio"] = r2Time / s3Time;
}

}  // namespace

BENCHMARK(BM_PutEncodedPNG)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_WholeUpload)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_R2AgainstS3Upload)->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char** argv) {
    return runBenchmarks<QGuiApplication>(argc, argv);
}
