#include "LoopbackHttpServer.h"
#include "Platform/Linux/CurlHttpClient.h"
#include "StandIns.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

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

// The environment a user behind a TLS-inspecting proxy has: the proxy variables that libcurl reads,
// no_proxy, and an extra bundle with the proxy's authority. Loopback addresses never go through it.
TEST(CurlHttpClient, GoesThroughTheEnvironmentsProxyAndTrustsTheExtraBundle) {
    TestFolder folder;
    LoopbackHttpServer service;
    TlsProxyStandIn proxy(folder.path(), {{"api.example.test", service.port()}});
    ASSERT_TRUE(proxy.running());
    const std::string bundle = proxy.authority().string();
    const char* const names[] = {"https_proxy", "HTTPS_PROXY", "http_proxy", "all_proxy", "no_proxy", "NO_PROXY",
                                 "SSL_CERT_FILE"};
    struct Case {
        const char* what;
        std::vector<std::pair<const char*, std::string>> environment;
        std::string url;
        int error;  // 0: answered by the stand-in
    };
    const std::string remote = "https://api.example.test/v1/models?limit=1000";
    const std::vector<Case> cases = {
        {"proxy and bundle", {{"https_proxy", proxy.proxyUrl()}, {"SSL_CERT_FILE", bundle}}, remote, 0},
        {"upper-case proxy", {{"HTTPS_PROXY", proxy.proxyUrl()}, {"SSL_CERT_FILE", bundle}}, remote, 0},
        {"no bundle", {{"https_proxy", proxy.proxyUrl()}}, remote, HttpError::serverCertificateUntrusted},
        {"unreadable bundle", {{"https_proxy", proxy.proxyUrl()}, {"SSL_CERT_FILE", bundle + ".missing"}}, remote,
         HttpError::serverCertificateUntrusted},
        {"host in no_proxy", {{"https_proxy", proxy.proxyUrl()}, {"SSL_CERT_FILE", bundle}, {"no_proxy", "example.test"}},
         remote, HttpError::cannotFindHost},
        {"no proxy at all", {{"SSL_CERT_FILE", bundle}}, remote, HttpError::cannotFindHost},
        {"loopback stays direct",
         {{"https_proxy", proxy.proxyUrl()}, {"http_proxy", proxy.proxyUrl()}, {"all_proxy", proxy.proxyUrl()}},
         service.url("/direct"), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const char* name : names) unsetenv(name);
        for (const auto& [name, value] : c.environment) setenv(name, value.c_str(), 1);
        CurlHttpClient client;
        for (const char* name : names) unsetenv(name);
        HttpRequest request;
        request.url = c.url;
        request.headers = {{"x-api-key", "k"}};
        const std::size_t before = service.requestCount();
        if (c.error != 0) {
            EXPECT_EQ(errorOf([&] { client.send(request, {}, nullptr); }).code(), c.error);
            EXPECT_EQ(service.requestCount(), before);
            continue;
        }
        EXPECT_EQ(client.send(request, {}, nullptr).status, 200);
        ASSERT_EQ(service.requestCount(), before + 1);
        const ReceivedRequest received = service.requests().back();
        EXPECT_EQ(received.header("x-api-key"), "k");
        if (c.url == remote) {
            EXPECT_EQ(received.target, "/v1/models?limit=1000");
            EXPECT_EQ(received.header("Host"), "api.example.test");
        }
    }
}

}  // namespace
}  // namespace brevalto
