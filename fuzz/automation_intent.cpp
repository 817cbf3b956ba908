// The two automation intents as a D-Bus caller sends them: BrevaltoCaptureIntent::fromWords and
// BrevaltoOpenIntent::fromWord, then the request each builds. The input is 8 bytes of delay, a
// byte whose low bit asks to append, then NUL-separated words: the mode, the open destination and
// the post actions. Properties: a refusal is AutomationFailure of kind invalid; a built request
// passes the check every source passes, with a delay of 0 to 60 seconds and at most 5 post actions.

#include "Automation/AutomationFailure.h"
#include "Automation/BrevaltoIntents.h"
#include "FuzzSupport.h"

#include <cstring>
#include <functional>

using namespace brevalto;

namespace {

void checkRequest(const std::function<AutomationRequest()>& build) {
    try {
        const AutomationRequest request = build();
        request.validate();
        fuzz::check(request.delaySeconds >= 0 && request.delaySeconds <= AutomationRequest::maximumDelaySeconds,
                    "a delay outside 0...60 seconds");
        fuzz::check(request.postActions.size() <= AutomationRequest::maximumPostActions, "more than 5 post actions");
    } catch (const AutomationFailure& failure) {
        fuzz::check(failure.kind() == AutomationFailure::Kind::invalid, "an intent refused as something else than invalid");
    } catch (const std::exception& error) {
        fuzz::unexpected(error);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 9) return 0;
    std::int64_t delay = 0;
    std::memcpy(&delay, data, sizeof delay);
    const bool append = data[8] & 1;
    const QStringList words = QString::fromUtf8(reinterpret_cast<const char*>(data + 9), static_cast<qsizetype>(size - 9))
                                  .split(QChar(0));
    const QString mode = words.value(0);
    const QString destination = words.value(1);
    const QStringList actions = words.mid(2);
    checkRequest([&] { return BrevaltoCaptureIntent::fromWords(mode, delay, actions, append).request(); });
    checkRequest([&] { return BrevaltoOpenIntent::fromWord(destination).request(); });
    return 0;
}
