#include "TextImages.h"

#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

namespace brevalto {

namespace {

// The box of the dark pixels inside `band`.
QRect inkRect(const QImage& image, const QRect& band) {
    QRect ink;
    const QRect inside = band.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            if (qGray(image.pixel(x, y)) < 160) ink |= QRect(x, y, 1, 1);
        }
    }
    return ink;
}

QRect lineBand(const TextImage& text, int index) {
    const QFontMetrics metrics(text.font);
    const QPoint origin = text.baselines[index];
    return QRect(0, origin.y() - metrics.ascent(), text.image.width(), metrics.ascent() + metrics.descent());
}

}  // namespace

QFont pixelFont(const QString& family, int pixelSize) {
    QFont font(family);
    font.setPixelSize(pixelSize);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

TextImage renderTextLines(QSize size, const QStringList& lines, const QFont& font, int margin, int spacing) {
    TextImage text;
    text.image = QImage(size, QImage::Format_ARGB32_Premultiplied);
    text.image.fill(Qt::white);
    text.lines = lines;
    text.font = font;
    QPainter painter(&text.image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    const QFontMetrics metrics(font);
    int baseline = margin + metrics.ascent();
    for (const auto& line : lines) {
        const QPoint origin(margin, baseline);
        painter.drawText(origin, line);
        text.baselines.push_back(origin);
        baseline += metrics.height() + spacing;
    }
    painter.end();
    for (int i = 0; i < lines.size(); ++i) text.lineRects.push_back(inkRect(text.image, lineBand(text, i)));
    return text;
}

QRect characterRect(const TextImage& text, int index, int from, int length) {
    const QFontMetrics metrics(text.font);
    const QString& line = text.lines[index];
    const int left = metrics.horizontalAdvance(line.left(from));
    const int right = metrics.horizontalAdvance(line.left(from + length));
    const QRect band = lineBand(text, index);
    return inkRect(text.image, QRect(text.baselines[index].x() + left, band.y(), right - left, band.height()));
}

int editDistance(const QString& a, const QString& b) {
    std::vector<int> previous(b.size() + 1), current(b.size() + 1);
    for (int j = 0; j <= b.size(); ++j) previous[j] = j;
    for (int i = 1; i <= a.size(); ++i) {
        current[0] = i;
        for (int j = 1; j <= b.size(); ++j) {
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (a[i - 1] != b[j - 1])});
        }
        std::swap(previous, current);
    }
    return previous[b.size()];
}

QImage qrCodeImage(const std::string& payload, int moduleSize, bool binary) {
    ZXing::MultiFormatWriter writer(ZXing::BarcodeFormat::QRCode);
    writer.setMargin(0);
    if (binary) writer.setEncoding(ZXing::CharacterSet::BINARY);
    const ZXing::BitMatrix matrix = writer.encode(payload, 0, 0);
    const int quiet = 4;
    const int side = (matrix.width() + 2 * quiet) * moduleSize;
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    for (int y = 0; y < matrix.height(); ++y) {
        for (int x = 0; x < matrix.width(); ++x) {
            if (matrix.get(x, y)) {
                painter.fillRect((x + quiet) * moduleSize, (y + quiet) * moduleSize, moduleSize, moduleSize, Qt::black);
            }
        }
    }
    return image;
}

}  // namespace brevalto
