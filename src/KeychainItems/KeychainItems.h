#pragma once

#include "KeychainItems/KeychainMessage.h"
#include "KeychainItems/KeychainStatus.h"
#include "KeychainItems/KeychainStore.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace brevalto {

// The app's secrets: four operations on the generic-password items of a store (test, read, save,
// delete), and the handler that turns one request message into its reply. The keychain service
// program runs `handle` for every request; the app runs the operations in its own process when
// the service program is not installed. Every operation answers with a status and never throws;
// nothing is cached and nothing is logged.
//
// Request: "op" (string: "exists", "read", "save" or "delete"), "service" (string, beginning with
// "app.brevalto."), "account" (string) and, for a save, "data" (1 to maxSize bytes).
// Reply: "status" (int64, the 32-bit status sign-extended), and after a successful read of an item
// of 1 to maxSize bytes, "data".
class KeychainItems {
public:
    // The largest secret that crosses the service connection, in bytes (inclusive); the smallest is 1.
    static constexpr std::size_t maxSize = 65536;
    // Every service named in a request begins with this.
    static constexpr std::string_view servicePrefix = "app.brevalto.";

    explicit KeychainItems(KeychainStore& store) : store_(store) {}

    // 0 when the item exists, -25300 when it does not, otherwise the store's status.
    KeychainStatus exists(const std::string& service, const std::string& account) const;
    // The store's status, and the item's bytes when it was read.
    KeychainReadResult read(const std::string& service, const std::string& account) const;
    // Replaces the data of an existing item, else adds a new item. No size check of its own.
    KeychainStatus save(const KeychainData& data, const std::string& service, const std::string& account) const;
    // Removes the item; -25300 when there was nothing to remove.
    KeychainStatus deleteItem(const std::string& service, const std::string& account) const;

    // Answers one request: always writes "status" into `reply`, and "data" after a read. Every
    // malformed request gets -50 without touching the store.
    void handle(const KeychainMessage& request, KeychainMessage& reply) const;

    // The bytes under "data": none when missing, not data, empty or longer than maxSize.
    static std::optional<KeychainData> payload(const KeychainMessage& message);
    // Writes the bytes under "data", unless they are empty or longer than maxSize.
    static void setPayload(const KeychainData& data, KeychainMessage& message);

private:
    KeychainStore& store_;
};

}  // namespace brevalto
