#include "Capture/ScrollStitcher.h"
#include "ClipCore/Uuid.h"
#include "Platform/AppPaths.h"
#include "Platform/AtomicFile.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace brevalto {
namespace {

namespace fs = std::filesystem;

constexpr double kTwoDays = 2 * 86400.0;

int exitedPid() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

fs::path makeCapture(const fs::path& root, const std::string& owner) {
    const fs::path folder = root / Uuid::random().string();
    AtomicFile::createFolder(folder);
    AtomicFile::write(folder / "owner.pid", owner);
    return folder;
}

TEST(ScrollStaging, StaleFoldersOfExitedOwnersGoAndEverythingUnprovenStays) {
    TestFolder dir;
    const fs::path root = dir / "Brevalto-scroll-staging";
    const std::string dead = std::to_string(exitedPid());

    const auto gone = makeCapture(root, dead);
    const auto signedDead = makeCapture(root, "+" + dead);
    const auto alive = makeCapture(root, std::to_string(::getpid()));
    const auto zero = makeCapture(root, "0");
    const auto negative = makeCapture(root, "-5");
    const auto empty = makeCapture(root, "");
    const auto newline = makeCapture(root, dead + "\n");
    const auto spaced = makeCapture(root, " " + dead);
    const auto oversized = makeCapture(root, std::string(32 - dead.size(), '0') + dead);
    const auto overflow = makeCapture(root, "99999999999");
    const auto noOwner = root / Uuid::random().string();
    AtomicFile::createFolder(noOwner);
    const auto linkedOwner = root / Uuid::random().string();
    AtomicFile::createFolder(linkedOwner);
    AtomicFile::write(dir / "pidfile", dead);
    fs::create_symlink(dir / "pidfile", linkedOwner / "owner.pid");
    const auto notUuid = makeCapture(root, dead);
    fs::rename(notUuid, root / "not-a-uuid");
    const auto fileNamedLikeUuid = root / Uuid::random().string();
    AtomicFile::write(fileNamedLikeUuid, dead);
    const auto linkedFolder = root / Uuid::random().string();
    fs::create_directory_symlink(makeCapture(dir.path(), dead), linkedFolder);

    const double now = referenceDateNow();
    EXPECT_EQ(ScrollStitcher::removeStaleStaging(root, now), 0) << "young folders are kept";
    EXPECT_EQ(ScrollStitcher::removeStaleStaging(root, now + kTwoDays), 2);
    EXPECT_FALSE(fs::exists(gone));
    EXPECT_FALSE(fs::exists(signedDead));
    for (const auto& kept : {alive, zero, negative, empty, newline, spaced, oversized, overflow, noOwner,
                             linkedOwner, root / "not-a-uuid", fileNamedLikeUuid}) {
        EXPECT_TRUE(fs::exists(kept)) << kept;
    }
    EXPECT_TRUE(fs::is_symlink(linkedFolder));
}

TEST(ScrollStaging, AMissingRootIsNothingToDo) {
    TestFolder dir;
    EXPECT_EQ(ScrollStitcher::removeStaleStaging(dir / "missing", referenceDateNow()), 0);
}

TEST(ScrollStaging, EachCaptureOwnsAPrivateFolderRemovedWithIt) {
    TestFolder dir;
    const fs::path root = dir / "staging";
    fs::path first, second;
    {
        const ScrollBudget budget{16 << 20, 1 << 20, 1000};
        ScrollStitcher a(root, budget), b(root, budget);
        first = a.folder();
        second = b.folder();
        EXPECT_NE(first, second);
        EXPECT_EQ(AtomicFile::read(first / "owner.pid", 31), std::to_string(::getpid()));
        struct stat st {};
        ASSERT_EQ(::stat(first.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
        QImage rows(8, 4, QImage::Format_RGB32);
        rows.fill(Qt::red);
        ASSERT_TRUE(a.writeStrip(rows, 0));
        ASSERT_TRUE(a.writeStrip(rows, 4));
        const auto strips = a.strips();
        ASSERT_EQ(strips.size(), 2u);
        EXPECT_EQ(strips[0].url.parent_path(), first);
        EXPECT_TRUE(strips[0].url.filename().string().ends_with(".png"));
        EXPECT_NE(strips[1].url, strips[0].url);
        ASSERT_EQ(::stat(strips[0].url.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        b.removeStaging();
        EXPECT_FALSE(fs::exists(second));
        EXPECT_TRUE(b.strips().empty());
        // A live owner keeps its folder however old it looks.
        EXPECT_EQ(ScrollStitcher::removeStaleStaging(root, referenceDateNow() + kTwoDays), 0);
    }
    EXPECT_FALSE(fs::exists(first));
}

TEST(ScrollStaging, StagingRootIsInThePrivateTemporaryRoot) {
    const auto root = ScrollStitcher::stagingRoot();
    EXPECT_EQ(root.filename(), "Brevalto-scroll-staging");
    EXPECT_EQ(root.parent_path(), AppPaths::temporaryRoot());
}

}  // namespace
}  // namespace brevalto
