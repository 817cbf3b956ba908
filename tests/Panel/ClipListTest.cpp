#include "Panel/ClipList.h"

#include "QtWait.h"

#include <gtest/gtest.h>

#include <vector>

namespace brevalto {
namespace {

Clip text(const std::string& body, double createdAt, bool pinned = false, const std::string& source = "org.gnome.gedit") {
    Clip clip(Clip::Kind::text, body, std::nullopt, "d" + body, std::int64_t(body.size()), source, createdAt);
    clip.pinned = pinned;
    return clip;
}

Clip image(double createdAt, std::optional<std::string> ocr = std::nullopt, bool pinned = false) {
    Clip clip(Clip::Kind::image, std::nullopt, std::string(64, 'a') + ".png", "img", 10, "org.gimp.GIMP", createdAt);
    clip.ocrText = std::move(ocr);
    clip.pinned = pinned;
    return clip;
}

std::vector<std::string> bodies(const std::vector<Clip>& clips) {
    std::vector<std::string> out;
    for (const Clip& c : clips) out.push_back(c.text ? c.text->str() : c.ocrText ? "img:" + c.ocrText->str() : "img");
    return out;
}

TEST(ClipListTest, FilterAndQueryTable) {
    const std::vector<Clip> items = {
        text("Café au lait", 10),
        text("plain words", 20, true),
        image(30),
        image(40, "An IMAGE caption"),
        text("ends with abc", 50),
        text("from the terminal", 60, false, "org.kde.konsole"),
        text("Straße", 70),
        text("\u05E9\u05DC\u05D5\u05DD \U0001F600 e\u0301te\u0301", 80),
    };
    struct Case {
        const char* filter;
        const char* query;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"All", "", {"plain words", "\u05E9\u05DC\u05D5\u05DD \U0001F600 e\u0301te\u0301", "Straße", "from the terminal",
                     "ends with abc", "img:An IMAGE caption", "img", "Café au lait"}},
        {"Pinned", "", {"plain words"}},
        {"Text", "", {"plain words", "\u05E9\u05DC\u05D5\u05DD \U0001F600 e\u0301te\u0301", "Straße", "from the terminal",
                      "ends with abc", "Café au lait"}},
        {"Images", "", {"img:An IMAGE caption", "img"}},
        {"Images", "image", {"img:An IMAGE caption", "img"}},
        {"All", "IMA", {"img:An IMAGE caption", "img"}},
        {"All", "cafe", {"Café au lait"}},
        {"All", "CAFÉ AU", {"Café au lait"}},
        {"All", "strasse", {"Straße"}},
        {"All", "konsole", {"from the terminal"}},
        {"All", "org.gimp", {"img:An IMAGE caption", "img"}},
        {"All", "abc ", {}},
        {"All", "abc", {"ends with abc"}},
        {"All", "\u05E9\u05DC\u05D5\u05DD", {"\u05E9\u05DC\u05D5\u05DD \U0001F600 e\u0301te\u0301"}},
        {"All", "\U0001F600", {"\u05E9\u05DC\u05D5\u05DD \U0001F600 e\u0301te\u0301"}},
        {"All", "ETE", {"\u05E9\u05DC\u05D5\u05DD \U0001F600 e\u0301te\u0301"}},
        {"All", "\u00E9t\u00E9", {"\u05E9\u05DC\u05D5\u05DD \U0001F600 e\u0301te\u0301"}},
        {"Text", "caption", {}},
        {"Favourites", "", {}},
        {"all", "", {}},
    };
    ClipSearch search;
    for (const Case& c : cases) {
        EXPECT_EQ(bodies(search.visibleClips(items, QString::fromUtf8(c.filter), QString::fromUtf8(c.query))),
                  c.expected)
            << c.filter << " / " << c.query;
    }
}

TEST(ClipListTest, OrderIsPinnedFirstThenNewestAndStableForTies) {
    const std::vector<Clip> items = {
        text("old pinned", 1, true), text("tie a", 5), text("new", 9), text("tie b", 5), text("newer pinned", 3, true),
    };
    ClipSearch search;
    EXPECT_EQ(bodies(search.visibleClips(items, "All", "")),
              (std::vector<std::string>{"newer pinned", "old pinned", "new", "tie a", "tie b"}));
}

TEST(ClipListTest, SearchFollowsRecognisedTextAddedLater) {
    std::vector<Clip> items = {image(1)};
    ClipSearch search;
    EXPECT_TRUE(search.visibleClips(items, "All", "invoice").empty());
    items[0].ocrText = "Invoice 42";
    EXPECT_EQ(search.visibleClips(items, "All", "invoice").size(), 1u);
}

TEST(ClipListTest, LargeTextsAreSearchedInTheBackground) {
    const std::vector<Clip> items = {text(std::string(300000, 'a') + "Needle", 1), text("small needle", 2),
                                     text(std::string(300000, 'b'), 3)};
    int decided = 0;
    ClipSearch search([&] { ++decided; });
    // The small text answers at once; the large ones once their search is done.
    EXPECT_EQ(bodies(search.visibleClips(items, "All", "needle")), std::vector<std::string>{"small needle"});
    EXPECT_TRUE(search.searching());
    ASSERT_TRUE(waitUntil([&] { return !search.searching(); }));
    EXPECT_GE(decided, 1);
    const auto found = search.visibleClips(items, "All", "needle");
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[1].id, items[0].id);

    // A new query drops the old one's answers and work.
    EXPECT_EQ(search.visibleClips(items, "All", "bbb").size(), 0u);
    EXPECT_EQ(search.visibleClips(items, "All", "needle").size(), 1u);
    ASSERT_TRUE(waitUntil([&] { return !search.searching(); }));
    EXPECT_EQ(search.visibleClips(items, "All", "needle").size(), 2u);
}

TEST(ClipListTest, SearchOfAnySizeOrScriptNeverFails) {
    const std::vector<Clip> items = {text(std::string(3000, 'a') + "needle", 1), text("\xFF\xFE broken", 2)};
    ClipSearch search;
    EXPECT_EQ(search.visibleClips(items, "All", "NEEDLE").size(), 1u);
    EXPECT_TRUE(search.visibleClips(items, "All", QString(100000, QChar(u'\u0301'))).empty());
    EXPECT_EQ(search.visibleClips(items, "All", "broken").size(), 1u);
    EXPECT_TRUE(search.visibleClips(items, "All", QString(200000, 'b')).empty());
}

TEST(ClipListTest, CurrentClipFallsBackToFirstVisible) {
    const std::vector<Clip> visible = {text("a", 3), text("b", 2)};
    EXPECT_EQ(currentClip(visible, std::nullopt)->id, visible[0].id);
    EXPECT_EQ(currentClip(visible, visible[1].id)->id, visible[1].id);
    EXPECT_EQ(currentClip(visible, Uuid::random())->id, visible[0].id);
    EXPECT_FALSE(currentClip({}, visible[0].id));
}

TEST(ClipListTest, CardActionCountAtWidths) {
    struct Case {
        int n;
        double width;
        int expected;
    };
    const Case cases[] = {
        {10, 131, 4}, {6, 131, 4},   {6, 154, 6},  {6, 153, 4},  {10, 258, 10}, {10, 257, 8}, {10, 24, 0},
        {10, 23, 0},  {10, 0, 0},    {6, 50, 1},   {6, 49, 0},   {1, 24, 1},    {1, 23, 0},   {2, 50, 2},
        {2, 49, 0},   {10, 76, 2},   {10, 75, 1},
    };
    for (const Case& c : cases) EXPECT_EQ(cardActionCount(c.n, c.width), c.expected) << c.n << " @ " << c.width;
}

TEST(ClipListTest, ActionListsByKind) {
    using A = ItemAction;
    EXPECT_EQ(itemActions(Clip::Kind::image),
              (std::vector<A>{A::copy, A::edit, A::ocr, A::upload, A::paste, A::float_, A::ai, A::pin, A::preview,
                              A::delete_}));
    EXPECT_EQ(itemActions(Clip::Kind::text), (std::vector<A>{A::copy, A::paste, A::ai, A::pin, A::preview, A::delete_}));
}

}  // namespace
}  // namespace brevalto
