#pragma once

#include "Panel/PanelAlerts.h"

#include <QString>

#include <functional>
#include <vector>

namespace brevalto {

// Answers the panel's confirmations from a script and records what was asked.
class ScriptedPanelAlerts : public PanelAlerts {
public:
    struct Asked {
        QString title;
        QString destructiveTitle;
    };

    bool confirmDestructive(const QString& title, const QString& destructiveTitle) override {
        asked.push_back({title, destructiveTitle});
        if (whileAsking) whileAsking();
        return answer;
    }

    bool answer = false;
    // Runs while the alert is up (to look at the state behind it).
    std::function<void()> whileAsking;
    std::vector<Asked> asked;
};

}  // namespace brevalto
