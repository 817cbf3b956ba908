#include "Capture/ScrollStitcher.h"

#include "ClipCore/Uuid.h"
#include "Platform/AppPaths.h"
#include "Platform/AtomicFile.h"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brevalto {

namespace fs = std::filesystem;

namespace {

constexpr double kStaleAfterSeconds = 86400.0;
constexpr std::uintmax_t kMaxOwnerFileBytes = 31;

// When the folder was made. Linux file systems report a birth time through statx where they
// keep one; elsewhere the last change of the folder stands in for it, which is never earlier
// than its creation, so a folder is never judged older than it is.
std::optional<Date> creationDate(const fs::path& path) {
    struct statx sx {};
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_MTIME | STATX_CTIME, &sx) != 0)
        throw FileError("Could not read " + path.string() + ": " + std::strerror(errno));
    const auto toDate = [](const struct statx_timestamp& t) {
        return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9 - kUnixSecondsAtReferenceDate;
    };
    if (sx.stx_mask & STATX_BTIME) return toDate(sx.stx_btime);
    if ((sx.stx_mask & STATX_MTIME) && (sx.stx_mask & STATX_CTIME))
        return std::max(toDate(sx.stx_mtime), toDate(sx.stx_ctime));
    return std::nullopt;
}

// The owner's process id: the whole text must be an optional sign and digits, fit in 32 bits
// and be at least 1.
std::optional<int> ownerPid(const fs::path& folder) {
    const fs::path file = folder / "owner.pid";
    std::error_code unreadable;
    const FileStatus status = AtomicFile::status(file, unreadable);
    if (status.kind != FileKind::regular || status.size > kMaxOwnerFileBytes) return std::nullopt;
    std::string text;
    try {
        text = AtomicFile::read(file, kMaxOwnerFileBytes);
    } catch (const FileError&) {
        return std::nullopt;
    }
    std::string_view digits(text);
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    if (digits.empty()) return std::nullopt;
    int value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    if (value < 1) return std::nullopt;
    return value;
}

bool processIsGone(int pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

}  // namespace

fs::path ScrollStitcher::stagingRoot() {
    static const fs::path root = AppPaths::temporaryRoot() / "Brevalto-scroll-staging";
    return root;
}

ScrollStitcher::ScrollStitcher(const fs::path& root) : folder_(root / Uuid::random().string()) {
    AtomicFile::createFolder(root);
    AtomicFile::createNewFolder(folder_);
    try {
        AtomicFile::write(folder_ / "owner.pid", std::to_string(::getpid()));
    } catch (...) {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
        throw;
    }
}

ScrollStitcher::~ScrollStitcher() {
    if (removed_) return;
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
}

fs::path ScrollStitcher::writeStrip(const QByteArray& png) {
    const fs::path path = folder_ / (Uuid::random().string() + ".png");
    AtomicFile::write(path, png, {.refuseSymlinks = true, .createFolder = false});
    strips_.push_back(path);
    return path;
}

void ScrollStitcher::removeStaging() {
    std::error_code error;
    fs::remove_all(folder_, error);
    if (error) throw FileError("Could not remove " + folder_.string() + ": " + error.message());
    strips_.clear();
    removed_ = true;
}

int ScrollStitcher::removeStaleStaging(const fs::path& root, Date now) {
    std::error_code error;
    if (AtomicFile::status(root, error).kind == FileKind::missing) return 0;

    fs::directory_iterator it(root, error);
    if (error) throw FileError("Could not list " + root.string() + ": " + error.message());

    std::vector<fs::path> stale;
    for (; it != fs::directory_iterator(); it.increment(error)) {
        if (error) throw FileError("Could not list " + root.string() + ": " + error.message());
        const fs::path entry = it->path();
        if (!Uuid::parse(entry.filename().string())) continue;
        if (AtomicFile::status(entry).kind != FileKind::folder) continue;  // plain files and symbolic links stay
        const auto created = creationDate(entry);
        if (!created || !(now - *created > kStaleAfterSeconds)) continue;
        const auto pid = ownerPid(entry);
        if (!pid || !processIsGone(*pid)) continue;
        stale.push_back(entry);
    }
    if (error) throw FileError("Could not list " + root.string() + ": " + error.message());

    int removed = 0;
    for (const auto& folder : stale) {
        fs::remove_all(folder, error);
        if (error) throw FileError("Could not remove " + folder.string() + ": " + error.message());
        ++removed;
    }
    return removed;
}

}  // namespace brevalto
