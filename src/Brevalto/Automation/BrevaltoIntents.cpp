#include "Automation/BrevaltoIntents.h"

#include "Automation/AutomationDispatcher.h"
#include "Automation/AutomationFailure.h"

namespace brevalto {

namespace {

[[noreturn]] void refuse() { throw AutomationFailure(AutomationFailure::Kind::invalid); }

using Destination = BrevaltoOpenDestination;

struct DestinationRow {
    Destination value;
    std::string_view raw;
    const char* title;
};

constexpr std::array<DestinationRow, 5> kDestinations{{
    {Destination::clipboard, "clipboard", "Import clipboard"},
    {Destination::history, "history", "Open clipboard history"},
    {Destination::filePicker, "file", "Image file picker"},
    {Destination::settings, "settings", "Settings"},
    {Destination::editor, "editor", "Current editor"},
}};

// In case order, so that a case indexes its own title.
constexpr std::array<const char*, 8> kModeTitles{
    "Region", "Choose window", "Active window", "Display", "Repeat area", "Delayed region", "Scrolling", "OCR region",
};
constexpr std::array<const char*, 5> kPostActionTitles{
    "Copy image", "Save image", "Editor", "Pin reference", "Thumbnail",
};

std::string utf8(const QString& text) { return text.toStdString(); }

}  // namespace

std::string_view rawValue(BrevaltoOpenDestination destination) {
    return kDestinations[static_cast<std::size_t>(destination)].raw;
}

std::optional<BrevaltoOpenDestination> brevaltoOpenDestinationFromRaw(std::string_view raw) {
    for (const auto& row : kDestinations)
        if (row.raw == raw) return row.value;
    return std::nullopt;
}

QString IntentValueTitles::title(AutomationCaptureMode mode) {
    return QString::fromUtf8(kModeTitles[static_cast<std::size_t>(mode)]);
}
QString IntentValueTitles::title(AutomationPostAction action) {
    return QString::fromUtf8(kPostActionTitles[static_cast<std::size_t>(action)]);
}
QString IntentValueTitles::title(BrevaltoOpenDestination destination) {
    return QString::fromUtf8(kDestinations[static_cast<std::size_t>(destination)].title);
}

BrevaltoCaptureIntent BrevaltoCaptureIntent::fromWords(const QString& mode, std::int64_t delaySeconds,
                                                       const QStringList& postActions, bool append) {
    // A caller may send any number of words: the bound comes before any of them is looked at.
    if (static_cast<std::size_t>(postActions.size()) > AutomationRequest::maximumPostActions) refuse();
    BrevaltoCaptureIntent intent;
    const auto parsedMode = automationCaptureModeFromRaw(utf8(mode));
    if (!parsedMode) refuse();
    intent.mode = *parsedMode;
    intent.delaySeconds = delaySeconds;
    intent.postActions.clear();
    for (const QString& word : postActions) {
        const auto action = automationPostActionFromRaw(utf8(word));
        if (!action) refuse();
        intent.postActions.push_back(*action);
    }
    intent.append = append;
    return intent;
}

AutomationRequest BrevaltoCaptureIntent::request() const {
    AutomationRequest request;
    request.command = append ? AutomationRequest::Command::append : AutomationRequest::Command::capture;
    request.mode = mode;
    request.delaySeconds = mode == AutomationCaptureMode::delay && delaySeconds == 0 ? 3 : delaySeconds;
    request.postActions = postActions;
    request.validate();
    return request;
}

QString BrevaltoCaptureIntent::perform(AutomationDispatcher& dispatcher) const {
    return dispatcher.dispatch(request(), AutomationSource::appIntent)
               ? QStringLiteral("Request sent to Brevalto. Check the app for capture status.")
               : QStringLiteral("Cancelled. No capture was requested.");
}

BrevaltoOpenIntent BrevaltoOpenIntent::fromWord(const QString& destination) {
    const auto parsed = brevaltoOpenDestinationFromRaw(utf8(destination));
    if (!parsed) refuse();
    return BrevaltoOpenIntent{*parsed};
}

AutomationRequest BrevaltoOpenIntent::request() const {
    const auto command = automationCommandFromRaw(rawValue(destination));
    if (!command) refuse();
    AutomationRequest request;
    request.command = *command;
    request.validate();
    return request;
}

QString BrevaltoOpenIntent::perform(AutomationDispatcher& dispatcher) const {
    return dispatcher.dispatch(request(), AutomationSource::appIntent) ? QStringLiteral("Request sent to Brevalto.")
                                                                        : QStringLiteral("Cancelled. Clipboard was not read.");
}

std::array<BrevaltoShortcut, 2> brevaltoShortcuts() {
    return {{
        {BrevaltoCaptureIntent::title(), QStringLiteral("Capture with Brevalto"), QStringLiteral("Capture screenshot"),
         QStringLiteral("camera")},
        {BrevaltoOpenIntent::title(), QStringLiteral("Open Brevalto editor"), QStringLiteral("Open editor"),
         QStringLiteral("photo")},
    }};
}

}  // namespace brevalto
