#include "ClipStoreTestSupport.h"

#include <algorithm>
#include <csignal>
#include <sys/resource.h>

namespace brevalto {
namespace {

using namespace cliptest;

TEST_F(ClipStoreFixture, NewFolderStartsEmptyAndPrivate) {
    ClipStore store(root(), clock);
    EXPECT_TRUE(store.writable());
    store.flush();
    EXPECT_TRUE(store.items().empty());
    EXPECT_EQ(store.message(), QString::fromUtf8("Ready · Local history; AI sends only selected items"));
    EXPECT_EQ(modeOf(root()), 0700u);
    EXPECT_FALSE(fs::exists(index()));
}

TEST_F(ClipStoreFixture, LoadKeepsOnlyTextAndTheStoresOwnImageFiles) {
    fs::create_directories(root() / "sub");
    const std::string present = hexName('a');
    writeFile(root() / present, "png");
    writeFile(root() / "sub" / hexName('b'), "png");
    writeFile(root() / "uploads.json", "[]");
    writeFile(root() / hexName('A'), "png");
    writeFile(root() / "linked-target", "png");
    fs::create_symlink(root() / "linked-target", root() / hexName('c'));
    fs::create_directory(root() / hexName('d'));

    struct Entry {
        const char* name;
        Clip clip;
        bool kept;
    } entries[] = {
        {"text", textClip("hello", 10), true},
        {"image file present", imageClip(present), true},
        {"text with an image file", Clip(Clip::Kind::text, "t", present, "x", 1, "s", 9), true},
        {"image without file", Clip(Clip::Kind::image, std::nullopt, std::nullopt, "x", 1, "s", 8), false},
        {"folder part", imageClip("sub/" + hexName('b')), false},
        {"missing file", imageClip(hexName('e')), false},
        {"parent folder", imageClip(".."), false},
        {"the index", imageClip("history.json"), false},
        {"upload history", imageClip("uploads.json"), false},
        {"upper-case digits", imageClip(hexName('A')), false},
        {"symbolic link", imageClip(hexName('c')), false},
        {"a folder", imageClip(hexName('d')), false},
    };
    std::vector<Clip> clips;
    for (const Entry& e : entries) clips.push_back(e.clip);
    writeFile(index(), encodeClips(clips));

    ClipStore store(root(), clock);
    ASSERT_TRUE(store.writable());
    std::vector<Clip> expected;
    for (const Entry& e : entries)
        if (e.kept) expected.push_back(e.clip);
    store.flush();
    EXPECT_EQ(store.items(), expected);

    // Clearing after such a load removes the image file of a kept clip and nothing else.
    store.commit({});
    store.flush();
    EXPECT_FALSE(fs::exists(root() / present));
    for (const char* name : {"uploads.json", "linked-target"}) EXPECT_TRUE(fs::exists(root() / name)) << name;
    EXPECT_TRUE(fs::exists(root() / "sub" / hexName('b')));
    EXPECT_TRUE(fs::is_symlink(root() / hexName('c')));
    EXPECT_TRUE(fs::is_directory(root() / hexName('d')));
    EXPECT_TRUE(fs::exists(index()));
}

TEST_F(ClipStoreFixture, DeletingNeverReachesOtherFiles) {
    // A caller's list may name anything; only files of the store's own form are ever deleted.
    ClipStore store(root(), clock);
    writeFile(root() / "uploads.json", "[]");
    fs::create_directories(root() / "keep");
    writeFile(root() / "keep" / "x", "x");
    store.commit({imageClip("uploads.json"), imageClip("keep"), imageClip(".."), imageClip("history.json")});
    store.flush();
    ASSERT_EQ(store.items().size(), 4u);
    store.commit({});
    store.flush();
    EXPECT_TRUE(fs::exists(root() / "uploads.json"));
    EXPECT_TRUE(fs::exists(root() / "keep" / "x"));
    EXPECT_TRUE(fs::exists(index()));
    EXPECT_TRUE(fs::exists(root()));
}

TEST_F(ClipStoreFixture, FailedLoadLeavesAReadOnlyStore) {
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> prepare;
    } cases[] = {
        {"corrupt", [](const fs::path& r) { writeFile(r / "history.json", "[{\"id\":"); }},
        {"empty", [](const fs::path& r) { writeFile(r / "history.json", ""); }},
        {"foreign", [](const fs::path& r) { writeFile(r / "history.json", "{\"clips\":[]}"); }},
        {"bad member", [](const fs::path& r) { writeFile(r / "history.json", "[{\"kind\":\"video\"}]"); }},
        {"a folder", [](const fs::path& r) { fs::create_directory(r / "history.json"); }},
        {"a link", [](const fs::path& r) {
             writeFile(r / "elsewhere.json", "[]");
             fs::create_symlink(r / "elsewhere.json", r / "history.json");
         }},
    };
    for (const Case& c : cases) {
        const fs::path r = folder.path() / c.name;
        fs::create_directories(r);
        writeFile(r / hexName('a'), "png");
        c.prepare(r);
        const std::string before = fs::is_regular_file(r / "history.json") ? readFile(r / "history.json") : "";

        ClipStore store(r, clock);
        EXPECT_FALSE(store.writable()) << c.name;
        store.flush();
        EXPECT_TRUE(store.items().empty());
        const QString message = store.message();
        EXPECT_TRUE(message.startsWith("History could not be loaded. Existing files are preserved. ")) << c.name;

        int completions = 0;
        store.addText("new text", "app");
        store.flush();
        store.addImage(encodedImage(picture(4, 4), "png"), "app", std::nullopt, {},
                       [&](std::optional<Clip> clip) { completions += clip ? 100 : 1; });
        store.togglePin(Uuid::random());
        store.flush();
        store.prune(clock.now() + 1e9, 1);
        store.flush();
        store.commit({textClip("x", 1)});
        store.flush();
        store.clearAll();
        store.flush();
        EXPECT_EQ(completions, 1) << c.name;
        store.flush();
        EXPECT_TRUE(store.items().empty());
        EXPECT_EQ(store.message(), message);
        if (fs::is_regular_file(r / "history.json")) {
            EXPECT_EQ(readFile(r / "history.json"), before) << c.name;
        }
        EXPECT_TRUE(fs::exists(r / hexName('a')));
        ASSERT_TRUE(store.loadFailure()) << c.name;

        // Starting a new history moves the index aside untouched, keeps the images and records.
        const auto aside = store.startNewHistory();
        ASSERT_TRUE(aside) << c.name;
        EXPECT_EQ(aside->filename(), "history.json.unreadable-20260509T061320Z");
        if (!before.empty()) {
            EXPECT_EQ(readFile(*aside), before) << c.name;
        }
        EXPECT_TRUE(store.writable());
        EXPECT_FALSE(store.loadFailure());
        EXPECT_TRUE(fs::exists(r / hexName('a')));
        store.addText("after a new start", "app");
        store.flush();
        ASSERT_EQ(store.items().size(), 1u) << c.name;
        EXPECT_EQ(ClipStore(r, clock).items().size(), 1u) << "the new history loads";
    }
}

// How many of this process's mappings show the file.
int mappingsOf(const fs::path& file) {
    std::ifstream maps("/proc/self/maps");
    const std::string name = fs::canonical(file).string();
    int count = 0;
    for (std::string line; std::getline(maps, line);)
        if (line.find(name) != std::string::npos) ++count;
    return count;
}

// The index is mapped only while it is read: the mapping goes once the clips are out, off the GUI
// thread. An index past the bound is refused as it always was, without being read.
TEST_F(ClipStoreFixture, LoadLetsTheIndexGoAndRefusesOnePastTheBound) {
    fs::create_directories(root());
    const std::vector<Clip> clips = {textClip("first", 10), textClip(std::string(100'000, 'b'), 9)};
    writeFile(index(), encodeClips(clips));
    {
        ClipStore store(root(), clock);
        store.flush();
        EXPECT_EQ(store.items(), clips);
        TaskPool::shared().waitForDone();
        EXPECT_EQ(mappingsOf(index()), 0);
    }

    const fs::path large = folder.path() / "large";
    fs::create_directories(large);
    writeFile(large / ClipStore::kIndexFileName, "[]");
    fs::resize_file(large / ClipStore::kIndexFileName, (std::uintmax_t(2) << 30) + 1);  // sparse
    ClipStore store(large, clock);
    EXPECT_FALSE(store.writable());
    EXPECT_TRUE(store.message().contains("File too large")) << store.message().toStdString();
    EXPECT_EQ(fs::file_size(large / ClipStore::kIndexFileName), (std::uintmax_t(2) << 30) + 1);
}

TEST_F(ClipStoreFixture, PersistWritesTheIndexAndRemovesWhatLeft) {
    ClipStore store(root(), clock);
    const std::string shared = hexName('1'), own = hexName('2');
    writeFile(root() / shared, "png");
    writeFile(root() / own, "png");
    const Clip a = imageClip(shared, 30), b = imageClip(shared, 20), c = imageClip(own, 10);
    const Clip text = textClip("note", 5);
    for (const Clip& clip : {a, b, c}) {
        fs::create_directories(root() / "ScreenshotDocuments" / clip.id.string() / "assets");
        writeFile(root() / "ScreenshotDocuments" / clip.id.string() / "document.json", "{}");
    }
    store.persist({a, b, c, text});
    EXPECT_EQ(readFile(index()), encodeClips({a, b, c, text}));
    EXPECT_EQ(modeOf(index()), 0600u);

    int changes = 0;
    QObject::connect(&store, &ClipStore::itemsChanged, [&] { ++changes; });
    store.persist({b, text});  // a shares b's file; c's file goes
    EXPECT_EQ(changes, 1);
    store.flush();
    EXPECT_EQ(store.items(), (std::vector<Clip>{b, text}));
    EXPECT_TRUE(fs::exists(root() / shared));
    EXPECT_FALSE(fs::exists(root() / own));
    EXPECT_FALSE(fs::exists(root() / "ScreenshotDocuments" / a.id.string()));
    EXPECT_FALSE(fs::exists(root() / "ScreenshotDocuments" / c.id.string()));
    EXPECT_TRUE(fs::exists(root() / "ScreenshotDocuments" / b.id.string() / "document.json"));

    // Reopening reads back the same list.
    ClipStore reopened(root(), clock);
    EXPECT_EQ(reopened.items(), (std::vector<Clip>{b, text}));
}

TEST_F(ClipStoreFixture, FailedWriteChangesNothing) {
    ClipStore store(root(), clock);
    const std::string file = hexName('3');
    writeFile(root() / file, "png");
    const Clip image = imageClip(file);
    store.commit({image});
    store.flush();
    // A non-empty folder in the index's place makes the write fail.
    fs::remove(index());
    fs::create_directories(index() / "blocker");

    EXPECT_THROW(store.persist({}), std::exception);
    store.flush();
    EXPECT_EQ(store.items(), std::vector<Clip>{image});
    store.commit({});
    store.flush();
    EXPECT_EQ(store.message().toStdString(), "Could not update history: Is a directory (history.json)");
    store.flush();
    EXPECT_EQ(store.items(), std::vector<Clip>{image});
    EXPECT_TRUE(fs::exists(root() / file));
}

TEST_F(ClipStoreFixture, PruneDropsOldUnpinnedClips) {
    const Date now = clock.now();
    ClipStore store(root(), clock);
    const std::vector<Clip> clips = {
        textClip("fresh", now - 10), textClip("just inside", now - 3599.5), textClip("exactly one hour", now - 3600),
        textClip("old pinned", now - 1e6, true), textClip("old", now - 7200),
    };
    store.commit(clips);
    store.flush();

    store.prune(now, 0);  // never
    store.flush();
    store.prune(now, -5);
    store.flush();
    EXPECT_EQ(store.items().size(), 5u);

    store.prune(now, 3600);
    store.flush();
    EXPECT_EQ(store.items(), (std::vector<Clip>{clips[0], clips[1], clips[3]}));

    // Nothing more to drop: nothing is written.
    fs::remove(index());
    store.prune(now, 3600);
    store.flush();
    EXPECT_FALSE(fs::exists(index()));
}

TEST_F(ClipStoreFixture, PinningAndRecognisedText) {
    ClipStore store(root(), clock);
    const std::string file = hexName('4');
    writeFile(root() / file, "png");
    const Clip text = textClip("words", 20), image = imageClip(file, 10);
    store.commit({text, image});
    store.flush();

    store.togglePin(image.id);
    store.flush();
    EXPECT_TRUE(store.items()[1].pinned);
    store.togglePin(image.id);
    store.flush();
    EXPECT_FALSE(store.items()[1].pinned);

    // An unknown id rewrites the index unchanged.
    fs::remove(index());
    store.togglePin(Uuid::random());
    store.flush();
    EXPECT_EQ(readFile(index()), encodeClips({text, image}));

    store.setOCRText("recognised", text.id);  // text clips take no OCR text
    store.flush();
    EXPECT_EQ(store.items()[0].ocrText, std::nullopt);
    store.setOCRText("recognised", image.id);
    store.flush();
    EXPECT_EQ(store.items()[1].ocrText, "recognised");

    std::string longText;
    for (int i = 0; i < 100'001; ++i) longText += "e\u0301";  // one character, two code points
    store.setOCRText(longText, image.id);
    store.flush();
    EXPECT_EQ(store.items()[1].ocrText->size(), longText.size() - std::string("e\u0301").size());
    EXPECT_EQ(ClipStore(root(), clock).items()[1].ocrText, store.items()[1].ocrText);
}

}  // namespace
}  // namespace brevalto

namespace brevalto {
namespace {

using namespace cliptest;

// While the writer is busy, every change builds on the newest list: none is lost or applied twice.
// The list the views see is always one that was handed to the writer, and the index on disk then
// holds that list or a newer one, never an older one.
TEST_F(ClipStoreFixture, ChangesDuringWritesBuildOnTheNewestListAndPublishOnlyWhatIsOnDisk) {
    ClipStore store(root(), clock);
    std::vector<std::vector<Clip>> handedOver;
    auto position = [&](const std::vector<Clip>& clips) {
        return std::find(handedOver.begin(), handedOver.end(), clips) - handedOver.begin();
    };
    int published = 0;
    QObject::connect(&store, &ClipStore::itemsChanged, [&] {
        ++published;
        const auto shown = position(store.items());
        ASSERT_LT(shown, static_cast<long>(handedOver.size()));
        EXPECT_GE(position(decodeClips(readFile(index()))), shown);
    });
    for (int i = 0; i < 60; ++i) {
        clock.advance(1);
        store.addText(std::string(20'000, 'a' + i % 26) + std::to_string(i), "app");
        handedOver.push_back(store.current());
        if (i == 30) {
            store.togglePin(store.current().back().id);
            handedOver.push_back(store.current());
        }
        if (i == 40) {
            std::vector<Clip> fewer = store.current();
            fewer.erase(fewer.begin() + 1);  // deletes the copy made at i == 39
            store.commit(fewer);
            handedOver.push_back(store.current());
        }
    }
    store.prune(clock.now(), 1e9);  // drops nothing, writes nothing
    store.flush();
    ASSERT_EQ(store.items().size(), 59u);
    EXPECT_EQ(store.items(), handedOver.back());
    EXPECT_GE(published, 1);
    EXPECT_TRUE(store.items().back().pinned);
    for (int i = 0; i < 60; ++i) {
        const std::string text = std::string(20'000, 'a' + i % 26) + std::to_string(i);
        const auto count = std::count_if(store.items().begin(), store.items().end(),
                                         [&](const Clip& clip) { return clip.text == text; });
        EXPECT_EQ(count, i == 39 ? 0 : 1) << i;
    }
    ClipStore reopened(root(), clock);
    EXPECT_EQ(reopened.items(), store.items());
}

// Deleting an image clip and copying the same picture again before the writer catches up keeps
// its file; deleting it for good removes the file once the index without it is written.
TEST_F(ClipStoreFixture, AnImageDeletedAndCopiedAgainInOneBurstKeepsItsFile) {
    ClipStore store(root(), clock);
    const QByteArray png = *normalizeImageToPNG(encodedImage(picture(8, 8), "png"));
    const std::string name = hexDigest(png.toStdString()) + ".png";
    Clip clip(Clip::Kind::image, std::nullopt, name, name.substr(0, 64), png.size(), "app", clock.now());
    ASSERT_TRUE(store.insert(clip, png));
    store.commit({});
    ASSERT_TRUE(store.insert(clip, png));
    store.flush();
    ASSERT_EQ(store.items().size(), 1u);
    EXPECT_TRUE(fs::exists(root() / name));

    store.commit({});
    store.flush();
    EXPECT_FALSE(fs::exists(root() / name));
}

// A disk that fills mid-write: the previous index survives whole, the published list and its
// files stay, the failure is reported, and the store goes on writing once there is room.
TEST_F(ClipStoreFixture, AFullDiskKeepsThePreviousIndexAndTheStoreStaysUsable) {
    ClipStore store(root(), clock);
    store.addText("kept", "app");
    store.flush();
    const std::string before = readFile(index());
    const std::vector<Clip> kept = store.items();

    struct rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 4096;  // files past this size fail to grow, as on a full disk
    ::setrlimit(RLIMIT_FSIZE, &small);
    store.addText(std::string(10'000, 'x'), "app");
    store.flush();
    const QString saveMessage = store.message();
    // An image that does not fit: the reason, and its long name cut short.
    const QByteArray big(10'000, 'p');
    const std::string bigName = hexName('b');
    EXPECT_FALSE(store.insert(Clip(Clip::Kind::image, std::nullopt, bigName, bigName.substr(0, 64), big.size(),
                                   "app", clock.now()),
                              big));
    const QString imageMessage = store.message();
    store.togglePin(kept.front().id);
    store.commit(store.current());  // grows nothing, so it fits
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previousHandler);
    store.flush();

    EXPECT_EQ(saveMessage.toStdString(), "Could not save: File too large (history.json)");
    EXPECT_EQ(imageMessage.toStdString(), "Could not save: File too large (bbbbb\u2026.png)");
    EXPECT_FALSE(fs::exists(root() / bigName));
    ASSERT_EQ(store.items().size(), 1u);  // the failed copy is not applied later either
    EXPECT_TRUE(store.items().front().pinned);
    EXPECT_NE(readFile(index()), before);
    EXPECT_EQ(decodeClips(readFile(index())), store.items());

    ::setrlimit(RLIMIT_FSIZE, &small);
    std::signal(SIGXFSZ, SIG_IGN);
    store.addText(std::string(10'000, 'y'), "app");
    store.flush();
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(decodeClips(readFile(index())), store.items());  // whole, never a mix
    store.addText("after", "app");
    store.flush();
    EXPECT_EQ(store.items().size(), 2u);
    EXPECT_EQ(store.message(), QString::fromUtf8("Saved text · 2 items"));
}

}  // namespace
}  // namespace brevalto
