#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>

namespace brevalto {

// The random texts and the authorization URL of a browser login with PKCE (S256).
namespace CloudflareLogin {
inline constexpr std::string_view scope = "workers-r2.write account-settings.read aig.run offline_access";
// 32 bytes of the secure random generator in URL-safe base64 without "=" (43 characters).
// Throws CloudflareFailure when the generator fails.
std::string makeChallenge();
// SHA-256 of the verifier in the same form.
std::string codeChallenge(std::string_view verifier);
// The authorization endpoint under `oauthBase` with its seven query items in order.
std::string authorizeURL(std::string_view oauthBase, std::string_view state, std::string_view verifier);
}  // namespace CloudflareLogin

// The one-shot listener of a login on 127.0.0.1 that catches the browser's redirect. wait() runs
// the whole attempt on its caller's thread: it accepts at most 32 connections at once, reads each
// request head (at most 16384 bytes), answers it with a short plain-text page and ends at the
// first valid redirect, a declined authorization, the deadline or a cancel. The socket is closed
// when the attempt ends.
class CloudflareCallback {
public:
    static constexpr std::uint16_t defaultPort = 49167;
    static constexpr std::size_t maxConnections = 32;
    static constexpr std::size_t maxReadBytes = 4096;
    static constexpr std::size_t maxHeadBytes = 16384;
    static constexpr std::size_t maxCodeBytes = 4096;
    static inline const std::string cannotListenText =
        "Cannot listen for Cloudflare login. Close another login attempt and retry.";

    // Why an attempt was cancelled.
    enum class Cancel { task, browser };

    // Binds 127.0.0.1:port (0 picks a free port, for tests); a port in use throws CloudflareFailure
    // with cannotListenText.
    CloudflareCallback(std::string state, std::uint16_t port,
                       std::chrono::milliseconds deadline = std::chrono::seconds(180));
    ~CloudflareCallback();
    CloudflareCallback(const CloudflareCallback&) = delete;
    CloudflareCallback& operator=(const CloudflareCallback&) = delete;

    std::uint16_t port() const { return port_; }

    // Calls `open` once listening, then serves until the attempt ends: returns the authorization
    // code, or throws CloudflareFailure (declined, timed out, browser not opened) or TaskCancelled
    // (cancel or `stop`). Runs once.
    std::string wait(const std::function<void()>& open, std::stop_token stop = {});
    // Ends the attempt from any thread.
    void cancel(Cancel reason = Cancel::task);

    // The request check of one redirect head: GET, HTTP/1.1, the callback path, one Host of
    // 127.0.0.1:port, exactly one state equal to `state`, no "error" item, one code of 1...4096
    // bytes. Returns the code; throws CloudflareFailure.
    static std::string parse(std::string_view head, std::string_view state, std::uint16_t port);

private:
    void closeListener();

    const std::string state_;
    const std::chrono::milliseconds deadline_;
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    std::mutex lock_;
    bool cancelled_ = false;
    Cancel reason_ = Cancel::task;
};

}  // namespace brevalto
