#include "KeychainItems/KeychainChannel.h"

#include <openssl/crypto.h>

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <vector>

namespace brevalto {

namespace {

constexpr int bufferBytes = static_cast<int>(2 * KeychainMessage::maxFrameBytes);

int remainingMilliseconds(KeychainChannel::Deadline deadline) {
    if (!deadline) return -1;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
    return left.count() <= 0 ? 0 : static_cast<int>(std::min<std::int64_t>(left.count(), 1 << 30));
}

}  // namespace

bool KeychainChannel::makePair(int fds[2]) {
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) return false;
    for (int i = 0; i < 2; ++i) {
        // Best effort: the default buffers already hold a frame; the system may cap these.
        ::setsockopt(fds[i], SOL_SOCKET, SO_SNDBUF, &bufferBytes, sizeof bufferBytes);
        ::setsockopt(fds[i], SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
    }
    return true;
}

bool KeychainChannel::isSeqPacketSocket(int fd) {
    int type = 0, domain = 0;
    socklen_t length = sizeof type;
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_SEQPACKET) return false;
    length = sizeof domain;
    return ::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) == 0 && domain == AF_UNIX;
}

bool KeychainChannel::wait(short events, Deadline deadline) const {
    for (;;) {
        pollfd entry{fd_, events, 0};
        const int ready = ::poll(&entry, 1, remainingMilliseconds(deadline));
        if (ready > 0) return true;  // readiness, or an error or hang-up the next call reports
        if (ready == 0) return false;
        if (errno != EINTR) return false;
    }
}

bool KeychainChannel::send(const KeychainMessage& message, Deadline deadline) const {
    std::optional<std::vector<std::uint8_t>> frame = message.encode();
    if (!frame) return false;
    bool sent = false;
    for (;;) {
        const ssize_t written = ::send(fd_, frame->data(), frame->size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (written == static_cast<ssize_t>(frame->size())) {
            sent = true;
            break;
        }
        if (written >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) break;
        if (errno != EINTR && !wait(POLLOUT, deadline)) break;
    }
    OPENSSL_cleanse(frame->data(), frame->size());  // a frame may hold a secret
    return sent;
}

KeychainChannel::Received KeychainChannel::receive(KeychainMessage& message, Deadline deadline) const {
    // One byte more than the largest frame, so that a longer record shows as truncated.
    std::vector<std::uint8_t> buffer(KeychainMessage::maxFrameBytes + 1);
    ssize_t size = -1;
    int flags = 0;
    for (;;) {
        if (!wait(POLLIN, deadline)) return deadline && remainingMilliseconds(deadline) == 0 ? Received::timedOut
                                                                                             : Received::failed;
        // recvmsg without room for control data: descriptors a peer might pass are discarded.
        iovec part{buffer.data(), buffer.size()};
        msghdr header{};
        header.msg_iov = &part;
        header.msg_iovlen = 1;
        size = ::recvmsg(fd_, &header, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
        if (size >= 0) {
            flags = header.msg_flags;
            break;
        }
        // The other end closed without reading what we had sent it.
        if (errno == ECONNRESET) return Received::closed;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return Received::failed;
    }
    if (size == 0) {
        // An empty record reads like the end of the connection; only a hang-up is the end.
        pollfd entry{fd_, POLLRDHUP, 0};
        const int ready = ::poll(&entry, 1, 0);
        if (ready < 0 || (ready == 1 && (entry.revents & (POLLHUP | POLLRDHUP | POLLERR | POLLNVAL))))
            return Received::closed;
        return Received::dropped;
    }
    Received result = Received::dropped;
    if (!(flags & MSG_TRUNC) && static_cast<std::size_t>(size) <= KeychainMessage::maxFrameBytes) {
        if (std::optional<KeychainMessage> decoded = KeychainMessage::decode(buffer.data(), static_cast<std::size_t>(size))) {
            message = std::move(*decoded);
            result = Received::message;
        }
    }
    OPENSSL_cleanse(buffer.data(), buffer.size());
    return result;
}

}  // namespace brevalto
