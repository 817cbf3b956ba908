#pragma once

#include "Platform/HttpClient.h"

#include <cstdint>
#include <mutex>
#include <stop_token>
#include <string>

namespace brevalto {

// One HTTP exchange for S3 and the Cloudflare API: redirects come back as the response, at most
// `responseLimit` body bytes are accepted (kept only when collecting), upload progress goes to
// the callback, and `cancel` ends the exchange from any thread. A transfer runs once.
// Failures are S3Failure: `cancelled`, `response` (too large or not HTTP), `network`.
class S3Transfer {
public:
    S3Transfer(HttpClient& http, HttpClient::Progress progress, std::int64_t responseLimit, bool collectResponse);

    // Blocks until the exchange ends; the kept body is then in received().
    HttpResponse run(HttpRequest request);
    void cancel();

    std::string received() const;
    std::int64_t responseLimit() const { return responseLimit_; }

private:
    HttpClient& http_;
    const HttpClient::Progress progress_;
    const std::int64_t responseLimit_;
    const bool collectResponse_;

    mutable std::mutex lock_;
    bool cancelled_ = false;
    bool started_ = false;
    std::stop_source stop_;
    std::string received_;
};

}  // namespace brevalto
