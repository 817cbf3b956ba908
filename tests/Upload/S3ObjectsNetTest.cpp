#include "LoopbackHttpServer.h"
#include "Platform/Linux/CurlHttpClient.h"
#include "TestFolder.h"
#include "Upload/S3Client.h"
#include "Upload/S3Failure.h"
#include "Upload/S3OwnedObject.h"

#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace brevalto {
namespace {

const S3Credentials keys{"S3RVER", "s3rver-secret-key-0123456789"};  // s3rver's own account
const auto png = std::make_shared<const std::string>(std::string("\x89PNG\r\n\x1a\n", 8) + std::string(70'000, 'p'));

std::string outcome(const std::function<void()>& action) {
    try {
        action();
        return "ok";
    } catch (const S3Failure& failure) {
        return failure.what();
    }
}

// An S3-compatible server (s3rver, installed by scripts/setup) on 127.0.0.1 with a bucket "photos".
class S3ObjectsNet : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server = std::make_unique<QProcess>();
        server->setProcessChannelMode(QProcess::MergedChannels);
        server->start("node", {BREVALTO_SOURCE_DIR "/.cache/s3rver/node_modules/s3rver/bin/s3rver.js", "-d",
                              QString::fromStdString(folder.path()), "-a", "127.0.0.1", "-p", "0", "--configure-bucket", "photos"});
        QString output;
        while (endpoint.empty() && server->waitForReadyRead(20'000)) {
            output += QString::fromUtf8(server->readAll());
            const auto match = QRegularExpression("listening on 127\\.0\\.0\\.1:(\\d+)").match(output);
            if (match.hasMatch()) endpoint = "http://127.0.0.1:" + match.captured(1).toStdString();
        }
        if (endpoint.empty()) FAIL() << "s3rver did not start (run scripts/setup): " << output.toStdString();
    }
    static void TearDownTestSuite() {
        server->kill();
        server->waitForFinished();
        server.reset();
    }

    S3Client client(const std::string& url, const std::string& prefix = "shots & more+ü=@", const char* bucket = "photos") {
        S3Settings s;
        s.endpoint = url;
        s.bucket = bucket;
        s.prefix = prefix;
        return S3Client(s, keys, true, http);
    }
    S3OwnedObject record(const S3Client& s3) {
        S3OwnedObject r{Uuid::random(), 757'000'000.0, s3.settings, "", sha256Hex(sha256(*png)), {}, {}};
        r.key = r.settings.objectKey(r.createdAt, r.id);
        return r;
    }

    static inline TestFolder folder;
    static inline std::unique_ptr<QProcess> server;
    static inline std::string endpoint;
    CurlHttpClient http;
};

TEST_F(S3ObjectsNet, UploadCheckLinkAndDeleteOnlyOwnObjects) {
    ASSERT_FALSE(endpoint.empty());
    const S3Client s3 = client(endpoint);
    s3.testBucket();
    S3OwnedObject own = record(s3);
    EXPECT_FALSE(s3.headObject(own));
    s3.put(own, png, nullptr);
    EXPECT_TRUE(s3.headObject(own));
    own.state = S3OwnedObject::State::uploaded;
    HttpRequest get;
    get.url = s3.link(own);
    get.responseLimit = 1 << 20;
    get.keepResponseBody = true;
    EXPECT_EQ(http.send(get, {}, nullptr).body, *png);

    S3OwnedObject impostor = own;  // same key, another digest: not ours
    impostor.sha256 = sha256Hex(sha256("other"));
    EXPECT_EQ(outcome([&] { s3.deleteObject(impostor, own.key); }), S3Failure::collision().what());
    EXPECT_EQ(outcome([&] { s3.deleteObject(own, own.key + "x"); }), "The exact object key has not been confirmed.");
    EXPECT_EQ(outcome([&] { s3.put(own, std::make_shared<const std::string>("changed"), nullptr); }),
              "The rendered image changed or exceeds the 64 MiB upload limit.");
    EXPECT_TRUE(s3.headObject(own));
    s3.deleteObject(own, own.key);
    EXPECT_FALSE(s3.headObject(own));
    s3.deleteObject(own, own.key);  // already gone: nothing to do
    EXPECT_EQ(outcome([&] { client(endpoint, "p", "missing").testBucket(); }),
              S3Failure::http(404).what());
}

// s3rver ignores If-None-Match and overwrites, so a loopback server answers 412 and the HEAD.
TEST_F(S3ObjectsNet, PutAnswered412SucceedsOnlyForThisVeryUpload) {
    LoopbackHttpServer loopback;
    const S3Client s3 = client(loopback.url());
    const S3OwnedObject own = record(s3);
    const HttpHeaders ours = {{"x-amz-meta-brevalto-sha256", own.sha256}, {"x-amz-meta-brevalto-upload-id", own.uploadID()}};
    const HttpHeaders theirs = {ours[0], {ours[1].first, Uuid().string()}};
    for (const auto& [head, expected] : std::vector<std::pair<ScriptedReply, std::string>>{
             {ScriptedReply::answering(200, ours), "ok"},
             {ScriptedReply::answering(200, theirs), S3Failure::collision().what()},
             {ScriptedReply::answering(404), S3Failure::collision().what()}}) {
        loopback.enqueue(ScriptedReply::answering(412));
        loopback.enqueue(head);
        EXPECT_EQ(outcome([&] { s3.put(own, png, nullptr); }), expected);
        const auto sent = loopback.requests();
        EXPECT_EQ(sent[sent.size() - 2].header("If-None-Match"), "*");
        EXPECT_EQ(sent.back().method, "HEAD");
    }
    EXPECT_EQ(loopback.requestCount(), 6u);
}

// s3rver answers lifecycle requests with 501 NotImplemented, so a loopback server plays the bucket.
TEST_F(S3ObjectsNet, LifecycleKeepsOtherRulesAndRefusesEntities) {
    const std::string a = "<s3:Rule>\n <s3:ID>a</s3:ID><Filter><Prefix>x&amp;y</Prefix></Filter></s3:Rule>";
    const std::string noID = "<Rule><Status>Enabled</Status><More><ID>brevalto-expire</ID></More></Rule>";
    const std::string ours = "<Rule><ID>brevalto-expire</ID></Rule>";
    auto bucket = [](const std::string& rules) {
        return ScriptedReply::withBody("<?xml version=\"1.0\"?><L xmlns:s3=\"urn:x\">" + rules + "<Other/></L>");
    };
    const std::string put = "PUT <?xml version=\"1.0\" encoding=\"UTF-8\"?><LifecycleConfiguration "
                            "xmlns=\"http://s3.amazonaws.com/doc/2006-03-01/\">";
    const std::string app = "<Rule><ID>brevalto-expire</ID><Filter><Prefix>shots &amp; more+ü=@/</Prefix></Filter>"
                            "<Status>Enabled</Status><Expiration><Days>7</Days></Expiration></Rule></LifecycleConfiguration>";
    const std::string bad = S3Failure::response().what();
    const std::vector<std::tuple<ScriptedReply, int, std::string>> cases = {
        {bucket(a + ours + noID), 7, put + a + noID + app},
        {bucket(ours + a), 0, put + a + "</LifecycleConfiguration>"},
        {bucket(ours), 0, "DELETE "},
        {ScriptedReply::answering(404), 7, put + app},
        {ScriptedReply::answering(403), 7, S3Failure::http(403).what()},
        {ScriptedReply::withBody("<!DOCTYPE L [<!ENTITY a \"ha\"><!ENTITY b \"&a;&a;&a;&a;\">]><L>&b;</L>"), 7, bad},
        {ScriptedReply::withBody("<!DOCTYPE L [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><L>&e;</L>"), 7, bad},
        {ScriptedReply::withBody("<L><Rule>&undeclared;</Rule></L>"), 7, bad},
        {ScriptedReply::withBody("<?xml version=\"1.0\"?>"), 7, bad},
        {ScriptedReply::withBody("<L>" + std::string(1 << 20, ' ') + "</L>"), 7, bad},
    };
    for (const auto& [current, days, expected] : cases) {
        LoopbackHttpServer loopback;
        loopback.enqueue(current);
        const std::string result = outcome([&, days = days] { client(loopback.url()).setLifecycle(days); });
        const auto sent = loopback.requests();
        EXPECT_EQ(sent[0].target, "/photos?lifecycle");
        EXPECT_EQ(result == "ok", sent.size() == 2) << result;
        EXPECT_EQ(sent.size() == 2 ? sent[1].method + " " + sent[1].body : result, expected);
        if (sent.size() == 2 && sent[1].method == "PUT") {
            EXPECT_EQ(sent[1].header("Content-MD5"), toBase64(asBytes(md5(sent[1].body))));
        }
    }
    LoopbackHttpServer silent;
    EXPECT_EQ(outcome([&] { client(silent.url(), "/").setLifecycle(7); }),
              "Set an upload prefix first. A rule without one would delete every object in the bucket.");
    EXPECT_EQ(silent.requestCount(), 0u);
}

}  // namespace
}  // namespace brevalto
