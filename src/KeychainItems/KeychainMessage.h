#pragma once

#include "KeychainItems/KeychainStatus.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace brevalto {

// One value of a keychain message: a string, a 64-bit integer or raw data.
using KeychainValue = std::variant<std::string, std::int64_t, KeychainData>;

// One message between the app and the keychain service program: a small dictionary of typed
// values, plus whether the sender waits for a reply.
//
// On the socket a message is one frame (one SOCK_SEQPACKET record), all integers big-endian:
//   "BKM1"                      4 bytes, format marker
//   flags                       1 byte; bit 0 = a reply is expected, other bits must be 0
//   entry count                 1 byte, at most maxEntries
//   per entry:
//     key length, key          1 byte (1 to maxKeyBytes), printable ASCII without spaces
//     type                     1 byte: 1 string, 2 int64, 3 data
//     value                    int64: 8 bytes; string and data: 4-byte length, then the bytes
// Strings hold at most maxStringBytes, and the whole frame at most maxFrameBytes. A key appears
// once. Anything else (an unknown marker, type or flag, a length past the end, trailing bytes)
// makes the frame malformed. Encoding is canonical: a frame that decodes encodes back to itself.
class KeychainMessage {
public:
    static constexpr std::size_t maxFrameBytes = 128 * 1024;
    static constexpr std::size_t maxEntries = 8;
    static constexpr std::size_t maxKeyBytes = 32;
    static constexpr std::size_t maxStringBytes = 4096;

    bool expectsReply = true;

    // The value under `key` when it is present and of that type, else null.
    const std::string* string(std::string_view key) const;
    const std::int64_t* int64(std::string_view key) const;
    const KeychainData* data(std::string_view key) const;
    bool contains(std::string_view key) const;

    // Sets (or replaces) the value under `key`, keeping the order in which keys were first set.
    void set(std::string_view key, KeychainValue value);

    const std::vector<std::pair<std::string, KeychainValue>>& entries() const { return entries_; }

    // The frame, or none when the message breaks a bound (too many entries, a bad key, a string
    // or the frame too long).
    std::optional<std::vector<std::uint8_t>> encode() const;
    // The message, or none when the frame is malformed or breaks a bound.
    static std::optional<KeychainMessage> decode(const std::uint8_t* bytes, std::size_t size);

    friend bool operator==(const KeychainMessage&, const KeychainMessage&) = default;

private:
    const KeychainValue* find(std::string_view key) const;
    std::vector<std::pair<std::string, KeychainValue>> entries_;
};

}  // namespace brevalto
