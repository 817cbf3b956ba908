#include "LoopbackHttpServer.h"
#include "Platform/Linux/CurlHttpClient.h"
#include "RecordingSleeper.h"
#include "Upload/S3Client.h"
#include "Upload/S3Failure.h"
#include "Upload/S3Transfer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <mutex>

namespace brevalto {

void PrintTo(const S3Failure& failure, std::ostream* out) {
    *out << "S3Failure(" << static_cast<int>(failure.kind()) << ", " << failure.payload() << ", \"" << failure.what() << "\")";
}

namespace {

using namespace std::chrono_literals;

// A clock that moves one second on every reading, so every attempt is dated afresh.
class TickingClock final : public Clock {
public:
    Date now() const override { return 757'000'000.0 + ticks_++; }

private:
    mutable std::atomic<int> ticks_{0};
};

const S3Credentials keys{"AKIDLOOPBACK", "loopback-secret-key-0123456789"};

S3Settings settingsFor(const LoopbackHttpServer& server) {
    S3Settings s;
    s.endpoint = server.url("/base/");
    s.bucket = "photos";
    s.region = "auto";
    return s;
}

std::shared_ptr<const std::string> bytes(std::size_t count, char fill = 'x') {
    return std::make_shared<const std::string>(count, fill);
}

S3Failure failureOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const S3Failure& failure) {
        return failure;
    }
    ADD_FAILURE() << "no failure";
    return S3Failure::invalid("none");
}

class S3TransferNet : public ::testing::Test {
protected:
    S3Client client() { return S3Client(settingsFor(server), keys, true, http, clock, sleeper); }

    S3Client::Reply get(const std::string& key, bool collect = false) {
        return client().send("GET", key, std::nullopt, {}, nullptr, collect, nullptr);
    }

    LoopbackHttpServer server;
    CurlHttpClient http;
    TickingClock clock;
    RecordingSleeper sleeper;
};

// What reaches the server is exactly what was signed: re-signing the received request at the
// same date gives the received Authorization, and no header came in unsigned (except the length
// of the body, which the signature does not cover).
TEST_F(S3TransferNet, ServerReceivesExactlyTheSignedRequest) {
    const auto body = std::make_shared<const std::string>(std::string("\x89PNG\r\n\x1a\n\0\xff", 10) + std::string(3 << 20, 'p'));
    HttpHeaders headers = {{"Content-Type", "image/png"}, {"If-None-Match", "*"},
                           {"x-amz-meta-brevalto-sha256", "abc123"}, {"x-amz-meta-brevalto-upload-id", "f00d"}};
    std::vector<double> progress;
    const auto reply = client().send("PUT", "brevalto/20250102/my photo ü+1.png", std::nullopt, headers, body, false,
                                     [&](double f) { progress.push_back(f); });
    EXPECT_EQ(reply.response.status, 200);

    const auto received = server.requests();
    ASSERT_EQ(received.size(), 1u);
    const ReceivedRequest& r = received[0];
    EXPECT_EQ(r.method, "PUT");
    EXPECT_EQ(r.target, "/base/photos/brevalto/20250102/my%20photo%20%C3%BC%2B1.png");
    EXPECT_EQ(r.body, *body);
    EXPECT_EQ(r.header("Content-Length"), std::to_string(body->size()));

    HttpRequest again;
    again.method = r.method;
    again.url = server.url(r.target);
    for (const auto& [name, value] : r.headers)
        if (!sameHeaderName(name, "Authorization") && !sameHeaderName(name, "Content-Length")) again.setHeader(name, value);
    const std::string stamp = *r.header("x-amz-date");
    S3Client::sign(again, keys, "auto", 757'000'000.0, *body);
    EXPECT_EQ(stamp, "20241227T134640Z");
    EXPECT_EQ(again.header("Authorization"), r.header("Authorization"));
    const std::string authorization = *r.header("Authorization");
    EXPECT_NE(authorization.find("SignedHeaders=content-type;host;if-none-match;x-amz-content-sha256;x-amz-date;"
                                 "x-amz-meta-brevalto-sha256;x-amz-meta-brevalto-upload-id,"),
              std::string::npos)
        << authorization;
    for (const char* unwanted : {"Expect", "Accept", "User-Agent", "Transfer-Encoding", "Cookie"})
        EXPECT_FALSE(r.header(unwanted)) << unwanted;
    EXPECT_EQ(r.headers.size(), 9u);

    // Upload progress climbs to the whole body.
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_GT(progress.front(), 0.0);
    EXPECT_DOUBLE_EQ(progress.back(), 1.0);
}

TEST_F(S3TransferNet, RedirectsComeBackAndAreNeverFollowed) {
    server.enqueue(ScriptedReply::answering(302, {{"Location", server.url("/elsewhere")}}));
    const auto reply = get("k.png");
    EXPECT_EQ(reply.response.status, 302);
    EXPECT_EQ(server.requestCount(), 1u);
    EXPECT_STREQ(S3Failure::http(reply.response.status).what(),
                 "S3 redirects are refused. Check the endpoint and region; Authorization is never forwarded to another host.");
    EXPECT_TRUE(sleeper.delays().empty());
}

TEST_F(S3TransferNet, ResponseBodiesAreCapped) {
    server.enqueue(ScriptedReply::withBody(std::string(65536, 'b')));
    EXPECT_EQ(get("k.png").response.status, 200);
    EXPECT_TRUE(get("k.png").body.empty());  // an empty 200: nothing kept without collecting

    server.enqueue(ScriptedReply::withBody(std::string(65537, 'b')));
    EXPECT_EQ(failureOf([&] { get("k.png"); }), S3Failure::response());

    // A declared length over the cap fails before any body byte is read.
    server.enqueue(ScriptedReply::declaring(50'000'000));
    EXPECT_EQ(failureOf([&] { get("k.png"); }), S3Failure::response());

    // HEAD skips the length check: a large object's head is fine.
    server.enqueue(ScriptedReply::declaring(5 << 20, {{"x-amz-meta-brevalto-sha256", "abc"}}));
    const auto head = client().send("HEAD", "k.png", std::nullopt, {}, nullptr, false, nullptr);
    EXPECT_EQ(head.response.status, 200);
    EXPECT_EQ(head.response.header("Content-Length"), std::to_string(5 << 20));
    EXPECT_EQ(head.response.header("x-amz-meta-brevalto-sha256"), "abc");
    EXPECT_EQ(server.requests().back().method, "HEAD");

    // Collecting keeps up to 1 MiB and refuses one byte more.
    server.enqueue(ScriptedReply::withBody(std::string(1 << 20, 'c')));
    const auto collected = client().send("GET", std::nullopt, "lifecycle", {}, nullptr, true, nullptr);
    EXPECT_EQ(collected.body.size(), 1u << 20);
    EXPECT_EQ(server.requests().back().target, "/base/photos?lifecycle");
    server.enqueue(ScriptedReply::withBody(std::string((1 << 20) + 1, 'c')));
    EXPECT_EQ(failureOf([&] { get("k.png", true); }), S3Failure::response());

    // Answers that are not HTTP, or whose head never ends, are invalid responses.
    server.enqueue(ScriptedReply::rawBytes("SSH-2.0-OpenSSH\r\n\r\n"));
    EXPECT_EQ(failureOf([&] { get("k.png"); }), S3Failure::response());
    server.enqueue(ScriptedReply::rawBytes("HTTP/1.1 200 OK\r\nX-Filler: " + std::string(200'000, 'f') + "\r\n\r\n"));
    EXPECT_EQ(failureOf([&] { get("k.png"); }), S3Failure::response());
    EXPECT_TRUE(sleeper.delays().empty());
}

TEST_F(S3TransferNet, TransientStatusesAreRetriedWithTheirWaits) {
    struct Case {
        const char* what;
        std::vector<ScriptedReply> replies;
        int finalStatus;
        std::vector<double> delays;
    };
    const auto status = [](int code, std::optional<std::string> retryAfter = std::nullopt) {
        return retryAfter ? ScriptedReply::answering(code, {{"Retry-After", *retryAfter}}) : ScriptedReply::answering(code);
    };
    const std::vector<Case> cases = {
        {"503 three times", {status(503), status(503), status(503)}, 503, {0.3, 0.6}},
        {"Retry-After clamped", {status(503, "30"), status(429, "-3"), status(200)}, 200, {5.0, 0.0}},
        {"Retry-After as a date", {status(429, "Wed, 21 Oct 2015 07:28:00 GMT"), status(429, "1.5x"), status(429)}, 429,
         {0.3, 0.6}},
        {"fractional Retry-After", {status(502, "1.25"), status(504, "inf"), status(500)}, 500, {1.25, 0.6}},
        {"404 at once", {status(404)}, 404, {}},
        {"412 at once", {status(412)}, 412, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LoopbackHttpServer fresh;
        RecordingSleeper waits;
        for (const auto& reply : c.replies) fresh.enqueue(reply);
        S3Client s3(settingsFor(fresh), keys, true, http, clock, waits);
        const auto reply = s3.send("PUT", "k.png", std::nullopt, {}, bytes(10), false, nullptr);
        EXPECT_EQ(reply.response.status, c.finalStatus);
        EXPECT_EQ(fresh.requestCount(), c.replies.size());
        EXPECT_EQ(waits.delays(), c.delays);
        // Every attempt is signed afresh.
        const auto received = fresh.requests();
        for (std::size_t i = 1; i < received.size(); ++i) {
            EXPECT_NE(received[i].header("x-amz-date"), received[i - 1].header("x-amz-date"));
            EXPECT_NE(received[i].header("Authorization"), received[i - 1].header("Authorization"));
            EXPECT_EQ(received[i].body, received[0].body);
        }
    }
}

TEST_F(S3TransferNet, ConnectionFailuresAreRetriedThenReported) {
    S3Settings closed = settingsFor(server);
    closed.endpoint = "http://127.0.0.1:" + std::to_string(LoopbackHttpServer::closedPort());
    S3Client refused(closed, keys, true, http, clock, sleeper);
    EXPECT_EQ(failureOf([&] { refused.send("GET", "k.png", std::nullopt, {}, nullptr, false, nullptr); }),
              S3Failure::network(-1004));
    EXPECT_EQ(sleeper.delays(), (std::vector<double>{0.3, 0.6}));

    // A server that never answers within the limit: three attempts, then the time-out code.
    RecordingSleeper waits;
    for (int i = 0; i < 3; ++i) server.enqueue(ScriptedReply::delayed(5s));
    S3Client slow(settingsFor(server), keys, true, http, clock, waits);
    slow.requestTimeout = 300ms;
    slow.resourceTimeout = 300ms;
    const auto started = std::chrono::steady_clock::now();
    const S3Failure timedOut = failureOf([&] { slow.send("GET", "k.png", std::nullopt, {}, nullptr, false, nullptr); });
    EXPECT_EQ(timedOut, S3Failure::network(-1001));
    EXPECT_STREQ(timedOut.what(), "S3 connection failed (code -1001). URLs and credentials are hidden.");
    EXPECT_LT(std::chrono::steady_clock::now() - started, 4s);
    EXPECT_EQ(waits.delays(), (std::vector<double>{0.3, 0.6}));
    EXPECT_EQ(server.requestCount(), 3u);

    // A connection closed without an answer counts as lost and is retried too.
    RecordingSleeper lostWaits;
    LoopbackHttpServer closing;
    for (int i = 0; i < 3; ++i) closing.enqueue(ScriptedReply::closing());
    S3Client lost(settingsFor(closing), keys, true, http, clock, lostWaits);
    EXPECT_EQ(failureOf([&] { lost.send("GET", "k.png", std::nullopt, {}, nullptr, false, nullptr); }),
              S3Failure::network(-1005));
    EXPECT_EQ(closing.requestCount(), 3u);
}

// Cancelling the caller during the second attempt's upload ends that transfer.
TEST_F(S3TransferNet, CancellationMidUploadEndsTheTransfer) {
    server.enqueue(ScriptedReply::answering(503, {{"Retry-After", "0"}}));
    server.enqueue(ScriptedReply::stalled());
    std::stop_source caller;
    // The second attempt starts over: its fractions follow one lower than the last of the first.
    std::atomic<double> secondAttempt{-1.0}, last{0.0};
    std::atomic<bool> restarted{false};
    const auto progress = [&](double fraction) {
        if (fraction < last) restarted = true;
        last = fraction;
        if (restarted) secondAttempt = fraction;
    };
    auto upload = std::async(std::launch::async, [&] {
        return failureOf(
            [&] { client().send("PUT", "k.png", std::nullopt, {}, bytes(32 << 20), false, progress, caller.get_token()); });
    });
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!(secondAttempt > 0.0) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
    ASSERT_GT(secondAttempt, 0.0);
    // The server counts the stalled request once it has read its head, which may trail the body's
    // first bytes leaving the client.
    while (server.requestCount() < 2 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
    const auto cancelledAt = std::chrono::steady_clock::now();
    caller.request_stop();
    EXPECT_EQ(upload.get(), S3Failure::cancelled());
    EXPECT_LT(std::chrono::steady_clock::now() - cancelledAt, 3s);
    EXPECT_LT(secondAttempt, 1.0);  // stopped part-way
    EXPECT_EQ(server.requestCount(), 2u);
    EXPECT_EQ(sleeper.delays(), (std::vector<double>{0.0}));

    // A caller cancelled before the first attempt sends nothing.
    std::stop_source early;
    early.request_stop();
    EXPECT_EQ(failureOf([&] { client().send("GET", "k.png", std::nullopt, {}, nullptr, false, nullptr, early.get_token()); }),
              S3Failure::cancelled());
    EXPECT_EQ(server.requestCount(), 2u);
}

TEST_F(S3TransferNet, TransferCancelledBeforeRunSendsNothing) {
    S3Transfer transfer(http, nullptr, 65536, false);
    transfer.cancel();
    HttpRequest request;
    request.url = server.url("/x");
    EXPECT_EQ(failureOf([&] { transfer.run(request); }), S3Failure::cancelled());
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(S3TransferNet, InvalidDestinationsSendNothing) {
    S3Settings plain = settingsFor(server);
    S3Client noLoopback(plain, keys, false, http, clock, sleeper);
    EXPECT_STREQ(failureOf([&] { noLoopback.send("GET", "k.png", std::nullopt, {}, nullptr, false, nullptr); }).what(),
                 "Use an HTTPS URL with a valid hostname and no credentials, query or fragment. HTTP is restricted to "
                 "injected loopback tests.");
    for (const char* key : {"", "/k", "a//b", "../k", "a%2Fb"})
        EXPECT_STREQ(failureOf([&] { client().send("GET", std::string(key), std::nullopt, {}, nullptr, false, nullptr); }).what(),
                     "Invalid object key.")
            << key;
    S3Client badKeys(settingsFor(server), {"AKID", "short"}, true, http, clock, sleeper);
    EXPECT_EQ(failureOf([&] { badKeys.send("GET", "k.png", std::nullopt, {}, nullptr, false, nullptr); }).kind(),
              S3Failure::Kind::invalid);
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST(S3RequestURL, PathAndVirtualHostAddressing) {
    CurlHttpClient http;
    S3Settings s;
    s.endpoint = "https://s3.example.com/base/";
    s.bucket = "bkt";
    s.region = "auto";
    S3Client c(s, keys, false, http);
    EXPECT_EQ(c.requestURL("k"), "https://s3.example.com/base/bkt/k");
    EXPECT_EQ(c.requestURL(std::nullopt), "https://s3.example.com/base/bkt");
    EXPECT_EQ(c.requestURL("a b/\xc3\xbc.png"), "https://s3.example.com/base/bkt/a%20b/%C3%BC.png");
    c.settings.addressing = S3Settings::Addressing::virtualHost;
    EXPECT_EQ(c.requestURL("k"), "https://bkt.s3.example.com/base/k");
    c.settings.endpoint = "https://s3.example.com:8443";
    EXPECT_EQ(c.requestURL(std::nullopt), "https://bkt.s3.example.com:8443/");
}

}  // namespace
}  // namespace brevalto
