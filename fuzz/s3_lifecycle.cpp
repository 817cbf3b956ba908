// A bucket's lifecycle document as S3 returns it: foreignLifecycleRules, before the app puts the
// document back with its own expiry rule. Properties: a refusal is S3Failure of kind response; the
// document built from the kept rules parses again and keeps exactly those rules, the app's own
// rule left out again.

#include "FuzzSupport.h"
#include "Upload/S3Failure.h"
#include "Upload/S3Lifecycle.h"

using namespace brevalto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> kept;
    try {
        kept = foreignLifecycleRules(fuzz::text(data, size));
    } catch (const S3Failure& failure) {
        fuzz::check(failure.kind() == S3Failure::Kind::response, "a document refused as something else than a response");
        return 0;
    } catch (const std::exception& error) {
        fuzz::unexpected(error);
    }
    try {
        const std::string rebuilt = lifecycleDocument(kept, "brevalto/<&>/", 7);
        fuzz::check(foreignLifecycleRules(rebuilt) == kept, "the rules kept do not survive being put back");
    } catch (const std::exception& error) {
        fuzz::unexpected(error);
    }
    return 0;
}
