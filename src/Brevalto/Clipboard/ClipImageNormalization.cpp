#include "Clipboard/ClipImageNormalization.h"

#include "Clipboard/ClipStore.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImageReader>
#include <QImageWriter>

#include <array>
#include <cstring>
#include <span>
#include <vector>

namespace brevalto {

bool isStorableImageSize(QSize size) {
    return size.isValid() && size.width() >= 1 && size.height() >= 1 &&
           double(size.width()) * double(size.height()) <= ClipStore::kMaxImagePixels;
}

namespace {

// Decoded pixels in one canonical form, so that equal pictures from different files give equal
// PNG bytes: 8-bit grey, 8-bit RGB, or ARGB when some pixel is not opaque.
QImage canonicalPixels(QImage image) {
    if (image.format() != QImage::Format_Grayscale8) {
        bool opaque = true;
        if (image.hasAlphaChannel()) {
            image.convertTo(QImage::Format_ARGB32);
            for (int y = 0; y < image.height() && opaque; ++y) {
                const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
                for (int x = 0; x < image.width(); ++x)
                    if (qAlpha(row[x]) != 255) {
                        opaque = false;
                        break;
                    }
            }
        }
        image.convertTo(opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32);
    }
    return image;
}

// The pixels of `image` without its text, resolution and offset; shares its memory, so `image`
// must outlive the result.
QImage bareView(const QImage& image) {
    QImage bare(image.constBits(), image.width(), image.height(), image.bytesPerLine(), image.format());
    bare.setColorSpace(image.colorSpace());
    bare.setDotsPerMeterX(3780);  // 96 dpi
    bare.setDotsPerMeterY(3780);
    return bare;
}

// CRC-32 as PNG chunks carry it (ISO 3309, reflected, initial and final value all ones).
std::uint32_t chunkCRC(const unsigned char* bytes, std::size_t size) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = c & 1 ? 0xedb88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    std::uint32_t c = 0xffffffffu;
    for (std::size_t i = 0; i < size; ++i) c = table[(c ^ bytes[i]) & 0xff] ^ (c >> 8);
    return c ^ 0xffffffffu;
}

std::uint32_t bigEndian32(const unsigned char* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | std::uint32_t(p[3]);
}

// A PNG that normalising would not change in any way that matters: 8-bit grey, RGB, grey with
// alpha or RGBA within the pixel limit, every chunk intact, nothing but pixels, colour space and
// resolution (no text, no orientation, no transparency key, nothing after the end).
struct PlainPNG {
    std::uint32_t width = 0, height = 0;
    int bytesPerPixel = 0;
    bool interlaced = false;
    QByteArray stream;  // the image data chunks joined: one zlib stream
};

std::optional<PlainPNG> plainPNG(const QByteArray& data) {
    static constexpr unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.constData());
    const std::size_t size = static_cast<std::size_t>(data.size());
    if (size < 8 || std::memcmp(bytes, kSignature, 8) != 0) return std::nullopt;
    std::optional<PlainPNG> png;
    for (std::size_t at = 8; at + 12 <= size;) {
        const std::uint32_t length = bigEndian32(bytes + at);
        if (length > size - at - 12) return std::nullopt;
        const std::string_view type(reinterpret_cast<const char*>(bytes + at + 4), 4);
        const unsigned char* body = bytes + at + 8;
        if (chunkCRC(bytes + at + 4, length + 4) != bigEndian32(body + length)) return std::nullopt;
        at += 12 + length;
        if (!png) {
            // IHDR first: width, height, bit depth 8, colour type 0/2/4/6, standard methods.
            if (type != "IHDR" || length != 13) return std::nullopt;
            png.emplace();
            png->width = bigEndian32(body);
            png->height = bigEndian32(body + 4);
            if (png->width < 1 || png->height < 1 || png->width > 0x7fffffffu || png->height > 0x7fffffffu)
                return std::nullopt;
            if (double(png->width) * double(png->height) > ClipStore::kMaxImagePixels) return std::nullopt;
            static constexpr int kChannels[7] = {1, 0, 3, 0, 2, 0, 4};
            if (body[8] != 8 || body[9] > 6 || kChannels[body[9]] == 0) return std::nullopt;
            png->bytesPerPixel = kChannels[body[9]];
            if (body[10] != 0 || body[11] != 0 || body[12] > 1) return std::nullopt;
            png->interlaced = body[12] == 1;
        } else if (type == "IDAT") {
            png->stream.append(reinterpret_cast<const char*>(body), length);
        } else if (type == "IEND") {
            return !png->stream.isEmpty() && length == 0 && at == size ? png : std::nullopt;
        } else if (type == "pHYs") {
            // A resolution names no one and changes no pixel.
            if (length != 9 || body[8] > 1) return std::nullopt;
        } else if (type != "sRGB" && type != "gAMA" && type != "cHRM" && type != "iCCP") {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

// Whether the image data inflates to exactly the rows the header promises, each with a known
// filter: then the pixels decode, and nothing needs to be decoded to know it.
bool pixelDataIntact(const PlainPNG& png) {
    struct Pass {
        std::uint32_t x, y, dx, dy;
    };
    static constexpr Pass kWhole[] = {{0, 0, 1, 1}};
    static constexpr Pass kAdam7[] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                      {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    std::vector<std::pair<std::uint64_t, std::uint64_t>> passes;  // rows, bytes per row with its filter
    std::uint64_t expected = 0;
    for (const Pass& pass : png.interlaced ? std::span<const Pass>(kAdam7) : std::span<const Pass>(kWhole)) {
        const std::uint64_t columns = png.width > pass.x ? (png.width - pass.x + pass.dx - 1) / pass.dx : 0;
        const std::uint64_t rows = png.height > pass.y ? (png.height - pass.y + pass.dy - 1) / pass.dy : 0;
        if (columns == 0 || rows == 0) continue;
        passes.emplace_back(rows, 1 + columns * std::uint64_t(png.bytesPerPixel));
        expected += rows * passes.back().second;
    }
    if (expected > 0xffffffffu) return false;
    // qUncompress reads a zlib stream behind its expected length (4 bytes, big-endian).
    QByteArray framed(4, Qt::Uninitialized);
    for (int i = 0; i < 4; ++i) framed[i] = char((expected >> (24 - 8 * i)) & 0xff);
    framed.append(png.stream);
    const QByteArray raw = qUncompress(framed);
    if (std::uint64_t(raw.size()) != expected) return false;
    const auto* row = reinterpret_cast<const unsigned char*>(raw.constData());
    for (const auto& [rows, stride] : passes)
        for (std::uint64_t r = 0; r < rows; ++r, row += stride)
            if (*row > 4) return false;
    return true;
}

}  // namespace

std::optional<QByteArray> encodeNormalisedPNG(const QImage& source) {
    if (source.isNull() || !isStorableImageSize(source.size())) return std::nullopt;
    const QImage image = canonicalPixels(source);
    QByteArray png;
    QBuffer output(&png);
    output.open(QIODevice::WriteOnly);
    QImageWriter writer(&output, "png");
    // Nothing of the input but its pixels and colour space is carried over: no text chunks (which
    // may name people or paths), no resolution or offset.
    if (!writer.write(bareView(image))) return std::nullopt;
    output.close();
    if (png.size() > ClipStore::kMaxInputBytes) return std::nullopt;
    return png;
}

std::optional<QByteArray> normalizeImageToPNG(const QByteArray& data) {
    // A PNG that already is what normalising makes of it is kept byte for byte: its pixels are
    // proved whole without decoding them, and encoding them again would change none of them.
    if (const std::optional<PlainPNG> plain = plainPNG(data); plain && pixelDataIntact(*plain)) return data;
    QByteArray input = data;  // shares the bytes; QBuffer wants a non-const array
    QBuffer buffer(&input);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    // The pixel limit is tested on the stored size, before anything is decoded.
    const QSize stored = reader.size();
    if (!isStorableImageSize(stored)) return std::nullopt;
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull()) return std::nullopt;
    return encodeNormalisedPNG(image);
}

}  // namespace brevalto
