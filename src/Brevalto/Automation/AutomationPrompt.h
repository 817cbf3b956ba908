#pragma once

namespace brevalto {

struct AutomationRequest;

// Asks the user whether a request from outside the app may run. The dispatcher calls it only
// through this interface, so tests can answer it; the app uses the message box of
// AutomationAlertPrompt.
class AutomationPrompt {
public:
    virtual ~AutomationPrompt() = default;
    // True only when the user allowed the request; closing the prompt in any other way declines.
    // May run a nested event loop.
    virtual bool confirm(const AutomationRequest& request) = 0;
};

}  // namespace brevalto
