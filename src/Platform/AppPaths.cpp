#include "Platform/AppPaths.h"

#include "Platform/AtomicFile.h"

#include <QDir>
#include <QStandardPaths>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace brevalto {

namespace fs = std::filesystem;

namespace {

// $HOME, else the home folder the password database gives; never a shared folder.
fs::path home() {
    if (const char* h = std::getenv("HOME"); h && *h == '/') return fs::path(h);
    if (const struct passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir && *entry->pw_dir == '/')
        return fs::path(entry->pw_dir);
    throw FileError("No home folder: set HOME.");
}

// An XDG base folder: the variable when it holds an absolute path (the rules ignore relative
// ones), else the folder under the home folder.
fs::path xdgFolder(const char* variable, const fs::path& underHome) {
    const char* value = std::getenv(variable);
    if (value && *value == '/') return fs::path(value);
    return home() / underHome;
}

bool isPrivateFolderOfOurs(const fs::path& folder) {
    struct stat st {};
    return ::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & 077) == 0;
}

}  // namespace

fs::path AppPaths::dataHome() { return xdgFolder("XDG_DATA_HOME", fs::path(".local") / "share"); }

fs::path AppPaths::configHome() { return xdgFolder("XDG_CONFIG_HOME", ".config"); }

fs::path AppPaths::dataFolder() { return dataHome() / "brevalto"; }

fs::path AppPaths::configFolder() { return configHome() / "brevalto"; }

fs::path AppPaths::picturesFolder() {
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    std::error_code error;
    if (!pictures.isEmpty() && fs::is_directory(fs::path(pictures.toStdString()), error)) return pictures.toStdString();
    return QDir::homePath().toStdString();
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
