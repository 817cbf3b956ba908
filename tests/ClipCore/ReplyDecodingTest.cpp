#include "ClipCore/ClaudeResponse.h"
#include "ClipCore/DecodingError.h"
#include "ClipCore/RegionTranslations.h"

#include <gtest/gtest.h>

using namespace brevalto;

TEST(ClaudeResponseTest, Text) {
    struct Case {
        const char* name;
        const char* body;
        const char* text;
    };
    const Case cases[] = {
        {"one text block", R"({"id":"m","content":[{"type":"text","text":"Hallo"}],"stop_reason":"end_turn"})", "Hallo"},
        {"text blocks around another block",
         R"({"content":[{"type":"text","text":"a"},{"type":"tool_use","id":"t","input":{}},{"type":"text","text":" b\n"}]})",
         "a\n b\n"},
        {"empty content", R"({"content":[]})", ""},
        {"text block without text", R"({"content":[{"type":"text"},{"type":"text","text":null},{"type":"text","text":"x"}]})", "x"},
        {"type compared exactly", R"({"content":[{"type":"Text","text":"no"},{"type":"text","text":"yes"}]})", "yes"},
        {"empty texts still join", R"({"content":[{"type":"text","text":""},{"type":"text","text":""}]})", "\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(ClaudeResponse::decode(c.body).text(), c.text) << c.name;
}

TEST(ClaudeResponseTest, StopReasonAndFailures) {
    EXPECT_EQ(ClaudeResponse::decode(R"({"content":[],"stop_reason":"max_tokens"})").stop_reason, "max_tokens");
    EXPECT_FALSE(ClaudeResponse::decode(R"({"content":[]})").stop_reason);
    EXPECT_FALSE(ClaudeResponse::decode(R"({"content":[],"stop_reason":null})").stop_reason);

    const char* bad[] = {
        R"({})",
        R"({"content":null})",
        R"({"content":{}})",
        R"({"content":[{"text":"no type"}]})",
        R"({"content":[{"type":7}]})",
        R"({"content":[{"type":"text","text":7}]})",
        R"({"content":[5]})",
        R"({"content":[],"stop_reason":1})",
        R"([])",
        "not json",
        "",
    };
    for (const char* body : bad) EXPECT_THROW(ClaudeResponse::decode(body), DecodingError) << body;
}

TEST(ClaudeResponseTest, NestingIsBounded) {
    auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    auto reply = [&](int depth) {
        return R"({"content":[{"type":"tool_use","input":)" + nested(depth) + R"(},{"type":"text","text":"ok"}]})";
    };
    EXPECT_EQ(ClaudeResponse::decode(reply(500)).text(), "ok");
    EXPECT_THROW(ClaudeResponse::decode(reply(600)), DecodingError);
    EXPECT_THROW(ClaudeResponse::decode(nested(100'000)), DecodingError);
}

TEST(RegionTranslationsTest, Accepted) {
    using Map = std::map<std::int64_t, std::string>;
    struct Case {
        const char* name;
        std::string reply;
        std::set<std::int64_t> expected;
        Map result;
    };
    const std::string object = R"({"regions":[{"id":1,"text":"Hello"},{"id":2,"text":" World "}]})";
    const Case cases[] = {
        {"bare object", object, {1, 2}, {{1, "Hello"}, {2, " World "}}},
        {"fenced with a language tag and blank lines", "\n \n```json\n" + object + "\n```\n\n", {1, 2},
         {{1, "Hello"}, {2, " World "}}},
        {"fenced without a tag, CR LF lines", "```\r\n" + object + "\r\n```", {1, 2}, {{1, "Hello"}, {2, " World "}}},
        {"empty set", R"({"regions":[]})", {}, {}},
        {"extra members ignored", R"({"note":1,"regions":[{"id":7,"text":"x","score":0.5}]})", {7}, {{7, "x"}}},
        {"unicode white space around the reply", "\u3000\u00A0" + object + "\u2029", {1, 2},
         {{1, "Hello"}, {2, " World "}}},
        {"negative and large ids", R"({"regions":[{"id":-3,"text":"a"},{"id":9007199254740993,"text":"b"}]})",
         {-3, 9007199254740993}, {{-3, "a"}, {9007199254740993, "b"}}},
    };
    for (const Case& c : cases) EXPECT_EQ(RegionTranslations::decode(c.reply, c.expected), c.result) << c.name;
}

TEST(RegionTranslationsTest, Refused) {
    enum class Error { region, decoding };
    struct Case {
        const char* name;
        std::string reply;
        std::set<std::int64_t> expected;
        Error error;
    };
    const Case cases[] = {
        {"missing region", R"({"regions":[{"id":1,"text":"a"},{"id":2,"text":"b"}]})", {1, 2, 3}, Error::region},
        {"extra region", R"({"regions":[{"id":1,"text":"a"},{"id":4,"text":"b"}]})", {1}, Error::region},
        {"duplicate id with the right set",
         R"({"regions":[{"id":1,"text":"a"},{"id":2,"text":"b"},{"id":2,"text":"c"},{"id":3,"text":"d"}]})",
         {1, 2, 3}, Error::region},
        {"blank text", R"({"regions":[{"id":1,"text":" \n\t\u3000"}]})", {1}, Error::region},
        {"empty text", R"({"regions":[{"id":1,"text":""}]})", {1}, Error::region},
        {"sentence before the object", "Here you go: " + std::string(R"({"regions":[]})"), {}, Error::decoding},
        {"missing regions", R"({"rows":[]})", {}, Error::decoding},
        {"row without text", R"({"regions":[{"id":1}]})", {1}, Error::decoding},
        {"id not an integer", R"({"regions":[{"id":1.5,"text":"a"}]})", {1}, Error::decoding},
        {"id as string", R"({"regions":[{"id":"1","text":"a"}]})", {1}, Error::decoding},
        {"fence on one line", "```{\"regions\":[]}```", {}, Error::decoding},
        {"only a fence", "```", {}, Error::decoding},
        {"fence with nothing inside", "```json\n```", {}, Error::decoding},
        {"opening fence line carries the object", "```{\"regions\":[]}\n```", {}, Error::decoding},
        {"not JSON", "{", {}, Error::decoding},
    };
    for (const Case& c : cases) {
        try {
            RegionTranslations::decode(c.reply, c.expected);
            ADD_FAILURE() << c.name << ": accepted";
        } catch (const RegionTranslationsError& e) {
            EXPECT_EQ(c.error, Error::region) << c.name;
            EXPECT_STREQ(e.what(),
                         "The translation has missing or duplicate text regions. Try again; the original image was not changed.");
        } catch (const DecodingError&) {
            EXPECT_EQ(c.error, Error::decoding) << c.name;
        }
    }
}
