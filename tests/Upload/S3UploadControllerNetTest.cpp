#include "FakeKeychain.h"
#include "FakePasteboard.h"
#include "LoopbackHttpServer.h"
#include "Platform/Defaults.h"
#include "Platform/Linux/CurlHttpClient.h"
#include "QtWait.h"
#include "S3rver.h"
#include "ScriptedUploadDialogs.h"
#include "TestFolder.h"
#include "Upload/S3Failure.h"
#include "Upload/S3History.h"
#include "Upload/S3UploadController.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>

namespace brevalto {
namespace {

using State = S3OwnedObject::State;
const QString secret = QStringLiteral("any-secret-key-0123456789");

// Counts the PUTs that reach the network.
class CountingHttp final : public HttpClient {
public:
    HttpResponse send(const HttpRequest& request, std::stop_token cancel, const Progress& progress) override {
        if (request.method == "PUT") ++puts;
        return inner.send(request, cancel, progress);
    }
    CurlHttpClient inner;
    std::atomic<int> puts = 0;
};

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

QImage picture(QRgb colour) {
    QImage image(64, 48, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    return image;
}

class S3UploadControllerNet : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = std::make_unique<S3rver>("photos"); }
    static void TearDownTestSuite() { server.reset(); }
    void SetUp() override { ASSERT_FALSE(server->endpoint.empty()) << "s3rver did not start: run scripts/setup"; }

    std::unique_ptr<S3UploadController> make(std::function<QByteArray(const QImage&)> encode = {}) {
        return std::make_unique<S3UploadController>(
            &board, defaults, "app.brevalto.S3", folder / "data" / "uploads.json",
            S3UploadController::Parts{.keychain = &keychain, .http = &http, .dialogs = &dialogs,
                                      .encode = std::move(encode), .allowLoopbackHTTP = true});
    }
    // Points the controller at a destination and stores it with keys.
    static void destination(S3UploadController& uploads, const std::string& endpoint) {
        S3Settings settings = uploads.settings();
        settings.endpoint = endpoint;
        settings.bucket = "photos";
        uploads.setSettings(settings);
        uploads.saveSettings("S3RVER", secret);
    }
    static std::string finish(S3UploadController& uploads) {
        EXPECT_TRUE(waitUntil([&] { return !uploads.busy(); }));
        return uploads.status().toStdString();
    }
    static std::string upload(S3UploadController& uploads, const QImage& image, std::optional<Uuid> clip = {}) {
        EXPECT_TRUE(uploads.upload(image, true, clip));
        return finish(uploads);
    }
    std::string get(const std::string& url) {
        HttpRequest request;
        request.url = url;
        request.responseLimit = 1 << 20;
        request.keepResponseBody = true;
        return http.inner.send(request, {}, nullptr).body;
    }

    static inline std::unique_ptr<S3rver> server;
    TestFolder folder;
    FakePasteboard board;
    Defaults defaults;
    FakeKeychain keychain;
    CountingHttp http;
    ScriptedUploadDialogs dialogs;
};

TEST_F(S3UploadControllerNet, RecordsMoveThroughUploadLinkVerifyAndDelete) {
    auto uploads = make();
    const Uuid clip = Uuid::random();
    EXPECT_EQ(uploads->status(), S3UploadController::initialStatus);
    EXPECT_EQ(upload(*uploads, picture(0xff336699), clip), S3UploadController::setupMessage.toStdString());

    // Settings failing a rule or with one key store nothing.
    S3Settings settings = uploads->settings();
    settings.endpoint = server->endpoint;
    settings.bucket = "Photos";
    uploads->setSettings(settings);
    EXPECT_THROW(uploads->saveSettings("S3RVER", secret), S3Failure);
    settings.bucket = "photos";
    uploads->setSettings(settings);
    EXPECT_THROW(uploads->saveSettings("", secret), S3Failure);
    EXPECT_FALSE(defaults.contains(S3UploadController::settingsKey));
    EXPECT_TRUE(keychain.items.empty());
    // Without keys, the upload fails before anything is written.
    uploads->saveSettings("", "");
    EXPECT_EQ(uploads->status().toStdString(),
              "Settings saved without keys. The keyring stores separate keys for each endpoint, bucket and region.");
    EXPECT_EQ(upload(*uploads, picture(0xff336699), clip), S3Failure::credentials(-25300).what());
    EXPECT_TRUE(uploads->history().empty());
    uploads->saveSettings("S3RVER", secret);
    EXPECT_EQ(uploads->status().toStdString(),
              "Settings and keys saved. The keyring stores separate keys for each endpoint, bucket and region.");

    // A new record, uploaded once; the same image again copies another link without a PUT.
    EXPECT_EQ(upload(*uploads, picture(0xff336699), clip), "Link copied.");
    ASSERT_EQ(uploads->history().size(), 1u);
    const S3OwnedObject first = uploads->history()[0];
    EXPECT_EQ(first.state, State::uploaded);
    EXPECT_EQ(first.clipID, clip);
    EXPECT_EQ(uploads->progress(), 1.0);
    EXPECT_TRUE(uploads->hasLiveUpload(clip));
    const std::string link = board.content().data(PasteboardType::string)->toStdString();
    EXPECT_EQ(board.content().data(PasteboardType::restored), "1");
    EXPECT_EQ(board.content().data(PasteboardType::source), "app.brevalto");
    EXPECT_NE(link.find("X-Amz-Signature="), std::string::npos);
    const std::string png = get(link);
    EXPECT_TRUE(png.starts_with("\x89PNG"));
    EXPECT_EQ(sha256Hex(sha256(png)), first.sha256);
    EXPECT_EQ(http.puts, 1);
    EXPECT_EQ(upload(*uploads, picture(0xff336699)), "Link copied.");
    EXPECT_EQ(http.puts, 1);
    EXPECT_EQ(uploads->history().size(), 1u);

    // Another destination becomes active: records of the first keep their own keys and endpoint.
    LoopbackHttpServer loopback;
    destination(*uploads, loopback.url());
    EXPECT_FALSE(uploads->hasLiveUpload(clip));
    uploads->verify(first.id);
    EXPECT_EQ(finish(*uploads), "Object ownership verified. Copy link and Delete are available.");
    uploads->copyLink(first.id);
    EXPECT_EQ(uploads->status().toStdString(),
              "Presigned link copied. It grants temporary access; share it only with intended recipients.");
    EXPECT_EQ(get(board.content().data(PasteboardType::string)->toStdString()), png);

    // Three 500s leave an uncertain record; the retry reuses its id and key.
    for (int i = 0; i < 3; ++i) loopback.enqueue(ScriptedReply::answering(500));
    EXPECT_EQ(upload(*uploads, picture(0xff00ff00)), S3Failure::http(500).what());
    const S3OwnedObject uncertain = uploads->history().back();
    EXPECT_EQ(uncertain.state, State::uncertain);
    uploads->copyLink(uncertain.id);
    EXPECT_EQ(uploads->status().toStdString(), "No upload has been verified successfully.");
    EXPECT_EQ(upload(*uploads, picture(0xff00ff00)), "Link copied.");
    EXPECT_EQ(uploads->history().size(), 2u);
    EXPECT_EQ(uploads->history().back().id, uncertain.id);
    EXPECT_EQ(uploads->history().back().state, State::uploaded);
    EXPECT_EQ(loopback.requests().back().target, "/photos/" + uncertain.key);

    // Delete: a typed key with a trailing space deletes nothing; the exact key does.
    dialogs.typedKeys = {QString::fromStdString(first.key + " "), std::nullopt, QString::fromStdString(first.key)};
    uploads->deleteObject(first.id);
    EXPECT_EQ(uploads->status().toStdString(), "The key does not match. No object was deleted.");
    uploads->deleteObject(first.id);
    EXPECT_FALSE(uploads->busy());
    uploads->deleteObject(first.id);
    EXPECT_EQ(finish(*uploads),
              "The object was deleted or is already absent. Local history retains its deleted status.");
    EXPECT_EQ(uploads->history()[0].state, State::deleted);
    EXPECT_EQ(dialogs.deleteQuestions, (QStringList{"photos", "photos", "photos"}));
    uploads->verify(first.id);  // deleted records are not verified
    EXPECT_FALSE(uploads->busy());
    uploads->forgetDeleted();
    EXPECT_EQ(uploads->status().toStdString(), "Deleted records removed locally. No server request was made.");
    EXPECT_EQ(S3History::load(folder / "data" / "uploads.json", true), uploads->history());
    EXPECT_EQ(uploads->history().size(), 1u);

    // A new controller reads it all back.
    auto again = make();
    EXPECT_EQ(again->settings(), uploads->settings());
    EXPECT_EQ(again->history(), uploads->history());
}

TEST_F(S3UploadControllerNet, FailedExchangesCancellationAndTheBusyGate) {
    auto uploads = make();
    LoopbackHttpServer loopback;
    destination(*uploads, loopback.url());
    const std::vector<std::pair<std::vector<ScriptedReply>, std::string>> failures = {
        {{ScriptedReply::closing(), ScriptedReply::closing(), ScriptedReply::closing()},
         S3Failure::network(HttpError::networkConnectionLost).what()},
        {{ScriptedReply::answering(302, {{"Location", "https://elsewhere.example/"}})}, S3Failure::http(302).what()},
    };
    for (const auto& [replies, expected] : failures) {
        for (const ScriptedReply& reply : replies) loopback.enqueue(reply);
        EXPECT_EQ(upload(*uploads, picture(0xff112233)), expected);
        EXPECT_EQ(uploads->history().back().state, State::uncertain);
    }
    EXPECT_EQ(uploads->history().size(), 1u);

    // A server that never answers: a second upload is refused meanwhile; Cancel request.
    loopback.enqueue(ScriptedReply::stalled());
    std::vector<quint64> ended;
    QObject::connect(uploads.get(), &S3UploadController::operationEnded, [&](quint64 n) { ended.push_back(n); });
    const auto running = uploads->upload(picture(0xff112233), true, std::nullopt);
    ASSERT_TRUE(running);
    ASSERT_TRUE(waitUntil([&] { return loopback.requestCount() == 5; }));
    const QString status = uploads->status();
    EXPECT_FALSE(uploads->upload(picture(0xff445566), true, std::nullopt));
    EXPECT_EQ(uploads->status(), status);
    uploads->verify(uploads->history()[0].id);
    uploads->testConnection();
    EXPECT_EQ(uploads->status(), status);
    uploads->cancelRunningOperation();
    EXPECT_FALSE(uploads->busy());
    EXPECT_EQ(ended, std::vector<quint64>{running->number});
    EXPECT_EQ(uploads->status().toStdString(), S3Failure::cancelled().what());
    EXPECT_EQ(uploads->history().back().state, State::uncertain);

    // Verify finds the object later.
    const S3OwnedObject record = uploads->history().back();
    loopback.enqueue(ScriptedReply::answering(
        200, {{"x-amz-meta-brevalto-sha256", record.sha256}, {"x-amz-meta-brevalto-upload-id", record.uploadID()}}));
    uploads->verify(record.id);
    EXPECT_EQ(finish(*uploads), "Object ownership verified. Copy link and Delete are available.");
    EXPECT_EQ(uploads->history().back().state, State::uploaded);

    // Auto-delete: the rule is written, the days stored, and a record that expires within the
    // hour is no longer live.
    loopback.enqueue(ScriptedReply::answering(404));
    uploads->setAutoDelete(7);
    EXPECT_EQ(finish(*uploads), "The bucket deletes uploads under brevalto/ about 7 days after upload, even when "
                                "this computer is off.");
    EXPECT_EQ(uploads->lifecycleDays(uploads->settings()), 7);
    EXPECT_EQ(loopback.requests().back().method, "PUT");

    // Removing keys asks first; then the bucket test fails for want of keys.
    dialogs.removeAnswers = {false, true};
    uploads->removeKeys();
    EXPECT_EQ(keychain.items.size(), 1u);
    uploads->removeKeys();
    EXPECT_EQ(uploads->status().toStdString(), "Keys removed for this destination.");
    uploads->testConnection();
    EXPECT_EQ(finish(*uploads), S3Failure::credentials(-25300).what());
}

TEST_F(S3UploadControllerNet, TheSizeLimitHoldsAtExactly64MiB) {
    std::size_t size = 0;
    auto uploads = make([&size](const QImage&) {
        QByteArray bytes(static_cast<qsizetype>(size), 'p');
        bytes.replace(0, 8, QByteArray("\x89PNG\r\n\x1a\n", 8));
        return bytes;
    });
    destination(*uploads, server->endpoint);
    size = S3UploadController::kMaxUploadBytes + 1;
    EXPECT_EQ(upload(*uploads, picture(0)), "The PNG exceeds the 64 MiB upload limit.");
    EXPECT_TRUE(uploads->history().empty());
    EXPECT_FALSE(std::filesystem::exists(folder / "data" / "uploads.json"));
    size = S3UploadController::kMaxUploadBytes;
    EXPECT_EQ(upload(*uploads, picture(0)), "Link copied.");
    EXPECT_EQ(uploads->history().at(0).state, State::uploaded);
}

TEST_F(S3UploadControllerNet, StoredStateThatCannotBeTrustedIsSetAside) {
    S3Settings stored;
    stored.endpoint = "https://s3.example.com";
    stored.bucket = "photos";
    const std::string json = stored.toJson().dump();
    const std::string invalid = "Invalid S3 settings. Correct and save them; existing keys remain in the keyring.";
    for (const auto& [bytes, expected] : std::vector<std::pair<std::string, std::string>>{
             {json + std::string(S3UploadController::kMaxStoredSettings - json.size(), ' '), ""},
             {json + std::string(S3UploadController::kMaxStoredSettings + 1 - json.size(), ' '), invalid},
             {"{\"endpoint\":1}", invalid}}) {
        defaults.setData(S3UploadController::settingsKey, bytes);
        auto uploads = make();
        EXPECT_EQ(uploads->settings() == stored, expected.empty());
        EXPECT_EQ(uploads->status().toStdString(), expected.empty() ? S3UploadController::initialStatus.toStdString() : expected);
    }

    // A corrupt or symlinked history blocks uploads and stays as it was.
    const auto file = folder / "data" / "uploads.json";
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(folder / "elsewhere.json") << "{\"version\":1,\"objects\":[]}";
    for (const std::function<void()>& spoil :
         std::vector<std::function<void()>>{[&] { std::ofstream(file) << "{\"version\":1,"; },
                                            [&] {
                                                std::filesystem::remove(file);
                                                std::filesystem::create_symlink(folder / "elsewhere.json", file);
                                            }}) {
        spoil();
        const bool link = std::filesystem::is_symlink(file);
        const std::string before = readFile(file);
        auto uploads = make();
        EXPECT_FALSE(uploads->storageAvailable());
        EXPECT_EQ(uploads->status().toStdString(), S3Failure::storage().what());
        EXPECT_FALSE(uploads->upload(picture(0), true, std::nullopt));
        uploads->forgetDeleted();
        EXPECT_EQ(uploads->status().toStdString(), S3Failure::storage().what());
        EXPECT_EQ(std::filesystem::is_symlink(file), link);
        EXPECT_EQ(readFile(file), before);
    }
}

}  // namespace
}  // namespace brevalto
