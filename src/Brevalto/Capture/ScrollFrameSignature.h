#pragma once

#include <QImage>

#include <cstdint>
#include <vector>

namespace brevalto {

// The compact form of one viewport grab of a scrolling capture: the frame squeezed (or
// stretched) to 48 columns over white, one signature row per frame row, as luma bytes. Comparing
// signatures tells how far the content moved between two grabs; the frame itself is kept for the
// exact pixel check and for storing rows.
struct ScrollFrameSignature {
    static constexpr int kColumns = 48;
    // Below this difference two grabs show the same view (the content has not moved).
    static constexpr double kSameView = 0.003;
    static constexpr int kMaxHeight = 16'384;
    static constexpr const char* kFailureMessage = "Could not inspect the scrolling frame";

    int width = kColumns;
    int height = 0;
    std::vector<std::uint8_t> values;  // width * height, row by row from the top
    QImage image;

    // Which rows a signature holds: all, or only those that `difference` compares (the others
    // stay 0), which is all that telling whether the view settled needs.
    enum class Rows { all, compared };

    // Throws AIError(kFailureMessage) for an empty frame, one taller than kMaxHeight rows, or
    // when its pixels cannot be read.
    explicit ScrollFrameSignature(const QImage& frame, Rows rows = Rows::all);

    // Whether `difference` compares row y of a signature `height` rows high.
    static bool comparedRow(int y, int height);
    // The values with every row that `difference` does not compare set to 0.
    static std::vector<std::uint8_t> comparedRowsOf(std::vector<std::uint8_t> values, int height);

    // How unlike two grabs of the same viewport are, 0 ... 1: the middle 80 % of the rows,
    // compared band by band, the four closest bands averaged. 1 when the heights differ.
    static double difference(const ScrollFrameSignature& a, const ScrollFrameSignature& b);
};

// (54 R + 183 G + 19 B) >> 8 of 8-bit components.
inline std::uint8_t scrollLuma(int r, int g, int b) {
    return static_cast<std::uint8_t>((54 * r + 183 * g + 19 * b) >> 8);
}

}  // namespace brevalto
