#pragma once

#include <QImage>

#include <cstdint>
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
    // The rows of the current grab that matches(d) compares, `first` up to `end`: the ones that
    // both grabs show as content at displacement d. Below `end` lie the rows left out at the
    // bottom (the edge rows, a still band) and, for d > 0, the rows the current grab alone shows.
    // `still`: the rows at the bottom edge that stand still in both grabs and were left out, with
    // the edge rows beneath them; 0 when the comparison leaves out the edge rows alone.
    struct Rows {
        int first = 0, end = 0, still = 0;
    };
    Rows comparedRows(int displacement);
    // The displacements of -shift ... shift that match, in increasing order; at most `limit`.
    std::vector<int> matchingShifts(int shift, int limit);
    // Whether the grabs show the same view: every row of the middle 80 % the same, the rows that
    // telling whether a view settled looks at. Left out are the top and bottom tenths, where views
    // draw a glow that grows and fades as wheel steps push past the end of the page.
    bool sameView();

private:
    struct Span {
        int previousRow = 0, currentRow = 0, count = 0;
        int bottom = 0;  // rows left out at the bottom edge
    };
    bool prepare();
    void hash();
    Span compared(int displacement) const;
    bool sameRows(const Span& span) const;

    QImage previous_, current_;
    bool prepared_ = false;
    bool comparable_ = false;
    std::size_t bytes_ = 0;  // compared bytes of one row
    int stillTop_ = 0, stillBottom_ = 0;  // rows left out at each edge, the edge rows with the still bands
    std::vector<std::uint64_t> previousHashes_, currentHashes_;  // empty until every shift is tried
};

}  // namespace brevalto
