#pragma once

#include <QTemporaryDir>

#include <filesystem>
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

}  // namespace brevalto
