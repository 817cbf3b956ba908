#pragma once

#include "KeychainItems/KeychainMessage.h"

#include <chrono>
#include <optional>

namespace brevalto {

// One end of the connected SOCK_SEQPACKET socket between the app and the keychain service
// program: one record carries one message frame. The channel does not own the descriptor.
class KeychainChannel {
public:
    using Deadline = std::optional<std::chrono::steady_clock::time_point>;

    enum class Received {
        message,    // a well-formed message
        dropped,    // a record that was too long or malformed: it was read and thrown away
        closed,     // the other end closed the connection
        timedOut,   // the deadline passed first
        failed,     // the socket failed
    };

    explicit KeychainChannel(int fd) : fd_(fd) {}

    // A connected, close-on-exec socket pair for the app and the service program, with buffers
    // large enough for the largest frame.
    static bool makePair(int fds[2]);
    // True when `fd` is a connected Unix SOCK_SEQPACKET socket.
    static bool isSeqPacketSocket(int fd);

    // Sends one message; false when it cannot be encoded, the socket failed or the deadline passed.
    bool send(const KeychainMessage& message, Deadline deadline = std::nullopt) const;
    // Waits for the next record (until the deadline, when there is one).
    Received receive(KeychainMessage& message, Deadline deadline = std::nullopt) const;

private:
    // Waits until the socket is ready for `events`; false when the deadline passed or poll failed.
    bool wait(short events, Deadline deadline) const;

    int fd_;
};

}  // namespace brevalto
