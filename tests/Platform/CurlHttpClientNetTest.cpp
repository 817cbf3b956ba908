#include "LoopbackHttpServer.h"
#include "Platform/Linux/CurlHttpClient.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace brevalto {
namespace {

HttpError errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const HttpError& error) {
        return error;
    }
    ADD_FAILURE() << "no error";
    return HttpError(HttpError::Kind::transport, 0);
}

// Only the caller's headers go out, plus Host and the body's length: nothing that would change
// what a signature covers.
TEST(CurlHttpClient, SendsOnlyTheGivenHeaders) {
    LoopbackHttpServer server;
    CurlHttpClient client;
    struct Case {
        std::string method;
        std::shared_ptr<const std::string> body;
        std::vector<std::string> expectedNames;
    };
    const std::vector<Case> cases = {
        {"GET", nullptr, {"Host", "X-One"}},
        {"POST", std::make_shared<const std::string>("{\"a\":1}"), {"Host", "X-One", "Content-Length"}},
        {"PUT", std::make_shared<const std::string>(""), {"Host", "X-One", "Content-Length"}},
        {"PUT", std::make_shared<const std::string>(2 << 20, 'z'), {"Host", "X-One", "Content-Length"}},
        {"DELETE", nullptr, {"Host", "X-One"}},
    };
    for (const Case& c : cases) {
        HttpRequest request;
        request.method = c.method;
        request.url = server.url("/path?q=1");
        request.headers = {{"X-One", "  value  "}};
        request.body = c.body;
        const HttpResponse response = client.send(request, {}, nullptr);
        EXPECT_EQ(response.status, 200);
        const ReceivedRequest received = server.requests().back();
        EXPECT_EQ(received.method, c.method);
        EXPECT_EQ(received.target, "/path?q=1");
        std::vector<std::string> names;
        for (const auto& [name, value] : received.headers) names.push_back(name);
        std::vector<std::string> expected = c.expectedNames;
        std::sort(names.begin(), names.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(names, expected) << c.method;
        EXPECT_EQ(received.header("X-One"), "value");
        EXPECT_EQ(received.body, c.body ? *c.body : "");
        if (c.body) {
            EXPECT_EQ(received.header("Content-Length"), std::to_string(c.body->size()));
        }
    }

    // A Host of the caller's replaces the one libcurl would write.
    HttpRequest withHost;
    withHost.url = server.url("/");
    withHost.headers = {{"Host", "bucket.example:9"}};
    client.send(withHost, {}, nullptr);
    EXPECT_EQ(server.requests().back().header("Host"), "bucket.example:9");
}

TEST(CurlHttpClient, RefusesUnsafeRequestsBeforeConnecting) {
    LoopbackHttpServer server;
    CurlHttpClient client;
    HttpRequest request;
    request.url = server.url("/");
    request.headers = {{"X-Injected", "a\r\nEvil: 1"}};
    EXPECT_THROW(client.send(request, {}, nullptr), std::invalid_argument);
    request.headers = {{"Bad:Name", "v"}};
    EXPECT_THROW(client.send(request, {}, nullptr), std::invalid_argument);
    // A NUL would cut the value short on the wire, so what went out would differ from what was signed.
    request.headers = {{"X-Nul", std::string("a\0b", 3)}};
    EXPECT_THROW(client.send(request, {}, nullptr), std::invalid_argument);
    request.headers.clear();

    for (const char* url : {"file:///etc/passwd", "ftp://127.0.0.1/", "gopher://127.0.0.1/"}) {
        request.url = url;
        EXPECT_EQ(errorOf([&] { client.send(request, {}, nullptr); }).code(), HttpError::unsupportedURL) << url;
    }
    request.url = server.url("/\r\nX: 1");
    EXPECT_EQ(errorOf([&] { client.send(request, {}, nullptr); }).code(), HttpError::badURL);

    std::stop_source stopped;
    stopped.request_stop();
    request.url = server.url("/");
    EXPECT_EQ(errorOf([&] { client.send(request, stopped.get_token(), nullptr); }).kind(), HttpError::Kind::cancelled);
    EXPECT_EQ(server.requestCount(), 0u);
}

}  // namespace
}  // namespace brevalto
