#pragma once

#include <QByteArray>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

namespace brevalto {

// A file operation that failed; what() names the operation and the system's reason.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    // What the system refused: what() is "<operation> <path>: <reason>".
    FileError(const std::string& operation, const std::filesystem::path& path, const std::string& reason);

    // The system's reason ("No space left on device") and the file it was about, for a display
    // that has room for little; both empty when the failure was not the system's.
    const std::string& reason() const noexcept { return reason_; }
    const std::filesystem::path& path() const noexcept { return path_; }

private:
    std::string reason_;
    std::filesystem::path path_;
};

// Every file the app writes goes through here: the bytes go to a temporary file created 0600 in
// the same folder, are synced, and replace the target by rename, so a reader sees the old or the
// new content and never a part. Folders are created 0700.
struct AtomicWriteOptions {
    // Refuse when the target, or the folder it is written into, is a symbolic link.
    bool refuseSymlinks = true;
    // Create the folder (0700) when it is missing.
    bool createFolder = true;
    // Flush the bytes and the rename to the disk before returning. Scratch files that mean
    // nothing after a restart may leave it to the system: readers still see the old or the new
    // content, never a part, and write and close errors (a full disk) are still reported.
    bool durable = true;
};

// What a path itself is: a symbolic link at its end is reported as a link, never followed.
enum class FileKind { missing, regular, folder, symlink, other };

struct FileStatus {
    FileKind kind = FileKind::missing;
    std::uint64_t size = 0;  // bytes of a regular file
};

// A regular file's bytes mapped read-only, then at least the asked padding of readable zero bytes,
// so a parser that reads in wide blocks can use the bytes where they lie: nothing is copied or
// zero-filled first. The mapping goes with the object, on whatever thread ends it. The app's
// writers replace files by rename and never shorten one in place; a file shortened in place by
// another program while it is mapped cannot be read past its new end.
class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&& other) noexcept;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    std::string_view bytes() const { return {static_cast<const char*>(base_), size_}; }
    // Readable bytes after the end of bytes().
    std::size_t padding() const { return length_ - size_; }

private:
    friend class AtomicFile;
    MappedFile(void* base, std::size_t length, std::size_t size) : base_(base), length_(length), size_(size) {}
    void* base_ = nullptr;
    std::size_t length_ = 0;  // the whole mapping
    std::size_t size_ = 0;    // the file's bytes
};

class AtomicFile {
public:
    using Options = AtomicWriteOptions;

    static void write(const std::filesystem::path& path, std::string_view bytes, Options options);
    // The same, with the bytes handed over piece by piece by `produce` as it makes them, so a
    // large file is never held whole in memory. An exception from `produce` discards the file.
    using Sink = std::function<void(std::string_view)>;
    static void write(const std::filesystem::path& path, const std::function<void(const Sink&)>& produce,
                      Options options = {});
    static void write(const std::filesystem::path& path, std::string_view bytes) { write(path, bytes, Options{}); }
    static void write(const std::filesystem::path& path, const QByteArray& bytes, Options options = {}) {
        write(path, std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), options);
    }

    // Creates the folder and any missing parents with mode 0700. With refuseSymlinks, fails when
    // the folder itself is a symbolic link. An existing folder keeps its mode.
    static void createFolder(const std::filesystem::path& path, bool refuseSymlinks = true);

    // Reads a whole regular file of at most maxBytes. Fails for a larger file, a missing one, or
    // (with refuseSymlinks) a symbolic link.
    static std::string read(const std::filesystem::path& path, std::uint64_t maxBytes, bool refuseSymlinks = true);
    // The same file and the same refusals, mapped instead of read, with `padding` zero bytes after
    // its end.
    static MappedFile map(const std::filesystem::path& path, std::uint64_t maxBytes, bool refuseSymlinks,
                          std::size_t padding);

    // True when the path itself (not what it points to) is a symbolic link.
    static bool isSymlink(const std::filesystem::path& path);

    // What the path itself is. A path that does not exist is missing; any other failure to
    // examine it throws FileError ("Could not read the properties of ...").
    static FileStatus status(const std::filesystem::path& path);
    // The same without throwing: any failure, a missing path included, sets error and reports
    // missing.
    static FileStatus status(const std::filesystem::path& path, std::error_code& error) noexcept;

    // Creates exactly this folder with mode 0700; fails when anything exists at the path or its
    // parent folder is missing.
    static void createNewFolder(const std::filesystem::path& path);

    // Removes the file or symbolic link at the path itself (a link's target stays, a folder is
    // never removed). True when something was removed.
    static bool removeFile(const std::filesystem::path& path) noexcept;
};

// Bytes written in full to a new hidden file in a folder (created exclusively with mode 0600,
// synced), to be put into place under a name that must not exist yet. Placing never replaces and
// never follows anything at the destination name, so two writers never overwrite each other's
// file. The staged file is removed when this ends unless it was placed; a failure of that removal
// is ignored. Every operation works relative to the folder as it was opened, so nothing is
// written outside it even when its path is changed meanwhile.
class StagedFile {
public:
    // Fails with FileError when the folder cannot be opened or the file cannot be written; no
    // file is left behind then.
    StagedFile(const std::filesystem::path& folder, const std::string& stagingName, std::string_view bytes);
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // Names are single names inside the folder; a path of several parts is refused (FileError).
    // Puts the staged file into place as `name` in the folder. False when something (a file, a
    // folder, a symbolic link) already has that name; other failures throw FileError.
    bool place(const std::string& name);
    // Makes `name` in the folder a hard link to an existing file elsewhere. False when the link
    // cannot be made (the name exists, the file is on another volume, ...); the staged file is
    // unchanged either way.
    bool link(const std::filesystem::path& existing, const std::string& name) const;
    // True when `name` in the folder exists (as anything, without following a link there).
    bool exists(const std::string& name) const;
    // True when `name` in the folder is the existing file itself (a hard link to it).
    bool isSameFile(const std::filesystem::path& existing, const std::string& name) const;

    const std::filesystem::path& folder() const { return folder_; }
    bool placed() const { return placed_; }

private:
    std::filesystem::path folder_;
    std::string stagingName_;
    int folderFd_ = -1;
    bool placed_ = false;
};

}  // namespace brevalto
