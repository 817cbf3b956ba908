// A frame on the keychain service's socket: KeychainMessage::decode, then the service's request
// handler and the app's reading of a reply, as both ends run them. Properties: a frame that decodes
// keeps every bound (entries, key and string lengths, frame size) and encodes back to itself; the
// handler always answers with a status, in a reply that encodes, without touching the store for a
// malformed request; a reply's data is 1 to 65536 bytes.

#include "FuzzSupport.h"
#include "Keychain/MemoryKeychainStore.h"
#include "KeychainItems/KeychainClient.h"
#include "KeychainItems/KeychainItems.h"
#include "KeychainItems/KeychainMessage.h"

using namespace brevalto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto message = KeychainMessage::decode(data, size);
    if (!message) return 0;
    fuzz::check(size <= KeychainMessage::maxFrameBytes, "a frame over 128 KiB decoded");
    fuzz::check(message->entries().size() <= KeychainMessage::maxEntries, "more than 8 entries");
    for (const auto& [key, value] : message->entries()) {
        fuzz::check(!key.empty() && key.size() <= KeychainMessage::maxKeyBytes, "a key of 0 or more than 32 bytes");
        if (const auto* text = std::get_if<std::string>(&value))
            fuzz::check(text->size() <= KeychainMessage::maxStringBytes, "a string over 4096 bytes");
    }
    const auto encoded = message->encode();
    fuzz::check(encoded && *encoded == std::vector<std::uint8_t>(data, data + size), "a frame does not encode back to itself");

    MemoryKeychainStore store;
    store.add("app.brevalto.present", "a", KeychainData{'s', 'e', 'c', 'r', 'e', 't'});
    const int callsBefore = store.calls;
    KeychainMessage reply;
    KeychainItems(store).handle(*message, reply);
    const std::int64_t* status = reply.int64("status");
    fuzz::check(status != nullptr, "a request answered without a status");
    fuzz::check(*status != keychainStatus::param || store.calls == callsBefore, "a malformed request reached the store");
    fuzz::check(reply.encode().has_value(), "a reply that cannot be sent");

    const KeychainReadResult read = KeychainClient::replyResult(*message);
    if (read.data) fuzz::check(!read.data->empty() && read.data->size() <= KeychainItems::maxSize, "reply data out of bounds");
    return 0;
}
