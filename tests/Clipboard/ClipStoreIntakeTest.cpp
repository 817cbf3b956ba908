#include "ClipStoreTestSupport.h"

#include "ClipCore/HistoryPolicy.h"
#include "QtWait.h"

#include <limits>

namespace brevalto {
namespace {

using namespace cliptest;

// Counts how often a completion ran and keeps what it got.
struct Outcome {
    int calls = 0;
    std::optional<Clip> clip;
    ClipStore::Completion completion() {
        return [this](std::optional<Clip> c) {
            ++calls;
            clip = std::move(c);
        };
    }
};

std::vector<fs::path> pngFiles(const fs::path& root) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(root))
        if (entry.path().extension() == ".png") files.push_back(entry.path());
    return files;
}

TEST_F(ClipStoreFixture, TextIntake) {
    ClipStore store(root(), clock);
    store.addText("", "app");
    store.flush();
    EXPECT_TRUE(store.items().empty());
    EXPECT_EQ(store.message(), ClipStore::kReadyMessage);

    store.addText("   ", "app");  // blanks are content
    store.flush();
    store.addText("same", "first");
    store.flush();
    clock.advance(5);
    store.addText("same", "second");
    store.flush();
    ASSERT_EQ(store.items().size(), 2u);
    EXPECT_EQ(store.message(), QString::fromUtf8("Saved text · 2 items"));
    const Clip& top = store.items().front();
    EXPECT_EQ(top.text, "same");
    EXPECT_EQ(top.source, "second");
    EXPECT_EQ(top.createdAt, clock.now());
    EXPECT_EQ(top.digest, hexDigest("same"));
    EXPECT_EQ(top.digest, "0967115f2813a3541eaef77de9d9d5773f1c0c04314b0bbfe4ff3b3b1c55b5d5");
    EXPECT_EQ(top.byteCount, 4);
    store.flush();
    EXPECT_EQ(store.items()[1].text, "   ");

    const std::string limit(ClipStore::kMaxInputBytes, 'x');
    store.addText(limit + "y", "app");
    store.flush();
    EXPECT_EQ(store.message(), "Text exceeds 32 MB");
    store.flush();
    EXPECT_EQ(store.items().size(), 2u);
    store.addText(limit, "app");
    store.flush();
    EXPECT_EQ(store.message(), QString::fromUtf8("Saved text · 3 items"));
}

TEST_F(ClipStoreFixture, HistoryQuota) {
    ClipStore store(root(), clock);
    std::vector<Clip> pinned;
    for (int i = 0; i < 200; ++i) pinned.push_back(textClip("pinned " + std::to_string(i), 100 - i, true));
    store.commit(pinned);
    store.flush();
    store.addText("one more", "app");
    store.flush();
    EXPECT_EQ(store.message(), "History quota reached. Unpin or delete an item.");
    store.flush();
    EXPECT_EQ(store.items(), pinned);
}

TEST_F(ClipStoreFixture, ImageChecksBeforeAcceptance) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const QByteArray png = encodedImage(picture(4, 4), "png");
    struct Case {
        const char* name;
        QByteArray data;
        std::optional<double> scale;
        const char* message;  // nullptr: accepted
    } cases[] = {
        {"scale 8", png, 8.0, nullptr},
        {"no scale", png, std::nullopt, nullptr},
        {"scale just over 8", png, 8.000001, "Invalid image scale"},
        {"scale 0", png, 0.0, "Invalid image scale"},
        {"negative scale", png, -1.0, "Invalid image scale"},
        {"infinite scale", png, inf, "Invalid image scale"},
        {"scale NaN", png, nan, "Invalid image scale"},
        {"over 32 MiB", png + QByteArray(ClipStore::kMaxInputBytes - png.size() + 1, '\0'), 2.0, "Image exceeds 32 MB"},
    };
    for (const Case& c : cases) {
        ClipStore store(folder.path() / c.name, clock);
        Outcome outcome;
        store.addImage(c.data, "app", c.scale, {}, outcome.completion());
        if (c.message) {
            EXPECT_EQ(outcome.calls, 1) << c.name;  // before the call returned
            EXPECT_EQ(store.message(), c.message) << c.name;
            EXPECT_EQ(store.pendingImages(), 0);
        } else {
            EXPECT_EQ(outcome.calls, 0) << c.name;
            EXPECT_EQ(store.pendingImages(), 1);
            ASSERT_TRUE(waitUntil([&] { return outcome.calls > 0; })) << c.name;
            ASSERT_TRUE(outcome.clip) << c.name;
            EXPECT_EQ(outcome.clip->imageScale, c.scale);
            EXPECT_EQ(store.message(), QString::fromUtf8("Saved image · 1 item"));
        }
    }
}

TEST_F(ClipStoreFixture, StoredImageIsAnUprightPrivatePng) {
    ClipStore store(root(), clock);
    const Date accepted = clock.now();
    QImage source = picture(40, 20);
    Outcome outcome;
    store.addImage(encodedImage(source, "jpeg", QImageIOHandler::TransformationRotate90), "camera", 2.0, {},
                   outcome.completion());
    clock.advance(30);  // the clip is dated when the data was accepted
    ASSERT_TRUE(waitUntil([&] { return outcome.calls > 0; }));
    ASSERT_TRUE(outcome.clip);
    const Clip& clip = *outcome.clip;
    EXPECT_EQ(clip.kind, Clip::Kind::image);
    EXPECT_EQ(clip.createdAt, accepted);
    EXPECT_EQ(clip.source, "camera");
    EXPECT_EQ(clip.imageFile, clip.digest + ".png");
    EXPECT_TRUE(ClipStore::isImageFileName(*clip.imageFile));

    const fs::path file = root() / *clip.imageFile;
    const std::string bytes = readFile(file);
    EXPECT_EQ(clip.byteCount, static_cast<std::int64_t>(bytes.size()));
    EXPECT_EQ(clip.digest, hexDigest(bytes));
    EXPECT_EQ(modeOf(file), 0600u);
    const QImage stored = QImage::fromData(QByteArray::fromStdString(bytes), "PNG");
    EXPECT_EQ(stored.size(), QSize(20, 40));
    store.flush();
    EXPECT_EQ(store.items(), std::vector<Clip>{clip});
}

TEST_F(ClipStoreFixture, EqualPicturesFromDifferentFormatsShareOneClip) {
    ClipStore store(root(), clock);
    const QImage image = picture(30, 10);
    QImage tagged = image;  // metadata is not part of the picture
    tagged.setText("Comment", "written by a camera");
    tagged.setDotsPerMeterX(5000);
    Outcome first, second;
    store.addImage(encodedImage(tagged, "png"), "a", std::nullopt, {}, first.completion());
    store.addImage(encodedImage(image, "tiff"), "b", std::nullopt, {}, second.completion());
    ASSERT_TRUE(waitUntil([&] { return first.calls + second.calls == 2; }));
    ASSERT_TRUE(first.clip && second.clip);
    EXPECT_EQ(first.clip->digest, second.clip->digest);
    EXPECT_EQ(first.clip->id, second.clip->id);  // merged into the earlier copy
    store.flush();
    EXPECT_EQ(store.items().size(), 1u);
    EXPECT_EQ(pngFiles(root()).size(), 1u);
}

// A PNG that already is what normalising makes is stored byte for byte; anything that carries
// more than pixels and colour, or pixels in another form, is normalised as before.
TEST_F(ClipStoreFixture, APlainPNGIsKeptAsItCameAndOthersAreNormalised) {
    // Compressed otherwise than the store compresses, as other applications do.
    auto png = [](const QImage& image) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "png");
        writer.setQuality(95);
        EXPECT_TRUE(writer.write(image));
        return bytes;
    };
    QImage translucent(12, 8, QImage::Format_ARGB32);
    translucent.fill(QColor(10, 200, 30, 90));
    QImage grey = picture(9, 7).convertToFormat(QImage::Format_Grayscale8);
    QImage deep = picture(9, 7).convertToFormat(QImage::Format_RGBX64);
    QImage tagged = picture(9, 7);
    tagged.setText("Author", "someone");
    const QByteArray plain = png(picture(30, 10));
    QByteArray badChecksum = plain;
    badChecksum[badChecksum.indexOf("pHYs") + 6] = 'x';  // inside the resolution chunk
    struct Case {
        const char* what;
        QByteArray input;
        bool kept;
    } cases[] = {
        {"RGB", plain, true},
        {"RGBA with transparency", png(translucent), true},
        {"grey", png(grey), true},
        {"16 bits per channel", png(deep), false},
        {"a text chunk", png(tagged), false},
        {"another resolution", [&] {
             QImage image = picture(9, 7);
             image.setDotsPerMeterX(5000);
             return png(image);
         }(), true},
        {"a damaged chunk", badChecksum, false},
        {"bytes after the end", plain + "hidden", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClipStore store(folder.path() / c.what, clock);
        Outcome outcome;
        store.addImage(c.input, "app", std::nullopt, {}, outcome.completion());
        ASSERT_TRUE(waitUntil([&] { return outcome.calls > 0; }));
        ASSERT_TRUE(outcome.clip);
        const std::string bytes = readFile(store.root() / *outcome.clip->imageFile);
        EXPECT_EQ(bytes == c.input.toStdString(), c.kept);
        EXPECT_EQ(outcome.clip->digest, hexDigest(bytes));
        EXPECT_EQ(QImage::fromData(QByteArray::fromStdString(bytes)).convertToFormat(QImage::Format_ARGB32),
                  QImage::fromData(c.input).convertToFormat(QImage::Format_ARGB32));
        EXPECT_EQ(bytes.find("someone"), std::string::npos);
        EXPECT_EQ(bytes.find("hidden"), std::string::npos);
    }

    // A capture handed over as pixels is encoded once into those very bytes, so copying it back
    // in (or copying the same picture from another app) finds the same clip.
    ClipStore store(root(), clock);
    const QImage shot = picture(64, 40);
    Outcome captured, copied;
    store.addImage(shot, "Screenshot", 2.0, {}, captured.completion());
    store.addImage(*encodeNormalisedPNG(shot), "app", std::nullopt, {}, copied.completion());
    ASSERT_TRUE(waitUntil([&] { return captured.calls + copied.calls == 2; }));
    ASSERT_TRUE(captured.clip && copied.clip);
    EXPECT_EQ(captured.clip->id, copied.clip->id);
    EXPECT_EQ(readFile(root() / *captured.clip->imageFile), encodeNormalisedPNG(shot)->toStdString());
    EXPECT_EQ(captured.clip->imageScale, 2.0);
}

TEST_F(ClipStoreFixture, FortyMegapixelBoundary) {
    struct Case {
        int width, height;
        bool stored;
    } cases[] = {{8000, 5000, true}, {8001, 5000, false}};
    for (const Case& c : cases) {
        const fs::path r = folder.path() / std::to_string(c.width);
        ClipStore store(r, clock);
        QImage image(c.width, c.height, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        Outcome outcome;
        store.addImage(encodedImage(image, "png"), "app", std::nullopt, {}, outcome.completion());
        image = QImage();
        ASSERT_TRUE(waitUntil([&] { return outcome.calls > 0; }, 60'000));
        EXPECT_EQ(outcome.clip.has_value(), c.stored) << c.width;
        if (!c.stored) {
            EXPECT_EQ(store.message(), "Image unsupported or too large (32 MB / 40 MP limit)");
            EXPECT_TRUE(pngFiles(r).empty());
        }
    }
}

// A PNG written chunk by chunk: an RGB image of the given size whose image data is `rows`
// (each row a filter byte and its pixels), compressed as one zlib stream.
QByteArray handMadePNG(int width, int height, const QByteArray& rows) {
    auto crc = [](const QByteArray& bytes) {
        std::uint32_t c = 0xffffffffu;
        for (unsigned char b : bytes) {
            c ^= b;
            for (int k = 0; k < 8; ++k) c = c & 1 ? 0xedb88320u ^ (c >> 1) : c >> 1;
        }
        return c ^ 0xffffffffu;
    };
    auto be32 = [](std::uint32_t v) {
        const char bytes[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
        return QByteArray(bytes, 4);
    };
    auto chunk = [&](const char* type, const QByteArray& body) {
        const QByteArray typed = QByteArray(type) + body;
        return be32(std::uint32_t(body.size())) + typed + be32(crc(typed));
    };
    const QByteArray header = be32(std::uint32_t(width)) + be32(std::uint32_t(height)) + QByteArray("\x08\x02\0\0\0", 5);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IDAT", qCompress(rows).mid(4)) +
           chunk("IEND", {});
}

TEST_F(ClipStoreFixture, AHandMadePlainPNGIsKeptOnlyWithAllItsRows) {
    QByteArray rows;
    for (int y = 0; y < 3; ++y) rows += QByteArray(1, '\0') + QByteArray(4 * 3, char(40 * y));
    ClipStore store(root(), clock);
    Outcome outcome;
    store.addImage(handMadePNG(4, 3, rows), "app", std::nullopt, {}, outcome.completion());
    ASSERT_TRUE(waitUntil([&] { return outcome.calls > 0; }));
    ASSERT_TRUE(outcome.clip);
    EXPECT_EQ(readFile(root() / *outcome.clip->imageFile), handMadePNG(4, 3, rows).toStdString());
    EXPECT_EQ(QImage::fromData(handMadePNG(4, 3, rows)).pixelColor(0, 2), QColor(80, 80, 80));

    // More data than rows: it decodes, but is not what it claims to be, so it is normalised.
    Outcome extra;
    store.addImage(handMadePNG(4, 3, rows + "more"), "app", std::nullopt, {}, extra.completion());
    ASSERT_TRUE(waitUntil([&] { return extra.calls > 0; }));
    ASSERT_TRUE(extra.clip);
    EXPECT_NE(extra.clip->digest, outcome.clip->digest);
    EXPECT_EQ(QImage::fromData(QByteArray::fromStdString(readFile(root() / *extra.clip->imageFile))).pixelColor(0, 2),
              QColor(80, 80, 80));
}

TEST_F(ClipStoreFixture, UnreadableImagesLeaveNothing) {
    ClipStore store(root(), clock);
    QByteArray rows;
    for (int y = 0; y < 3; ++y) rows += QByteArray(1, '\0') + QByteArray(4 * 3, 'x');
    QByteArray unknownFilter = rows;
    unknownFilter[13] = 9;
    for (const QByteArray& data : {QByteArray("plain text, not a picture"), QByteArray(),
                                   encodedImage(picture(8, 8), "png").left(60), handMadePNG(4, 4, rows),
                                   handMadePNG(4, 3, unknownFilter)}) {
        Outcome outcome;
        store.addImage(data, "app", std::nullopt, {}, outcome.completion());
        ASSERT_TRUE(waitUntil([&] { return outcome.calls > 0; }));
        EXPECT_EQ(outcome.calls, 1);
        EXPECT_FALSE(outcome.clip);
        EXPECT_EQ(store.message(), "Image unsupported or too large (32 MB / 40 MP limit)");
    }
    store.flush();
    EXPECT_TRUE(store.items().empty());
    EXPECT_TRUE(pngFiles(root()).empty());
}

TEST_F(ClipStoreFixture, AtMostThreePendingAndEachCompletesOnce) {
    ClipStore store(root(), clock);
    std::vector<Outcome> outcomes(5);
    // No events are processed in between, so the first three stay pending.
    for (int i = 0; i < 4; ++i)
        store.addImage(encodedImage(picture(10 + i, 10), "png"), "app", std::nullopt, {}, outcomes[i].completion());
    EXPECT_EQ(store.pendingImages(), 3);
    EXPECT_EQ(outcomes[3].calls, 1);
    EXPECT_FALSE(outcomes[3].clip);
    EXPECT_EQ(store.message(), "Image queue busy; copy again shortly");

    ASSERT_TRUE(waitUntil([&] { return store.pendingImages() == 0; }));
    store.addImage(encodedImage(picture(20, 10), "png"), "app", std::nullopt, {}, outcomes[4].completion());
    ASSERT_TRUE(waitUntil([&] { return outcomes[4].calls > 0; }));
    waitUntil([] { return false; }, 100);  // let any stray delivery arrive
    for (const Outcome& outcome : outcomes) EXPECT_EQ(outcome.calls, 1);
    store.flush();
    EXPECT_EQ(store.items().size(), 4u);
}

TEST_F(ClipStoreFixture, WorkBegunBeforeClearAllOrCancelledIsDropped) {
    struct Case {
        const char* name;
        bool clearAll;
        bool cancelled;
    } cases[] = {{"clear-all", true, false}, {"cancellation test", false, true}};
    for (const Case& c : cases) {
        const fs::path r = folder.path() / c.name;
        ClipStore store(r, clock);
        store.addText("kept until cleared", "app");
        store.flush();
        Outcome outcome;
        int asked = 0;
        store.addImage(encodedImage(picture(64, 64), "png"), "app", std::nullopt,
                       [&] {
                           ++asked;
                           return c.cancelled;
                       },
                       outcome.completion());
        if (c.clearAll) store.clearAll();
        ASSERT_TRUE(waitUntil([&] { return outcome.calls > 0; })) << c.name;
        EXPECT_FALSE(outcome.clip);
        EXPECT_EQ(store.message(), "Image save cancelled");
        EXPECT_EQ(store.generation(), c.clearAll ? 1u : 0u);
        store.flush();
        EXPECT_EQ(store.items().size(), c.clearAll ? 0u : 1u);
        EXPECT_TRUE(pngFiles(r).empty()) << c.name;
        EXPECT_EQ(store.pendingImages(), 0);
        if (c.cancelled) {
            EXPECT_EQ(asked, 1);
        }
    }
}

TEST_F(ClipStoreFixture, FailedSaveLeavesNoImageFile) {
    ClipStore store(root(), clock);
    const QByteArray data = encodedImage(picture(12, 12), "png");
    const std::string name = hexDigest(normalizeImageToPNG(data)->toStdString()) + ".png";
    // A non-empty folder in the index's place makes the index write fail after the image was written.
    fs::create_directories(index() / "blocker");
    Outcome outcome;
    store.addImage(data, "app", std::nullopt, {}, outcome.completion());
    ASSERT_TRUE(waitUntil([&] { return outcome.calls > 0; }));
    EXPECT_FALSE(outcome.clip);
    EXPECT_EQ(store.message().toStdString(), "Could not save: Is a directory (history.json)");
    store.flush();
    EXPECT_TRUE(store.items().empty());
    EXPECT_FALSE(fs::exists(root() / name));
}

TEST_F(ClipStoreFixture, Thumbnails) {
    ClipStore store(root(), clock);
    Outcome wide, small;
    store.addImage(encodedImage(picture(1200, 800), "png"), "app", std::nullopt, {}, wide.completion());
    store.addImage(encodedImage(picture(30, 20), "png"), "app", std::nullopt, {}, small.completion());
    ASSERT_TRUE(waitUntil([&] { return wide.calls + small.calls == 2; }));
    ASSERT_TRUE(wide.clip && small.clip);

    const auto thumb = store.thumbnail(*wide.clip);
    ASSERT_TRUE(thumb);
    EXPECT_EQ(thumb->size(), QSize(600, 400));
    EXPECT_EQ(store.thumbnail(*small.clip)->size(), QSize(30, 20));  // never enlarged
    EXPECT_EQ(store.thumbnails().size(), 2u);
    // Any shape the store accepts has a picture, however long one side.
    Outcome strip;
    store.addImage(encodedImage(picture(70000, 2), "png"), "app", std::nullopt, {}, strip.completion());
    ASSERT_TRUE(waitUntil([&] { return strip.calls == 1; }, 10000));
    ASSERT_TRUE(strip.clip);
    const auto stripThumb = store.thumbnail(*strip.clip);
    ASSERT_TRUE(stripThumb);
    EXPECT_EQ(stripThumb->size(), QSize(600, 1));
    EXPECT_EQ(store.thumbnails().size(), 3u);

    // Cached by digest: the file is not read again.
    fs::remove(root() / *wide.clip->imageFile);
    EXPECT_TRUE(store.thumbnail(*wide.clip));
    // Without its file a clip has no thumbnail, and nothing is cached for it.
    store.clearAll();
    store.flush();
    EXPECT_TRUE(store.thumbnails().empty());
    EXPECT_FALSE(store.thumbnail(*wide.clip));
    EXPECT_TRUE(store.thumbnails().empty());
    EXPECT_FALSE(store.thumbnail(textClip("no image", 1)));
}

// Each way a picture enters the cache (made at once, made on a worker, failed, still being made)
// leaves nothing once its clip has left the history, and a clip that comes back is drawn anew;
// so are the masked card texts of a long text.
TEST_F(ClipStoreFixture, ThumbnailsAndCardTextsLastOnlyAsLongAsTheirClips) {
    ClipStore store(root(), clock);
    auto add = [&](const QImage& image, bool withFile = true) {
        const QByteArray png = encodedImage(image, "png");
        const std::string digest = hexDigest(std::string_view(png.constData(), std::size_t(png.size())));
        clock.advance(1);
        Clip clip(Clip::Kind::image, std::nullopt, digest + ".png", digest, png.size(), "app", clock.now());
        std::optional<Clip> stored = store.insert(clip, withFile ? std::optional(png) : std::nullopt);
        store.flush();
        EXPECT_TRUE(stored);
        return std::pair(stored.value_or(clip), png);
    };
    const auto bytes = [&] {
        qsizetype total = 0;
        for (const auto& [digest, image] : store.thumbnails()) total += image.sizeInBytes();
        return total;
    };
    std::vector<Clip> drawn;
    for (int n = 0; n < 6; ++n) drawn.push_back(add(picture(900, 700 + n)).first);
    for (int n = 0; n < 3; ++n) ASSERT_TRUE(store.thumbnail(drawn[std::size_t(n)]));
    for (int n = 3; n < 6; ++n) store.requestThumbnail(drawn[std::size_t(n)]);
    ASSERT_TRUE(waitUntil([&] { return store.thumbnails().size() == 6; }));
    const auto [missing, missingPng] = add(picture(64, 48), false);
    ASSERT_EQ(store.requestThumbnail(missing), ClipStore::ThumbnailState::pending);
    ASSERT_TRUE(waitUntil([&] { return store.requestThumbnail(missing) == ClipStore::ThumbnailState::failed; }));
    const std::string longText = "note " + std::string(ClipStore::kCardTextsAtOnce, 'x');
    store.addText(longText, "app");
    store.flush();
    const Clip longClip = store.items().front();
    EXPECT_EQ(store.cardTexts(longClip), nullptr);
    ASSERT_TRUE(waitUntil([&] { return store.cardTexts(longClip) != nullptr; }));
    const auto [late, latePng] = add(picture(800, 800));
    ASSERT_EQ(store.requestThumbnail(late), ClipStore::ThumbnailState::pending);
    EXPECT_GE(bytes(), 6 * 600 * 460 * 4);

    // Texts evict every image while the last picture is still being made.
    for (int n = 0; n < int(HistoryPolicy::maximumItems); ++n) store.addText("text " + std::to_string(n), "app");
    store.flush();
    ASSERT_TRUE(std::none_of(store.items().begin(), store.items().end(),
                             [](const Clip& clip) { return clip.kind == Clip::Kind::image; }));
    waitUntil([] { return false; }, 300);
    EXPECT_TRUE(store.thumbnails().empty());
    EXPECT_EQ(bytes(), 0);
    // A clip that is not in the history still gets its picture, but the cache keeps none.
    writeFile(root() / *late.imageFile, latePng.toStdString());
    EXPECT_TRUE(store.thumbnail(late));
    EXPECT_TRUE(store.thumbnails().empty());

    // The image whose file was missing comes back with its file: its picture is made now.
    const Clip back = add(picture(64, 48)).first;
    EXPECT_EQ(back.digest, missing.digest);
    EXPECT_EQ(store.requestThumbnail(back), ClipStore::ThumbnailState::pending);
    ASSERT_TRUE(waitUntil([&] { return store.requestThumbnail(back) != ClipStore::ThumbnailState::pending; }));
    EXPECT_EQ(store.requestThumbnail(back), ClipStore::ThumbnailState::ready);
    EXPECT_EQ(store.thumbnails().size(), 1u);
    store.addText(longText, "app");
    store.flush();
    EXPECT_EQ(store.cardTexts(store.items().front()), nullptr);
    ASSERT_TRUE(waitUntil([&] { return store.cardTexts(store.items().front()) != nullptr; }));
    EXPECT_EQ(store.cardTexts(store.items().front())->title, longClip.title());
}

}  // namespace
}  // namespace brevalto
