#include "KeychainItems/KeychainService.h"

#include "KeychainItems/KeychainChannel.h"

#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brevalto {

namespace fs = std::filesystem;

std::optional<fs::path> KeychainService::resolveApp(const fs::path& serviceProgram,
                                                    const std::optional<fs::path>& appOverride) {
    const fs::path folder = serviceProgram.parent_path();
    std::optional<fs::path> installed;
    for (const fs::path& candidate : {folder / "brevalto", folder / ".." / ".." / "bin" / "brevalto"}) {
        std::error_code error;
        if (fs::is_regular_file(candidate, error)) {
            installed = fs::weakly_canonical(candidate, error);
            break;
        }
    }
    if (!appOverride) return installed;
    if (installed) return std::nullopt;  // an installed service admits its own app alone
    std::error_code error;
    if (!fs::is_regular_file(*appOverride, error)) return std::nullopt;
    return *appOverride;
}

std::optional<KeychainService::FileIdentity> KeychainService::identity(const fs::path& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) return std::nullopt;
    return FileIdentity{info.st_dev, info.st_ino};
}

bool KeychainService::admitsPeer(int fd, const FileIdentity& app) {
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || length != sizeof peer) return false;
    if (peer.uid != ::getuid() || peer.pid <= 0) return false;
    std::optional<FileIdentity> peerProgram = identity("/proc/" + std::to_string(peer.pid) + "/exe");
    return peerProgram && *peerProgram == app;
}

KeychainService::ExitStatus KeychainService::serve(int fd, const FileIdentity& app, const KeychainItems& items) {
    if (!KeychainChannel::isSeqPacketSocket(fd)) return cannotStart;
    if (!admitsPeer(fd, app)) return peerRefused;
    const KeychainChannel channel(fd);
    for (;;) {
        KeychainMessage request;
        switch (channel.receive(request)) {
        case KeychainChannel::Received::closed:
        case KeychainChannel::Received::failed: return peerClosed;
        case KeychainChannel::Received::timedOut:
        case KeychainChannel::Received::dropped: continue;
        case KeychainChannel::Received::message: break;
        }
        if (!request.expectsReply) continue;
        KeychainMessage reply;
        reply.expectsReply = false;
        items.handle(request, reply);
        if (!channel.send(reply)) return peerClosed;
    }
}

}  // namespace brevalto
