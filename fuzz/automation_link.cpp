// A "brevalto:" link: AutomationRequest::fromUrl, as the URL scheme and a second instance hand it
// over. Properties: a refusal is AutomationFailure of kind invalid; an accepted link is at most 2048
// bytes, passes validation, has a delay of 0 to 60 seconds, at most 5 post actions, a clip id only
// for the editor, and reads the same way twice.

#include "Automation/AutomationFailure.h"
#include "Automation/AutomationRequest.h"
#include "FuzzSupport.h"

using namespace brevalto;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view url = fuzz::text(data, size);
    AutomationRequest request;
    try {
        request = AutomationRequest::fromUrl(url);
    } catch (const AutomationFailure& failure) {
        fuzz::check(failure.kind() == AutomationFailure::Kind::invalid, "a link refused as something else than invalid");
        return 0;
    } catch (const std::exception& error) {
        fuzz::unexpected(error);
    }
    fuzz::check(url.size() <= AutomationRequest::maximumUrlBytes, "a link longer than 2048 bytes was accepted");
    fuzz::check(request.delaySeconds >= 0 && request.delaySeconds <= AutomationRequest::maximumDelaySeconds,
                "a delay outside 0...60 seconds");
    fuzz::check(request.postActions.size() <= AutomationRequest::maximumPostActions, "more than 5 post actions");
    fuzz::check(!request.clipID || request.command == AutomationRequest::Command::editor,
                "a clip id on a command other than editor");
    try {
        request.validate();
        fuzz::check(AutomationRequest::fromUrl(url) == request, "a link reads differently the second time");
    } catch (const std::exception& error) {
        fuzz::unexpected(error);
    }
    return 0;
}
