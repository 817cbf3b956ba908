#include "Automation/AutomationDispatcher.h"

#include "Automation/AutomationAlertPrompt.h"
#include "Automation/AutomationFailure.h"
#include "Automation/AutomationRequest.h"

namespace brevalto {

AutomationDispatcher::AutomationDispatcher(std::unique_ptr<AutomationPrompt> prompt)
    : prompt_(prompt ? std::move(prompt) : std::make_unique<AutomationAlertPrompt>()) {}

AutomationDispatcher::~AutomationDispatcher() = default;

void AutomationDispatcher::check(const AutomationRequest& request) const {
    request.validate();
    if (dispatching_) throw AutomationFailure(AutomationFailure::Kind::busy);
    if (!onRequest_) throw AutomationFailure(AutomationFailure::Kind::notReady);
}

bool AutomationDispatcher::dispatch(const AutomationRequest& request, AutomationSource source) {
    check(request);

    // The handler in force now runs this request, even if another is installed meanwhile.
    const Handler handler = onRequest_;
    dispatching_ = true;
    struct Release {
        bool& flag;
        ~Release() { flag = false; }
    } release{dispatching_};

    if (source != AutomationSource::internal && request.needsConfirmation() && !prompt_->confirm(request))
        return false;

    try {
        handler(request);
    } catch (...) {
        throw AutomationFailure(AutomationFailure::Kind::execution);
    }
    return true;
}

}  // namespace brevalto
