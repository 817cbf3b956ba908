#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brevalto {

// The ID of the one expiry rule the app keeps in a bucket's lifecycle; every other rule belongs
// to someone else and is carried over unchanged.
inline constexpr std::string_view s3ExpiryRuleID = "brevalto-expire";

// The rules of a lifecycle document that are not the app's: every child element of the root
// named "Rule" (any namespace) without an "ID" child reading "brevalto-expire", as its exact XML
// text, in order; a rule that the root's namespace prefixes reach gets their declarations on its
// start tag, so it reads the same in the document it is put back into. Throws S3Failure::response for a document that does not parse, has no root
// element, or carries a DOCTYPE or an entity reference (nothing is ever expanded or loaded).
std::vector<std::string> foreignLifecycleRules(std::string_view document);

// The lifecycle document to PUT: the kept rules followed, when `days` is above 0, by the app's
// expiry rule for `rulePrefix`; no whitespace anywhere.
std::string lifecycleDocument(const std::vector<std::string>& keptRules, const std::string& rulePrefix, int days);

}  // namespace brevalto
