#pragma once

#include "ClipCore/ReferenceDate.h"

#include <QByteArray>

#include <filesystem>
#include <optional>
#include <vector>

namespace brevalto {

// The on-disk side of a scrolling capture: each capture owns one staging folder, named by a
// fresh UUID, under a common root in the per-user temporary folder. The folder holds
// "owner.pid" (the creating process) and one PNG file per stored strip. Folders more than a day
// old whose creator no longer runs are removed at launch; anything that cannot be proven stale
// stays.
class ScrollStitcher {
public:
    // Creates this capture's staging folder under root (0700) and its "owner.pid". Throws
    // FileError; leaves no half-made folder when only the identifier file fails.
    explicit ScrollStitcher(const std::filesystem::path& root = stagingRoot());
    ~ScrollStitcher();  // removes the folder, ignoring errors
    ScrollStitcher(const ScrollStitcher&) = delete;
    ScrollStitcher& operator=(const ScrollStitcher&) = delete;

    // "Brevalto-scroll-staging" in the per-user temporary root, computed once per process.
    // Nothing is created on disk by reading it. Throws FileError when no private temporary root
    // can be had.
    static std::filesystem::path stagingRoot();

    // Removes the staging folders under root that are proven stale at `now`; returns how many.
    // Throws FileError when the root cannot be listed or a folder cannot be removed.
    static int removeStaleStaging(const std::filesystem::path& root, Date now);

    const std::filesystem::path& folder() const { return folder_; }

    // Writes one strip atomically under a fresh name; returns its path.
    std::filesystem::path writeStrip(const QByteArray& png);
    const std::vector<std::filesystem::path>& strips() const { return strips_; }

    // Removes the folder with everything in it; on success the strips are forgotten. Throws
    // FileError and keeps the state on failure.
    void removeStaging();

private:
    std::filesystem::path folder_;
    std::vector<std::filesystem::path> strips_;
    bool removed_ = false;
};

}  // namespace brevalto
