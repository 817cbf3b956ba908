#pragma once

// A private folder for targets that read files, made once per run and removed at exit: under
// $TMPDIR when set, else in memory (/dev/shm), since the writers sync every file they write.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>

namespace brevalto::fuzz {

inline const std::filesystem::path& folder() {
    static const std::filesystem::path path = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string base = tmp && *tmp ? tmp : (std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp");
        std::string pattern = base + "/brevalto-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) std::abort();
        std::atexit([] { std::error_code ec; std::filesystem::remove_all(folder(), ec); });
        return std::filesystem::path(pattern);
    }();
    return path;
}

// Replaces the file's content; the file's folder is the private folder.
inline std::filesystem::path writeFile(std::string_view name, std::string_view bytes) {
    const std::filesystem::path path = folder() / name;
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

inline void removeFile(std::string_view name) {
    std::error_code ec;
    std::filesystem::remove(folder() / name, ec);
}

}  // namespace brevalto::fuzz
