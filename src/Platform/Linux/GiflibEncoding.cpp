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
// else the median-cut palette that giflib's quantizer chooses. Two passes over the pixels: one
// gathers the colours, one writes the indices.
IndexedFrame indexFrame(const QImage& source) {
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int width = image.width();
    const int height = image.height();
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    IndexedFrame frame;
    frame.indices.resize(count);

    // The opaque pixels' planes, in order, for the quantizer, and their exact colours while there
    // are few enough (a run of one colour is looked up once).
    std::unique_ptr<GifByteType[]> red(new GifByteType[count]), green(new GifByteType[count]),
        blue(new GifByteType[count]);
    std::size_t opaque = 0;
    bool anyTransparent = false;
    QHash<QRgb, int> exact;
    bool fits = true;
    QRgb last = 0;
    bool seen = false;
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            const QRgb pixel = row[x];
            if (isTransparent(pixel)) {
                anyTransparent = true;
                continue;
            }
            red[opaque] = static_cast<GifByteType>(qRed(pixel));
            green[opaque] = static_cast<GifByteType>(qGreen(pixel));
            blue[opaque] = static_cast<GifByteType>(qBlue(pixel));
            ++opaque;
            const QRgb key = pixel | 0xff000000u;
            if (!fits || (seen && key == last)) continue;
            last = key;
            seen = true;
            if (!exact.contains(key)) {
                exact.insert(key, static_cast<int>(exact.size()));
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
    const bool quantize = frame.palette.colors.empty() && opaque > 0;
    std::vector<GifByteType> quantized;
    if (quantize) {
        int size = room;
        std::vector<GifColorType> colors(static_cast<std::size_t>(room));
        quantized.resize(opaque);
        if (GifQuantizeBuffer(static_cast<unsigned>(opaque), 1, &size, red.get(), green.get(), blue.get(),
                              quantized.data(), colors.data()) != GIF_OK)
            throw Error(Error::Stage::encode, "The frame's colours could not be reduced");
        colors.resize(static_cast<std::size_t>(size));
        frame.palette.colors = std::move(colors);
    }
    red.reset();
    green.reset();
    blue.reset();
    if (anyTransparent) {
        frame.palette.transparent = static_cast<int>(frame.palette.colors.size());
        frame.palette.colors.push_back({0, 0, 0});
    }
    const auto transparent = static_cast<GifByteType>(anyTransparent ? frame.palette.transparent : 0);
    std::size_t i = 0, next = 0;
    last = 0;
    seen = false;
    GifByteType lastIndex = 0;
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < width; ++x, ++i) {
            const QRgb pixel = row[x];
            if (isTransparent(pixel)) {
                frame.indices[i] = transparent;
            } else if (quantize) {
                frame.indices[i] = quantized[next++];
            } else {
                const QRgb key = pixel | 0xff000000u;
                if (!seen || key != last) {
                    lastIndex = static_cast<GifByteType>(exact.value(key));
                    last = key;
                    seen = true;
                }
                frame.indices[i] = lastIndex;
            }
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

namespace {

// "GIF89a" and a logical screen descriptor without a global palette: what every stream below
// starts with before its first block.
constexpr qsizetype kHeaderBytes = 13;

std::unique_ptr<GifFileType, CloseGif> openStream(QByteArray& bytes, int width, int height) {
    int error = 0;
    std::unique_ptr<GifFileType, CloseGif> gif(EGifOpen(&bytes, writeToBuffer, &error));
    if (!gif) throw Error(Error::Stage::create, GifErrorString(error) ? GifErrorString(error) : "No GIF encoder");
    EGifSetGifVersion(gif.get(), true);
    check(EGifPutScreenDesc(gif.get(), width, height, 8, 0, nullptr), gif.get(), "Screen");
    return gif;
}

// Closes the stream and returns its blocks: what follows the header, without the trailer.
QByteArray closeStream(std::unique_ptr<GifFileType, CloseGif> gif, QByteArray& bytes) {
    int error = 0;
    if (EGifCloseFile(gif.release(), &error) != GIF_OK)
        throw Error(Error::Stage::encode, GifErrorString(error) ? GifErrorString(error) : "Could not finish the GIF");
    if (bytes.size() <= kHeaderBytes || !bytes.endsWith(';') || !bytes.startsWith("GIF89a"))
        throw Error(Error::Stage::encode, "Unexpected GIF stream");
    return bytes.mid(kHeaderBytes, bytes.size() - kHeaderBytes - 1);
}

// One frame's control and image blocks, encoded as a stream of its own so that frames encode
// side by side.
QByteArray frameBlocks(const QImage& image, int delayCentiseconds) {
    IndexedFrame frame = indexFrame(image);
    const int width = image.width(), height = image.height();
    QByteArray bytes;
    auto gif = openStream(bytes, width, height);
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
    return closeStream(std::move(gif), bytes);
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

    // Each frame's palette is its own: the frames encode side by side and are joined in order.
    std::vector<std::future<QByteArray>> later;
    for (std::size_t n = 1; n < frames.size(); ++n)
        later.push_back(std::async(std::launch::async, [&frames, n, delayCentiseconds] {
            return frameBlocks(frames[n], delayCentiseconds);
        }));
    std::vector<QByteArray> blocks;
    try {
        blocks.push_back(frameBlocks(frames.front(), delayCentiseconds));
        for (auto& next : later) blocks.push_back(next.get());
    } catch (...) {
        for (auto& next : later)
            if (next.valid()) next.wait();
        throw;
    }

    QByteArray bytes;
    auto gif = openStream(bytes, width, height);
    // Loop forever: the application extension with a loop count of 0.
    static const GifByteType application[] = "NETSCAPE2.0";
    static const GifByteType loop[] = {1, 0, 0};
    check(EGifPutExtensionLeader(gif.get(), APPLICATION_EXT_FUNC_CODE), gif.get(), "Loop");
    check(EGifPutExtensionBlock(gif.get(), 11, application), gif.get(), "Loop");
    check(EGifPutExtensionBlock(gif.get(), 3, loop), gif.get(), "Loop");
    check(EGifPutExtensionTrailer(gif.get()), gif.get(), "Loop");
    QByteArray animation = bytes.left(kHeaderBytes) + closeStream(std::move(gif), bytes);
    for (const QByteArray& frame : blocks) animation += frame;
    animation += ';';
    return animation;
}

}  // namespace brevalto::GifEncoding
