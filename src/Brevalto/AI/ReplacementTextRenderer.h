#pragma once

#include "AI/EditableImageRegion.h"

#include <QByteArray>
#include <QFont>
#include <QSizeF>
#include <QString>
#include <QTextLayout>

#include <cstdint>
#include <limits>
#include <optional>
#include <stop_token>
#include <vector>

class QPainter;

namespace brevalto {

// Limits of drawing translated text back into an image.
namespace replacementText {
inline constexpr double kMaxPixels = 16'000'000;
inline constexpr double kEdgeTolerance = 1.00001;
inline constexpr double kSizeFactor = 0.78;
inline constexpr double kMinSize = 6;
inline constexpr double kMaxSize = 160;
inline constexpr double kSizeStep = 0.5;
inline constexpr double kWidthTolerance = 0.5;
inline constexpr std::int64_t kMaxOutputBytes = 33'554'432;

inline constexpr const char* kUnrenderable =
    "Could not render the image, or it exceeds the 16 MP limit for text replacement.";
inline constexpr const char* kOutputTooLarge = "The resulting PNG exceeds the 32 MB limit.";
}  // namespace replacementText

// One region's text laid out word-wrapped in the replacement font (1 point = 1 pixel). The same
// layout measures and draws, so what fits is what is drawn.
class ReplacementTextLayout {
public:
    explicit ReplacementTextLayout(const QString& text);

    // The font of every replacement text: one sans family that covers the translation targets.
    static QFont font(double pointSize);

    // Lays the text out at `pointSize` for lines `width` pixels wide; returns the size it takes
    // (the widest line, and the height of all lines with the font's leading). Stops at the first
    // line that takes it past `limit` in either direction: the size returned is then past it too,
    // and only the lines so far are laid out.
    QSizeF layOut(double pointSize, double width,
                  QSizeF limit = QSizeF(std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()));
    // A height the text cannot go below at `pointSize` in lines `width` pixels wide (with the
    // width tolerance), found without laying it out: its lines hold at least all of its glyphs
    // but the white space, whose width is measured once and scales with the size, and each line
    // is at least one em high. Sizes where this is over a box need no layout to be refused.
    double leastHeight(double pointSize, double width);
    // Draws the last layout with its top-left corner at `origin`, in the painter's pen colour.
    void draw(QPainter& painter, QPointF origin) const;
    const QTextLayout& layout() const { return layout_; }

private:
    QTextLayout layout_;
    std::optional<double> solidWidth_;  // the text without its white space, one line at kReferenceSize
};

// The largest size from `start` down in half-point steps, not below 6, at which the text fits a
// box (its height, and its width with half a pixel to spare); none when none fits. Every size is
// tried in turn, as wrapping and line heights make a fit at one size no promise for smaller
// ones; a size whose least height is over the box is refused without laying the text out.
// Throws TaskCancelled when `stop` is requested before an attempt.
std::optional<double> fitReplacementText(ReplacementTextLayout& layout, QSizeF box, double start,
                                         std::stop_token stop = {});

// The size a region's text starts fitting at: its scale times 0.78 of its pixel height, capped
// at 160 and raised to at least 6.
double startingTextSize(double scale, double pixelHeight);

// Draws the enabled regions into the image in `source` (any format Qt reads): each one an opaque
// mask in its background colour with its text in the largest size that fits, then encodes the
// result as PNG. Every region is checked before anything is drawn; the first bad one in order is
// reported. Throws AIError, or TaskCancelled when `stop` is requested.
QByteArray renderReplacementText(const QByteArray& source, const std::vector<EditableImageRegion>& regions,
                                 std::stop_token stop = {});

}  // namespace brevalto
