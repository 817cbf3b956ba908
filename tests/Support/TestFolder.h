#pragma once

#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
#include <string>

namespace brevalto {

// A fresh folder removed at the end of the test.
class TestFolder {
public:
    TestFolder() : dir_(QDir::tempPath() + QStringLiteral("/brevalto-test-XXXXXX")) {}
    std::filesystem::path path() const { return std::filesystem::path(dir_.path().toStdString()); }
    std::filesystem::path operator/(const std::string& name) const { return path() / name; }

private:
    QTemporaryDir dir_;
};

// An executable shell script (owner only).
inline std::filesystem::path writeScript(const std::filesystem::path& path, const std::string& body) {
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
}

}  // namespace brevalto
