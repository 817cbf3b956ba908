#pragma once

#include "Platform/Linux/CurlHttpClient.h"

#include <atomic>
#include <string>

namespace brevalto {

// Sends every https:// request to a plain loopback server instead (base "http://127.0.0.1:PORT"),
// keeping the original host in Host, so stand-ins can play public hosts without TLS. Counts PUTs.
class ReroutingHttp final : public HttpClient {
public:
    explicit ReroutingHttp(std::string base) : base_(std::move(base)) {}
    HttpResponse send(const HttpRequest& request, std::stop_token cancel, const Progress& progress) override {
        HttpRequest copy = request;
        if (copy.method == "PUT") ++puts;
        if (copy.url.starts_with("https://")) {
            const std::size_t slash = copy.url.find('/', 8);
            copy.setHeader("Host", copy.url.substr(8, slash - 8));
            copy.url = base_ + (slash == std::string::npos ? "/" : copy.url.substr(slash));
        }
        return inner_.send(copy, cancel, progress);
    }
    std::atomic<int> puts = 0;

private:
    std::string base_;
    CurlHttpClient inner_;
};

}  // namespace brevalto
