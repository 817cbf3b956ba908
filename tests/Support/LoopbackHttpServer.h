#pragma once

#include "Platform/HttpClient.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace brevalto {

// A request as the server received it: the request line, the header lines in order, the body.
struct ReceivedRequest {
    std::string method;
    std::string target;
    HttpHeaders headers;
    std::string body;

    std::optional<std::string> header(std::string_view name) const { return findHeader(headers, name); }
};

// One scripted answer of the server.
struct ScriptedReply {
    int status = 200;
    HttpHeaders headers;
    std::string body;
    // Content-Length to declare instead of the body's size.
    std::optional<std::int64_t> declaredLength;
    // Bytes sent as they are instead of a formed response.
    std::optional<std::string> raw;
    // Wait this long before answering (ends early when the client goes away).
    std::chrono::milliseconds delay{0};
    // Read none of the request body and never answer; the connection stays open until the client
    // goes away, so the client's send buffer fills.
    bool stall = false;
    // Close the connection without a word.
    bool closeWithoutReply = false;

    static ScriptedReply answering(int code, HttpHeaders headers = {}) {
        ScriptedReply r;
        r.status = code;
        r.headers = std::move(headers);
        return r;
    }
    static ScriptedReply withBody(std::string body) {
        ScriptedReply r;
        r.body = std::move(body);
        return r;
    }
    static ScriptedReply declaring(std::int64_t length, HttpHeaders headers = {}) {
        ScriptedReply r = answering(200, std::move(headers));
        r.declaredLength = length;
        return r;
    }
    static ScriptedReply rawBytes(std::string bytes) {
        ScriptedReply r;
        r.raw = std::move(bytes);
        return r;
    }
    static ScriptedReply delayed(std::chrono::milliseconds wait) {
        ScriptedReply r;
        r.delay = wait;
        return r;
    }
    static ScriptedReply stalled() {
        ScriptedReply r;
        r.stall = true;
        return r;
    }
    static ScriptedReply closing() {
        ScriptedReply r;
        r.closeWithoutReply = true;
        return r;
    }
};

// An HTTP/1.1 server on 127.0.0.1 for network tests, on a thread of its own. It answers
// connections one after another with the scripted replies in order (an empty 200 once they run
// out), one request per connection, and records every request.
class LoopbackHttpServer {
public:
    LoopbackHttpServer();
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    std::uint16_t port() const { return port_; }
    // "http://127.0.0.1:PORT" + path.
    std::string url(const std::string& path = "") const;

    void enqueue(ScriptedReply reply);
    std::vector<ReceivedRequest> requests() const;
    std::size_t requestCount() const;

    // A port on 127.0.0.1 where nothing listens.
    static std::uint16_t closedPort();

private:
    void serve();
    void handle(int connection);

    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::deque<ScriptedReply> replies_;
    std::vector<ReceivedRequest> received_;
    std::thread thread_;
};

}  // namespace brevalto
