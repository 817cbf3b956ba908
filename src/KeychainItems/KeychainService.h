#pragma once

#include "KeychainItems/KeychainItems.h"

#include <filesystem>
#include <optional>
#include <sys/types.h>

namespace brevalto {

// The keychain service program's work, apart from its main: it serves exactly one peer, the
// process at the other end of the socket it was started with, and only when that peer is the app.
//
// The app is found beside the service: the file "brevalto" in the service program's own folder
// (a build tree), else "../../bin/brevalto" from it (the service installed as
// <prefix>/libexec/brevalto/brevalto-keychain, the app as <prefix>/bin/brevalto).
//
// A peer is admitted when SO_PEERCRED shows the service's own user and the peer's /proc/PID/exe is
// the same file (device and inode) as the app. The service never listens anywhere, so its only
// possible peer is the process that started it with the socket.
class KeychainService {
public:
    // How the program ends.
    enum ExitStatus : int {
        peerClosed = 0,    // the app closed the connection
        cannotStart = 1,   // the app file could not be resolved, or there is no socket to serve
        peerRefused = 2,   // the peer is not the app: nothing was read from it
    };

    // The app file for a service program at `serviceProgram`. `appOverride` (the program's
    // --app=PATH option) is honoured only when no app is installed beside the service, that is
    // for a copy of the program run from elsewhere, as the tests do: an installed service always
    // admits its installed app alone, so the option cannot widen who is admitted. It must name an
    // existing regular file. None when no app file can be resolved.
    static std::optional<std::filesystem::path> resolveApp(const std::filesystem::path& serviceProgram,
                                                           const std::optional<std::filesystem::path>& appOverride);

    // The device and inode of a file (following links); none when it cannot be read.
    struct FileIdentity {
        dev_t device = 0;
        ino_t inode = 0;
        friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
    };
    static std::optional<FileIdentity> identity(const std::filesystem::path& file);

    // True when the peer of the connected socket `fd` runs as this user and is the app file.
    static bool admitsPeer(int fd, const FileIdentity& app);

    // Checks the peer, then answers every request on `fd` with `items.handle` until the peer
    // closes the connection. Records that are not well-formed messages, and messages that expect
    // no reply, get no answer; nothing that arrives is logged. Returns the exit status.
    static ExitStatus serve(int fd, const FileIdentity& app, const KeychainItems& items);
};

}  // namespace brevalto
