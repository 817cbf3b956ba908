#include "LoopbackHttpServer.h"
#include "Platform/Linux/CurlHttpClient.h"
#include "S3rver.h"
#include "Upload/S3Client.h"
#include "Upload/S3Failure.h"
#include "Upload/S3OwnedObject.h"

#include <gtest/gtest.h>

namespace brevalto {
namespace {

const auto png = std::make_shared<const std::string>(std::string("\x89PNG\r\n\x1a\n", 8) + std::string(70'000, 'p'));
const std::string collision = S3Failure::collision().what(), prefix = "a b!#$&'()*+,:;=?@[]ü~";

std::string outcome(const std::function<void()>& action) {
    try {
        action();
    } catch (const S3Failure& failure) {
        return failure.what();
    }
    return "ok";
}
// An S3-compatible server (s3rver, installed by scripts/setup) on 127.0.0.1 with a bucket "photos".
// s3rver ignores If-None-Match (it overwrites) and answers lifecycle requests with 501, so a
// loopback server plays those.
class S3ObjectsNet : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server = std::make_unique<S3rver>("photos");
        endpoint = server->endpoint;
    }
    static void TearDownTestSuite() { server.reset(); }
    void SetUp() override { ASSERT_FALSE(endpoint.empty()) << "s3rver did not start: run scripts/setup"; }

    S3Client client(const std::string& url, const std::string& bucket = "photos") {
        S3Settings s;
        s.endpoint = url;
        s.bucket = bucket;
        s.prefix = prefix;
        s.publicBaseURL = "https://cdn.example.com/pub/";
        return S3Client(s, {"S3RVER", "any-secret-key-0123456789"}, true, http);
    }
    S3OwnedObject record(const S3Client& s3) {
        S3OwnedObject r{Uuid::random(), 757'000'000.0, s3.settings, "", sha256Hex(sha256(*png)), {}, {}};
        r.key = r.settings.objectKey(r.createdAt, r.id);
        return r;
    }

    static inline std::unique_ptr<S3rver> server;
    static inline std::string endpoint;
    CurlHttpClient http;
};

TEST_F(S3ObjectsNet, UploadCheckLinkAndDeleteOnlyOwnObjects) {
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
    EXPECT_EQ(s3.settings.publicURL(own.key, true), "https://cdn.example.com/pub/a%20b%21%23%24%26%27%28%29%2A%2B%2C"
                                                    "%3A%3B%3D%3F%40%5B%5D%C3%BC~/20241227/" + own.uploadID() + ".png");

    S3OwnedObject impostor = own;  // same key, another digest: not ours
    impostor.sha256 = sha256Hex(sha256("other"));
    EXPECT_EQ(outcome([&] { s3.deleteObject(impostor, own.key); }), collision);
    EXPECT_EQ(outcome([&] { s3.deleteObject(own, own.key + "x"); }), "The exact object key has not been confirmed.");
    EXPECT_TRUE(s3.headObject(own));
    s3.deleteObject(own, own.key);
    EXPECT_FALSE(s3.headObject(own));
    s3.deleteObject(own, own.key);  // already gone: nothing to do
    EXPECT_EQ(outcome([&] { client(endpoint, "missing").testBucket(); }), S3Failure::http(404).what());
}

TEST_F(S3ObjectsNet, PutAnswered412SucceedsOnlyForThisVeryUpload) {
    LoopbackHttpServer loopback;
    const S3Client s3 = client(loopback.url());
    const S3OwnedObject own = record(s3);
    const HttpHeaders ours = {{"x-amz-meta-brevalto-sha256", own.sha256}, {"x-amz-meta-brevalto-upload-id", own.uploadID()}};
    for (const auto& [head, expected] : std::vector<std::pair<ScriptedReply, std::string>>{
             {ScriptedReply::answering(200, ours), "ok"},
             {ScriptedReply::answering(200, {ours[0], {ours[1].first, Uuid().string()}}), collision},
             {ScriptedReply::answering(404), collision}}) {
        loopback.enqueue(ScriptedReply::answering(412));
        loopback.enqueue(head);
        EXPECT_EQ(outcome([&] { s3.put(own, png, nullptr); }), expected);
        const auto sent = loopback.requests();
        EXPECT_EQ(sent[sent.size() - 2].header("If-None-Match"), "*");
        EXPECT_EQ(sent.back().method, "HEAD");
    }
    EXPECT_EQ(loopback.requestCount(), 6u);
}

TEST_F(S3ObjectsNet, LifecycleKeepsOtherRulesAndRefusesEntities) {
    const std::string a = "<s3:Rule>\n <s3:ID>a</s3:ID><Filter><Prefix>x&amp;y</Prefix></Filter></s3:Rule>";
    // Put back with the declaration of the root's prefix that it uses.
    const std::string aPut = "<s3:Rule xmlns:s3=\"u\">\n <s3:ID>a</s3:ID><Filter><Prefix>x&amp;y</Prefix></Filter></s3:Rule>";
    const std::string noID = "<Rule><More><ID>brevalto-expire</ID></More></Rule>", ours = "<Rule><ID>brevalto-expire</ID></Rule>";
    auto bucket = [](const std::string& rules) { return ScriptedReply::withBody("<L xmlns:s3=\"u\">" + rules + "<X/></L>"); };
    const std::string put = "PUT <?xml version=\"1.0\" encoding=\"UTF-8\"?><LifecycleConfiguration "
                            "xmlns=\"http://s3.amazonaws.com/doc/2006-03-01/\">", end = "</LifecycleConfiguration>";
    const std::string app = "<Rule><ID>brevalto-expire</ID><Filter><Prefix>a b!#$&amp;'()*+,:;=?@[]ü~/</Prefix></Filter>"
                            "<Status>Enabled</Status><Expiration><Days>7</Days></Expiration></Rule>" + end;
    const std::string bad = S3Failure::response().what();
    const std::vector<std::tuple<ScriptedReply, int, std::string>> cases = {
        {bucket(a + ours + noID), 7, put + aPut + noID + app},
        {bucket(ours + a), 0, put + aPut + end},
        {bucket(ours), 0, "DELETE "},
        {ScriptedReply::answering(404), 7, put + app},
        {ScriptedReply::answering(403), 7, S3Failure::http(403).what()},
        {ScriptedReply::withBody("<!DOCTYPE L [<!ENTITY a \"ha\"><!ENTITY b \"&a;&a;&a;&a;\">]><L>&b;</L>"), 7, bad},
        {ScriptedReply::withBody("<!DOCTYPE L [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><L>&e;</L>"), 7, bad},
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
}

}  // namespace
}  // namespace brevalto
