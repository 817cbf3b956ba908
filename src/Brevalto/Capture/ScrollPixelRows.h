#pragma once

#include <QImage>

#include <cstdint>
#include <optional>
#include <vector>

namespace brevalto {

// Two grabs of one viewport at full resolution, compared row by row: row y of the current grab
// against row y + d of the previous one, byte for byte as RGBA8 sRGB. The whole width is read
// except the scroll-bar strip along the right edge (from 43/48 of the width on, the columns that
// signatures never read), where a thumb moves while the page does. Trying every displacement
// hashes each row once; a displacement whose row hashes agree is confirmed on the bytes.
class ScrollPixelRows {
public:
    // Grabs of different sizes never match.
    ScrollPixelRows(const QImage& previous, const QImage& current);

    // Whether every row that both grabs show at displacement d is the same, leaving out a few rows
    // at the viewport's top and bottom edges (shades and lines that views draw where the content
    // goes on). Rows that are the same at the same place in both grabs and reach the top or the
    // bottom edge (a sticky header, a fixed footer) are left out too, as long as at least
    // max(h / 5, 48) of the compared rows remain. False without such a row.
    bool matches(int displacement);
    // Whether the rows at displacement d match as the stitcher takes them: as matches(d) does, but
    // a band at the bottom edge that changes without moving with the content (a status line, a
    // ruler: at most h / 6 rows) is left out too, and so is one at the top edge (a title line with
    // a counter), and between those bands' reach the rows that differ may form up to two cells (a
    // text cursor where each grab shows it: runs of rows that differ, each at most one text line
    // high and a few cells wide), where enough rows are compared that lines alike but for a number
    // would show more. Rows that differ within the bottom band's reach always go to the band,
    // however few: a ruler's changing characters over rows the page leaves blank differ no more
    // than a cell; within the top band's reach, all but a cell that the older grab shows below its
    // own top reach (a cursor on the top line). A cell within a cell's height of a band is that
    // band's row past its reach, no fit, unless it is a block cursor's (the same shapes in other
    // colours). Every other compared row is the same, and at least
    // max(h / 5, 48) rows are compared.
    bool fits(int displacement);
    // The rows of the current grab that fits(d) compares, `first` up to `end`: the ones that
    // both grabs show as content at displacement d. Above `first` lie the rows left out at the
    // top (`top`: the edge rows, a still or changing band) and, for d < 0, the rows the current
    // grab alone shows; below `end` the rows left out at the bottom (the edge rows, a still or
    // changing band) and, for d > 0, the rows the current grab alone shows. `still`: the rows at the
    // bottom edge left out with the edge rows, a still or changing band, where there is one;
    // 0 when the comparison leaves out the edge rows alone. A changing band is found even where
    // the rows above it do not match. `cells`: the runs of rows, first to end, that differ, and
    // whether the current grab shows them plainly where the previous one shows a block there (a
    // cursor it left): their rows are the page's in the current grab, else in the previous one.
    struct Cell {
        int first = 0, end = 0;
        bool current = false;
    };
    struct Rows {
        int first = 0, end = 0, still = 0, top = 0;
        std::vector<Cell> cells;
    };
    Rows comparedRows(int displacement);
    // The displacements of -shift ... shift that fit, in increasing order; at most `limit`.
    std::vector<int> matchingShifts(int shift, int limit);
    // The one displacement of -shift ... shift that fits; where several do, the one alone whose
    // cells differ only in colour (a block cursor over the same glyph or blank); none otherwise.
    std::optional<int> onlyShift(int shift);
    // Whether the grabs show the same view: every row of the middle 80 % the same, the rows that
    // telling whether a view settled looks at, but for one cell (a caret that blinks). Left out
    // are the top and bottom tenths, where views draw a glow that grows and fades as wheel steps
    // push past the end of the page.
    bool sameView();
    // Whether the grabs show the same view but for a block cursor that moved: two cells, each the
    // same shapes in other colours, one taking the cursor's colours back where it left and the
    // other taking them on where it came; rows within the bands' reach at the top and bottom
    // edges may change besides (a ruler, a title line). The number of text lines the view holds,
    // cells as high as the cursor's; 0 when the grabs differ otherwise.
    int movedCursor();

private:
    struct Span {
        int previousRow = 0, currentRow = 0, count = 0;
        int bottom = 0;  // rows left out at the bottom edge
        int top = 0;     // and at the top edge
    };
    // A run of compared row pairs that differ: pairs first ... last.
    struct Run {
        int first = 0, last = 0;
    };
    // How the rows at one displacement fit: the rows left out at the bottom for a changing band,
    // the cells that differ (as current rows), or none.
    struct Fit {
        int displacement = 0;
        bool fits = false;
        int band = 0, topBand = 0;
        std::vector<Cell> cells;
        bool recoloured = false;  // every cell shows the same shapes in both grabs, recoloured
    };
    bool prepare();
    void hash();
    Span compared(int displacement) const;
    Span span(int displacement, int top, int bottom) const;
    bool sameRow(int previousRow, int currentRow, bool byHash) const;
    bool sameRows(const Span& span) const;
    // The runs of differing pairs of `span` from its top; false as soon as more than `cells` runs,
    // or a run taller than a cell, begin from pair `top` on and above pair `zone` (rows above
    // `top` and from `zone` on may be a band), or a run from above `top` grows past it taller
    // than a cell.
    bool differences(const Span& span, int top, int zone, int cells, std::vector<Run>& runs, bool byHash) const;
    static bool sameRuns(const std::vector<Run>& a, const std::vector<Run>& b);
    std::pair<std::size_t, std::size_t> differingBytes(const Run& run) const;
    bool cellSized(const Run& run) const;
    using Colours = std::vector<std::pair<std::uint32_t, std::uint32_t>>;
    std::optional<Colours> recolouring(const Run& run) const;
    bool plainInCurrent(const Run& run) const;
    const Fit& fit(int displacement);
    int unprovenBand(const Span& base, int displacement) const;

    QImage previous_, current_;
    bool prepared_ = false;
    bool comparable_ = false;
    std::size_t bytes_ = 0;  // compared bytes of one row
    int stillTop_ = 0, stillBottom_ = 0;  // rows left out at each edge, the edge rows with the still bands
    std::vector<std::uint64_t> previousHashes_, currentHashes_;  // empty until every shift is tried
    Fit fit_;  // of the last displacement asked for
    Span lastSpan_;  // whose runs cellSized measures
    bool fitted_ = false;
};

}  // namespace brevalto
