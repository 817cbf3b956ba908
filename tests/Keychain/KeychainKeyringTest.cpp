// Against a real GNOME Keyring in a private D-Bus session (see tests/Support/with-keyring).
// GLib first: its headers use the word that Qt defines as a macro ("signals").
#include <libsecret/secret.h>

#include "KeychainItems/KeychainClient.h"
#include "KeychainItems/KeychainItems.h"
#include "KeychainItems/KeychainService.h"
#include "KeychainItems/SecretServiceStore.h"
#include "ServiceProcess.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

namespace brevalto {
namespace {

KeychainData bytes(std::string_view text) { return KeychainData(text.begin(), text.end()); }

// One path to the secret store: the operations in process, over the service program, or through
// the client; each answers the same way for secrets of 1 to 65536 bytes.
struct Operations {
    std::function<KeychainStatus(const KeychainData&, const std::string&, const std::string&)> save;
    std::function<KeychainReadResult(const std::string&, const std::string&)> read;
    std::function<KeychainStatus(const std::string&, const std::string&)> exists;
    std::function<KeychainStatus(const std::string&, const std::string&)> remove;
};

void checkLifecycle(const Operations& ops, const std::string& service) {
    const std::string account = "user@example.com";
    KeychainData binary = bytes("first");
    binary.push_back(0);
    binary.push_back(0xff);
    KeychainData largest(KeychainItems::maxSize);
    for (std::size_t i = 0; i < largest.size(); ++i) largest[i] = static_cast<std::uint8_t>(i * 7);

    struct Step {
        const char* what;
        std::function<KeychainReadResult()> run;
        KeychainStatus status;
        std::optional<KeychainData> data;
    };
    auto status = [](KeychainStatus s) { return KeychainReadResult{s, std::nullopt}; };
    const std::vector<Step> steps = {
        {"read missing", [&] { return ops.read(service, account); }, keychainStatus::itemNotFound, std::nullopt},
        {"exists missing", [&] { return status(ops.exists(service, account)); }, keychainStatus::itemNotFound, std::nullopt},
        {"delete missing", [&] { return status(ops.remove(service, account)); }, keychainStatus::itemNotFound, std::nullopt},
        {"save new", [&] { return status(ops.save(binary, service, account)); }, keychainStatus::success, std::nullopt},
        {"exists", [&] { return status(ops.exists(service, account)); }, keychainStatus::success, std::nullopt},
        {"read", [&] { return ops.read(service, account); }, keychainStatus::success, binary},
        {"other account missing", [&] { return ops.read(service, "someone else"); }, keychainStatus::itemNotFound, std::nullopt},
        {"update", [&] { return status(ops.save(largest, service, account)); }, keychainStatus::success, std::nullopt},
        {"read updated", [&] { return ops.read(service, account); }, keychainStatus::success, largest},
        {"delete", [&] { return status(ops.remove(service, account)); }, keychainStatus::success, std::nullopt},
        {"read deleted", [&] { return ops.read(service, account); }, keychainStatus::itemNotFound, std::nullopt},
        {"exists deleted", [&] { return status(ops.exists(service, account)); }, keychainStatus::itemNotFound, std::nullopt},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        KeychainReadResult result = step.run();
        EXPECT_EQ(result.status, step.status);
        EXPECT_EQ(result.data, step.data);
    }
}

TEST(KeychainKeyring, ItemsInProcess) {
    SecretServiceStore store;
    KeychainItems items(store);
    checkLifecycle({[&](auto& d, auto& s, auto& a) { return items.save(d, s, a); },
                    [&](auto& s, auto& a) { return items.read(s, a); },
                    [&](auto& s, auto& a) { return items.exists(s, a); },
                    [&](auto& s, auto& a) { return items.deleteItem(s, a); }},
                   "app.brevalto.InProcess");
}

TEST(KeychainKeyring, SaveReplacesTheOneItemInsteadOfAddingAnother) {
    SecretServiceStore store;
    KeychainItems items(store);
    ASSERT_EQ(items.save(bytes("one"), "app.brevalto.Twice", "a"), keychainStatus::success);
    ASSERT_EQ(items.save(bytes("two"), "app.brevalto.Twice", "a"), keychainStatus::success);
    EXPECT_EQ(items.read("app.brevalto.Twice", "a").data, bytes("two"));
    EXPECT_EQ(items.deleteItem("app.brevalto.Twice", "a"), keychainStatus::success);
    EXPECT_EQ(items.exists("app.brevalto.Twice", "a"), keychainStatus::itemNotFound);
}

TEST(KeychainKeyring, StringsTheBusCannotCarryAreBadParameters) {
    SecretServiceStore store;
    KeychainItems items(store);
    for (const std::string& account : {std::string("bad\xff"), std::string("nul\0inside", 10)}) {
        EXPECT_EQ(items.save(bytes("x"), "app.brevalto.Bad", account), keychainStatus::param);
        EXPECT_EQ(items.read("app.brevalto.Bad", account).status, keychainStatus::param);
        EXPECT_EQ(items.exists("app.brevalto.Bad", account), keychainStatus::param);
        EXPECT_EQ(items.deleteItem("app.brevalto.Bad", account), keychainStatus::param);
    }
    // The account is not cut at the NUL: the item "nul" is untouched.
    EXPECT_EQ(items.exists("app.brevalto.Bad", "nul"), keychainStatus::itemNotFound);
}

TEST(KeychainKeyring, ServiceProgramOverItsSocket) {
    TestFolder folder;
    ServiceProcess service(copyServiceProgram(folder), {"--app=" + thisProgram().string()});
    auto call = [&](std::string_view op, const std::string& s, const std::string& a,
                    const std::optional<KeychainData>& data = std::nullopt) {
        KeychainMessage request;
        request.set("op", std::string(op));
        request.set("service", s);
        request.set("account", a);
        if (data) KeychainItems::setPayload(*data, request);
        EXPECT_TRUE(service.channel().send(request));
        KeychainMessage reply;
        EXPECT_EQ(service.channel().receive(reply, std::chrono::steady_clock::now() + std::chrono::seconds(20)),
                  KeychainChannel::Received::message);
        const std::int64_t* status = reply.int64("status");
        return KeychainReadResult{status ? static_cast<KeychainStatus>(*status) : 1, KeychainItems::payload(reply)};
    };
    checkLifecycle({[&](auto& d, auto& s, auto& a) { return call("save", s, a, d).status; },
                    [&](auto& s, auto& a) { return call("read", s, a); },
                    [&](auto& s, auto& a) { return call("exists", s, a).status; },
                    [&](auto& s, auto& a) { return call("delete", s, a).status; }},
                   "app.brevalto.Service");
    service.closeSocket();
    EXPECT_EQ(service.exitStatus(), KeychainService::peerClosed);
}

TEST(KeychainKeyring, ClientThroughTheServiceProgram) {
    TestFolder folder;
    const auto program = copyServiceProgram(folder);
    const auto script = writeScript(folder / "service", "exec '" + program.string() + "' '--app=" +
                                                             thisProgram().string() + "'");
    SecretServiceStore unused;
    KeychainClient client(unused, script);
    checkLifecycle({[&](auto& d, auto& s, auto& a) { return client.keychainSave(d, s, a); },
                    [&](auto& s, auto& a) { return client.keychainRead(s, a); },
                    [&](auto& s, auto& a) { return client.keychainExists(s, a); },
                    [&](auto& s, auto& a) { return client.keychainDelete(s, a); }},
                   "app.brevalto.Client");
}

// Locks the default collection; unlocking it again takes a prompt, which no test can answer.
void lockDefaultCollection() {
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_LOAD_COLLECTIONS, nullptr, &error);
    ASSERT_TRUE(service) << (error ? error->message : "");
    SecretCollection* collection =
        secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &error);
    ASSERT_TRUE(collection) << (error ? error->message : "");
    GList* objects = g_list_append(nullptr, collection);
    EXPECT_EQ(secret_service_lock_sync(service, objects, nullptr, nullptr, &error), 1) << (error ? error->message : "");
    g_clear_error(&error);
    g_list_free(objects);
    g_object_unref(collection);
    g_object_unref(service);
}

// An item whose collection stays locked (its unlock prompt cannot be shown or is dismissed) can
// be neither read nor changed nor removed, and is never reported as missing: a caller that
// deletes a secret must not take "locked" for "gone".
TEST(KeychainKeyring, AnItemInALockedCollectionIsNeverReportedMissing) {
    // The lock cannot be undone here, so the checks run again in a keyring of their own, with no
    // display for an unlock prompt.
    if (!std::getenv("BREVALTO_TEST_OWN_KEYRING")) {
        const std::string command = "BREVALTO_TEST_OWN_KEYRING=1 timeout 120 env -u DISPLAY -u WAYLAND_DISPLAY '" +
                                    std::string(BREVALTO_SOURCE_DIR) + "/tests/Support/with-keyring' '" +
                                    thisProgram().string() +
                                    "' --gtest_filter=KeychainKeyring.AnItemInALockedCollectionIsNeverReportedMissing";
        EXPECT_EQ(std::system(command.c_str()), 0);
        return;
    }
    SecretServiceStore store;
    KeychainItems items(store);
    const std::string service = "app.brevalto.Locked";
    ASSERT_EQ(items.save(bytes("sk-1"), service, "key"), keychainStatus::success);
    lockDefaultCollection();

    struct Step {
        const char* what;
        std::function<KeychainReadResult()> run;
        KeychainStatus status;
    };
    auto status = [](KeychainStatus s) { return KeychainReadResult{s, std::nullopt}; };
    const std::vector<Step> steps = {
        {"exists", [&] { return status(items.exists(service, "key")); }, keychainStatus::success},
        {"read", [&] { return items.read(service, "key"); }, keychainStatus::interactionNotAllowed},
        {"save", [&] { return status(items.save(bytes("sk-2"), service, "key")); }, keychainStatus::interactionNotAllowed},
        {"delete", [&] { return status(items.deleteItem(service, "key")); }, keychainStatus::interactionNotAllowed},
        {"still there", [&] { return status(items.exists(service, "key")); }, keychainStatus::success},
        {"read missing", [&] { return items.read(service, "nobody"); }, keychainStatus::itemNotFound},
        {"delete missing", [&] { return status(items.deleteItem(service, "nobody")); }, keychainStatus::itemNotFound},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        const KeychainReadResult result = step.run();
        EXPECT_EQ(result.status, step.status);
        EXPECT_FALSE(result.data);
    }
}

}  // namespace
}  // namespace brevalto
