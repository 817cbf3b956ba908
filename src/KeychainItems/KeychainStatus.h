#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace brevalto {

// A keychain operation's outcome: the numeric status codes of the generic-password keychain,
// kept as they are so that callers can put the number into their own messages. 0 is success.
using KeychainStatus = std::int32_t;

// The bytes of one secret.
using KeychainData = std::vector<std::uint8_t>;

namespace keychainStatus {
inline constexpr KeychainStatus success = 0;
// No item matches the service and account.
inline constexpr KeychainStatus itemNotFound = -25300;
// A malformed request, or a service or account the secret store cannot hold.
inline constexpr KeychainStatus param = -50;
// The keychain service program did not answer (it failed to start, exited, refused the app, or
// missed the deadline).
inline constexpr KeychainStatus serviceNotAvailable = -67585;

// The nearest codes for the desktop secret store's own failures (see SecretServiceStore.cpp).
inline constexpr KeychainStatus notAvailable = -25291;            // no secret store on the bus
inline constexpr KeychainStatus interactionNotAllowed = -25308;   // the collection stays locked
inline constexpr KeychainStatus userCanceled = -128;              // an unlock prompt was dismissed
inline constexpr KeychainStatus duplicateItem = -25299;           // the item already exists
inline constexpr KeychainStatus io = -36;                         // the bus failed or timed out
inline constexpr KeychainStatus internalComponent = -2070;        // any other store failure
}  // namespace keychainStatus

// What a read answers: the status and, on success, the item's bytes.
struct KeychainReadResult {
    KeychainStatus status = keychainStatus::itemNotFound;
    std::optional<KeychainData> data;
    friend bool operator==(const KeychainReadResult&, const KeychainReadResult&) = default;
};

}  // namespace brevalto
