// Strip files: the new rows of each grab as a bare PNG in the capture's staging folder.
#include "Capture/ScrollStitcher.h"

#include "ClipCore/Uuid.h"
#include "Errors/AIError.h"
#include "Platform/AtomicFile.h"

#include <QBuffer>
#include <QImageWriter>

#include <array>
#include <cstring>

namespace brevalto {

namespace fs = std::filesystem;

namespace {

constexpr int kStripPNGQuality = 80;  // the fastest zlib level above none

std::uint32_t crc32(const char* data, std::size_t size, std::uint32_t crc = 0) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ static_cast<std::uint8_t>(data[i])) & 0xff] ^ (crc >> 8);
    return ~crc;
}

void appendBigEndian(QByteArray& out, std::uint32_t value) {
    const char bytes[4] = {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
    out.append(bytes, 4);
}

void appendChunk(QByteArray& out, const char type[4], const char* data, std::size_t size) {
    appendBigEndian(out, static_cast<std::uint32_t>(size));
    const qsizetype start = out.size();
    out.append(type, 4);
    out.append(data, static_cast<qsizetype>(size));
    appendBigEndian(out, crc32(out.constData() + start, size + 4));
}

// The PNG of a strip of 32-bit pixels, made for speed: rows with the "sub" filter (each byte less
// the one a pixel to its left), deflated at zlib's fastest level. Opaque rows are stored as RGB, others as straight RGBA, as the general writer stores
// them; no colour space or text. Empty when the image is of another format or cannot be packed.
QByteArray fastStripPng(const QImage& image) {
    const QImage::Format format = image.format();
    if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32 &&
        format != QImage::Format_ARGB32_Premultiplied)
        return {};
    const int width = image.width(), height = image.height();
    bool opaque = true;
    for (int y = 0; opaque && format != QImage::Format_RGB32 && y < height; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < width; ++x)
            if (qAlpha(row[x]) != 255) {
                opaque = false;
                break;
            }
    }
    const QImage straight = opaque ? image : image.convertToFormat(QImage::Format_RGBA8888);
    if (straight.isNull()) return {};
    const std::size_t channels = opaque ? 3 : 4;
    const std::size_t rowBytes = 1 + channels * static_cast<std::size_t>(width);
    QByteArray raw(static_cast<qsizetype>(rowBytes * static_cast<std::size_t>(height)), Qt::Uninitialized);
    for (int y = 0; y < height; ++y) {
        char* out = raw.data() + rowBytes * static_cast<std::size_t>(y);
        *out++ = 1;  // filter: sub
        if (!opaque) {
            const auto* row = straight.constScanLine(y);
            std::uint32_t left = 0;
            for (int x = 0; x < width; ++x, out += 4) {
                std::uint32_t pixel;
                std::memcpy(&pixel, row + 4 * x, 4);
                // Byte-wise subtraction modulo 256 in all four lanes at once.
                const std::uint32_t difference =
                    ((pixel | 0x80808080u) - (left & 0x7f7f7f7fu)) ^ ((pixel ^ ~left) & 0x80808080u);
                std::memcpy(out, &difference, 4);
                left = pixel;
            }
            continue;
        }
        const auto* row = reinterpret_cast<const QRgb*>(straight.constScanLine(y));
        QRgb left = 0;
        for (int x = 0; x < width; ++x) {
            const QRgb pixel = row[x];
            *out++ = static_cast<char>(qRed(pixel) - qRed(left));
            *out++ = static_cast<char>(qGreen(pixel) - qGreen(left));
            *out++ = static_cast<char>(qBlue(pixel) - qBlue(left));
            left = pixel;
        }
    }
    // qCompress puts the input's length in front of the zlib stream that IDAT holds.
    const QByteArray deflated = qCompress(raw, 1);
    if (deflated.size() <= 4) return {};

    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    char header[13];
    const std::uint32_t w = static_cast<std::uint32_t>(width), h = static_cast<std::uint32_t>(height);
    const char size[8] = {char(w >> 24), char(w >> 16), char(w >> 8), char(w), char(h >> 24), char(h >> 16), char(h >> 8), char(h)};
    std::memcpy(header, size, 8);
    header[8] = 8;                   // bits per channel
    header[9] = opaque ? 2 : 6;      // RGB or RGBA
    header[10] = header[11] = header[12] = 0;  // deflate, standard filters, not interlaced
    png.reserve(8 + 25 + 12 + deflated.size() + 12);
    appendChunk(png, "IHDR", header, sizeof header);
    appendChunk(png, "IDAT", deflated.constData() + 4, static_cast<std::size_t>(deflated.size() - 4));
    appendChunk(png, "IEND", nullptr, 0);
    return png;
}

}  // namespace

QByteArray ScrollStitcher::encodeStrip(const QImage& image) {
    static constexpr const char* kMessage = "Could not encode the next strip. The accepted portion is still available.";
    if (image.isNull()) throw AIError(kMessage);
    if (QByteArray png = fastStripPng(image); !png.isEmpty()) return png;
    // The pixels alone, sharing the image's memory: no colour space, no text.
    const QImage bare(image.constBits(), image.width(), image.height(), image.bytesPerLine(), image.format());
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    writer.setQuality(kStripPNGQuality);
    if (!writer.write(bare)) throw AIError(kMessage);
    return bytes;
}

bool ScrollStitcher::writeStrip(const QImage& image, int y) {
    std::lock_guard lock(mutex_);
    return writeStripLocked(image, y);
}

bool ScrollStitcher::writeStripLocked(const QImage& image, int y) {
    const QByteArray png = encodeStrip(image);
    if (static_cast<double>(diskBytes_ + heldBytes_ + heldTopBytes_) + static_cast<double>(png.size()) > static_cast<double>(budget_.diskBytes))
        return false;
    writeStripsLocked({{png, newStrip(y, image.height())}});
    return true;
}

ScrollStitcher::Strip ScrollStitcher::newStrip(int y, int height) const {
    return {folder_ / (Uuid::random().string() + ".png"), y, height};
}

void ScrollStitcher::writeStripsLocked(const std::vector<std::pair<QByteArray, Strip>>& strips) {
    std::size_t done = 0;
    try {
        for (; done < strips.size(); ++done) {
            // Only this process reads its strips, and a restart leaves them to the stale clean-up,
            // so they are not flushed to the disk; the rename still shows each one whole or not at all.
            AtomicFile::write(strips[done].second.url, strips[done].first,
                              {.refuseSymlinks = true, .createFolder = false, .durable = false});
        }
    } catch (...) {
        for (std::size_t i = 0; i < done; ++i) {
            std::error_code ignored;
            fs::remove(strips[i].second.url, ignored);
        }
        throw;
    }
    for (const auto& [png, strip] : strips) {
        strips_.push_back(strip);
        diskBytes_ += png.size();
    }
}

}  // namespace brevalto
