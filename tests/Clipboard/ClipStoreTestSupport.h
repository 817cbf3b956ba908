#pragma once

#include "ClipCore/Clip.h"
#include "Clipboard/ClipStore.h"
#include "FakeClock.h"
#include "Imaging/ImageDecoding.h"
#include "TestFolder.h"
#include "TestImages.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>

namespace brevalto::cliptest {

namespace fs = std::filesystem;

inline std::string hexName(char fill) { return std::string(64, fill) + ".png"; }

inline Clip textClip(const std::string& text, Date createdAt, bool pinned = false) {
    Clip clip(Clip::Kind::text, text, std::nullopt, hexDigest(text), static_cast<std::int64_t>(text.size()), "test",
              createdAt);
    clip.pinned = pinned;
    return clip;
}

inline Clip imageClip(const std::string& file, Date createdAt = 1000) {
    return Clip(Clip::Kind::image, std::nullopt, file, file.substr(0, 64), 10, "test", createdAt);
}

inline void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

inline std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

inline unsigned modeOf(const fs::path& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_mode & 0777;
}


inline QImage picture(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(30, 120, 200));
    for (int x = 0; x < std::min(width, 16); ++x) image.setPixelColor(x, 0, QColor(250, 10, 10));
    return image;
}

class ClipStoreFixture : public ::testing::Test {
protected:
    void SetUp() override { raiseImageAllocationLimit(); }
    fs::path root() const { return folder.path() / "history"; }
    fs::path index() const { return root() / ClipStore::kIndexFileName; }

    TestFolder folder;
    FakeClock clock{800'000'000.0};
};

}  // namespace brevalto::cliptest
