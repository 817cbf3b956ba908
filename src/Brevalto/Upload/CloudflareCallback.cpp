#include "Upload/CloudflareCallback.h"

#include "Platform/Hashing.h"
#include "Platform/Task.h"
#include "Platform/UrlComponents.h"
#include "Upload/CloudflareFailure.h"
#include "Upload/CloudflareTokens.h"

#include <QUtf8StringView>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace brevalto {

namespace {

std::string urlSafe(std::string base64) {
    std::string out;
    for (const char c : base64) {
        if (c == '=') continue;
        out.push_back(c == '+' ? '-' : c == '/' ? '_' : c);
    }
    return out;
}

bool keepInQueryValue(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~' || c == ':' || c == '/' || c == '?' || c == '@';
}

std::string trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return std::string(text);
}

bool startsWithCaseless(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

std::vector<std::string_view> split(std::string_view text, std::string_view separator, bool dropEmpty) {
    std::vector<std::string_view> pieces;
    for (;;) {
        const std::size_t at = text.find(separator);
        const std::string_view piece = text.substr(0, at);
        if (!dropEmpty || !piece.empty()) pieces.push_back(piece);
        if (at == std::string_view::npos) return pieces;
        text.remove_prefix(at + separator.size());
    }
}

void sendAll(int socket, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        sent += static_cast<std::size_t>(n);
    }
}

std::string answer(bool ok) {
    const std::string body = ok ? "Authorization received. Return to Brevalto to check the connection."
                                : "Invalid or declined login. Return to Brevalto and cancel or reconnect.";
    return std::string("HTTP/1.1 ") + (ok ? "200 OK" : "400 Bad Request") +
           "\r\nContent-Type: text/plain; charset=utf-8\r\nCache-Control: no-store\r\nReferrer-Policy: "
           "no-referrer\r\nConnection: close\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

}  // namespace

namespace CloudflareLogin {

std::string makeChallenge() {
    unsigned char bytes[32];
    if (!secureRandomBytes(bytes, sizeof bytes)) throw CloudflareFailure("Could not generate a secure login challenge.");
    return urlSafe(toBase64(std::string_view(reinterpret_cast<const char*>(bytes), sizeof bytes)));
}

std::string codeChallenge(std::string_view verifier) { return urlSafe(toBase64(asBytes(sha256(verifier)))); }

std::string authorizeURL(std::string_view oauthBase, std::string_view state, std::string_view verifier) {
    const std::pair<std::string_view, std::string> items[] = {
        {"client_id", std::string(cloudflareClientID)},
        {"redirect_uri", std::string(cloudflareRedirectURL)},
        {"response_type", "code"},
        {"code_challenge_method", "S256"},
        {"code_challenge", codeChallenge(verifier)},
        {"state", std::string(state)},
        {"scope", std::string(scope)},
    };
    std::string url(oauthBase);
    if (url.ends_with('/')) url.pop_back();
    url += "/auth?";
    bool first = true;
    for (const auto& [name, value] : items) {
        if (!first) url.push_back('&');
        first = false;
        url += name;
        url.push_back('=');
        UrlComponents::appendPercentEncoded(url, value, keepInQueryValue);
    }
    return url;
}

}  // namespace CloudflareLogin

CloudflareCallback::CloudflareCallback(std::string state, std::uint16_t port, std::chrono::milliseconds deadline)
    : state_(std::move(state)), deadline_(deadline) {
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) throw CloudflareFailure(cannotListenText);
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    // Only lets a new login bind while closed connections of an earlier one linger; two listeners
    // never share the port (no SO_REUSEPORT).
    if (listener_ >= 0) ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        closeListener();
        ::close(wake_[0]);
        ::close(wake_[1]);
        throw CloudflareFailure(cannotListenText);
    }
    port_ = ntohs(address.sin_port);
}

CloudflareCallback::~CloudflareCallback() {
    closeListener();
    ::close(wake_[0]);
    ::close(wake_[1]);
}

void CloudflareCallback::closeListener() {
    if (listener_ >= 0) ::close(listener_);
    listener_ = -1;
}

void CloudflareCallback::cancel(Cancel reason) {
    {
        std::lock_guard guard(lock_);
        if (cancelled_) return;
        cancelled_ = true;
        reason_ = reason;
    }
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_[1], &byte, 1);
}

std::string CloudflareCallback::wait(const std::function<void()>& open, std::stop_token stop) {
    struct Connection {
        int socket;
        std::string buffer;
    };
    std::vector<Connection> connections;
    // Every way out closes the listener and every connection: nothing is answered any more.
    struct Closing {
        CloudflareCallback& self;
        std::vector<Connection>& connections;
        ~Closing() {
            self.closeListener();
            for (const Connection& c : connections) ::close(c.socket);
        }
    } closing{*this, connections};

    if (listener_ < 0) throw TaskCancelled();
    std::stop_callback onStop(stop, [this] { cancel(Cancel::task); });
    if (open) open();
    const auto end = std::chrono::steady_clock::now() + deadline_;
    for (;;) {
        {
            std::lock_guard guard(lock_);
            if (cancelled_) {
                if (reason_ == Cancel::browser)
                    throw CloudflareFailure("Could not open the browser for Cloudflare login. Connect again when ready.");
                throw TaskCancelled();
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) throw CloudflareFailure("Cloudflare login timed out. Connect again when ready.");

        std::vector<pollfd> fds{{wake_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
        for (const Connection& c : connections) fds.push_back({c.socket, POLLIN, 0});
        const int ready = ::poll(fds.data(), fds.size(), static_cast<int>(std::min<long long>(left.count(), 1000)));
        if (ready < 0 && errno != EINTR) throw CloudflareFailure(cannotListenText);
        if (ready <= 0) continue;
        if (fds[0].revents) continue;  // the cancel flag is read at the top

        for (std::size_t i = connections.size(); i-- > 0;) {
            const short events = fds[i + 2].revents;
            if (!events) continue;
            Connection& c = connections[i];
            char chunk[maxReadBytes];
            const ssize_t n = ::recv(c.socket, chunk, sizeof chunk, 0);
            bool drop = n <= 0;
            if (!drop) {
                c.buffer.append(chunk, static_cast<std::size_t>(n));
                drop = c.buffer.size() > maxHeadBytes;
            }
            const std::size_t blank = drop ? std::string::npos : c.buffer.find("\r\n\r\n");
            if (!drop && blank != std::string::npos) {
                const std::string_view head(c.buffer.data(), blank);
                std::optional<std::string> code;
                std::optional<CloudflareFailure> failure;
                if (QUtf8StringView(head.data(), static_cast<qsizetype>(head.size())).isValidUtf8()) {
                    try {
                        code = parse(head, state_, port_);
                    } catch (const CloudflareFailure& error) {
                        failure = error;
                    }
                } else {
                    failure = CloudflareFailure("Invalid login callback.");
                }
                sendAll(c.socket, answer(code.has_value()));
                drop = true;
                if (code) return *code;
                if (failure->kind() == CloudflareFailure::Kind::authorizationDenied) throw *failure;
            }
            if (drop) {
                ::close(c.socket);
                connections.erase(connections.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }

        if (fds[1].revents & POLLIN) {
            const int accepted = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (accepted >= 0) {
                if (connections.size() < maxConnections)
                    connections.push_back({accepted, {}});
                else
                    ::close(accepted);
            }
        }
    }
}

std::string CloudflareCallback::parse(std::string_view head, std::string_view state, std::uint16_t port) {
    const CloudflareFailure invalid("Invalid login callback.");
    const std::vector<std::string_view> lines = split(head, "\r\n", false);
    const std::vector<std::string_view> request = split(lines.front(), " ", true);
    if (request.size() != 3 || request[0] != "GET" || request[2] != "HTTP/1.1") throw invalid;
    const std::string_view target = request[1];
    if (!target.starts_with("/oauth/callback?")) throw invalid;
    const std::string authority = "127.0.0.1:" + std::to_string(port);
    const auto url = UrlComponents::parse("http://" + authority + std::string(target));
    if (!url || url->encodedPath != "/oauth/callback" || url->encodedFragment) throw invalid;

    int hosts = 0;
    std::string host;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        if (!startsWithCaseless(lines[i], "host:")) continue;
        ++hosts;
        host = trimmed(lines[i].substr(5));
    }
    if (hosts != 1 || host != authority) throw CloudflareFailure("Invalid callback host.");

    const std::vector<UrlQueryItem> items = url->queryItems();
    int states = 0, codes = 0;
    bool error = false, stateMatches = false;
    std::string code;
    for (const UrlQueryItem& item : items) {
        if (item.name == "state") {
            ++states;
            stateMatches = item.value.value_or("") == state;
        } else if (item.name == "error") {
            error = true;
        } else if (item.name == "code") {
            ++codes;
            code = item.value.value_or("");
        }
    }
    if (states != 1 || !stateMatches) throw CloudflareFailure("Login state mismatch.");
    if (error) throw CloudflareFailure::authorizationDenied();
    if (codes != 1 || code.empty() || code.size() > maxCodeBytes) throw CloudflareFailure("Missing authorization code.");
    return code;
}

}  // namespace brevalto
