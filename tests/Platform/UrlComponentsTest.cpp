#include "Platform/UrlComponents.h"

#include <gtest/gtest.h>

namespace brevalto {
namespace {

using Items = std::vector<UrlQueryItem>;

TEST(UrlComponents, SplitsAnAbsoluteUrlIntoItsParts) {
    const auto url = UrlComponents::parse("Brevalto://me:pw@host:8080/a/b?x=1#frag");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->scheme, "Brevalto");
    EXPECT_EQ(url->user, "me");
    EXPECT_EQ(url->password, "pw");
    EXPECT_EQ(url->encodedHost, "host");
    EXPECT_EQ(url->port, "8080");
    EXPECT_EQ(url->encodedPath, "/a/b");
    EXPECT_EQ(url->encodedQuery, "x=1");
    EXPECT_EQ(url->encodedFragment, "frag");

    const auto bare = UrlComponents::parse("brevalto:capture");
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->encodedHost, std::nullopt);
    EXPECT_EQ(bare->encodedPath, "capture");

    // Empty but present parts stay present.
    const auto empty = UrlComponents::parse("brevalto://@:?#");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->user, "");
    EXPECT_EQ(empty->encodedHost, "");
    EXPECT_EQ(empty->port, "");
    EXPECT_EQ(empty->encodedQuery, "");
    EXPECT_EQ(empty->encodedFragment, "");
}

TEST(UrlComponents, TextWritesThePartsBack) {
    for (const char* text : {"Brevalto://me:pw@host:8080/a/b?x=1#frag", "brevalto:capture", "brevalto://@:?#",
                             "https://h/a%20b?q=%2F&r#", "https://h"}) {
        const auto url = UrlComponents::parse(text);
        ASSERT_TRUE(url) << text;
        EXPECT_EQ(url->text(), text);
    }
    // User info changed after parsing is escaped again, so the text still parses to the same parts.
    auto url = *UrlComponents::parse("https://h/p");
    url.user = "a b@c";
    url.password = "p:w/";
    const auto reparsed = UrlComponents::parse(url.text());
    ASSERT_TRUE(reparsed);
    EXPECT_EQ(reparsed->user, "a b@c");
    EXPECT_EQ(reparsed->password, "p:w/");
    EXPECT_EQ(reparsed->encodedHost, "h");
}

TEST(UrlComponents, RefusesWhatAUrlCannotHold) {
    const char* cases[] = {
        "", ":x", "1abc://x", "no-scheme", "a b://x", "brevalto://x y", "brevalto://x?a=%", "brevalto://x?a=%4",
        "brevalto://x?a=%4g", "brevalto://x#a#b", "brevalto://[::1]", "brevalto://x:8a", "brevalto://a@b@x",
        "brevalto://x?a=\x7f", "brevalto://x?a=\xC3\xA9", "brevalto://x?a=<b>", "brevalto://x\\y", "brevalto://x/%zz",
    };
    for (const char* text : cases) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(UrlComponents::parse(text));
    }
}

TEST(UrlComponents, QueryItemsAreSplitAndDecodedStrictly) {
    const auto item = [](std::string name, std::optional<std::string> value) {
        return UrlQueryItem{std::move(name), std::move(value)};
    };
    struct Case {
        const char* url;
        Items items;
    };
    const Case cases[] = {
        {"brevalto://x", {}},
        {"brevalto://x?", {}},
        {"brevalto://x?a=1", {item("a", "1")}},
        {"brevalto://x?a", {item("a", std::nullopt)}},
        {"brevalto://x?a=", {item("a", "")}},
        {"brevalto://x?a=1&&b=2", {item("a", "1"), item("", std::nullopt), item("b", "2")}},
        {"brevalto://x?a=1&", {item("a", "1"), item("", std::nullopt)}},
        {"brevalto://x?&", {item("", std::nullopt), item("", std::nullopt)}},
        {"brevalto://x?=v", {item("", "v")}},
        {"brevalto://x?a=b=c", {item("a", "b=c")}},
        {"brevalto://x?a+b=c+d", {item("a+b", "c+d")}},
        {"brevalto://x?%61%3D=%26%2c%41", {item("a=", "&,A")}},
        {"brevalto://x?a=%00", {item("a", std::string(1, '\0'))}},
        {"brevalto://x?a=1/2?3#f", {item("a", "1/2?3")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        const auto url = UrlComponents::parse(c.url);
        ASSERT_TRUE(url);
        EXPECT_EQ(url->queryItems(), c.items);
    }
}

}  // namespace
}  // namespace brevalto
