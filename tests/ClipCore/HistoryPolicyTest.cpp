#include "ClipCore/HistoryPolicy.h"

#include <gtest/gtest.h>

using namespace brevalto;

namespace {

Clip makeClip(std::string digest, Date createdAt, std::int64_t bytes = 1, Clip::Kind kind = Clip::Kind::text) {
    return Clip(kind, kind == Clip::Kind::text ? std::optional<std::string>(digest) : std::nullopt,
                kind == Clip::Kind::image ? std::optional<std::string>(digest + ".png") : std::nullopt, digest, bytes,
                "app", createdAt);
}

// A history of `n` clips "c0".."c(n-1)", newest first.
std::vector<Clip> history(int n, std::int64_t bytes = 1) {
    std::vector<Clip> list;
    for (int i = 0; i < n; ++i) list.push_back(makeClip("c" + std::to_string(i), 1000.0 - i, bytes));
    return list;
}

std::vector<std::string> digests(const std::vector<Clip>& list) {
    std::vector<std::string> out;
    for (const Clip& c : list) out.push_back(c.digest);
    return out;
}

}  // namespace

TEST(HistoryPolicyTest, ShouldCapture) {
    struct Case {
        const char* name;
        std::set<std::string> types;
        std::string source;
        std::set<std::string> ignored;
        bool expected;
    };
    const Case cases[] = {
        {"ordinary types", {"public.utf8-plain-text"}, "org.app", {}, true},
        {"no types at all", {}, "org.app", {}, true},
        {"transient whatever the source", {"public.utf8-plain-text", "org.nspasteboard.TransientType"}, "org.app", {}, false},
        {"concealed", {"org.nspasteboard.ConcealedType"}, "x", {}, false},
        {"password manager", {"net.antelle.keeweb"}, "x", {}, false},
        {"ignored source", {"public.utf8-plain-text"}, "KeePassXC", {"KeePassXC", "1Password"}, false},
        {"source compared exactly", {"public.utf8-plain-text"}, "keepassxc", {"KeePassXC"}, true},
        {"generator type exact", {"Pasteboard generator type"}, "x", {}, false},
        {"generator type without blanks", {"Pasteboardgeneratortype"}, "x", {}, true},
        {"generator type in other case", {"pasteboard generator type"}, "x", {}, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HistoryPolicy::shouldCapture(c.types, c.source, c.ignored), c.expected) << c.name;
    }
}

TEST(HistoryPolicyTest, RecopyMovesEarlierItemToTop) {
    std::vector<Clip> list = history(3);
    list[2].pinned = true;
    list[2].ocrText = "ocr";
    Clip again = makeClip("c2", 2000.0);
    again.source = "other.app";
    auto result = HistoryPolicy::inserting(again, list);
    ASSERT_TRUE(result);
    ASSERT_EQ(result->size(), 3u);
    const Clip& top = result->front();
    EXPECT_EQ(top.id, list[2].id);
    EXPECT_TRUE(top.pinned);
    EXPECT_EQ(top.ocrText, "ocr");
    EXPECT_EQ(top.createdAt, 2000.0);
    EXPECT_EQ(top.source, "other.app");
    EXPECT_EQ(digests(*result), (std::vector<std::string>{"c2", "c0", "c1"}));
}

TEST(HistoryPolicyTest, DuplicateMerging) {
    struct Case {
        const char* name;
        std::optional<double> oldScale;
        std::optional<double> newScale;
        Date oldDate;
        Date newDate;
        std::optional<double> scale;
        Date date;
    };
    const Case cases[] = {
        {"new scale wins", 1.0, 2.0, 10, 20, 2.0, 20},
        {"no new scale keeps the old", 2.0, std::nullopt, 10, 20, 2.0, 20},
        {"neither has a scale", std::nullopt, std::nullopt, 10, 20, std::nullopt, 20},
        {"later earlier copy keeps its date", std::nullopt, std::nullopt, 30, 20, std::nullopt, 30},
    };
    for (const Case& c : cases) {
        Clip old = makeClip("img", c.oldDate, 5, Clip::Kind::image);
        old.imageScale = c.oldScale;
        Clip fresh = makeClip("img", c.newDate, 5, Clip::Kind::image);
        fresh.imageScale = c.newScale;
        fresh.imageFile = "other.png";
        auto result = HistoryPolicy::inserting(fresh, {makeClip("a", 25), old});
        ASSERT_TRUE(result) << c.name;
        auto it = std::find_if(result->begin(), result->end(), [](const Clip& x) { return x.digest == "img"; });
        ASSERT_NE(it, result->end()) << c.name;
        EXPECT_EQ(it->imageScale, c.scale) << c.name;
        EXPECT_EQ(it->createdAt, c.date) << c.name;
        EXPECT_EQ(it->id, old.id) << c.name;
        EXPECT_EQ(it->imageFile, "img.png") << c.name;
        EXPECT_EQ(result->size(), 2u) << c.name;
    }
    // The later duplicate keeps its place by date: behind the newer "a".
    auto later = HistoryPolicy::inserting(makeClip("img", 20, 5, Clip::Kind::image),
                                          {makeClip("a", 25), makeClip("img", 30, 5, Clip::Kind::image)});
    EXPECT_EQ(digests(*later), (std::vector<std::string>{"img", "a"}));
    auto older = HistoryPolicy::inserting(makeClip("img", 20, 5, Clip::Kind::image),
                                          {makeClip("a", 25), makeClip("img", 10, 5, Clip::Kind::image)});
    EXPECT_EQ(digests(*older), (std::vector<std::string>{"a", "img"}));
}

TEST(HistoryPolicyTest, TextAndImageWithSameDigestBothStay) {
    auto result = HistoryPolicy::inserting(makeClip("same", 20, 1, Clip::Kind::image), {makeClip("same", 10)});
    ASSERT_TRUE(result);
    EXPECT_EQ(result->size(), 2u);
}

TEST(HistoryPolicyTest, DropsEveryCopyAndSameIdAndKeepsStableOrder) {
    std::vector<Clip> list = {makeClip("x", 50), makeClip("y", 50), makeClip("x", 40), makeClip("z", 50)};
    Clip fresh = makeClip("x", 50);
    auto result = HistoryPolicy::inserting(fresh, list);
    ASSERT_TRUE(result);
    // The entry is the first copy (id kept), ahead of items of the same instant.
    EXPECT_EQ(digests(*result), (std::vector<std::string>{"x", "y", "z"}));
    EXPECT_EQ(result->front().id, list[0].id);

    Clip sameId = makeClip("new", 60);
    sameId.id = list[1].id;
    auto replaced = HistoryPolicy::inserting(sameId, list);
    EXPECT_EQ(digests(*replaced), (std::vector<std::string>{"new", "x", "z", "x"}));
}

TEST(HistoryPolicyTest, Limits) {
    struct Case {
        const char* name;
        std::vector<Clip> list;
        Clip fresh;
        std::int64_t maxItems;
        std::int64_t maxBytes;
        std::optional<std::vector<std::string>> expected;
    };
    std::vector<Clip> full = history(200);
    std::vector<std::string> fullAfter = {"new"};
    for (int i = 0; i < 199; ++i) fullAfter.push_back("c" + std::to_string(i));

    std::vector<Clip> pinnedFull = history(200);
    for (Clip& c : pinnedFull) c.pinned = true;

    std::vector<Clip> oldestPinned = history(4);
    oldestPinned[3].pinned = true;

    const Case cases[] = {
        {"200 items: oldest unpinned goes", full, makeClip("new", 5000), 200, HistoryPolicy::maximumBytes, fullAfter},
        {"200 pinned items: nothing", pinnedFull, makeClip("new", 5000), 200, HistoryPolicy::maximumBytes, std::nullopt},
        {"oversized clip: nothing", history(3), makeClip("big", 5000, 101), 200, 100, std::nullopt},
        {"pinned oldest is skipped", oldestPinned, makeClip("new", 5000), 4, 1000,
         std::vector<std::string>{"new", "c0", "c1", "c3"}},
        {"bytes evict until within limit", history(4, 30), makeClip("new", 5000, 50), 200, 100,
         std::vector<std::string>{"new", "c0"}},
        {"exactly at the limits", history(3, 25), makeClip("new", 5000, 25), 4, 100,
         std::vector<std::string>{"new", "c0", "c1", "c2"}},
        {"a new clip older than all can evict nothing but others", history(2), makeClip("old", 1), 2, 100,
         std::vector<std::string>{"c0", "old"}},
    };
    for (const Case& c : cases) {
        auto result = HistoryPolicy::inserting(c.fresh, c.list, c.maxItems, c.maxBytes);
        if (!c.expected) {
            EXPECT_FALSE(result) << c.name;
        } else {
            ASSERT_TRUE(result) << c.name;
            EXPECT_EQ(digests(*result), *c.expected) << c.name;
        }
    }
}

TEST(HistoryPolicyTest, LargeHistoryAndExtremeByteCounts) {
    // Sums that would overflow 64 bits still compare correctly.
    std::vector<Clip> list = {makeClip("a", 10, INT64_MAX), makeClip("b", 9, INT64_MAX)};
    auto result = HistoryPolicy::inserting(makeClip("n", 20, INT64_MAX), list, 200, INT64_MAX);
    ASSERT_TRUE(result);
    EXPECT_EQ(digests(*result), (std::vector<std::string>{"n"}));

    // A history read from disk far beyond the limits is cut down in one insertion.
    auto trimmed = HistoryPolicy::inserting(makeClip("n", 1e9), history(20'000));
    ASSERT_TRUE(trimmed);
    EXPECT_EQ(trimmed->size(), 200u);
    EXPECT_EQ(trimmed->back().digest, "c198");
}
