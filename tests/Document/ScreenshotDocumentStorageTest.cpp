#include "Document/ScreenshotDocument.h"
#include "DocumentSamples.h"
#include "Errors/ScreenshotError.h"
#include "Platform/AtomicFile.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <QImage>

#include <fcntl.h>
#include <fstream>
#include <functional>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace brevalto {
namespace {

namespace fs = std::filesystem;

std::string errorOf(const std::function<void()>& run) {
    try {
        run();
    } catch (const ScreenshotError& error) {
        return error.what();
    } catch (const FileError&) {
        return "file error";
    } catch (const std::exception& error) {
        return std::string("other: ") + error.what();
    }
    return "no error";
}

unsigned modeOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

QImage solidImage(int width, int height, QColor color = Qt::red) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    return image;
}

fs::path writePNG(const fs::path& path, const QImage& image) {
    EXPECT_TRUE(image.save(QString::fromStdString(path.string()), "PNG"));
    return path;
}

void writeSparse(const fs::path& path, off_t size) {
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
}

class ScreenshotDocumentStorageTest : public ::testing::Test {
protected:
    TestFolder temp;
    fs::path root = screenshotDocumentsRoot(temp.path() / "clips");
    Uuid history = Uuid::random();
    fs::path source = writePNG(temp / "source.png", solidImage(64, 48));

    ScreenshotDocument::Loaded create() { return ScreenshotDocument::load(root, history, source, 2); }
    fs::path documentFolder() const { return root / history.string(); }
    fs::path assets() const { return documentFolder() / "assets"; }
    std::size_t assetCount() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(assets()), fs::directory_iterator()));
    }
};

TEST_F(ScreenshotDocumentStorageTest, CreatesTheFirstDocumentFromTheImage) {
    EXPECT_EQ(root.filename(), "ScreenshotDocuments");
    EXPECT_EQ(errorOf([&] { ScreenshotDocument::load(root, history, std::nullopt, 2); }),
              "Saved document or source image is missing.");
    EXPECT_EQ(modeOf(documentFolder()), 0700u);
    EXPECT_EQ(modeOf(assets()), 0700u);

    const auto [document, folder] = create();
    EXPECT_EQ(folder, documentFolder());
    EXPECT_EQ(document.historyID, history);
    EXPECT_EQ(document.sourceScale, 2);
    EXPECT_TRUE(sameRect(QRectF(QPointF(), document.canvas), QRectF(0, 0, 64, 48)));
    ASSERT_EQ(document.assets.size(), 1u);
    const auto& asset = document.assets[0];
    EXPECT_EQ(asset.filename, asset.id.string() + ".png");
    EXPECT_EQ(std::pair(asset.width, asset.height), std::pair(std::int64_t{64}, std::int64_t{48}));
    EXPECT_EQ(document.sourceAssetID, asset.id);
    ASSERT_EQ(document.layers.size(), 1u);
    const ScreenshotLayer& layer = document.layers[0];
    EXPECT_EQ(layer.kind, ScreenshotLayerKind::image);
    EXPECT_TRUE(sameRect(layer.frame, QRectF(0, 0, 64, 48)));
    EXPECT_EQ(layer.assetID, asset.id);
    EXPECT_EQ(layer.value, 2);
    EXPECT_EQ(layer.style, ScreenshotStyle{});
    EXPECT_FALSE(document.backdrop.enabled);
    EXPECT_EQ(modeOf(folder / "document.json"), 0600u);
    EXPECT_EQ(modeOf(assets() / asset.filename), 0600u);
    const QImage stored(QString::fromStdString((assets() / asset.filename).string()));
    EXPECT_EQ(stored.pixelColor(3, 3), QColor(Qt::red));

    // Opened again: the same document, the source no longer read.
    fs::remove(source);
    EXPECT_EQ(ScreenshotDocument::load(root, history, std::nullopt, 1).document, document);
    EXPECT_EQ(assetCount(), 1u);
}

TEST_F(ScreenshotDocumentStorageTest, ARefusedFirstSaveLeavesNoAsset) {
    for (double scale : {100.0, 0.1, std::nan("")})
        EXPECT_EQ(errorOf([&] { ScreenshotDocument::load(root, history, source, scale); }),
                  "The document is invalid or over budget.");
    EXPECT_EQ(assetCount(), 0u);
    EXPECT_FALSE(fs::exists(documentFolder() / "document.json"));
    // The next open with a sound scale creates the document.
    EXPECT_EQ(create().document.assets.size(), 1u);
    EXPECT_EQ(assetCount(), 1u);
}

TEST_F(ScreenshotDocumentStorageTest, SavesAndLoadsRevisions) {
    auto [document, folder] = create();
    const QImage overlay = solidImage(10, 5, Qt::blue);
    const auto added = ScreenshotDocument::storeAsset(overlay, folder);
    EXPECT_EQ(std::pair(added.width, added.height), std::pair(std::int64_t{10}, std::int64_t{5}));
    document.assets.push_back(added);
    ScreenshotLayer layer = samples::layerOf(ScreenshotLayerKind::image);
    layer.assetID = added.id;
    document.layers.push_back(layer);
    document.layers.push_back(samples::layerOf(ScreenshotLayerKind::arrow));
    document.revision = Uuid::random();
    document.metadata["note"] = "second";
    ScreenshotDocument::save(document, folder);
    EXPECT_EQ(ScreenshotDocument::load(root, history, std::nullopt, 1).document, document);

    // A document that breaks a rule is not written; the saved revision stays.
    ScreenshotDocument broken = document;
    broken.layers.back().rotation = 1e9;
    EXPECT_EQ(errorOf([&] { ScreenshotDocument::save(broken, folder); }), "Invalid layer.");
    EXPECT_EQ(ScreenshotDocument::load(root, history, std::nullopt, 1).document, document);
}

TEST_F(ScreenshotDocumentStorageTest, RefusesUnsafeOrForeignIndexes) {
    const auto [document, folder] = create();
    const fs::path index = folder / "document.json";
    const std::string saved = AtomicFile::read(index, 1 << 24);
    const auto load = [&] { ScreenshotDocument::load(root, history, source, 2); };

    fs::remove(index);
    fs::create_symlink(temp / "elsewhere.json", index);
    EXPECT_EQ(errorOf(load), "The document index is unsafe or too large.");
    EXPECT_EQ(errorOf([&] { ScreenshotDocument::save(document, folder); }), "The document index cannot be a symlink.");
    fs::remove(index);
    fs::create_directory(index);
    EXPECT_EQ(errorOf(load), "The document index is unsafe or too large.");
    fs::remove(index);
    writeSparse(index, 16'777'217);
    EXPECT_EQ(errorOf(load), "The document index is unsafe or too large.");

    // An index copied from another history item's folder.
    std::ofstream(index, std::ios::trunc) << saved;
    const Uuid other = Uuid::random();
    fs::create_directories(root / other.string());
    fs::copy(index, root / other.string() / "document.json");
    EXPECT_EQ(errorOf([&] { ScreenshotDocument::load(root, other, std::nullopt, 1); }),
              "The document does not belong to this history item.");

    // A damaged index is reported, not replaced by a new document.
    std::ofstream(index, std::ios::trunc) << saved.substr(0, saved.size() / 2);
    EXPECT_THROW(load(), ScreenshotDocumentFormatError);
    EXPECT_EQ(assetCount(), 1u);
}

TEST_F(ScreenshotDocumentStorageTest, ChecksAssetFiles) {
    const auto [document, folder] = create();
    const auto& asset = document.assets[0];
    const fs::path file = assets() / asset.filename;
    const auto load = [&] { ScreenshotDocument::load(root, history, std::nullopt, 1); };

    writePNG(file, solidImage(65, 48));
    EXPECT_EQ(errorOf(load), "Asset size does not match the document.");

    fs::remove(file);
    EXPECT_EQ(errorOf(load), "file error");
    EXPECT_EQ(errorOf([&] { ScreenshotDocument::save(document, folder); }), "file error");

    const fs::path outside = writePNG(temp / "outside.png", solidImage(64, 48));
    fs::create_symlink(outside, file);
    EXPECT_EQ(errorOf(load), "Asset is not a safe file.");
    fs::remove(file);
    const fs::path sibling = writePNG(assets() / "sibling.png", solidImage(64, 48));
    fs::create_symlink(sibling, file);
    EXPECT_EQ(errorOf(load), "Asset is not a safe file.");
    fs::remove(file);
    fs::create_directory(file);
    EXPECT_EQ(errorOf(load), "Asset is not a safe file.");

    ScreenshotDocument::Asset renamed = asset;
    renamed.filename = "../" + asset.filename;
    EXPECT_EQ(errorOf([&] { ScreenshotDocument::assetURL(renamed, folder); }), "Unsafe asset path.");
}

TEST_F(ScreenshotDocumentStorageTest, RefusesLinkedFoldersAndRemoteRoots) {
    EXPECT_EQ(errorOf([&] { ScreenshotDocument::folder("relative/root", history); }),
              "Document root must be a local folder.");
    EXPECT_EQ(errorOf([&] { ScreenshotDocument::folder("smb://host/share", history); }),
              "Document root must be a local folder.");
    EXPECT_FALSE(fs::exists("relative") || fs::exists("smb:"));

    fs::create_directories(root);
    fs::create_directory(temp / "real");
    fs::create_directory_symlink(temp / "real", documentFolder());
    EXPECT_EQ(errorOf([&] { ScreenshotDocument::folder(root, history); }), "The document folder cannot be a symlink.");
    fs::remove(documentFolder());
    fs::create_directory(documentFolder());
    fs::create_directory_symlink(temp / "real", assets());
    EXPECT_EQ(errorOf([&] { ScreenshotDocument::folder(root, history); }), "The assets folder cannot be a symlink.");
    EXPECT_EQ(errorOf([&] { create(); }), "The assets folder cannot be a symlink.");
    EXPECT_TRUE(fs::is_empty(temp / "real"));

    // A link above the documents root is the user's business.
    fs::create_directory_symlink(temp.path(), temp / "linked");
    EXPECT_NO_THROW(ScreenshotDocument::folder(temp / "linked" / "other-root", history));
}

TEST_F(ScreenshotDocumentStorageTest, AssetBudgets) {
    const fs::path folder = ScreenshotDocument::folder(root, history);
    const QImage small = solidImage(4, 4);
    for (int i = 0; i < 510; ++i) std::ofstream(assets() / ("filler-" + std::to_string(i)));
    std::ofstream(assets() / ".hidden");  // a stray hidden file counts too
    EXPECT_NO_THROW(ScreenshotDocument::storeAsset(small, folder));  // the 512th entry
    const std::string full = "The document reached its 512 MiB or 512-asset budget. Create a new document.";
    EXPECT_EQ(errorOf([&] { ScreenshotDocument::storeAsset(small, folder); }), full);

    // Bytes: every entry's size counts, referenced or not.
    for (int i = 0; i < 510; ++i) fs::remove(assets() / ("filler-" + std::to_string(i)));
    const auto first = ScreenshotDocument::storeAsset(small, folder);
    const auto pngSize = static_cast<off_t>(fs::file_size(assets() / first.filename));
    writeSparse(assets() / "big-a", off_t{300} << 20);
    writeSparse(assets() / "big-b", (off_t{212} << 20) - 3 * pngSize);  // room for exactly one more
    EXPECT_NO_THROW(ScreenshotDocument::storeAsset(small, folder));
    EXPECT_EQ(errorOf([&] { ScreenshotDocument::storeAsset(small, folder); }), full);
    EXPECT_EQ(assetCount(), 6u);
}

TEST_F(ScreenshotDocumentStorageTest, RefusesAnAssetOver64MiB) {
    // Noise does not compress: 4096 x 4096 x 4 bytes of it encode to just over 64 MiB.
    QImage noise(4096, 4096, QImage::Format_ARGB32);
    std::mt19937 random(7);
    for (int y = 0; y < noise.height(); ++y) {
        auto* line = reinterpret_cast<std::uint32_t*>(noise.scanLine(y));
        for (int x = 0; x < noise.width(); ++x) line[x] = random();
    }
    const fs::path folder = ScreenshotDocument::folder(root, history);
    EXPECT_EQ(errorOf([&] { ScreenshotDocument::storeAsset(noise, folder); }), "Asset exceeds 64 MiB.");
    EXPECT_EQ(assetCount(), 0u);
}

}  // namespace
}  // namespace brevalto
