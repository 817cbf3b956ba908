#include "Document/ScreenshotFilePromise.h"

#include "Platform/AtomicFile.h"
#include "TestFolder.h"

#include <QMimeData>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>
#include <sys/stat.h>

namespace brevalto {
namespace {

namespace fs = std::filesystem;

const QByteArray kPNG("\x89PNG fake bytes");

std::optional<fs::path> askForFile(QMimeData& mime) {
    const QList<QUrl> urls = mime.urls();
    if (urls.size() != 1 || !urls.front().isLocalFile()) return std::nullopt;
    return fs::path(urls.front().toLocalFile().toStdString());
}

mode_t modeOf(const fs::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
}

TEST(ScreenshotFilePromiseTest, TheFileIsCreatedOnlyWhenATargetAsksForIt) {
    TestFolder root;
    const fs::path folder = root / "Drag" / "inner";
    auto promise = std::make_shared<ScreenshotFilePromise>(kPNG, "Brevalto-1.png", folder);
    std::unique_ptr<QMimeData> mime(ScreenshotFilePromise::mimeData(promise));

    EXPECT_EQ(mime->formats(), (QStringList{"image/png", "text/uri-list"}));
    EXPECT_TRUE(mime->hasUrls());
    EXPECT_EQ(mime->data("image/png"), kPNG);
    EXPECT_FALSE(fs::exists(root / "Drag"));  // offering and the bytes create nothing
    EXPECT_FALSE(promise->createdFile());

    AtomicFile::createFolder(folder);
    AtomicFile::write(folder / "Brevalto-1.png", std::string_view("someone else's"));
    const auto file = askForFile(*mime);
    ASSERT_TRUE(file);
    EXPECT_EQ(*file, folder / "Brevalto-1-2.png");  // never -1
    EXPECT_EQ(AtomicFile::read(*file, 100), kPNG.toStdString());
    EXPECT_EQ(AtomicFile::read(folder / "Brevalto-1.png", 100), "someone else's");
    EXPECT_EQ(modeOf(*file), 0600u);
    EXPECT_EQ(modeOf(root / "Drag"), 0700u);
    EXPECT_EQ(askForFile(*mime), file);  // the same file every time
    EXPECT_EQ(promise->createdFile(), file);
    mime.reset();
    EXPECT_EQ(promise->file(), *file);  // the promise outlives the drag data
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) ++count;
    EXPECT_EQ(count, 2u);  // no staging file left
}

TEST(ScreenshotFilePromiseTest, TakenNamesAndLinks) {
    TestFolder root;
    const fs::path folder = root / "Drag";
    AtomicFile::createFolder(folder);
    fs::create_symlink(root / "outside.png", folder / "s.png");  // planted: never followed
    for (int n = 2; n <= 63; ++n) AtomicFile::write(folder / ("s-" + std::to_string(n) + ".png"), std::string_view("x"));

    // The last free name; then none is left and only the bytes travel.
    auto first = std::make_shared<ScreenshotFilePromise>(kPNG, "s.png", folder);
    EXPECT_EQ(first->file(), folder / "s-64.png");
    EXPECT_FALSE(fs::exists(root / "outside.png"));
    std::unique_ptr<QMimeData> full(
        ScreenshotFilePromise::mimeData(std::make_shared<ScreenshotFilePromise>(kPNG, "s.png", folder)));
    EXPECT_TRUE(full->urls().isEmpty());
    EXPECT_EQ(full->data("image/png"), kPNG);

    // A source on the same volume is linked, and a later drag of it finds that link again.
    AtomicFile::write(root / "source.png", std::string_view("stored"));
    auto linked = std::make_shared<ScreenshotFilePromise>(kPNG, "t.png", folder, root / "source.png");
    EXPECT_EQ(linked->file(), folder / "t.png");
    EXPECT_EQ(fs::hard_link_count(root / "source.png"), 2u);
    auto again = std::make_shared<ScreenshotFilePromise>(kPNG, "t.png", folder, root / "source.png");
    EXPECT_EQ(again->file(), folder / "t.png");
    EXPECT_EQ(fs::hard_link_count(root / "source.png"), 2u);
    // A source that cannot be linked is written instead.
    auto missing = std::make_shared<ScreenshotFilePromise>(kPNG, "t.png", folder, root / "missing.png");
    EXPECT_EQ(missing->file(), folder / "t-2.png");
    EXPECT_EQ(AtomicFile::read(folder / "t-2.png", 100), kPNG.toStdString());
}

}  // namespace
}  // namespace brevalto
