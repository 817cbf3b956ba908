#pragma once

#include "Automation/AutomationPrompt.h"

#include <functional>
#include <memory>

namespace brevalto {

struct AutomationRequest;

// Where a request came from. Only requests from inside the app skip the confirmation.
enum class AutomationSource {
    internal,   // menus, hot keys, the panel, the workflow itself
    url,        // a "brevalto:" link
    appIntent,  // an automation intent over D-Bus
};

// The one gate every automation request passes: it validates the request, runs one request at a
// time, asks the user about requests from outside the app that capture the screen, read the
// clipboard or copy or save images, and hands the request to the handler the app installed.
// Callers learn only an AutomationFailure, never the handler's own error.
//
// The app creates one dispatcher at start-up and passes it to whoever dispatches (the URL
// receiver, the intents, the hot keys, the panel, the workflow); it is not reachable otherwise.
// GUI thread only: the prompt runs a nested event loop on it, during which a second request may
// arrive and is refused as busy.
class AutomationDispatcher {
public:
    using Handler = std::function<void(const AutomationRequest&)>;

    // Without a prompt, asks with an AutomationAlertPrompt above no particular window.
    explicit AutomationDispatcher(std::unique_ptr<AutomationPrompt> prompt = nullptr);
    ~AutomationDispatcher();

    AutomationDispatcher(const AutomationDispatcher&) = delete;
    AutomationDispatcher& operator=(const AutomationDispatcher&) = delete;

    // The handler that runs accepted requests; may throw. Until one is set every valid request
    // fails with notReady.
    void setOnRequest(Handler handler) { onRequest_ = std::move(handler); }
    bool hasHandler() const { return static_cast<bool>(onRequest_); }

    // True while a request is being confirmed or handled.
    bool dispatching() const { return dispatching_; }

    // Throws what dispatch would throw before asking or handling: invalid, busy or notReady.
    void check(const AutomationRequest& request) const;

    // True when the handler ran without error, false when the user declined. Throws
    // AutomationFailure: invalid (checked first), busy, notReady, or execution when the handler
    // threw anything.
    bool dispatch(const AutomationRequest& request, AutomationSource source);

private:
    std::unique_ptr<AutomationPrompt> prompt_;
    Handler onRequest_;
    bool dispatching_ = false;
};

}  // namespace brevalto
