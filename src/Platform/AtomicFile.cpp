#include "Platform/AtomicFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brevalto {

namespace fs = std::filesystem;

FileError::FileError(const std::string& operation, const fs::path& path, const std::string& reason)
    : std::runtime_error(operation + " " + path.string() + ": " + reason), reason_(reason), path_(path) {}

namespace {

[[noreturn]] void fail(const std::string& what, const fs::path& path, int error) {
    throw FileError(what, path, std::strerror(error));
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// Writes all of `bytes`, going on after interruptions; 0, or the errno of the failed write.
int writeAll(int fd, std::string_view bytes) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return 0;
}

}  // namespace

bool AtomicFile::isSymlink(const fs::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

namespace {

FileStatus statusOf(const struct stat& st) {
    if (S_ISLNK(st.st_mode)) return {FileKind::symlink, 0};
    if (S_ISREG(st.st_mode)) return {FileKind::regular, static_cast<std::uint64_t>(st.st_size)};
    if (S_ISDIR(st.st_mode)) return {FileKind::folder, 0};
    return {FileKind::other, 0};
}

}  // namespace

FileStatus AtomicFile::status(const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) return statusOf(st);
    if (errno == ENOENT) return {};
    fail("Could not read the properties of", path, errno);
}

FileStatus AtomicFile::status(const fs::path& path, std::error_code& error) noexcept {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        error.clear();
        return statusOf(st);
    }
    error = std::error_code(errno, std::generic_category());
    return {};
}

void AtomicFile::createNewFolder(const fs::path& path) {
    if (::mkdir(path.c_str(), 0700) != 0) fail("Could not create the folder", path, errno);
}

bool AtomicFile::removeFile(const fs::path& path) noexcept { return ::unlink(path.c_str()) == 0; }

void AtomicFile::createFolder(const fs::path& path, bool refuseSymlinks) {
    if (path.empty()) return;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            if (refuseSymlinks) throw FileError("Refusing the symbolic link " + path.string());
            if (::stat(path.c_str(), &st) != 0) fail("Could not open the folder", path, errno);
        }
        if (!S_ISDIR(st.st_mode)) throw FileError("Not a folder: " + path.string());
        return;
    }
    const fs::path parent = path.parent_path();
    if (!parent.empty() && parent != path) createFolder(parent, false);
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) fail("Could not create the folder", path, errno);
}

void AtomicFile::write(const fs::path& path, std::string_view bytes, Options options) {
    write(path, [bytes](const Sink& sink) { sink(bytes); }, options);
}

void AtomicFile::write(const fs::path& path, const std::function<void(const Sink&)>& produce, Options options) {
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    if (options.createFolder) createFolder(folder, options.refuseSymlinks);
    if (options.refuseSymlinks && (isSymlink(folder) || isSymlink(path)))
        throw FileError("Refusing the symbolic link " + path.string());

    std::string pattern = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
    // mkstemp creates the file with mode 0600 and O_EXCL, so nobody else sees or owns it.
    FileDescriptor fd(::mkstemp(pattern.data()));
    if (fd.get() < 0) fail("Could not create a temporary file for", path, errno);
    const fs::path temporary = pattern;
    auto discard = [&](const std::string& what, int error) {
        ::unlink(temporary.c_str());
        fail(what, path, error);
    };

    try {
        produce([&](std::string_view bytes) {
            if (const int error = writeAll(fd.get(), bytes)) discard("Could not write", error);
        });
    } catch (const FileError&) {
        throw;
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    if (options.durable && ::fsync(fd.get()) != 0) discard("Could not sync", errno);
    if (::close(fd.release()) != 0) discard("Could not close", errno);
    if (::rename(temporary.c_str(), path.c_str()) != 0) discard("Could not replace", errno);
    if (!options.durable) return;

    // Make the rename itself durable.
    FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
}

StagedFile::StagedFile(const fs::path& folder, const std::string& stagingName, std::string_view bytes)
    : folder_(folder), stagingName_(stagingName) {
    FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) fail("Could not open the folder", folder, errno);
    const fs::path shown = folder / stagingName;
    FileDescriptor fd(
        ::openat(dir.get(), stagingName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.get() < 0) fail("Could not create", shown, errno);
    auto discard = [&](const std::string& what, int error) {
        ::unlinkat(dir.get(), stagingName.c_str(), 0);
        fail(what, shown, error);
    };
    // The mode asked for at creation is narrowed by the umask only; set it exactly.
    if (::fchmod(fd.get(), 0600) != 0) discard("Could not set the permissions of", errno);
    if (const int error = writeAll(fd.get(), bytes)) discard("Could not write", error);
    if (::fsync(fd.get()) != 0) discard("Could not sync", errno);
    if (::close(fd.release()) != 0) discard("Could not close", errno);
    folderFd_ = dir.release();
}

StagedFile::~StagedFile() {
    if (!placed_) ::unlinkat(folderFd_, stagingName_.c_str(), 0);
    ::close(folderFd_);
}

namespace {

void checkSingleName(const fs::path& folder, const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        throw FileError("Not a file name in " + folder.string() + ": " + name);
}

}  // namespace

bool StagedFile::place(const std::string& name) {
    checkSingleName(folder_, name);
    if (placed_) throw FileError("The staged file was placed already: " + (folder_ / name).string());
    if (::renameat2(folderFd_, stagingName_.c_str(), folderFd_, name.c_str(), RENAME_NOREPLACE) == 0) {
        placed_ = true;
    } else if (errno == EEXIST) {
        return false;
    } else if (errno == EINVAL || errno == ENOSYS) {
        // A file system without no-replace renames: a hard link refuses an existing name too.
        if (::linkat(folderFd_, stagingName_.c_str(), folderFd_, name.c_str(), 0) != 0) {
            if (errno == EEXIST) return false;
            fail("Could not move into place", folder_ / name, errno);
        }
        ::unlinkat(folderFd_, stagingName_.c_str(), 0);
        placed_ = true;
    } else {
        fail("Could not move into place", folder_ / name, errno);
    }
    ::fsync(folderFd_);
    return true;
}

bool StagedFile::link(const fs::path& existing, const std::string& name) const {
    checkSingleName(folder_, name);
    if (::linkat(AT_FDCWD, existing.c_str(), folderFd_, name.c_str(), 0) != 0) return false;
    ::fsync(folderFd_);
    return true;
}

bool StagedFile::exists(const std::string& name) const {
    checkSingleName(folder_, name);
    struct stat st {};
    return ::fstatat(folderFd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool StagedFile::isSameFile(const fs::path& existing, const std::string& name) const {
    checkSingleName(folder_, name);
    struct stat a {}, b {};
    return ::stat(existing.c_str(), &a) == 0 && ::fstatat(folderFd_, name.c_str(), &b, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISREG(b.st_mode) && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

namespace {

// Opens a regular file of at most maxBytes for reading and gives its size.
std::size_t openBounded(FileDescriptor& fd, const fs::path& path, std::uint64_t maxBytes, bool refuseSymlinks) {
    fd.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | (refuseSymlinks ? O_NOFOLLOW : 0)));
    if (fd.get() < 0) fail("Could not open", path, errno);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) fail("Could not read", path, errno);
    if (!S_ISREG(st.st_mode)) throw FileError("Not a regular file: " + path.string());
    if (static_cast<std::uint64_t>(st.st_size) > maxBytes) throw FileError("File too large: " + path.string());
    return static_cast<std::size_t>(st.st_size);
}

// A file that grew while it was read is still held to the bound.
void refuseGrowth(int fd, const fs::path& path, std::size_t size) {
    char extra;
    if (::pread(fd, &extra, 1, static_cast<off_t>(size)) > 0) throw FileError("File too large: " + path.string());
}

}  // namespace

std::string AtomicFile::read(const fs::path& path, std::uint64_t maxBytes, bool refuseSymlinks) {
    FileDescriptor fd(-1);
    const std::size_t size = openBounded(fd, path, maxBytes, refuseSymlinks);
    std::string data;
    data.resize(size);
    std::size_t got = 0;
    while (got < data.size()) {
        const ssize_t n = ::read(fd.get(), data.data() + got, data.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("Could not read", path, errno);
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    data.resize(got);
    if (got == size) refuseGrowth(fd.get(), path, size);
    return data;
}

MappedFile::~MappedFile() {
    if (base_) ::munmap(base_, length_);
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : base_(std::exchange(other.base_, nullptr)),
      length_(std::exchange(other.length_, 0)),
      size_(std::exchange(other.size_, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
    if (this != &other) {
        if (base_) ::munmap(base_, length_);
        base_ = std::exchange(other.base_, nullptr);
        length_ = std::exchange(other.length_, 0);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

MappedFile AtomicFile::map(const fs::path& path, std::uint64_t maxBytes, bool refuseSymlinks, std::size_t padding) {
    FileDescriptor fd(-1);
    const std::size_t size = openBounded(fd, path, maxBytes, refuseSymlinks);
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t length = std::max<std::size_t>(1, (size + padding + page - 1) / page) * page;
    // Zero pages for the whole length, whose front the file's pages then replace; the rest of the
    // file's last page reads as zero too. The file's pages come in at once from the page cache.
    void* base = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) fail("Could not read", path, errno);
    MappedFile mapped(base, length, size);
    if (size > 0 && ::mmap(base, size, PROT_READ, MAP_PRIVATE | MAP_FIXED | MAP_POPULATE, fd.get(), 0) == MAP_FAILED)
        fail("Could not read", path, errno);
    refuseGrowth(fd.get(), path, size);
    return mapped;
}

}  // namespace brevalto
