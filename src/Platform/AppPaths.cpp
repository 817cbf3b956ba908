#include "Platform/AppPaths.h"

#include "Platform/AtomicFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace brevalto {

namespace fs = std::filesystem;

namespace {

fs::path home() {
    const char* h = std::getenv("HOME");
    return h && *h ? fs::path(h) : fs::path("/tmp");
}

fs::path xdgFolder(const char* variable, const fs::path& fallback) {
    const char* value = std::getenv(variable);
    // The XDG rules ignore relative paths.
    if (value && *value == '/') return fs::path(value);
    return fallback;
}

bool isPrivateFolderOfOurs(const fs::path& folder) {
    struct stat st {};
    return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & 077) == 0;
}

}  // namespace

fs::path AppPaths::dataFolder() {
    return xdgFolder("XDG_DATA_HOME", home() / ".local" / "share") / "brevalto";
}

fs::path AppPaths::configFolder() {
    return xdgFolder("XDG_CONFIG_HOME", home() / ".config") / "brevalto";
}

fs::path AppPaths::ensurePrivateFolder(const fs::path& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        throw FileError("Could not create the folder " + folder.string() + ": " + std::strerror(errno));
    if (!isPrivateFolderOfOurs(folder))
        throw FileError("The temporary folder " + folder.string() +
                        " is a link, not a folder, not ours or open to others.");
    return folder;
}

fs::path AppPaths::temporaryRoot() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime == '/' && isPrivateFolderOfOurs(runtime)) return fs::path(runtime);
    return ensurePrivateFolder(fs::path("/tmp") / ("brevalto-" + std::to_string(::getuid())));
}

}  // namespace brevalto
