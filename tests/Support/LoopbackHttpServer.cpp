#include "LoopbackHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <charconv>
#include <stdexcept>

namespace brevalto {

namespace {

constexpr auto slice = std::chrono::milliseconds(20);

int bindLoopback(std::uint16_t port, std::uint16_t* boundPort) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        throw std::runtime_error("bind failed");
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    *boundPort = ntohs(address.sin_port);
    return fd;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

void sendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) return;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

}  // namespace

LoopbackHttpServer::LoopbackHttpServer() {
    listener_ = bindLoopback(0, &port_);
    // A small receive buffer, so that a stalled upload fills up quickly.
    const int small = 16 * 1024;
    ::setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    if (::listen(listener_, 16) != 0) throw std::runtime_error("listen failed");
    thread_ = std::thread([this] { serve(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
    stopping_ = true;
    thread_.join();
    ::close(listener_);
}

std::string LoopbackHttpServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void LoopbackHttpServer::enqueue(ScriptedReply reply) {
    std::lock_guard lock(mutex_);
    replies_.push_back(std::move(reply));
}

std::vector<ReceivedRequest> LoopbackHttpServer::requests() const {
    std::lock_guard lock(mutex_);
    return received_;
}

std::size_t LoopbackHttpServer::requestCount() const {
    std::lock_guard lock(mutex_);
    return received_.size();
}

std::uint16_t LoopbackHttpServer::closedPort() {
    std::uint16_t port = 0;
    ::close(bindLoopback(0, &port));
    return port;
}

void LoopbackHttpServer::serve() {
    while (!stopping_) {
        pollfd entry{listener_, POLLIN, 0};
        if (::poll(&entry, 1, static_cast<int>(slice.count())) <= 0) continue;
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) continue;
        handle(connection);
        ::close(connection);
    }
}

void LoopbackHttpServer::handle(int connection) {
    // Waits up to `limit` for one of `events`; false once the server stops or the time is up.
    const auto waitFor = [&](short events, std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!stopping_ && std::chrono::steady_clock::now() < end) {
            pollfd entry{connection, events, 0};
            if (::poll(&entry, 1, static_cast<int>(slice.count())) > 0) return (entry.revents & (events | POLLERR | POLLHUP)) != 0;
        }
        return false;
    };
    const auto peerGone = [&] {
        pollfd entry{connection, POLLRDHUP, 0};
        return ::poll(&entry, 1, 0) > 0;
    };

    std::string buffer;
    std::size_t headEnd = std::string::npos;
    char chunk[65536];
    while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
        if (buffer.size() > 1024 * 1024 || !waitFor(POLLIN, std::chrono::seconds(10))) return;
        const ssize_t n = ::recv(connection, chunk, sizeof chunk, 0);
        if (n <= 0) return;
        buffer.append(chunk, static_cast<std::size_t>(n));
    }

    ReceivedRequest request;
    const std::string_view head = std::string_view(buffer).substr(0, headEnd);
    std::size_t lineEnd = head.find("\r\n");
    const std::string_view requestLine = head.substr(0, lineEnd);
    const std::size_t firstSpace = requestLine.find(' ');
    const std::size_t secondSpace = requestLine.find(' ', firstSpace + 1);
    request.method = std::string(requestLine.substr(0, firstSpace));
    request.target = std::string(requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1));
    while (lineEnd != std::string_view::npos) {
        const std::size_t start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        const std::string_view line = head.substr(start, lineEnd == std::string_view::npos ? std::string_view::npos : lineEnd - start);
        const std::size_t colon = line.find(':');
        if (colon != std::string_view::npos)
            request.headers.emplace_back(std::string(line.substr(0, colon)), std::string(trim(line.substr(colon + 1))));
    }

    ScriptedReply reply;
    {
        std::lock_guard lock(mutex_);
        if (!replies_.empty()) {
            reply = std::move(replies_.front());
            replies_.pop_front();
        }
    }

    if (reply.stall) {
        {
            std::lock_guard lock(mutex_);
            received_.push_back(request);
        }
        waitFor(POLLRDHUP, std::chrono::seconds(30));
        return;
    }

    std::int64_t length = 0;
    if (const auto declared = request.header("Content-Length"))
        std::from_chars(declared->data(), declared->data() + declared->size(), length);
    request.body = buffer.substr(headEnd + 4);
    while (static_cast<std::int64_t>(request.body.size()) < length) {
        if (!waitFor(POLLIN, std::chrono::seconds(10))) return;
        const ssize_t n = ::recv(connection, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        request.body.append(chunk, static_cast<std::size_t>(n));
    }
    {
        std::lock_guard lock(mutex_);
        received_.push_back(request);
    }

    if (reply.delay.count() > 0 && waitFor(POLLRDHUP, reply.delay)) return;  // the client went away
    if (reply.closeWithoutReply || peerGone()) return;

    std::string response;
    if (reply.raw) {
        response = *reply.raw;
    } else {
        response = "HTTP/1.1 " + std::to_string(reply.status) + " Status\r\n";
        for (const auto& [name, value] : reply.headers) response += name + ": " + value + "\r\n";
        response += "Content-Length: " + std::to_string(reply.declaredLength.value_or(static_cast<std::int64_t>(reply.body.size()))) + "\r\n";
        response += "Connection: close\r\n\r\n";
        if (request.method != "HEAD") response += reply.body;
    }
    sendAll(connection, response);
    ::shutdown(connection, SHUT_WR);
    // Let the client read everything before the socket closes.
    waitFor(POLLRDHUP, std::chrono::seconds(5));
}

}  // namespace brevalto
