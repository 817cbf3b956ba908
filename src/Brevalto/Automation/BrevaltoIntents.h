#pragma once

#include "Automation/AutomationPostAction.h"
#include "Automation/AutomationRequest.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace brevalto {

class AutomationDispatcher;

// The places the open intent can go; the raw values are the matching command words.
enum class BrevaltoOpenDestination {
    clipboard,
    history,
    filePicker,  // "file"
    settings,
    editor,
};

inline constexpr std::array<BrevaltoOpenDestination, 5> kAllBrevaltoOpenDestinations{
    BrevaltoOpenDestination::clipboard, BrevaltoOpenDestination::history, BrevaltoOpenDestination::filePicker,
    BrevaltoOpenDestination::settings,  BrevaltoOpenDestination::editor,
};

std::string_view rawValue(BrevaltoOpenDestination destination);
std::optional<BrevaltoOpenDestination> brevaltoOpenDestinationFromRaw(std::string_view raw);

// What a person choosing an intent's parameters reads: a title for each value type and each case.
struct IntentValueTitles {
    static QString captureModeType() { return QStringLiteral("Capture mode"); }
    static QString postActionType() { return QStringLiteral("After capture/import"); }
    static QString openDestinationType() { return QStringLiteral("Open destination"); }
    static QString title(AutomationCaptureMode mode);
    static QString title(AutomationPostAction action);
    static QString title(BrevaltoOpenDestination destination);
};

// "Capture with Brevalto": a capture (or, with `append`, a capture added to the open editor)
// with the chosen options. It only builds a request and hands it to the dispatcher as an intent,
// so it passes the same checks and confirmation as a "brevalto:" link.
struct BrevaltoCaptureIntent {
    static QString title() { return QStringLiteral("Capture with Brevalto"); }
    static QString modeTitle() { return QStringLiteral("Mode"); }
    static QString delayTitle() { return QStringLiteral("Delay seconds (0...60)"); }
    static QString postActionsTitle() { return QStringLiteral("After capture"); }
    static QString appendTitle() { return QStringLiteral("Append to current editor"); }

    AutomationCaptureMode mode = AutomationCaptureMode::region;
    std::int64_t delaySeconds = 0;  // no bound here: the request's check refuses what is out of range
    std::vector<AutomationPostAction> postActions{AutomationPostAction::edit};
    bool append = false;

    // From the raw words a caller sends ("activeWindow", ["copy", "pin"]). An unknown word, or
    // more than five actions (refused before any is read), throws AutomationFailure(invalid).
    static BrevaltoCaptureIntent fromWords(const QString& mode, std::int64_t delaySeconds,
                                           const QStringList& postActions, bool append);

    // The validated request; throws AutomationFailure(invalid). A delayed region without a
    // delay waits 3 s.
    AutomationRequest request() const;
    // Dispatches the request and returns the dialog; throws the dispatcher's AutomationFailure.
    QString perform(AutomationDispatcher& dispatcher) const;
};

// "Open Brevalto": opens one place of the app. Only the clipboard import asks for confirmation.
struct BrevaltoOpenIntent {
    static QString title() { return QStringLiteral("Open Brevalto"); }
    static QString destinationTitle() { return QStringLiteral("Destination"); }

    BrevaltoOpenDestination destination = BrevaltoOpenDestination::editor;

    // From a raw word ("history"); anything else throws AutomationFailure(invalid).
    static BrevaltoOpenIntent fromWord(const QString& destination);

    AutomationRequest request() const;
    QString perform(AutomationDispatcher& dispatcher) const;
};

// The ready-made shortcuts for the two intents, each with its defaults: the phrase that runs it,
// a short title and the symbol it shows.
struct BrevaltoShortcut {
    QString intentTitle;
    QString phrase;
    QString shortTitle;
    QString systemImage;
};

std::array<BrevaltoShortcut, 2> brevaltoShortcuts();

}  // namespace brevalto
