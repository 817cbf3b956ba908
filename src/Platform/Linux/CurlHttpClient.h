#pragma once

#include "Platform/HttpClient.h"

#include <string>

namespace brevalto {

// HttpClient over libcurl: one easy handle per exchange, on the calling thread. No cookies, no
// cache, no netrc; redirects are returned, never followed; only http and https. The environment's
// proxy (https_proxy, HTTPS_PROXY, all_proxy, as libcurl reads them) is used for every host except
// loopback addresses and those that no_proxy lists; the certificates of the bundle that
// SSL_CERT_FILE names are trusted besides the system's, as OpenSSL-based programs do. Both are
// read when the client is made. The response is capped in the write callback, so no more than the request's
// limit is ever held; upload progress and cancellation run in the transfer-info callback.
class CurlHttpClient final : public HttpClient {
public:
    CurlHttpClient();
    HttpResponse send(const HttpRequest& request, std::stop_token cancel, const Progress& progress) override;

    // Most bytes of response headers accepted; more is an invalid response.
    static constexpr std::size_t maxHeaderBytes = 64 * 1024;

private:
    std::string httpsProxy_;
    std::string httpProxy_;
    std::string noProxy_;
    std::string extraCertificates_;
};

}  // namespace brevalto
