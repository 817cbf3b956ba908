// brevalto-keychain: the keychain service program. The app starts it with its end of a connected
// SOCK_SEQPACKET socket as standard input; the program checks that the peer is the app installed
// beside it and then answers the app's keychain requests until the app closes the connection.
//
//   brevalto-keychain [--app=PATH]
//
// --app names the app file for a copy of the program that has no app installed beside it (see
// KeychainService::resolveApp). Exit status: 0 when the app closed the connection, 1 when the app
// file cannot be resolved or standard input is not such a socket, 2 when the peer is not the app.
// Nothing that crosses the socket is ever printed.
#include "KeychainItems/KeychainItems.h"
#include "KeychainItems/KeychainService.h"
#include "KeychainItems/SecretServiceStore.h"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <signal.h>
#include <string_view>

using namespace brevalto;

namespace {

int cannotStart(const char* reason) {
    std::fprintf(stderr, "brevalto-keychain: %s\n", reason);
    return KeychainService::cannotStart;
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<std::filesystem::path> appOverride;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument.starts_with("--app=") && !appOverride) {
            appOverride = std::filesystem::path(argument.substr(6));
        } else {
            return cannotStart("usage: brevalto-keychain [--app=PATH]");
        }
    }
    ::signal(SIGPIPE, SIG_IGN);

    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return cannotStart("cannot read its own program file");
    const std::optional<std::filesystem::path> app = KeychainService::resolveApp(self, appOverride);
    if (!app) return cannotStart("cannot resolve the app installed beside it");
    const std::optional<KeychainService::FileIdentity> appIdentity = KeychainService::identity(*app);
    if (!appIdentity) return cannotStart("cannot read the app installed beside it");

    SecretServiceStore store;
    const KeychainItems items(store);
    const KeychainService::ExitStatus status = KeychainService::serve(0, *appIdentity, items);
    if (status == KeychainService::cannotStart) return cannotStart("standard input is not the app's socket");
    return status;
}
