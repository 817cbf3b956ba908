#include "KeychainItems/KeychainItems.h"
#include "MemoryKeychainStore.h"

#include <gtest/gtest.h>

namespace brevalto {
namespace {

KeychainData bytes(std::string_view text) { return KeychainData(text.begin(), text.end()); }

const std::string kService = "app.brevalto.AI";
const std::string kAccount = "anthropic";

KeychainMessage request(std::string_view op, std::string_view service = kService, std::string_view account = kAccount) {
    KeychainMessage message;
    message.set("op", std::string(op));
    message.set("service", std::string(service));
    message.set("account", std::string(account));
    return message;
}

KeychainMessage with(KeychainMessage message, std::string_view key, KeychainValue value) {
    message.set(key, std::move(value));
    return message;
}

KeychainMessage without(const KeychainMessage& message, std::string_view key) {
    KeychainMessage copy;
    for (const auto& [name, value] : message.entries())
        if (name != key) copy.set(name, value);
    return copy;
}

struct HandleCase {
    const char* name;
    KeychainMessage request;
    KeychainStatus status;
    std::optional<KeychainData> replyData;
    bool touchesStore;
};

TEST(KeychainItems, HandleValidatesInOrderAndAnswersEveryRequest) {
    const KeychainData stored = bytes("sk-secret");
    const KeychainData largest(KeychainItems::maxSize, 0x5a);
    const std::vector<HandleCase> cases = {
        {"no op", without(request("read"), "op"), keychainStatus::param, std::nullopt, false},
        {"no service", without(request("read"), "service"), keychainStatus::param, std::nullopt, false},
        {"no account", without(request("read"), "account"), keychainStatus::param, std::nullopt, false},
        {"account as int64", with(request("read"), "account", std::int64_t{7}), keychainStatus::param, std::nullopt, false},
        {"op as data", with(request("read"), "op", bytes("read")), keychainStatus::param, std::nullopt, false},
        {"service as int64", with(request("read"), "service", std::int64_t{1}), keychainStatus::param, std::nullopt, false},
        {"bad op and no account", without(request("list"), "account"), keychainStatus::param, std::nullopt, false},
        {"service without the dot", request("read", "app.brevalto"), keychainStatus::param, std::nullopt, false},
        {"foreign service", request("save", "com.example.app"), keychainStatus::param, std::nullopt, false},
        {"service prefix in other case", request("read", "App.Brevalto.AI"), keychainStatus::param, std::nullopt, false},
        {"service prefix only", request("exists", "app.brevalto."), keychainStatus::itemNotFound, std::nullopt, true},
        {"op Read", request("Read"), keychainStatus::param, std::nullopt, false},
        {"op list", request("list"), keychainStatus::param, std::nullopt, false},
        {"op empty", request(""), keychainStatus::param, std::nullopt, false},
        {"read", request("read"), keychainStatus::success, stored, true},
        {"read missing", request("read", kService, "nobody"), keychainStatus::itemNotFound, std::nullopt, true},
        {"exists", request("exists"), keychainStatus::success, std::nullopt, true},
        {"exists missing", request("exists", kService, "nobody"), keychainStatus::itemNotFound, std::nullopt, true},
        {"delete missing", request("delete", kService, "nobody"), keychainStatus::itemNotFound, std::nullopt, true},
        {"save without data", request("save"), keychainStatus::param, std::nullopt, false},
        {"save data as string", with(request("save"), "data", std::string("abc")), keychainStatus::param, std::nullopt, false},
        {"save 0 bytes", with(request("save"), "data", KeychainData{}), keychainStatus::param, std::nullopt, false},
        {"save 65537 bytes", with(request("save"), "data", KeychainData(KeychainItems::maxSize + 1, 1)),
         keychainStatus::param, std::nullopt, false},
        {"save 65536 bytes", with(request("save", kService, "big"), "data", largest), keychainStatus::success,
         std::nullopt, true},
        {"delete", request("delete"), keychainStatus::success, std::nullopt, true},
    };
    for (const HandleCase& test : cases) {
        SCOPED_TRACE(test.name);
        MemoryKeychainStore store;
        store.add(kService, kAccount, stored);
        store.calls = 0;
        KeychainItems items(store);
        KeychainMessage reply;
        reply.set("status", std::int64_t{12345});  // handle writes it exactly once, replacing this
        items.handle(test.request, reply);
        ASSERT_NE(reply.int64("status"), nullptr);
        EXPECT_EQ(*reply.int64("status"), test.status);
        EXPECT_EQ(KeychainItems::payload(reply), test.replyData);
        EXPECT_EQ(reply.entries().size(), test.replyData ? 2u : 1u);
        EXPECT_EQ(store.calls > 0, test.touchesStore);
    }
}

TEST(KeychainItems, SaveAddsOnceThenUpdatesInPlace) {
    MemoryKeychainStore store;
    KeychainItems items(store);
    EXPECT_EQ(items.save(bytes("one"), kService, kAccount), keychainStatus::success);
    EXPECT_EQ(items.save(bytes("two"), kService, kAccount), keychainStatus::success);
    EXPECT_EQ(store.adds, 1);
    EXPECT_EQ(items.read(kService, kAccount).data, bytes("two"));

    // Any failure of the update other than "not found" is the answer: no add is tried.
    store.failUpdateWith = keychainStatus::interactionNotAllowed;
    EXPECT_EQ(items.save(bytes("three"), kService, "new"), keychainStatus::interactionNotAllowed);
    EXPECT_EQ(store.adds, 1);
    EXPECT_FALSE(store.item(kService, "new"));
}

TEST(KeychainItems, ReadOfAnOversizedItemKeepsItsStatusButSendsNoData) {
    MemoryKeychainStore store;
    KeychainItems items(store);
    const KeychainData huge(KeychainItems::maxSize + 1, 3);
    ASSERT_EQ(items.save(huge, kService, kAccount), keychainStatus::success);  // in process: no size check
    EXPECT_EQ(items.read(kService, kAccount).data, huge);

    KeychainMessage reply;
    items.handle(request("read"), reply);
    EXPECT_EQ(*reply.int64("status"), keychainStatus::success);
    EXPECT_FALSE(reply.contains("data"));
}

TEST(KeychainItems, PayloadKeepsOnlyOneToMaxSizeBytes) {
    struct Case {
        KeychainValue value;
        bool kept;
    };
    const std::vector<Case> cases = {
        {KeychainData{}, false},
        {KeychainData(1, 9), true},
        {KeychainData(KeychainItems::maxSize, 9), true},
        {KeychainData(KeychainItems::maxSize + 1, 9), false},
        {std::string("text is not data"), false},
        {std::int64_t{5}, false},
    };
    for (const Case& test : cases) {
        KeychainMessage message;
        message.set("data", test.value);
        EXPECT_EQ(KeychainItems::payload(message).has_value(), test.kept);
        if (const auto* data = std::get_if<KeychainData>(&test.value)) {
            KeychainMessage written;
            KeychainItems::setPayload(*data, written);
            EXPECT_EQ(written.contains("data"), test.kept) << data->size();
        }
    }
}

}  // namespace
}  // namespace brevalto
