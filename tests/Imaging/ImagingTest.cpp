#include "Errors/ScreenshotError.h"
#include "Imaging/BitmapContext.h"
#include "Imaging/ImageDecoding.h"
#include "Platform/AtomicFile.h"
#include "TestFolder.h"
#include "TestImages.h"

#include <QBuffer>
#include <QImageWriter>
#include <QUrl>

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>

namespace brevalto {
namespace {

QImage solid(int width, int height, QColor color = Qt::red) {
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(color);
    return image;
}

std::uint32_t crc32(const QByteArray& bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (char c : bytes) {
        crc ^= static_cast<std::uint8_t>(c);
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void appendBigEndian(QByteArray& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.append(static_cast<char>((value >> shift) & 0xFF));
}

void appendChunk(QByteArray& png, const char* type, const QByteArray& data) {
    const QByteArray chunk = QByteArray(type) + data;
    appendBigEndian(png, static_cast<std::uint32_t>(data.size()));
    png.append(chunk);
    appendBigEndian(png, crc32(chunk));
}

// A PNG whose header claims the given size and whose pixel data is a few broken bytes.
QByteArray pngHeaderOnly(std::uint32_t width, std::uint32_t height) {
    QByteArray header;
    appendBigEndian(header, width);
    appendBigEndian(header, height);
    header.append("\x08\x06\x00\x00\x00", 5);  // 8-bit RGBA, no interlace
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    appendChunk(png, "IHDR", header);
    appendChunk(png, "IDAT", QByteArray("\x78\x9c\x01\x02", 4));
    appendChunk(png, "IEND", QByteArray());
    return png;
}

void writeFile(const std::filesystem::path& path, const QByteArray& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.constData(), bytes.size());
}

std::string errorOf(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const ScreenshotError& e) {
        return e.what();
    }
    return "";
}

class ImagingTest : public ::testing::Test {
protected:
    void SetUp() override { raiseImageAllocationLimit(); }
    TestFolder folder;
};

TEST_F(ImagingTest, SizeRule) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double width, height;
        bool passes;
    } cases[] = {
        {65536, 976, true},   // 63,963,136 pixels
        {65536, 977, false},  // over 64 MP
        {65537, 1, false},    {1, 1, true},       {0.5, 10, false}, {0, 5, false},
        {10.2, 10.2, true},   // counted as 11 x 11
        {8000, 8000, true},   {8000, 8000.1, false}, {nan, 5, false}, {5, inf, false},
    };
    for (const Case& c : cases) {
        const std::string error = errorOf([&] { validateImageSize(c.width, c.height); });
        EXPECT_EQ(error.empty(), c.passes) << c.width << " x " << c.height;
        if (!c.passes) {
            EXPECT_EQ(error, kInvalidImageSizeMessage);
        }
    }
}

TEST_F(ImagingTest, DecodingBytes) {
    const QByteArray png = encodedImage(solid(4, 3), "png");
    const QImage image = decodeScreenshotImageData(png);
    EXPECT_EQ(image.size(), QSize(4, 3));
    EXPECT_EQ(image.pixelColor(0, 0), QColor(Qt::red));

    struct Case {
        const char* name;
        QByteArray bytes;
        std::string message;
    } cases[] = {
        {"empty", QByteArray(), kInvalidImageBytesMessage},
        {"not an image", QByteArray("hello, this is text"), kInvalidImageBytesMessage},
        {"over 64 MiB", png + QByteArray(kMaxImageBytes - png.size() + 1, '\0'), kInvalidImageBytesMessage},
        // The stored size is refused before any pixel is decoded ...
        {"header over 64 MP", pngHeaderOnly(65536, 977), kInvalidImageSizeMessage},
        // ... and a size that passes reaches the decoder, which finds no pixels.
        {"header without pixels", pngHeaderOnly(8000, 8000), kUndecodableImageMessage},
    };
    for (const Case& c : cases) EXPECT_EQ(errorOf([&] { decodeScreenshotImageData(c.bytes); }), c.message) << c.name;
}

TEST_F(ImagingTest, LoadingFilesUpToSixtyFourMebibytes) {
    const QByteArray png = encodedImage(solid(5, 2), "png");
    // PNG readers stop at the end chunk, so padding makes a valid file of any size.
    const QByteArray exact = png + QByteArray(kMaxImageBytes - png.size(), '\0');
    writeFile(folder / "exact.png", exact);
    EXPECT_EQ(loadScreenshotImage(folder / "exact.png").size(), QSize(5, 2));
    EXPECT_EQ(loadScreenshotImage(QUrl::fromLocalFile(QString::fromStdString((folder / "exact.png").string()))).size(),
              QSize(5, 2));

    writeFile(folder / "over.png", exact + QByteArray(1, '\0'));
    writeFile(folder / "empty.png", QByteArray());
    writeFile(folder / "text.png", QByteArray("not a picture"));
    std::filesystem::create_directory(folder / "folder.png");
    for (const char* name : {"over.png", "empty.png", "text.png", "folder.png"})
        EXPECT_EQ(errorOf([&] { loadScreenshotImage(folder / name); }), kUnreadableImageMessage) << name;
    EXPECT_EQ(errorOf([&] { loadScreenshotImage(QUrl("https://example.com/a.png")); }), kUnreadableImageMessage);
    EXPECT_THROW(loadScreenshotImage(folder / "missing.png"), FileError);
}

TEST_F(ImagingTest, OrientedImageComesOutUpright) {
    QImage image = solid(40, 20, Qt::blue);
    image.setPixelColor(0, 0, Qt::white);  // top-left marker
    const QByteArray jpeg = encodedImage(image, "jpeg", QImageIOHandler::TransformationRotate90);
    const QImage upright = decodeScreenshotImageData(jpeg);
    ASSERT_EQ(upright.size(), QSize(20, 40));
    // Turned a quarter clockwise, the stored top-left corner lands top-right.
    EXPECT_GT(upright.pixelColor(19, 0).blue(), 200);
    EXPECT_GT(upright.pixelColor(19, 0).red(), 150);
    EXPECT_LT(upright.pixelColor(0, 0).red(), 100);
}

TEST_F(ImagingTest, LargeBuffersAreReusedAndSmallOnesAreOrdinary) {
    const uchar* first = nullptr;
    {
        QImage image = ImageBuffers::allocate(1500, 1000, QImage::Format_ARGB32_Premultiplied);
        ASSERT_FALSE(image.isNull());
        image.fill(Qt::red);
        first = image.constBits();
        const QImage copy = image;  // shared: the buffer waits for its last image
        image = QImage();
        EXPECT_EQ(copy.pixel(1499, 999), qRgb(255, 0, 0));
    }
    QImage again = ImageBuffers::allocate(1500, 1000, QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(again.constBits(), first) << "the same size takes the buffer back";
    QImage other = ImageBuffers::allocate(1500, 1001, QImage::Format_RGB32);
    EXPECT_NE(other.constBits(), first);
    EXPECT_EQ(other.bytesPerLine(), 6000);
    QImage detached = again;
    detached.setPixel(0, 0, qRgb(1, 2, 3));  // writing to a shared one copies it
    EXPECT_NE(detached.constBits(), again.constBits());
    EXPECT_EQ(ImageBuffers::allocate(100, 100, QImage::Format_ARGB32).size(), QSize(100, 100));
    EXPECT_TRUE(ImageBuffers::allocate(0, 100, QImage::Format_ARGB32).isNull());
    ImageBuffers::releaseSpare();
}

TEST_F(ImagingTest, Rasterize) {
    BitmapContext context = rasterize(std::nullopt, 10.2, 3);
    EXPECT_EQ(context.width(), 11);
    EXPECT_EQ(context.height(), 3);
    EXPECT_EQ(context.colorSpace(), QColorSpace(QColorSpace::SRgb));
    context.painter().fillRect(QRect(0, 0, 1, 1), Qt::green);
    const QImage image = context.takeImage();
    EXPECT_EQ(image.pixelColor(0, 0), QColor(Qt::green));      // top-left origin
    EXPECT_EQ(image.pixelColor(10, 2), QColor(Qt::transparent));  // cleared

    EXPECT_EQ(rasterize(QColorSpace(QColorSpace::DisplayP3), 2, 2).colorSpace(),
              QColorSpace(QColorSpace::DisplayP3));
    EXPECT_EQ(rasterize(QColorSpace(), 2, 2).colorSpace(), QColorSpace(QColorSpace::SRgb));
    EXPECT_EQ(errorOf([] { rasterize(std::nullopt, 65536, 977); }), kInvalidImageSizeMessage);
}

}  // namespace
}  // namespace brevalto
