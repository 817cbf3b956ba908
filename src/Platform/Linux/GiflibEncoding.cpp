// The GIF animation encoder of GifEncoding.h, through giflib.
#include "Platform/GifEncoding.h"

#include <QHash>

#include <gif_lib.h>

#include <cstring>
#include <future>
#include <memory>

namespace brevalto::GifEncoding {

namespace {

struct Palette {
    std::vector<GifColorType> colors;  // at most 256, the transparent entry included
    int transparent = NO_TRANSPARENT_COLOR;
};

struct IndexedFrame {
    Palette palette;
    std::vector<GifByteType> indices;  // one per pixel, rows from the top
};

bool isTransparent(QRgb pixel) { return qAlpha(pixel) < 128; }

// The frame's opaque pixels mapped onto a palette: its exact colours when there are few enough,
// else the median-cut palette that giflib's quantizer chooses.
IndexedFrame indexFrame(const QImage& source) {
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int width = image.width();
    const int height = image.height();
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    IndexedFrame frame;
    frame.indices.resize(count);

    bool anyTransparent = false;
    QHash<QRgb, int> exact;
    bool fits = true;
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            if (isTransparent(row[x])) {
                anyTransparent = true;
                continue;
            }
            if (fits && !exact.contains(row[x] | 0xff000000u)) {
                exact.insert(row[x] | 0xff000000u, static_cast<int>(exact.size()));
                if (exact.size() > 256) fits = false;
            }
        }
    }
    const int room = anyTransparent ? 255 : 256;
    if (fits && exact.size() <= room) {
        frame.palette.colors.resize(static_cast<std::size_t>(exact.size()));
        for (auto it = exact.cbegin(); it != exact.cend(); ++it)
            frame.palette.colors[static_cast<std::size_t>(it.value())] = {static_cast<GifByteType>(qRed(it.key())),
                                                                          static_cast<GifByteType>(qGreen(it.key())),
                                                                          static_cast<GifByteType>(qBlue(it.key()))};
    }
    const bool quantize = frame.palette.colors.empty() && exact.size() > 0;

    // Planes of the opaque pixels, in order, for the quantizer.
    std::vector<GifByteType> red, green, blue, quantized;
    if (quantize) {
        red.reserve(count);
        green.reserve(count);
        blue.reserve(count);
    }
    std::size_t i = 0;
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < width; ++x, ++i) {
            if (isTransparent(row[x])) continue;
            if (quantize) {
                red.push_back(static_cast<GifByteType>(qRed(row[x])));
                green.push_back(static_cast<GifByteType>(qGreen(row[x])));
                blue.push_back(static_cast<GifByteType>(qBlue(row[x])));
            } else {
                frame.indices[i] = static_cast<GifByteType>(exact.value(row[x] | 0xff000000u));
            }
        }
    }
    if (quantize) {
        int size = room;
        std::vector<GifColorType> colors(static_cast<std::size_t>(room));
        quantized.resize(red.size());
        if (GifQuantizeBuffer(static_cast<unsigned>(red.size()), 1, &size, red.data(), green.data(), blue.data(),
                              quantized.data(), colors.data()) != GIF_OK)
            throw Error(Error::Stage::encode, "The frame's colours could not be reduced");
        colors.resize(static_cast<std::size_t>(size));
        frame.palette.colors = std::move(colors);
        std::size_t next = 0;
        i = 0;
        for (int y = 0; y < height; ++y) {
            const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < width; ++x, ++i)
                if (!isTransparent(row[x])) frame.indices[i] = quantized[next++];
        }
    }
    if (anyTransparent) {
        frame.palette.transparent = static_cast<int>(frame.palette.colors.size());
        frame.palette.colors.push_back({0, 0, 0});
        i = 0;
        for (int y = 0; y < height; ++y) {
            const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < width; ++x, ++i)
                if (isTransparent(row[x])) frame.indices[i] = static_cast<GifByteType>(frame.palette.transparent);
        }
    }
    if (frame.palette.colors.empty()) frame.palette.colors.push_back({0, 0, 0});
    return frame;
}

int writeToBuffer(GifFileType* gif, const GifByteType* bytes, int length) {
    static_cast<QByteArray*>(gif->UserData)->append(reinterpret_cast<const char*>(bytes), length);
    return length;
}

struct CloseGif {
    void operator()(GifFileType* gif) const {
        int error = 0;
        EGifCloseFile(gif, &error);
    }
};
struct FreeMap {
    void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};

void check(int status, GifFileType* gif, const char* step) {
    if (status != GIF_OK)
        throw Error(Error::Stage::encode, std::string(step) + ": " + (GifErrorString(gif->Error) ? GifErrorString(gif->Error) : "failed"));
}

}  // namespace

QByteArray encodeLooping(const std::vector<QImage>& frames, int delayCentiseconds) {
    if (frames.empty() || frames.front().isNull())
        throw Error(Error::Stage::create, "An animation needs at least one frame");
    const int width = frames.front().width();
    const int height = frames.front().height();
    if (width > 65535 || height > 65535) throw Error(Error::Stage::create, "A GIF holds at most 65,535 pixels a side");
    for (const QImage& frame : frames)
        if (frame.width() != width || frame.height() != height)
            throw Error(Error::Stage::create, "The frames of an animation differ in size");
    if (delayCentiseconds < 1 || delayCentiseconds > 65535) throw Error(Error::Stage::create, "Invalid frame delay");

    QByteArray bytes;
    int error = 0;
    std::unique_ptr<GifFileType, CloseGif> gif(EGifOpen(&bytes, writeToBuffer, &error));
    if (!gif) throw Error(Error::Stage::create, GifErrorString(error) ? GifErrorString(error) : "No GIF encoder");
    EGifSetGifVersion(gif.get(), true);
    check(EGifPutScreenDesc(gif.get(), width, height, 8, 0, nullptr), gif.get(), "Screen");

    // Loop forever: the application extension with a loop count of 0.
    static const GifByteType application[] = "NETSCAPE2.0";
    static const GifByteType loop[] = {1, 0, 0};
    check(EGifPutExtensionLeader(gif.get(), APPLICATION_EXT_FUNC_CODE), gif.get(), "Loop");
    check(EGifPutExtensionBlock(gif.get(), 11, application), gif.get(), "Loop");
    check(EGifPutExtensionBlock(gif.get(), 3, loop), gif.get(), "Loop");
    check(EGifPutExtensionTrailer(gif.get()), gif.get(), "Loop");

    // Each frame's palette is its own: the frames are indexed side by side, then written in order.
    std::vector<std::future<IndexedFrame>> indexing;
    for (std::size_t n = 1; n < frames.size(); ++n)
        indexing.push_back(std::async(std::launch::async, [&frames, n] { return indexFrame(frames[n]); }));
    std::vector<IndexedFrame> indexed;
    try {
        indexed.push_back(indexFrame(frames.front()));
        for (auto& next : indexing) indexed.push_back(next.get());
    } catch (...) {
        for (auto& next : indexing)
            if (next.valid()) next.wait();
        throw;
    }
    for (IndexedFrame& frame : indexed) {
        GraphicsControlBlock control{};
        control.DisposalMode = DISPOSE_BACKGROUND;  // a frame's transparent parts never show the one before
        control.UserInputFlag = false;
        control.DelayTime = delayCentiseconds;
        control.TransparentColor = frame.palette.transparent;
        GifByteType extension[4];
        EGifGCBToExtension(&control, extension);
        check(EGifPutExtension(gif.get(), GRAPHICS_EXT_FUNC_CODE, 4, extension), gif.get(), "Frame control");

        const int bits = GifBitSize(static_cast<int>(frame.palette.colors.size()));
        frame.palette.colors.resize(static_cast<std::size_t>(1) << bits, GifColorType{0, 0, 0});
        std::unique_ptr<ColorMapObject, FreeMap> map(GifMakeMapObject(1 << bits, frame.palette.colors.data()));
        if (!map) throw Error(Error::Stage::encode, "No memory for a palette");
        check(EGifPutImageDesc(gif.get(), 0, 0, width, height, false, map.get()), gif.get(), "Frame");
        for (int y = 0; y < height; ++y)
            check(EGifPutLine(gif.get(), frame.indices.data() + static_cast<std::size_t>(y) * width, width), gif.get(),
                  "Frame");
    }
    GifFileType* raw = gif.release();
    if (EGifCloseFile(raw, &error) != GIF_OK)
        throw Error(Error::Stage::encode, GifErrorString(error) ? GifErrorString(error) : "Could not finish the GIF");
    return bytes;
}

}  // namespace brevalto::GifEncoding
