#include "Upload/S3Failure.h"
#include "Upload/S3Lifecycle.h"

#include <gtest/gtest.h>

namespace brevalto {
namespace {

using Rules = std::vector<std::string>;

// Documents a bucket may return: the rules kept are exact XML text that, put back with the app's
// rule, reads back as the same rules.
TEST(S3Lifecycle, KeptRulesReadTheSameOncePutBack) {
    const struct {
        const char* name;
        std::string document;
        Rules kept;
    } cases[] = {
        {"compact", "<L><Rule><ID>x</ID></Rule><Rule><ID>brevalto-expire</ID></Rule></L>", {"<Rule><ID>x</ID></Rule>"}},
        {"indented, text before each rule", "<L>\n  <Rule><ID>x</ID></Rule>\n  <Rule><ID>y</ID></Rule>\n</L>",
         {"<Rule><ID>x</ID></Rule>", "<Rule><ID>y</ID></Rule>"}},
        {"a byte that is not UTF-8 before a rule", "<L><!-- c -->\x87<Rule><![CDATA[<x>]]></Rule><Rule a=\"1\"/></L>",
         {"<Rule><![CDATA[<x>]]></Rule>", "<Rule a=\"1\"/>"}},
        {"a prefix declared by the root", "<L xmlns:s3=\"u&amp;&quot;\"><s3:Rule><s3:ID>a</s3:ID></s3:Rule></L>",
         {"<s3:Rule xmlns:s3=\"u&amp;&quot;\"><s3:ID>a</s3:ID></s3:Rule>"}},
        {"a prefix only an attribute uses, and a rule using none",
         "<L xmlns:p=\"u\" xmlns:q=\"w\"><Rule><ID>z</ID></Rule><Rule p:a=\"1\"/></L>",
         {"<Rule><ID>z</ID></Rule>", "<Rule xmlns:p=\"u\" p:a=\"1\"/>"}},
        {"a prefix the rule declares itself", "<L xmlns:p=\"u\"><p:Rule xmlns:p=\"v\"><p:ID>a</p:ID></p:Rule></L>",
         {"<p:Rule xmlns:p=\"v\"><p:ID>a</p:ID></p:Rule>"}},
    };
    for (const auto& c : cases) {
        const Rules kept = foreignLifecycleRules(c.document);
        EXPECT_EQ(kept, c.kept) << c.name;
        EXPECT_EQ(foreignLifecycleRules(lifecycleDocument(kept, "shots/", 7)), kept) << c.name;
    }
    EXPECT_THROW(foreignLifecycleRules("<L><Rule>"), S3Failure);
}

}  // namespace
}  // namespace brevalto
