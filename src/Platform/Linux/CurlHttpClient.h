#pragma once

#include "Platform/HttpClient.h"

namespace brevalto {

// HttpClient over libcurl: one easy handle per exchange, on the calling thread. No cookies, no
// cache, no netrc, no proxy for loopback addresses; redirects are returned, never followed; only
// http and https. The response is capped in the write callback, so no more than the request's
// limit is ever held; upload progress and cancellation run in the transfer-info callback.
class CurlHttpClient final : public HttpClient {
public:
    CurlHttpClient();
    HttpResponse send(const HttpRequest& request, std::stop_token cancel, const Progress& progress) override;

    // Most bytes of response headers accepted; more is an invalid response.
    static constexpr std::size_t maxHeaderBytes = 64 * 1024;
};

}  // namespace brevalto
