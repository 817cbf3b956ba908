#pragma once

#include "Platform/HttpClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace brevalto {

// A raw-socket "browser" for the Cloudflare login listener on 127.0.0.1.
namespace LoginBrowser {

// A connected socket with a 5 s read time-out, or -1 when nothing listens.
inline int connectTo(std::uint16_t port) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(s);
        return -1;
    }
    timeval wait{5, 0};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    return s;
}

// What the listener answers to a request sent in pieces ("" when it closed without a word,
// "refused" when nothing listens).
inline std::string browse(std::uint16_t port, const std::vector<std::string>& pieces) {
    const int s = connectTo(port);
    if (s < 0) return "refused";
    for (const std::string& piece : pieces) {
        ::send(s, piece.data(), piece.size(), MSG_NOSIGNAL);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::string answer;
    char chunk[4096];
    for (ssize_t n; (n = ::recv(s, chunk, sizeof chunk, 0)) > 0;) answer.append(chunk, static_cast<std::size_t>(n));
    ::close(s);
    return answer;
}

// A browser opener that loads the authorization page through `http` and follows its redirect to
// the listener at `port` (the redirect names the fixed port; the listener may sit elsewhere).
inline std::function<void(const std::string&, std::function<void()>)> following(HttpClient& http, std::uint16_t port) {
    return [&http, port](const std::string& url, std::function<void()> failed) {
        std::thread([&http, port, url, failed] {
            HttpRequest request;
            request.url = url;
            std::string location;
            try {
                location = http.send(request, {}, nullptr).header("Location").value_or("");
            } catch (const HttpError&) {
            }
            const std::string fixed = "http://127.0.0.1:49167";
            if (!location.starts_with(fixed)) return failed();
            browse(port, {"GET " + location.substr(fixed.size()) + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                              std::to_string(port) + "\r\n\r\n"});
        }).detach();
    };
}

}  // namespace LoginBrowser

}  // namespace brevalto
