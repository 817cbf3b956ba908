#include "AI/ReplacementTextRenderer.h"

#include "Errors/AIError.h"
#include "Platform/Task.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QRectF>
#include <QTextLine>
#include <QTextOption>

#include <cmath>

namespace brevalto {

namespace {

using namespace replacementText;

// 72 dots per inch, so that a point is a pixel for text laid out or drawn on such an image.
constexpr int kPointDotsPerMeter = 2835;

QImage& pointDevice() {
    thread_local QImage device = [] {
        QImage image(1, 1, QImage::Format_ARGB32_Premultiplied);
        image.setDotsPerMeterX(kPointDotsPerMeter);
        image.setDotsPerMeterY(kPointDotsPerMeter);
        return image;
    }();
    return device;
}

void checkStop(const std::stop_token& stop) {
    if (stop.stop_requested()) throw TaskCancelled();
}

std::string regionNumber(const EditableImageRegion& region) { return std::to_string(std::int64_t(region.id) + 1); }

bool isValid(const EditableImageRegion& r) {
    for (double v : {r.x, r.y, r.width, r.height, r.scale})
        if (!std::isfinite(v)) return false;
    if (r.x < 0 || r.y < 0 || r.width <= 0 || r.height <= 0) return false;
    if (r.x + r.width > kEdgeTolerance || r.y + r.height > kEdgeTolerance) return false;
    return !r.text.trimmed().isEmpty();
}

struct Placed {
    QRectF rect;  // pixels, top-left origin
    std::unique_ptr<ReplacementTextLayout> text;
    QColor foreground;
    QColor background;
};

QImage decodeSource(const QByteArray& source) {
    QBuffer buffer;
    buffer.setData(source);
    if (!buffer.open(QIODevice::ReadOnly)) throw AIError(kUnrenderable);
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() <= 0 || size.height() <= 0 ||
        double(size.width()) * double(size.height()) > kMaxPixels)
        throw AIError(kUnrenderable);
    QImage image = reader.read();
    if (image.isNull() || image.size() != size) throw AIError(kUnrenderable);
    image.convertTo(QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) throw AIError(kUnrenderable);
    return image;
}

}  // namespace

ReplacementTextLayout::ReplacementTextLayout(const QString& text) : layout_(text, font(kMinSize), &pointDevice()) {
    QTextOption option(Qt::AlignLeft);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout_.setTextOption(option);
    layout_.setCacheEnabled(true);
}

QFont ReplacementTextLayout::font(double pointSize) {
    QFont font;
    font.setFamilies({QStringLiteral("Noto Sans CJK JP"), QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setPointSizeF(pointSize);
    return font;
}

QSizeF ReplacementTextLayout::layOut(double pointSize, double width, QSizeF limit) {
    // A font without the device would be resolved at the screen's resolution again.
    layout_.setFont(QFont(font(pointSize), &pointDevice()));
    layout_.beginLayout();
    double height = 0;
    double widest = 0;
    for (QTextLine line = layout_.createLine(); line.isValid(); line = layout_.createLine()) {
        line.setLeadingIncluded(true);
        line.setLineWidth(width);
        line.setPosition(QPointF(0, height));
        height += line.height();
        widest = std::max(widest, line.naturalTextWidth());
        // Lines are shaped as they are laid out: the rest of a text already too big costs nothing.
        if (height > limit.height() || widest > limit.width()) break;
    }
    layout_.endLayout();
    return {widest, height};
}

double ReplacementTextLayout::leastHeight(double pointSize, double width) {
    // Measured large, so that the 1/64 pixel steps of glyph advances weigh little.
    constexpr double kReferenceSize = 100;
    if (!solidWidth_) {
        QString solid;
        for (const QChar c : layout_.text())
            if (!c.isSpace()) solid += c;
        QTextLayout line(solid, font(kReferenceSize), &pointDevice());
        QTextOption option(Qt::AlignLeft);
        option.setWrapMode(QTextOption::NoWrap);
        line.setTextOption(option);
        line.beginLayout();
        QTextLine only = line.createLine();
        if (only.isValid()) only.setLineWidth(1e6);
        line.endLayout();
        solidWidth_ = only.isValid() ? only.naturalTextWidth() : 0;
    }
    // A margin for rounding and for kerning across the white space taken out.
    const double glyphs = 0.95 * *solidWidth_ * pointSize / kReferenceSize - 4;
    const double lines = std::max(1.0, std::ceil(glyphs / (width + kWidthTolerance)));
    // Every line is as high as the ascent and descent of its font, which for the fonts used is
    // more than an em.
    return lines * pointSize;
}

void ReplacementTextLayout::draw(QPainter& painter, QPointF origin) const { layout_.draw(&painter, origin); }

double startingTextSize(double scale, double pixelHeight) {
    const double size = scale * (pixelHeight * kSizeFactor);
    return size > kMaxSize ? kMaxSize : std::max(size, kMinSize);
}

std::optional<double> fitReplacementText(ReplacementTextLayout& layout, QSizeF box, double start,
                                         std::stop_token stop) {
    for (double size = start; size >= kMinSize; size -= kSizeStep) {
        checkStop(stop);
        if (layout.leastHeight(size, box.width()) > box.height()) continue;
        const QSizeF limit(box.width() + kWidthTolerance, box.height());
        const QSizeF measured = layout.layOut(size, box.width(), limit);
        if (measured.height() <= limit.height() && measured.width() <= limit.width()) return size;
    }
    return std::nullopt;
}

QByteArray renderReplacementText(const QByteArray& source, const std::vector<EditableImageRegion>& regions,
                                 std::stop_token stop) {
    QImage canvas = decodeSource(source);
    const double W = canvas.width();
    const double H = canvas.height();

    std::vector<Placed> placed;
    for (const EditableImageRegion& region : regions) {
        if (!region.enabled) continue;
        checkStop(stop);
        if (!isValid(region))
            throw AIError("Region " + regionNumber(region) + ": text is empty or coordinates are outside the image.");
        const QRectF rect(region.x * W, H - (region.y + region.height) * H, region.width * W, region.height * H);
        for (const Placed& earlier : placed)
            if (rect.intersects(earlier.rect))
                throw AIError("Region " + regionNumber(region) +
                              " overlaps another region. Adjust the coordinates or turn one off.");
        auto text = std::make_unique<ReplacementTextLayout>(region.text);
        if (!fitReplacementText(*text, rect.size(), startingTextSize(region.scale, rect.height()), stop))
            throw AIError("Region " + regionNumber(region) +
                          ": translation is too long. Enlarge the region or shorten the text; the app does not "
                          "clip text.");
        placed.push_back({rect, std::move(text), region.foreground, region.background});
    }

    const int dotsX = canvas.dotsPerMeterX();
    const int dotsY = canvas.dotsPerMeterY();
    canvas.setDotsPerMeterX(kPointDotsPerMeter);
    canvas.setDotsPerMeterY(kPointDotsPerMeter);
    {
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        for (const Placed& p : placed) {
            painter.save();
            painter.setClipRect(p.rect);
            QColor mask = p.background;
            mask.setAlphaF(1.0);
            painter.fillRect(p.rect, mask);
            painter.setPen(p.foreground);
            p.text->draw(painter, p.rect.topLeft());
            painter.restore();
        }
    }
    canvas.setDotsPerMeterX(dotsX);
    canvas.setDotsPerMeterY(dotsY);

    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly)) throw AIError(kOutputTooLarge);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(canvas) || png.isEmpty() || png.size() > kMaxOutputBytes) throw AIError(kOutputTooLarge);
    return png;
}

}  // namespace brevalto
