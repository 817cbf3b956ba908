#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brevalto {

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

// Case-insensitive header look-up and replacement over an ordered header list.
bool sameHeaderName(std::string_view a, std::string_view b);
std::optional<std::string> findHeader(const HttpHeaders& headers, std::string_view name);
void setHeader(HttpHeaders& headers, std::string_view name, std::string value);
void removeHeader(HttpHeaders& headers, std::string_view name);

// One HTTP exchange. The headers are sent exactly as listed (the client adds only Host when none
// is given, and Content-Length for a body); nothing else is added: no Accept, no User-Agent, no
// Content-Type, no "Expect: 100-continue". Redirects are never followed: a 3xx response comes
// back as the response.
struct HttpRequest {
    std::string method = "GET";
    std::string url;
    HttpHeaders headers;
    // The body bytes, when the request has a body (an empty body is still sent as one).
    std::shared_ptr<const std::string> body;

    // Most response body bytes accepted. A declared Content-Length above it (except for HEAD) or
    // more bytes than it end the exchange with HttpError::Kind::tooLarge.
    std::int64_t responseLimit = 64 * 1024;
    // Whether the response body is kept; otherwise it is counted and dropped.
    bool keepResponseBody = false;
    // The exchange times out when no byte moves for idleTimeout, or when it takes longer than
    // totalTimeout in all.
    std::chrono::milliseconds idleTimeout{30'000};
    std::chrono::milliseconds totalTimeout{90'000};

    std::optional<std::string> header(std::string_view name) const { return findHeader(headers, name); }
    void setHeader(std::string_view name, std::string value) { brevalto::setHeader(headers, name, std::move(value)); }
    void removeHeader(std::string_view name) { brevalto::removeHeader(headers, name); }
};

struct HttpResponse {
    int status = 0;
    HttpHeaders headers;  // of the final response, values trimmed
    std::string body;     // only when the request kept its body

    std::optional<std::string> header(std::string_view name) const { return findHeader(headers, name); }
};

// A failed exchange. `code` uses the URL-loading error codes that user-facing messages print:
// -999 cancelled, -1000 bad URL, -1001 timed out, -1002 unsupported URL, -1003 host not found,
// -1004 cannot connect, -1005 connection lost, -1011 bad server response, -1103 response too
// large, -1200 secure connection failed, -1202 untrusted server certificate, -1 anything else.
class HttpError : public std::runtime_error {
public:
    enum class Kind {
        cancelled,        // the cancel token was triggered
        tooLarge,         // the response exceeded the request's limit
        invalidResponse,  // the server's answer is not a well-formed HTTP response
        transport,        // the connection failed or timed out
    };

    static constexpr int cancelledCode = -999;
    static constexpr int badURL = -1000;
    static constexpr int timedOut = -1001;
    static constexpr int unsupportedURL = -1002;
    static constexpr int cannotFindHost = -1003;
    static constexpr int cannotConnectToHost = -1004;
    static constexpr int networkConnectionLost = -1005;
    static constexpr int badServerResponse = -1011;
    static constexpr int dataLengthExceedsMaximum = -1103;
    static constexpr int secureConnectionFailed = -1200;
    static constexpr int serverCertificateUntrusted = -1202;
    static constexpr int unknown = -1;

    HttpError(Kind kind, int code)
        : std::runtime_error("HTTP exchange failed (code " + std::to_string(code) + ")."), kind_(kind), code_(code) {}

    Kind kind() const { return kind_; }
    int code() const { return code_; }

private:
    Kind kind_;
    int code_;
};

// Performs HTTP exchanges. `send` blocks the calling thread (a worker thread, never the GUI
// thread) until the exchange ends, and either returns the response or throws HttpError.
// `progress` receives the fraction of the request body sent (0...1), on the calling thread.
class HttpClient {
public:
    using Progress = std::function<void(double fraction)>;

    virtual ~HttpClient() = default;
    virtual HttpResponse send(const HttpRequest& request, std::stop_token cancel, const Progress& progress) = 0;
};

}  // namespace brevalto
