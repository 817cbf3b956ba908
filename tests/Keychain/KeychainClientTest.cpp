#include "KeychainItems/KeychainClient.h"
#include "KeychainItems/KeychainService.h"
#include "MemoryKeychainStore.h"
#include "ServiceProcess.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

namespace brevalto {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// This test program doubles as a stand-in service program: started with
// BREVALTO_TEST_KEYCHAIN_SERVICE set, it serves its standard input over an in-memory store before
// main runs ("memory"), or answers one request and exits ("once").
const int fakeService = [] {
    const char* mode = std::getenv("BREVALTO_TEST_KEYCHAIN_SERVICE");
    if (!mode) return 0;
    MemoryKeychainStore store;
    KeychainItems items(store);
    const auto self = KeychainService::identity("/proc/self/exe");
    if (!self) std::_Exit(KeychainService::cannotStart);
    if (std::string_view(mode) == "once") {
        KeychainChannel channel(0);
        KeychainMessage request, reply;
        if (channel.receive(request) == KeychainChannel::Received::message) {
            items.handle(request, reply);
            channel.send(reply);
        }
        std::_Exit(0);
    }
    std::_Exit(KeychainService::serve(0, *self, items));
}();

KeychainData bytes(std::string_view text) { return KeychainData(text.begin(), text.end()); }

// A service program script that notes each start in "starts" before running `command`.
struct ServiceScript {
    explicit ServiceScript(const std::string& command)
        : path(writeScript(folder / "service", "echo started >> '" + (folder / "starts").string() + "'\n" + command)) {}
    static std::string fake(const char* mode) {
        return std::string("BREVALTO_TEST_KEYCHAIN_SERVICE=") + mode + " exec '" + thisProgram().string() + "'";
    }
    int starts() const {
        std::ifstream in(folder / "starts");
        int lines = 0;
        for (std::string line; std::getline(in, line);) ++lines;
        return lines;
    }
    TestFolder folder;
    fs::path path;
};

TEST(KeychainClient, RunsInProcessWhenTheServiceIsNotInstalled) {
    TestFolder folder;
    MemoryKeychainStore store;
    KeychainClient client(store, folder / "brevalto-keychain");
    // In process there is no prefix test and no size limit: empty data is stored too.
    EXPECT_EQ(client.keychainSave({}, "other.prefix", "a"), keychainStatus::success);
    EXPECT_EQ(client.keychainRead("other.prefix", "a").data, KeychainData{});
    EXPECT_EQ(client.keychainSave(bytes("sk"), "app.brevalto.AI", "key"), keychainStatus::success);
    EXPECT_EQ(client.keychainRead("app.brevalto.AI", "key").data, bytes("sk"));
    EXPECT_EQ(client.keychainExists("app.brevalto.AI", "key"), keychainStatus::success);
    EXPECT_EQ(client.keychainDelete("app.brevalto.AI", "key"), keychainStatus::success);
    EXPECT_EQ(client.keychainDelete("app.brevalto.AI", "key"), keychainStatus::itemNotFound);
    EXPECT_EQ(store.item("other.prefix", "a"), KeychainData{});
}

TEST(KeychainClient, GoesThroughTheServiceWhenItIsInstalled) {
    ServiceScript script(ServiceScript::fake("memory"));
    MemoryKeychainStore local;
    KeychainClient client(local, script.path);
    const KeychainData largest(KeychainItems::maxSize, 0xee);
    struct Step {
        const char* name;
        std::function<KeychainReadResult()> run;
        KeychainStatus status;
        std::optional<KeychainData> data;
    };
    auto status = [](KeychainStatus s) { return KeychainReadResult{s, std::nullopt}; };
    const std::vector<Step> steps = {
        {"read missing", [&] { return client.keychainRead("app.brevalto.AI", "key"); }, keychainStatus::itemNotFound, std::nullopt},
        {"save", [&] { return status(client.keychainSave(largest, "app.brevalto.AI", "key")); }, keychainStatus::success, std::nullopt},
        {"read", [&] { return client.keychainRead("app.brevalto.AI", "key"); }, keychainStatus::success, largest},
        {"exists", [&] { return status(client.keychainExists("app.brevalto.AI", "key")); }, keychainStatus::success, std::nullopt},
        {"save empty", [&] { return status(client.keychainSave({}, "app.brevalto.AI", "key")); }, keychainStatus::param, std::nullopt},
        {"save too large", [&] { return status(client.keychainSave(KeychainData(KeychainItems::maxSize + 1), "app.brevalto.AI", "key")); },
         keychainStatus::param, std::nullopt},
        {"foreign service", [&] { return status(client.keychainExists("other.prefix", "key")); }, keychainStatus::param, std::nullopt},
        {"account too long to send", [&] { return status(client.keychainExists("app.brevalto.AI", std::string(5000, 'a'))); },
         keychainStatus::param, std::nullopt},
        {"read still the first data", [&] { return client.keychainRead("app.brevalto.AI", "key"); }, keychainStatus::success, largest},
        {"delete", [&] { return status(client.keychainDelete("app.brevalto.AI", "key")); }, keychainStatus::success, std::nullopt},
        {"delete again", [&] { return status(client.keychainDelete("app.brevalto.AI", "key")); }, keychainStatus::itemNotFound, std::nullopt},
    };
    for (const Step& step : steps) {
        KeychainReadResult result = step.run();
        EXPECT_EQ(result.status, step.status) << step.name;
        EXPECT_EQ(result.data, step.data) << step.name;
    }
    EXPECT_EQ(local.calls, 0);
    EXPECT_EQ(script.starts(), 1);
}

TEST(KeychainClient, OpensOnceWhenTwoThreadsStartTogether) {
    for (int round = 0; round < 5; ++round) {
        ServiceScript script(ServiceScript::fake("memory"));
        MemoryKeychainStore local;
        KeychainClient client(local, script.path);
        std::atomic<bool> go = false;
        std::vector<KeychainStatus> results(2);
        std::vector<std::thread> threads;
        for (int i = 0; i < 2; ++i)
            threads.emplace_back([&, i] {
                while (!go) std::this_thread::yield();
                results[static_cast<std::size_t>(i)] = client.keychainExists("app.brevalto.AI", "key");
            });
        go = true;
        for (auto& thread : threads) thread.join();
        EXPECT_EQ(results, (std::vector<KeychainStatus>{keychainStatus::itemNotFound, keychainStatus::itemNotFound}));
        EXPECT_EQ(script.starts(), 1);
    }
}

TEST(KeychainClient, AServiceThatDiesAnswersUnavailableAndIsStartedAgain) {
    {
        SCOPED_TRACE("answers one request, then exits");
        ServiceScript script(ServiceScript::fake("once"));
        MemoryKeychainStore local;
        KeychainClient client(local, script.path);
        EXPECT_EQ(client.keychainSave(bytes("x"), "app.brevalto.AI", "key"), keychainStatus::success);
        EXPECT_EQ(client.keychainExists("app.brevalto.AI", "key"), keychainStatus::serviceNotAvailable);
        EXPECT_EQ(client.keychainExists("app.brevalto.AI", "key"), keychainStatus::itemNotFound);  // a fresh service
        EXPECT_EQ(script.starts(), 2);
        EXPECT_EQ(local.calls, 0);
    }
    for (const std::string command : {"exit 3", "exec true 0<&-", "kill -9 $$"}) {
        SCOPED_TRACE(command);
        ServiceScript script(command);
        MemoryKeychainStore local;
        KeychainClient client(local, script.path);
        EXPECT_EQ(client.keychainRead("app.brevalto.AI", "key"),
                  (KeychainReadResult{keychainStatus::serviceNotAvailable, std::nullopt}));
        EXPECT_EQ(client.keychainSave(bytes("x"), "app.brevalto.AI", "key"), keychainStatus::serviceNotAvailable);
        EXPECT_EQ(script.starts(), 2);
        EXPECT_EQ(local.calls, 0);
    }
}

TEST(KeychainClient, AServiceThatCannotStartAnswersUnavailable) {
    TestFolder folder;
    const fs::path notExecutable = folder / "brevalto-keychain";
    std::ofstream(notExecutable) << "not a program";
    MemoryKeychainStore local;
    KeychainClient client(local, notExecutable);
    EXPECT_EQ(client.keychainRead("app.brevalto.AI", "key"),
              (KeychainReadResult{keychainStatus::serviceNotAvailable, std::nullopt}));
    EXPECT_EQ(client.keychainDelete("app.brevalto.AI", "key"), keychainStatus::serviceNotAvailable);
    EXPECT_EQ(local.calls, 0);
}

TEST(KeychainClient, AHungServiceMissesTheDeadlineAndIsReplaced) {
    ServiceScript script("exec sleep 30");
    MemoryKeychainStore local;
    KeychainClient client(local, script.path, 300ms);
    for (int call = 1; call <= 2; ++call) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(client.keychainExists("app.brevalto.AI", "key"), keychainStatus::serviceNotAvailable);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_GE(took, 300ms);
        EXPECT_LT(took, 5s);
        EXPECT_EQ(script.starts(), call);
    }
}

TEST(KeychainClient, ReadsTheStatusAndDataOfAReply) {
    auto reply = [](std::optional<KeychainValue> status, std::optional<KeychainData> data) {
        KeychainMessage message;
        if (status) message.set("status", *status);
        if (data) message.set("data", *data);
        return message;
    };
    struct Case {
        const char* name;
        KeychainMessage reply;
        KeychainReadResult result;
    };
    const std::vector<Case> cases = {
        {"no status", reply(std::nullopt, bytes("x")), {keychainStatus::serviceNotAvailable, std::nullopt}},
        {"status as a string", reply(std::string("0"), std::nullopt), {keychainStatus::serviceNotAvailable, std::nullopt}},
        {"not found", reply(std::int64_t{-25300}, std::nullopt), {keychainStatus::itemNotFound, std::nullopt}},
        {"success without data", reply(std::int64_t{0}, std::nullopt), {keychainStatus::success, std::nullopt}},
        {"success with data", reply(std::int64_t{0}, bytes("k")), {keychainStatus::success, bytes("k")}},
        {"empty data", reply(std::int64_t{0}, KeychainData{}), {keychainStatus::success, std::nullopt}},
        {"low 32 bits", reply(std::int64_t{0x1'0000'0007}, std::nullopt), {7, std::nullopt}},
        {"negative kept", reply(std::int64_t{-67585}, std::nullopt), {keychainStatus::serviceNotAvailable, std::nullopt}},
    };
    for (const Case& test : cases) EXPECT_EQ(KeychainClient::replyResult(test.reply), test.result) << test.name;
}

TEST(KeychainClient, FindsTheServiceBesideTheApp) {
    TestFolder folder;
    fs::create_directories(folder / "build");
    std::ofstream(folder / "build" / "brevalto-keychain") << "";
    EXPECT_EQ(KeychainClient::installedServicePath(folder / "build" / "brevalto"), folder / "build" / "brevalto-keychain");
    EXPECT_EQ(KeychainClient::installedServicePath(folder / "usr" / "bin" / "brevalto"),
              folder / "usr" / "bin" / ".." / "libexec" / "brevalto" / "brevalto-keychain");
}

}  // namespace
}  // namespace brevalto
