#pragma once

#include "Automation/AutomationPrompt.h"

#include <QPointer>
#include <QString>
#include <QWidget>

namespace brevalto {

// The confirmation as a modal message box, "Cancel" (the default) and "Allow once", brought to
// the front above the given window (the panel) so that it is never hidden behind it.
class AutomationAlertPrompt final : public AutomationPrompt {
public:
    explicit AutomationAlertPrompt(QWidget* aboveWindow = nullptr);

    bool confirm(const AutomationRequest& request) override;

    static QString messageText();
    // What the request will do, line by line, and what it can never do.
    static QString informativeText(const AutomationRequest& request);

private:
    QPointer<QWidget> aboveWindow_;
};

}  // namespace brevalto
