#include "KeychainItems/KeychainClient.h"

#include "KeychainItems/KeychainChannel.h"

#include <cerrno>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace brevalto {

namespace fs = std::filesystem;

// One started service program and the app's end of its socket. Calls are serialised: one request
// is on the wire at a time, and its reply is the next record.
class KeychainClient::ServiceConnection {
public:
    ServiceConnection(fs::path program, std::chrono::milliseconds deadline)
        : program_(std::move(program)), deadline_(deadline) {}
    ~ServiceConnection() { stop(); }

    // The reply, or none when the service did not answer in time.
    std::optional<KeychainMessage> call(const KeychainMessage& request) {
        const auto deadline = std::chrono::steady_clock::now() + deadline_;
        std::unique_lock lock(mutex_, std::defer_lock);
        if (!lock.try_lock_until(deadline)) return std::nullopt;  // another call holds a hung service
        if (fd_ < 0 && !start()) return std::nullopt;
        const KeychainChannel channel(fd_);
        KeychainMessage reply;
        if (channel.send(request, deadline) && channel.receive(reply, deadline) == KeychainChannel::Received::message)
            return reply;
        // Exited, refused us, sent garbage or missed the deadline: the next call starts it again,
        // so a late reply can never be taken for the answer to another request.
        stop();
        return std::nullopt;
    }

private:
    // Starts the program with its end of a fresh socket pair as standard input.
    bool start() {
        int fds[2];
        if (!KeychainChannel::makePair(fds)) return false;
        posix_spawn_file_actions_t actions;
        posix_spawnattr_t attributes;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 0);
        posix_spawn_file_actions_addclosefrom_np(&actions, 3);
        posix_spawnattr_init(&attributes);
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &all);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        std::string program = program_.string();
        char* argv[] = {program.data(), nullptr};
        pid_t pid = -1;
        const int failed = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        ::close(fds[1]);
        if (failed != 0) {
            ::close(fds[0]);
            return false;
        }
        fd_ = fds[0];
        pid_ = pid;
        return true;
    }

    // Closes the socket and ends and reaps the program; it keeps no state, so nothing is lost.
    void stop() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
        pid_ = -1;
    }

    const fs::path program_;
    const std::chrono::milliseconds deadline_;
    std::timed_mutex mutex_;
    int fd_ = -1;
    pid_t pid_ = -1;
};

KeychainClient::KeychainClient(KeychainStore& store, fs::path servicePath, std::chrono::milliseconds deadline)
    : items_(store), servicePath_(std::move(servicePath)), deadline_(deadline) {}

KeychainClient::~KeychainClient() = default;

fs::path KeychainClient::installedServicePath(const fs::path& appProgram) {
    const fs::path folder = appProgram.parent_path();
    const fs::path beside = folder / "brevalto-keychain";
    std::error_code error;
    if (fs::exists(beside, error)) return beside;
    return folder / ".." / "libexec" / "brevalto" / "brevalto-keychain";
}

KeychainClient::ServiceConnection* KeychainClient::connection() {
    std::call_once(opened_, [this] {
        std::error_code error;
        if (fs::exists(servicePath_, error)) connection_ = std::make_unique<ServiceConnection>(servicePath_, deadline_);
    });
    return connection_.get();
}

KeychainMessage KeychainClient::request(std::string_view op, const std::string& service,
                                        const std::string& account) const {
    KeychainMessage message;
    message.set("op", std::string(op));
    message.set("service", service);
    message.set("account", account);
    return message;
}

KeychainReadResult KeychainClient::send(const KeychainMessage& request) {
    // A service or account longer than a message can carry is a bad parameter, not a lost service.
    if (request.string("service")->size() > KeychainMessage::maxStringBytes ||
        request.string("account")->size() > KeychainMessage::maxStringBytes)
        return {keychainStatus::param, std::nullopt};
    std::optional<KeychainMessage> reply = connection_->call(request);
    if (!reply) return {keychainStatus::serviceNotAvailable, std::nullopt};
    return replyResult(*reply);
}

KeychainReadResult KeychainClient::replyResult(const KeychainMessage& reply) {
    const std::int64_t* status = reply.int64("status");
    if (!status) return {keychainStatus::serviceNotAvailable, std::nullopt};
    return {static_cast<KeychainStatus>(static_cast<std::uint32_t>(*status)), KeychainItems::payload(reply)};
}

KeychainStatus KeychainClient::keychainRequest(std::string_view op, const std::string& service,
                                               const std::string& account, InProcess inProcess) {
    if (!connection()) return (items_.*inProcess)(service, account);
    return send(request(op, service, account)).status;
}

KeychainReadResult KeychainClient::keychainRead(const std::string& service, const std::string& account) {
    if (!connection()) return items_.read(service, account);
    return send(request("read", service, account));
}

KeychainStatus KeychainClient::keychainExists(const std::string& service, const std::string& account) {
    return keychainRequest("exists", service, account, &KeychainItems::exists);
}

KeychainStatus KeychainClient::keychainDelete(const std::string& service, const std::string& account) {
    return keychainRequest("delete", service, account, &KeychainItems::deleteItem);
}

KeychainStatus KeychainClient::keychainSave(const KeychainData& data, const std::string& service,
                                            const std::string& account) {
    if (!connection()) return items_.save(data, service, account);
    KeychainMessage message = request("save", service, account);
    KeychainItems::setPayload(data, message);
    return send(message).status;
}

}  // namespace brevalto
