#pragma once

#include <QFont>
#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <string>
#include <vector>

namespace brevalto {

// Lines of text drawn in black on white at known places, as a screenshot of a window shows them.
struct TextImage {
    QImage image;
    QStringList lines;
    std::vector<QRect> lineRects;  // pixels, top-left origin: the box of each line's dark pixels
    QFont font;
    std::vector<QPoint> baselines;  // where each line was drawn
};

// Draws `lines` from (margin, margin) downward, `spacing` pixels from one baseline to the next
// beyond the font's height, on a white image of `size`.
TextImage renderTextLines(QSize size, const QStringList& lines, const QFont& font, int margin = 20, int spacing = 6);

// The box of the dark pixels of characters [from, from + length) of line `index`.
QRect characterRect(const TextImage& text, int index, int from, int length);

// A font of `family` at `pixelSize` pixels, without hinting so that boxes measure exactly.
QFont pixelFont(const QString& family, int pixelSize);

// The number of single-character edits that turn one text into the other.
int editDistance(const QString& a, const QString& b);

// A QR code of `payload` drawn as black modules of `moduleSize` pixels with a quiet zone.
QImage qrCodeImage(const std::string& payload, int moduleSize = 6, bool binary = false);

}  // namespace brevalto
