#pragma once

#include "Capture/ScrollFrameSignature.h"
#include "ClipCore/ReferenceDate.h"

#include <QByteArray>
#include <QColorSpace>
#include <QImage>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace brevalto {

class ScrollPixelRows;

// The limits of one scrolling capture: the memory the final composition may need, the bytes of
// strips its staging folder may hold, and the most rows of the output.
struct ScrollBudget {
    std::int64_t memoryBytes = 0;
    std::int64_t diskBytes = 0;
    std::int64_t maximumHeight = 0;

    bool isValid() const { return memoryBytes >= 16'777'216 && diskBytes >= 1'048'576 && maximumHeight >= 1; }
};

// Joins the viewport grabs of one scrolling capture into one tall image. For each grab it finds
// how far the content moved since the last accepted grab, stores only the new rows as a PNG strip
// in the capture's staging folder, and holds the capture to its memory, area, height and disk
// budgets; at the end it draws the strips into one image.
//
// Rows are stored only once a pair of grabs shows them as content, and then from the newer grab.
// The rows at the bottom that the pair's comparison leaves out (a footer fixed to the bottom of
// the view, a status line that changes in place, the rows the newest grab alone shows) are held
// back with the newest grab and drawn once, below the strips, when the image is composed; so a
// fixed footer comes in once, at the end, and the rows it covered come in from the grabs that
// show them. The same holds upside down for the rows at the top (a sticky header, a title line
// that changes in place) when the content moves down. Held rows count toward every budget when
// their grab is accepted, so composing never refuses them.
//
// Output rows count downward from the first grab's top edge (row 0); scrolling up past the first
// grab makes them negative. Displacement d between two grabs: row y of the current grab shows what
// row y + d of the previous one showed (d > 0: the content moved up, new rows at the bottom).
//
// The staging folder is named by a fresh UUID under a common root in the per-user temporary
// folder and holds "owner.pid" (the creating process) and one PNG file per strip. Folders more
// than a day old whose creator no longer runs are removed at launch; anything that cannot be
// proven stale stays.
//
// One operation runs at a time (calls from several threads wait for each other).
class ScrollStitcher {
public:
    static constexpr double kAreaLimit = 40'000'000.0;

    struct Strip {
        std::filesystem::path url;
        int y = 0;       // output row of the strip's top edge
        int height = 0;  // rows in the strip
    };

    struct Outcome {
        enum class Kind { accepted, first, noNewContent, stopped, budgetReached };
        Kind kind = Kind::stopped;
        int rows = 0;             // accepted: rows by which the covered span grew (how far the content moved past it), possibly 0
        double confidence = 0.0;  // accepted: the automatic search's confidence, 0 when it found none
        // noNewContent: the view stands still but its block cursor moved (a program that answers
        // the wheel by moving the cursor before its view); such grabs leave the status as it was,
        // as many in a row as the view holds text lines, then count as still.
        bool cursorMoved = false;
    };

    struct Displacement {
        int displacement = 0;
        double score = 0.0;
        double confidence = 0.0;
    };

    // Checks the budget (AIError "Invalid scrolling memory/disk budget"), then creates this
    // capture's staging folder under root (0700) and its "owner.pid". Folder errors throw
    // FileError; no half-made folder is left when only the identifier file fails.
    ScrollStitcher(const std::filesystem::path& root, ScrollBudget budget);
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

    // Takes one grab. A manual displacement (the user aligned the grab by hand) replaces the
    // automatic search, which still runs for its confidence. Throws CaptureCancelled on a stop
    // request, AIError for an unreadable grab, a first grab beyond the budget or a strip that
    // cannot be encoded, FileError when a strip cannot be written; a thrown append changes none
    // of the counters. Every other refusal is an outcome with a status line.
    Outcome append(const QImage& grab, std::optional<int> manualDisplacement = std::nullopt,
                   std::stop_token stop = {});
    // The same for a grab whose signature was already made (its image is the grab).
    Outcome append(ScrollFrameSignature grab, std::optional<int> manualDisplacement = std::nullopt,
                   std::stop_token stop = {});

    // Encodes the image as a strip file and stores it at output row y; false (nothing written)
    // when the disk budget cannot take it. Throws AIError when it cannot be encoded, FileError
    // when it cannot be written.
    bool writeStrip(const QImage& image, int y);

    // The tall image of every accepted row, premultiplied ARGB in the first grab's colour space.
    // Throws AIError when nothing was accepted or the output is beyond the memory budget, or a
    // strip file is missing or unreadable; CaptureError(missingImage) when the image cannot be
    // made; CaptureCancelled on a stop request. The staging folder stays.
    QImage compose(std::stop_token stop = {});

    // Removes the folder with everything in it; on success the strips and the last grab are
    // forgotten (a later compose fails for want of strips). Throws FileError and keeps the state
    // on failure.
    void removeStaging();

    // The strip file bytes of an image: PNG of its pixels as they are, with no colour space or
    // text. Throws AIError when it cannot be encoded.
    static QByteArray encodeStrip(const QImage& image);

    // The search between two consecutive grabs; none when the evidence is too weak. Where the
    // signatures cannot decide (shifts a line apart score alike, or no shift scores well) the
    // full-resolution rows do: a shift is taken only when it alone fits them (ScrollPixelRows::
    // fits: changing bands at the edges and a cursor's cells aside), or, where several fit (rows
    // of one filler mark past a file's end), when it alone fits with cells that differ only in
    // colour (ScrollPixelRows::onlyShift). A shift taken on the signatures is checked on the rows
    // too, and gives way to another that alone fits.
    static std::optional<Displacement> findDisplacement(const ScrollFrameSignature& previous,
                                                        const ScrollFrameSignature& current);
    // The same with the rows of the two grabs' images, which may already be hashed.
    static std::optional<Displacement> findDisplacement(const ScrollFrameSignature& previous,
                                                        const ScrollFrameSignature& current, ScrollPixelRows& pixels);
    // The score of one displacement, 0 ... 1, lower is better.
    static double overlapScore(int displacement, int rowWidth, int height, const std::uint8_t* previous,
                               int minimumOverlap, int samples, const std::uint8_t* current);
    // True when the overlapping rows of two images `height` rows high are byte for byte the same
    // (ScrollPixelRows::matches: the scroll-bar strip and the edge rows are left out).
    static bool overlapMatchesExactly(const QImage& previous, int displacement, int height, const QImage& current);

    const std::filesystem::path& folder() const { return folder_; }
    ScrollBudget budget() const { return budget_; }
    std::vector<Strip> strips() const;
    int frames() const;
    int minY() const;
    int maxY() const;
    int width() const;
    int frameHeight() const;
    std::int64_t diskBytes() const;  // of the strips written and of the held rows as a strip
    bool partial() const;
    std::string status() const;

private:
    Outcome appendFirst(const QImage& grab, ScrollFrameSignature signature);
    bool writeStripLocked(const QImage& image, int y);
    Outcome refuse(Outcome::Kind kind, std::string status);  // sets partial and the status
    bool withinBudget(double outputHeight) const;
    // Writes the strips, all or none: a write that throws takes back those written before it.
    void writeStripsLocked(const std::vector<std::pair<QByteArray, Strip>>& strips);
    Strip newStrip(int y, int height) const;
    QImage sourcedRows(int from, int to, const std::function<std::pair<const QImage*, int>(int y)>& source) const;

    mutable std::mutex mutex_;
    std::filesystem::path folder_;
    ScrollBudget budget_;
    std::vector<Strip> strips_;
    std::optional<ScrollFrameSignature> previous_;
    int previousPosition_ = 0;
    int minY_ = 0;
    int maxY_ = 0;
    // Strips cover writtenTop_ ... written_; the rows written_ ... maxY_ are held back: rows
    // heldRow_ on of `held_`, a grab's image, whose strip would take heldBytes_; and so are the
    // rows minY_ ... writtenTop_: the top rows of `heldTop_`, taking heldTopBytes_.
    int written_ = 0;
    QImage held_;
    int heldRow_ = 0;
    std::int64_t heldBytes_ = 0;
    int writtenTop_ = 0;
    QImage heldTop_;
    std::int64_t heldTopBytes_ = 0;
    bool paired_ = false;  // a pair of grabs has shown content, and parted the first grab's rows
    int width_ = 0;
    int frameHeight_ = 0;
    int frames_ = 0;
    int cursorMoves_ = 0;  // grabs in a row since the last accepted one where only the cursor moved
    std::int64_t diskBytes_ = 0;
    QColorSpace colorSpace_{QColorSpace::SRgb};
    bool partial_ = false;
    std::string status_ = "Select a scrolling viewport";
    bool removed_ = false;
};

}  // namespace brevalto
