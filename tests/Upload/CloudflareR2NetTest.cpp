#include "FakeClock.h"
#include "FakeKeychain.h"
#include "LoopbackHttpServer.h"
#include "R2Destination.h"
#include "Platform/Hashing.h"
#include "ReroutingHttp.h"
#include "Platform/Task.h"
#include "Upload/CloudflareConnection.h"
#include "Upload/CloudflareFailure.h"
#include "Upload/CloudflareR2.h"
#include "Upload/S3Failure.h"
#include "Upload/S3OwnedObject.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace brevalto {
namespace {

const std::string account = "0123456789abcdef0123456789abcdef";
const std::string invalidResponse = "Cloudflare returned an invalid response.";

ScriptedReply json(int status, const nlohmann::json& body) {
    ScriptedReply reply = ScriptedReply::answering(status);
    reply.body = body.dump();
    return reply;
}

ScriptedReply envelope(const nlohmann::json& result, const nlohmann::json& info = nullptr) {
    nlohmann::json body = {{"success", true}, {"result", result}};
    if (!info.is_null()) body["result_info"] = info;
    return json(200, body);
}

class CloudflareR2Net : public ::testing::Test {
protected:
    void SetUp() override {
        CloudflareKeychain{"app.brevalto.S3.Cloudflare"}.save(keychain, CloudflareTokens{"at-1", "rt-1", clock.now() + 3600});
    }
    S3Settings destination() const { return savedR2Destination(account); }
    S3OwnedObject record(const std::string& png, S3OwnedObject::State state = S3OwnedObject::State::uncertain) const {
        S3OwnedObject r{Uuid::random(), 800'000'000, destination(), "", sha256Hex(sha256(png)), state, std::nullopt};
        r.key = r.settings.objectKey(r.createdAt, r.id);
        return r;
    }
    std::string failure(const std::function<void()>& call) {
        try {
            call();
        } catch (const CloudflareFailure& f) {
            return f.what();
        } catch (const S3Failure& f) {
            return f.what();
        }
        return "";
    }
    std::vector<std::string> targets() const {
        std::vector<std::string> out;
        for (const ReceivedRequest& r : server.requests()) out.push_back(r.method + " " + r.target);
        return out;
    }
    std::string path(const std::string& rest = "") const { return "/client/v4/accounts/" + account + "/r2/buckets/shots" + rest; }

    LoopbackHttpServer server;
    FakeKeychain keychain;
    FakeClock clock;
    ReroutingHttp http{server.url()};
    CloudflareConnection connection{"app.brevalto.S3.Cloudflare", &keychain, &http, clock,
                                    CloudflareEndpoints{server.url("/client/v4"), server.url("/oauth2")}};
    CloudflareR2 r2{connection};
};

TEST_F(CloudflareR2Net, AccountPagesEndAtTheirTotalAndStopAtOneHundred) {
    const nlohmann::json page = nlohmann::json::array({{{"id", account}, {"name", "Mine"}}});
    server.enqueue(envelope(page));  // no result_info: one page
    EXPECT_EQ(r2.accounts({}).size(), 1u);
    EXPECT_EQ(server.requests().back().target, "/client/v4/accounts?per_page=50&page=1");
    EXPECT_EQ(server.requests().back().header("Authorization"), "Bearer at-1");

    for (int i = 0; i < 100; ++i) server.enqueue(envelope(page, {{"total_pages", 100}}));
    EXPECT_EQ(r2.accounts({}).size(), 100u);
    for (int i = 0; i < 100; ++i) server.enqueue(envelope(page, {{"total_pages", 101}}));
    EXPECT_EQ(failure([&] { r2.accounts({}); }), "The account list exceeds the supported limit.");
    EXPECT_EQ(server.requests().back().target, "/client/v4/accounts?per_page=50&page=100");

    server.enqueue(envelope(nlohmann::json::array({{{"id", "0123456789ABCDEF0123456789abcdef"}, {"name", "Caps"}}})));
    EXPECT_EQ(failure([&] { r2.accounts({}); }), "Invalid account identifier.");
    server.enqueue(json(200, {{"success", false}, {"result", nullptr}}));
    EXPECT_EQ(failure([&] { r2.accounts({}); }), invalidResponse);
    server.enqueue(ScriptedReply::answering(302, {{"Location", "https://elsewhere.test/"}}));
    EXPECT_EQ(failure([&] { r2.accounts({}); }),
              "Cloudflare HTTP 302. Check account permissions, bucket access or reconnect. Response content is hidden.");
}

TEST_F(CloudflareR2Net, BucketCursorsAreFollowedUntilEmptyOrRepeated) {
    const auto listing = [](const char* name) { return nlohmann::json{{"buckets", {{{"name", name}}}}}; };
    server.enqueue(envelope(listing("a"), {{"cursor", "c/1"}}));
    server.enqueue(envelope(listing("b"), {{"cursor", "c2"}}));
    server.enqueue(envelope(listing("c"), {{"cursor", "c/1"}}));  // an older cursor is not detected
    server.enqueue(envelope(listing("d"), {{"cursor", ""}}));
    const auto buckets = r2.buckets(account, {});
    ASSERT_EQ(buckets.size(), 4u);
    EXPECT_EQ(buckets[3].name, "d");
    EXPECT_EQ(targets()[1], "GET /client/v4/accounts/" + account + "/r2/buckets?per_page=1000&cursor=c%2F1");

    server.enqueue(envelope(listing("a"), {{"cursor", "same"}}));
    server.enqueue(envelope(listing("b"), {{"cursor", "same"}}));
    EXPECT_EQ(failure([&] { r2.buckets(account, {}); }), "Cloudflare repeated a bucket-list cursor.");
    EXPECT_EQ(failure([&] { r2.buckets("not-an-account", {}); }), "Select a valid Cloudflare account.");
}

TEST_F(CloudflareR2Net, PublicDomainsAreTheEnabledOnesAndMustBeBareHosts) {
    server.enqueue(envelope({{"domain", "pub-shots.r2.dev"}, {"enabled", false}}));
    server.enqueue(envelope({{"domains", nlohmann::json::array()}}));
    S3Settings unpicked = destination();
    unpicked.publicBaseURL.clear();
    EXPECT_TRUE(r2.publicDomains(unpicked, {}).empty());
    EXPECT_EQ(targets(), (std::vector<std::string>{"GET " + path("/domains/managed"), "GET " + path("/domains/custom")}));

    server.enqueue(envelope({{"domain", "pub-shots.r2.dev"}, {"enabled", true}}));
    server.enqueue(envelope({{"domains", {{{"domain", "img.example.com"}, {"enabled", true}},
                                          {{"domain", "off.example.com"}, {"enabled", false}}}}}));
    EXPECT_EQ(r2.publicDomains(unpicked, {}),
              (std::vector<std::string>{"https://pub-shots.r2.dev", "https://img.example.com"}));
    for (const char* bad : {"img.example.com/path", "img.example.com:8443"}) {
        server.enqueue(envelope({{"domain", bad}, {"enabled", true}}));
        server.enqueue(envelope({{"domains", nlohmann::json::array()}}));
        EXPECT_EQ(failure([&] { r2.publicDomains(unpicked, {}); }), "Invalid public bucket domain.") << bad;
    }
}

TEST_F(CloudflareR2Net, TheLifecycleRewriteKeepsForeignRulesAndReplacesOurs) {
    const nlohmann::json foreign = {{"id", "keep-logs"}, {"enabled", true}, {"conditions", {{"prefix", "logs/"}}}};
    const nlohmann::json unnamed = {{"enabled", false}};
    const nlohmann::json ours = {{"id", "brevalto-expire"}, {"enabled", true}};
    server.enqueue(envelope({{"rules", {foreign, ours, unnamed, ours}}}));
    server.enqueue(envelope(nullptr));
    r2.setLifecycle(destination(), 7, {});
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].method + " " + requests[1].target, "PUT " + path("/lifecycle"));
    const nlohmann::json written = nlohmann::json::parse(requests[1].body);
    ASSERT_EQ(written["rules"].size(), 3u);
    EXPECT_EQ(written["rules"][0], foreign);
    EXPECT_EQ(written["rules"][1], unnamed);
    EXPECT_EQ(written["rules"][2]["conditions"]["prefix"], "brevalto/");
    EXPECT_EQ(written["rules"][2]["deleteObjectsTransition"]["condition"]["maxAge"], 604800);

    server.enqueue(envelope({{"rules", {ours}}}));
    server.enqueue(envelope(nullptr));
    r2.setLifecycle(destination(), 0, {});
    EXPECT_EQ(server.requests().back().body, "{\"rules\":[]}");
}

TEST_F(CloudflareR2Net, UploadsSendOnlyWhatIsMissingAndCheckTheReceipt) {
    const std::string png = "\x89PNG image bytes";
    const S3OwnedObject r = record(png);
    const std::string object = path("/objects/" + r.key);
    const auto destinationChecks = [&] {
        server.enqueue(envelope({{"name", "shots"}}));
        server.enqueue(envelope({{"domain", "pub-shots.r2.dev"}, {"enabled", true}}));
        server.enqueue(envelope({{"domains", nlohmann::json::array()}}));
    };
    auto bytes = std::make_shared<const std::string>(png);

    // Already there with this digest: no PUT.
    destinationChecks();
    server.enqueue(ScriptedReply::withBody(png));
    double reported = 0;
    r2.uploadObject(r, bytes, [&](double f) { reported = f; }, {});
    EXPECT_EQ(reported, 1.0);
    EXPECT_EQ(targets().back(), "GET " + object);

    // Absent: one conditional PUT whose receipt must name the key.
    destinationChecks();
    server.enqueue(ScriptedReply::answering(404));
    server.enqueue(envelope({{"key", r.key + "x"}}));
    EXPECT_EQ(failure([&] { r2.uploadObject(r, bytes, {}, {}); }),
              "R2 may have received the upload. Its receipt could not be verified; use Verify before retrying.");
    const ReceivedRequest put = server.requests().back();
    EXPECT_EQ(put.method + " " + put.target, "PUT " + object);
    EXPECT_EQ(put.header("If-None-Match"), "*");
    EXPECT_EQ(put.header("Content-Type"), "image/png");
    EXPECT_EQ(put.body, png);

    // 412 for another upload's bytes under this key: a collision.
    destinationChecks();
    server.enqueue(ScriptedReply::answering(404));
    server.enqueue(ScriptedReply::answering(412));
    server.enqueue(ScriptedReply::withBody("other bytes"));
    EXPECT_EQ(failure([&] { r2.uploadObject(r, bytes, {}, {}); }), S3Failure::collision().what());

    // Bytes that are not the record's are refused before any request.
    const std::size_t before = server.requestCount();
    EXPECT_EQ(failure([&] { r2.uploadObject(r, std::make_shared<const std::string>("else"), {}, {}); }),
              S3Failure::collision().what());
    EXPECT_EQ(server.requestCount(), before);
}

TEST_F(CloudflareR2Net, DeleteAndPublicLinkActOnlyOnTheConfirmedImage) {
    const std::string png = "\x89PNG the image";
    const S3OwnedObject r = record(png, S3OwnedObject::State::uploaded);
    EXPECT_EQ(failure([&] { r2.deleteObject(r, r.key + " ", {}); }), "The exact object key has not been confirmed.");
    EXPECT_EQ(server.requestCount(), 0u);
    server.enqueue(ScriptedReply::answering(404));
    r2.deleteObject(r, r.key, {});  // already gone: nothing is deleted
    EXPECT_EQ(server.requestCount(), 1u);
    server.enqueue(ScriptedReply::withBody(png));
    server.enqueue(ScriptedReply::answering(404));  // gone meanwhile counts as deleted
    r2.deleteObject(r, r.key, {});
    EXPECT_EQ(targets().back(), "DELETE " + path("/objects/" + r.key));

    server.enqueue(ScriptedReply::withBody(png));
    EXPECT_EQ(r2.checkPublicLink(r, {}), "https://pub-shots.r2.dev/" + r.key);
    EXPECT_EQ(server.requests().back().header("Host"), "pub-shots.r2.dev");
    EXPECT_FALSE(server.requests().back().header("Authorization")) << "the public link is fetched without credentials";
    const std::string notYet =
        "The public link does not serve this image yet. Check the bucket domain or wait for propagation. The upload is "
        "retained.";
    server.enqueue(ScriptedReply::answering(304));
    EXPECT_EQ(failure([&] { r2.checkPublicLink(r, {}); }), notYet);
    server.enqueue(ScriptedReply::withBody("other bytes"));
    EXPECT_EQ(failure([&] { r2.checkPublicLink(r, {}); }), notYet);
    EXPECT_EQ(failure([&] { r2.checkPublicLink(record(png), {}); }), "Verify the upload before copying its link.");
}

TEST(CloudflareFailureMapping, CancelledTransfersKeepTheR2Warning) {
    for (const std::exception_ptr& error :
         {std::make_exception_ptr(S3Failure::cancelled()), std::make_exception_ptr(TaskCancelled()),
          std::make_exception_ptr(HttpError(HttpError::Kind::cancelled, HttpError::cancelledCode))})
        EXPECT_EQ(std::string(CloudflareFailure::from(error).what()), CloudflareFailure::cancelledText);
    EXPECT_EQ(std::string(CloudflareFailure::from(std::make_exception_ptr(S3Failure::network(-1004))).what()),
              CloudflareFailure::requestFailedText);
}

}  // namespace
}  // namespace brevalto
