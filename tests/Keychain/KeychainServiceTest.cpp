#include "KeychainItems/KeychainService.h"
#include "MemoryKeychainStore.h"
#include "ServiceProcess.h"

#include <gtest/gtest.h>

#include <future>
#include <sys/socket.h>

namespace brevalto {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

KeychainData bytes(std::string_view text) { return KeychainData(text.begin(), text.end()); }

KeychainMessage request(std::string_view op, std::string_view account = "key") {
    KeychainMessage message;
    message.set("op", std::string(op));
    message.set("service", std::string("app.brevalto.AI"));
    message.set("account", std::string(account));
    return message;
}

KeychainService::FileIdentity identityOf(const fs::path& file) {
    auto identity = KeychainService::identity(file);
    EXPECT_TRUE(identity) << file;
    return identity.value_or(KeychainService::FileIdentity{});
}

// The service loop in a thread of this process, over a real socket pair; this process is the peer.
class InProcessService {
public:
    explicit InProcessService(const fs::path& app = thisProgram()) {
        EXPECT_TRUE(KeychainChannel::makePair(fds_));
        done_ = std::async(std::launch::async, [this, identity = identityOf(app)] {
            KeychainItems items(store);
            auto status = KeychainService::serve(fds_[1], identity, items);
            ::close(fds_[1]);
            return status;
        });
    }
    ~InProcessService() {
        closeApp();
        if (done_.valid()) done_.wait();
    }
    void closeApp() {
        if (fds_[0] >= 0) ::close(fds_[0]);
        fds_[0] = -1;
    }

    KeychainChannel app() const { return KeychainChannel(fds_[0]); }
    int appFd() const { return fds_[0]; }
    KeychainChannel::Received receive(KeychainMessage& reply, std::chrono::milliseconds wait = 5s) const {
        return app().receive(reply, std::chrono::steady_clock::now() + wait);
    }
    std::int64_t call(const KeychainMessage& message, std::optional<KeychainData>* data = nullptr) {
        EXPECT_TRUE(app().send(message));
        KeychainMessage reply;
        EXPECT_EQ(receive(reply), KeychainChannel::Received::message);
        if (data) *data = KeychainItems::payload(reply);
        return reply.int64("status") ? *reply.int64("status") : 1;
    }
    KeychainService::ExitStatus exitStatus() { return done_.get(); }

    MemoryKeychainStore store;

private:
    int fds_[2] = {-1, -1};
    std::future<KeychainService::ExitStatus> done_;
};

TEST(KeychainService, AnswersEachRequestOfTheApp) {
    InProcessService service;
    KeychainMessage save = request("save");
    KeychainItems::setPayload(bytes("sk-1"), save);
    std::optional<KeychainData> data;
    EXPECT_EQ(service.call(request("read")), keychainStatus::itemNotFound);
    EXPECT_EQ(service.call(save), keychainStatus::success);
    EXPECT_EQ(service.call(request("read"), &data), keychainStatus::success);
    EXPECT_EQ(data, bytes("sk-1"));
    EXPECT_EQ(service.call(request("delete")), keychainStatus::success);
    EXPECT_EQ(service.call(request("exists")), keychainStatus::itemNotFound);
    service.closeApp();
    EXPECT_EQ(service.exitStatus(), KeychainService::peerClosed);
}

TEST(KeychainService, BadRecordsGetNoAnswerAndServingGoesOn) {
    InProcessService service;
    KeychainMessage noReply = request("save");
    noReply.expectsReply = false;
    KeychainItems::setPayload(bytes("x"), noReply);
    KeychainMessage wrongType = request("read");
    wrongType.set("account", std::int64_t{3});

    const std::vector<std::pair<const char*, std::vector<std::uint8_t>>> records = {
        {"garbage", bytes("not a frame")},
        {"empty record", {}},
        {"oversized record", std::vector<std::uint8_t>(KeychainMessage::maxFrameBytes + 1, 'B')},
        {"truncated frame", [&] { auto f = *request("read").encode(); f.pop_back(); return f; }()},
        {"no reply expected", *noReply.encode()},
    };
    for (const auto& [name, record] : records) {
        SCOPED_TRACE(name);
        ASSERT_EQ(::send(service.appFd(), record.data(), record.size(), MSG_NOSIGNAL), static_cast<ssize_t>(record.size()));
        KeychainMessage reply;
        EXPECT_EQ(service.receive(reply, 100ms), KeychainChannel::Received::timedOut);
        // Still serving: a malformed dictionary is answered -50.
        EXPECT_EQ(service.call(wrongType), keychainStatus::param);
    }
    EXPECT_EQ(service.store.calls, 0);
    EXPECT_FALSE(service.store.item("app.brevalto.AI", "key"));
}

TEST(KeychainService, RefusesAPeerThatIsAnotherProgram) {
    InProcessService service("/bin/sh");
    KeychainMessage save = request("save");
    KeychainItems::setPayload(bytes("x"), save);
    service.app().send(save);
    EXPECT_EQ(service.exitStatus(), KeychainService::peerRefused);
    KeychainMessage reply;
    EXPECT_EQ(service.receive(reply), KeychainChannel::Received::closed);
    EXPECT_EQ(service.store.calls, 0);
}

TEST(KeychainService, ServesOnlyASeqPacketSocket) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    MemoryKeychainStore store;
    KeychainItems items(store);
    EXPECT_EQ(KeychainService::serve(pipeFds[0], identityOf(thisProgram()), items), KeychainService::cannotStart);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
}

TEST(KeychainService, FindsTheAppInstalledBesideIt) {
    TestFolder root;
    auto touch = [](const fs::path& file) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << "program";
        return file;
    };
    const fs::path buildTree = root / "build";
    touch(buildTree / "brevalto");
    const fs::path prefix = root / "usr";
    touch(prefix / "bin" / "brevalto");
    fs::create_directories(prefix / "libexec" / "brevalto");
    const fs::path alone = root / "alone";
    fs::create_directories(alone);
    fs::create_directories(alone / "brevalto");  // a folder is no app
    const fs::path other = touch(root / "other-app");

    struct Case {
        const char* name;
        fs::path service;
        std::optional<fs::path> appOverride;
        std::optional<fs::path> app;
    };
    const std::vector<Case> cases = {
        {"same folder", buildTree / "brevalto-keychain", std::nullopt, buildTree / "brevalto"},
        {"installed prefix", prefix / "libexec" / "brevalto" / "brevalto-keychain", std::nullopt, prefix / "bin" / "brevalto"},
        {"nothing beside", alone / "brevalto-keychain", std::nullopt, std::nullopt},
        {"override without an app beside", alone / "brevalto-keychain", other, other},
        {"override of a missing file", alone / "brevalto-keychain", root / "missing", std::nullopt},
        {"override of a folder", alone / "brevalto-keychain", alone, std::nullopt},
        {"override beside an installed app", buildTree / "brevalto-keychain", other, std::nullopt},
    };
    for (const Case& test : cases) {
        auto app = KeychainService::resolveApp(test.service, test.appOverride);
        EXPECT_EQ(app.has_value(), test.app.has_value()) << test.name;
        if (app && test.app) {
            EXPECT_TRUE(fs::equivalent(*app, *test.app)) << test.name;
        }
    }
}

TEST(KeychainService, ProgramExitStatuses) {
    TestFolder folder;
    const fs::path copy = copyServiceProgram(folder);
    struct Case {
        const char* name;
        fs::path program;
        std::vector<std::string> arguments;
        int exitStatus;
    };
    const std::vector<Case> cases = {
        {"no app beside the copy", copy, {}, KeychainService::cannotStart},
        {"--app in the build tree, beside the app", builtServiceProgram(), {"--app=" + thisProgram().string()},
         KeychainService::cannotStart},
        {"--app naming a missing file", copy, {"--app=" + (folder / "missing").string()}, KeychainService::cannotStart},
        {"unknown argument", copy, {"--verbose"}, KeychainService::cannotStart},
        {"peer is another program", copy, {"--app=/bin/sh"}, KeychainService::peerRefused},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        ServiceProcess service(test.program, test.arguments);
        // A service that refuses to start may already have closed its end: the request may or
        // may not go out, and either way no answer comes back.
        (void)service.channel().send(request("exists"));
        KeychainMessage reply;
        EXPECT_EQ(service.channel().receive(reply, std::chrono::steady_clock::now() + 10s),
                  KeychainChannel::Received::closed);
        EXPECT_EQ(service.exitStatus(), test.exitStatus);
    }

    {
        // Admitted, with no Secret Service on the bus: unavailable, which is never "not found".
        ServiceProcess service(copy, {"--app=" + thisProgram().string()},
                               {"DBUS_SESSION_BUS_ADDRESS=unix:path=" + (folder / "no-bus").string()});
        ASSERT_TRUE(service.channel().send(request("exists")));
        KeychainMessage reply;
        ASSERT_EQ(service.channel().receive(reply, std::chrono::steady_clock::now() + 10s),
                  KeychainChannel::Received::message);
        EXPECT_EQ(*reply.int64("status"), keychainStatus::notAvailable);
    }
    // Admitted, it serves until the app closes its end.
    ServiceProcess admitted(copy, {"--app=" + thisProgram().string()});
    admitted.closeSocket();
    EXPECT_EQ(admitted.exitStatus(), KeychainService::peerClosed);
}

}  // namespace
}  // namespace brevalto
