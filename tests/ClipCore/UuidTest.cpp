#include "ClipCore/Uuid.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace brevalto {
namespace {

TEST(Uuid, ParsesOnlyTheCanonicalFormInAnyCase) {
    struct Case {
        const char* text;
        bool ok;
    };
    const Case cases[] = {
        {"E621E1F8-C36C-495A-93FC-0C247A3E6E5F", true},
        {"e621e1f8-c36c-495a-93fc-0c247a3e6e5f", true},
        {"e621E1F8-c36c-495A-93fc-0C247A3E6E5F", true},
        {"{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}", false},
        {"urn:uuid:E621E1F8-C36C-495A-93FC-0C247A3E6E5F", false},
        {"E621E1F8C36C495A93FC0C247A3E6E5F", false},
        {"E621E1F8-C36C-495A-93FC-0C247A3E6E5", false},
        {"E621E1F8-C36C-495A-93FC-0C247A3E6E5FF", false},
        {"E621E1F8-C36C-495A-93FC+0C247A3E6E5F", false},
        {"G621E1F8-C36C-495A-93FC-0C247A3E6E5F", false},
        {"E621E1F8--36C-495A-93FC-0C247A3E6E5F", false},
        {" E621E1F8-C36C-495A-93FC-0C247A3E6E5", false},
        {"", false},
    };
    for (const auto& c : cases) {
        const auto parsed = Uuid::parse(c.text);
        EXPECT_EQ(parsed.has_value(), c.ok) << c.text;
        if (parsed) {
            EXPECT_EQ(parsed->string(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
        }
    }
}

TEST(Uuid, RandomIdsAreVersionFourUpperCaseAndDistinct) {
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        const auto id = Uuid::random();
        const auto text = id.string();
        ASSERT_EQ(text.size(), 36u);
        EXPECT_EQ(text[14], '4');
        EXPECT_NE(std::string("89AB").find(text[19]), std::string::npos);
        for (char c : text) EXPECT_FALSE(c >= 'a' && c <= 'z') << text;
        EXPECT_EQ(Uuid::parse(text), id);
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 200u);
}

}  // namespace
}  // namespace brevalto
