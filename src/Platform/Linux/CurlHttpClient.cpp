#include "Platform/Linux/CurlHttpClient.h"

#include <curl/curl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

namespace brevalto {

namespace {

struct Exchange {
    Exchange(const HttpRequest& request, const std::stop_token& cancel, const HttpClient::Progress& progress)
        : request(request), cancel(cancel), progress(progress), isHead(request.method == "HEAD") {}

    const HttpRequest& request;
    const std::stop_token& cancel;
    const HttpClient::Progress& progress;
    bool isHead = false;

    std::size_t uploaded = 0;
    curl_off_t lastReportedUpload = -1;

    HttpHeaders headers;
    std::size_t headerBytes = 0;
    int blockStatus = 0;
    std::int64_t bodyBytes = 0;
    std::string body;

    bool cancelled = false;
    bool tooLarge = false;
    bool malformed = false;
};

std::string_view trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

// The status code of a status line ("HTTP/1.1 200 OK", "HTTP/2 200"), or 0.
int statusOfLine(std::string_view line) {
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos || line.size() < space + 4) return 0;
    int status = 0;
    const char* begin = line.data() + space + 1;
    const auto [end, error] = std::from_chars(begin, begin + 3, status);
    if (error != std::errc() || end != begin + 3 || status < 100 || status > 999) return 0;
    return status;
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto& exchange = *static_cast<Exchange*>(user);
    const std::size_t length = size * count;
    exchange.headerBytes += length;
    if (exchange.headerBytes > CurlHttpClient::maxHeaderBytes) {
        exchange.malformed = true;
        return 0;
    }
    const std::string_view line(data, length);
    if (line.starts_with("HTTP/")) {
        // A new response head (after an interim 1xx answer, the final one follows).
        exchange.blockStatus = statusOfLine(line);
        if (exchange.blockStatus == 0) {
            exchange.malformed = true;
            return 0;
        }
        exchange.headers.clear();
        return length;
    }
    if (trim(line).empty()) {
        if (exchange.blockStatus >= 200 && !exchange.isHead) {
            // The declared length is judged before any body byte arrives.
            if (const auto declared = findHeader(exchange.headers, "Content-Length")) {
                std::int64_t value = 0;
                const auto [end, error] = std::from_chars(declared->data(), declared->data() + declared->size(), value);
                if (error == std::errc() && end == declared->data() + declared->size() &&
                    value > exchange.request.responseLimit) {
                    exchange.tooLarge = true;
                    return 0;
                }
            }
        }
        return length;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return length;  // a folded continuation: ignored
    exchange.headers.emplace_back(std::string(trim(line.substr(0, colon))), std::string(trim(line.substr(colon + 1))));
    return length;
}

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto& exchange = *static_cast<Exchange*>(user);
    const std::size_t length = size * count;
    exchange.bodyBytes += static_cast<std::int64_t>(length);
    if (exchange.bodyBytes > exchange.request.responseLimit) {
        exchange.tooLarge = true;
        return 0;  // ends the transfer; nothing past the limit is kept
    }
    if (exchange.request.keepResponseBody) exchange.body.append(data, length);
    return length;
}

size_t onRead(char* buffer, size_t size, size_t count, void* user) {
    auto& exchange = *static_cast<Exchange*>(user);
    const std::string& body = *exchange.request.body;
    const std::size_t n = std::min(size * count, body.size() - exchange.uploaded);
    std::memcpy(buffer, body.data() + exchange.uploaded, n);
    exchange.uploaded += n;
    return n;
}

int onTransferInfo(void* user, curl_off_t, curl_off_t, curl_off_t uploadTotal, curl_off_t uploadNow) {
    auto& exchange = *static_cast<Exchange*>(user);
    if (exchange.cancel.stop_requested()) {
        exchange.cancelled = true;
        return 1;
    }
    if (uploadTotal >= 1 && uploadNow > 0 && uploadNow != exchange.lastReportedUpload && exchange.progress) {
        exchange.lastReportedUpload = uploadNow;
        exchange.progress(std::min(1.0, static_cast<double>(uploadNow) / static_cast<double>(uploadTotal)));
    }
    return 0;
}

bool headerTextIsSafe(std::string_view text) {
    return std::none_of(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
}

bool hasHttpScheme(std::string_view url) {
    const auto startsWith = [&](std::string_view scheme) {
        return url.size() >= scheme.size() && std::equal(scheme.begin(), scheme.end(), url.begin(), [](char a, char b) {
                   return a == (b >= 'A' && b <= 'Z' ? static_cast<char>(b - 'A' + 'a') : b);
               });
    };
    return startsWith("http://") || startsWith("https://");
}

HttpError errorFor(CURLcode code) {
    using K = HttpError::Kind;
    switch (code) {
    case CURLE_OPERATION_TIMEDOUT: return HttpError(K::transport, HttpError::timedOut);
    case CURLE_COULDNT_CONNECT: return HttpError(K::transport, HttpError::cannotConnectToHost);
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return HttpError(K::transport, HttpError::cannotFindHost);
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM: return HttpError(K::transport, HttpError::networkConnectionLost);
    // The scheme is checked before the exchange, so an unsupported protocol is a server that
    // answered without an HTTP status line; libcurl reports a head past its own size limit as
    // out of memory.
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_OUT_OF_MEMORY: return HttpError(K::invalidResponse, HttpError::badServerResponse);
    case CURLE_URL_MALFORMAT: return HttpError(K::transport, HttpError::badURL);
    case CURLE_SSL_CONNECT_ERROR: return HttpError(K::transport, HttpError::secureConnectionFailed);
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE: return HttpError(K::transport, HttpError::serverCertificateUntrusted);
    default: return HttpError(K::transport, HttpError::unknown);
    }
}

// Adds the certificates of the extra bundle to the ones libcurl loaded. A bundle that cannot be read
// adds nothing, as a missing default bundle does for OpenSSL.
CURLcode onSslContext(CURL*, void* context, void* user) {
    const auto& bundle = *static_cast<const std::string*>(user);
    X509_STORE* store = SSL_CTX_get_cert_store(static_cast<SSL_CTX*>(context));
    if (store && X509_STORE_load_file(store, bundle.c_str()) != 1) ERR_clear_error();
    return CURLE_OK;
}

std::string environment(const char* lower, const char* upper) {
    const char* value = std::getenv(lower);
    if (!value || !*value) value = upper ? std::getenv(upper) : nullptr;
    return value ? value : "";
}

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace

CurlHttpClient::CurlHttpClient() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    // The variables libcurl itself reads, in its order (plain http_proxy only in lower case), read
    // once here so that every exchange of this client goes the same way.
    const std::string all = environment("all_proxy", "ALL_PROXY");
    httpsProxy_ = environment("https_proxy", "HTTPS_PROXY");
    if (httpsProxy_.empty()) httpsProxy_ = all;
    httpProxy_ = environment("http_proxy", nullptr);
    if (httpProxy_.empty()) httpProxy_ = all;
    noProxy_ = "127.0.0.1,localhost,::1";
    if (const std::string extra = environment("no_proxy", "NO_PROXY"); !extra.empty()) noProxy_ += "," + extra;
    extraCertificates_ = environment("SSL_CERT_FILE", nullptr);
}

HttpResponse CurlHttpClient::send(const HttpRequest& request, std::stop_token cancel, const Progress& progress) {
    if (cancel.stop_requested()) throw HttpError(HttpError::Kind::cancelled, HttpError::cancelledCode);
    for (const auto& [name, value] : request.headers)
        if (name.empty() || !headerTextIsSafe(name) || name.find(':') != std::string::npos || !headerTextIsSafe(value))
            throw std::invalid_argument("Invalid HTTP header.");
    if (!headerTextIsSafe(request.url) || !headerTextIsSafe(request.method))
        throw HttpError(HttpError::Kind::transport, HttpError::badURL);
    if (!hasHttpScheme(request.url)) throw HttpError(HttpError::Kind::transport, HttpError::unsupportedURL);

    std::unique_ptr<CURL, EasyDeleter> handle(curl_easy_init());
    if (!handle) throw HttpError(HttpError::Kind::transport, HttpError::unknown);
    CURL* easy = handle.get();

    Exchange exchange(request, cancel, progress);

    // The caller's headers, then empty entries that stop libcurl adding its own defaults.
    curl_slist* rawList = nullptr;
    std::unique_ptr<curl_slist, ListDeleter> list;
    const auto append = [&](const std::string& line) {
        curl_slist* next = curl_slist_append(rawList, line.c_str());
        if (!next) throw HttpError(HttpError::Kind::transport, HttpError::unknown);
        rawList = next;
        list.release();
        list.reset(rawList);
    };
    for (const auto& [name, value] : request.headers) append(value.empty() ? name + ";" : name + ": " + value);
    for (const char* name : {"Expect", "Accept", "Content-Type", "User-Agent", "Transfer-Encoding"})
        if (!request.header(name)) append(std::string(name) + ":");

    curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_IGNORED));
    // An empty proxy is none at all (libcurl then ignores the environment).
    const bool https = request.url.size() > 5 && (request.url[4] == 's' || request.url[4] == 'S');
    curl_easy_setopt(easy, CURLOPT_PROXY, (https ? httpsProxy_ : httpProxy_).c_str());
    curl_easy_setopt(easy, CURLOPT_NOPROXY, noProxy_.c_str());
    if (!extraCertificates_.empty()) {
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, onSslContext);
        curl_easy_setopt(easy, CURLOPT_SSL_CTX_DATA, &extraCertificates_);
    }
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, rawList);

    if (exchange.isHead) {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (request.method == "GET" && !request.body) {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    } else {
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }
    if (request.body) {
        curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(request.body->size()));
        curl_easy_setopt(easy, CURLOPT_READFUNCTION, onRead);
        curl_easy_setopt(easy, CURLOPT_READDATA, &exchange);
    }

    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &exchange);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &exchange);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, onTransferInfo);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &exchange);

    const long idleMs = std::max<long>(1, static_cast<long>(request.idleTimeout.count()));
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, std::max<long>(1, static_cast<long>(request.totalTimeout.count())));
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, idleMs);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, (idleMs + 999) / 1000);

    const CURLcode result = curl_easy_perform(easy);
    if (exchange.cancelled || cancel.stop_requested()) throw HttpError(HttpError::Kind::cancelled, HttpError::cancelledCode);
    if (exchange.tooLarge) throw HttpError(HttpError::Kind::tooLarge, HttpError::dataLengthExceedsMaximum);
    if (exchange.malformed) throw HttpError(HttpError::Kind::invalidResponse, HttpError::badServerResponse);
    if (result != CURLE_OK) throw errorFor(result);

    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    if (status < 100 || status > 999) throw HttpError(HttpError::Kind::invalidResponse, HttpError::badServerResponse);

    HttpResponse response;
    response.status = static_cast<int>(status);
    response.headers = std::move(exchange.headers);
    response.body = std::move(exchange.body);
    return response;
}

}  // namespace brevalto
