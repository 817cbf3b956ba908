#pragma once

#include "KeychainItems/KeychainAccess.h"
#include "KeychainItems/KeychainItems.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace brevalto {

// The app's way to its secrets (the Claude API key, the Cloudflare tokens, the S3 keys). When the
// keychain service program is installed, every operation is one request to it over a connected
// socket, answered by one reply; otherwise the same KeychainItems operations run in this process
// over `store`. Operations block the calling thread until the answer is in, may run on any thread,
// and never throw.
//
// The connection is opened once, by the first operation of any thread: that decides for the life
// of the client whether the service program is used. The service program itself is started on
// first use; when it fails to start, exits, refuses the app or misses the deadline of a call, that
// call answers -67585 and the next one starts the program again. The deadline (10 s) bounds every
// call, so a service that hangs cannot freeze its caller.
//
// Over the service, a save of empty data or of more than KeychainItems::maxSize bytes is answered
// -50 and stores nothing, services must begin with "app.brevalto.", and a read returns no data for
// an item larger than maxSize; in process none of these limits apply.
class KeychainClient final : public KeychainAccess {
public:
    static constexpr std::chrono::milliseconds defaultDeadline{10000};

    // `servicePath`: where the service program is installed (see installedServicePath); the
    // operations run in process over `store` when nothing exists there.
    KeychainClient(KeychainStore& store, std::filesystem::path servicePath,
                   std::chrono::milliseconds deadline = defaultDeadline);
    ~KeychainClient() override;
    KeychainClient(const KeychainClient&) = delete;
    KeychainClient& operator=(const KeychainClient&) = delete;

    // The service program installed beside the app program `appProgram`: "brevalto-keychain" in the
    // app's own folder (a build tree) when it is there, else "../libexec/brevalto/brevalto-keychain"
    // from it (an installed app).
    static std::filesystem::path installedServicePath(const std::filesystem::path& appProgram);

    KeychainReadResult keychainRead(const std::string& service, const std::string& account) override;
    KeychainStatus keychainExists(const std::string& service, const std::string& account) override;
    KeychainStatus keychainDelete(const std::string& service, const std::string& account) override;
    KeychainStatus keychainSave(const KeychainData& data, const std::string& service,
                                const std::string& account) override;

    // What a reply from the service means: its int64 "status" narrowed to the low 32 bits, and
    // its payload. A reply without an int64 status is no answer: -67585.
    static KeychainReadResult replyResult(const KeychainMessage& reply);

private:
    class ServiceConnection;
    using InProcess = KeychainStatus (KeychainItems::*)(const std::string&, const std::string&) const;

    // The connection to the service program, or null when the operations run in process.
    ServiceConnection* connection();
    KeychainMessage request(std::string_view op, const std::string& service, const std::string& account) const;
    KeychainReadResult send(const KeychainMessage& request);
    KeychainStatus keychainRequest(std::string_view op, const std::string& service, const std::string& account,
                                   InProcess inProcess);

    KeychainItems items_;
    std::filesystem::path servicePath_;
    std::chrono::milliseconds deadline_;
    std::once_flag opened_;
    std::unique_ptr<ServiceConnection> connection_;
};

}  // namespace brevalto
