#include "Automation/AutomationRequest.h"

#include "Automation/AutomationFailure.h"
#include "Platform/UrlComponents.h"

#include <algorithm>
#include <map>
#include <string>

namespace brevalto {

namespace {

template <typename Enum>
struct Word {
    Enum value;
    std::string_view raw;
};

// Each table lists its cases in declaration order, so a case indexes its own row.
template <typename Enum, std::size_t N>
constexpr bool rowsInDeclarationOrder(const std::array<Word<Enum>, N>& rows) {
    for (std::size_t i = 0; i < N; ++i)
        if (static_cast<std::size_t>(rows[i].value) != i) return false;
    return true;
}

template <typename Enum, std::size_t N>
std::optional<Enum> fromRaw(const std::array<Word<Enum>, N>& rows, std::string_view raw) {
    for (const auto& row : rows)
        if (row.raw == raw) return row.value;
    return std::nullopt;
}

using Command = AutomationRequest::Command;
using Mode = AutomationCaptureMode;
using PostAction = AutomationPostAction;

constexpr std::array<Word<Command>, 8> kCommands{{
    {Command::capture, "capture"},
    {Command::ocr, "ocr"},
    {Command::append, "append"},
    {Command::clipboard, "clipboard"},
    {Command::history, "history"},
    {Command::filePicker, "file"},
    {Command::settings, "settings"},
    {Command::editor, "editor"},
}};
static_assert(rowsInDeclarationOrder(kCommands));

constexpr std::array<Word<Mode>, 8> kModes{{
    {Mode::region, "region"},
    {Mode::window, "window"},
    {Mode::activeWindow, "activeWindow"},
    {Mode::screen, "screen"},
    {Mode::repeat, "repeat"},
    {Mode::delay, "delay"},
    {Mode::scrolling, "scrolling"},
    {Mode::ocr, "ocr"},
}};
static_assert(rowsInDeclarationOrder(kModes));

constexpr std::array<Word<PostAction>, 5> kPostActions{{
    {PostAction::copy, "copy"},
    {PostAction::save, "save"},
    {PostAction::edit, "edit"},
    {PostAction::pin, "pin"},
    {PostAction::thumbnail, "thumbnail"},
}};
static_assert(rowsInDeclarationOrder(kPostActions));

constexpr std::array<std::string_view, 3> kCaptureKeys{"mode", "delay", "after"};
constexpr std::array<std::string_view, 2> kOcrKeys{"delay", "after"};
constexpr std::array<std::string_view, 1> kAfterKeys{"after"};
constexpr std::array<std::string_view, 1> kEditorKeys{"id"};

[[noreturn]] void refuse() { throw AutomationFailure(AutomationFailure::Kind::invalid); }

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// ASCII digits only (no sign, no space), no overflow, at most 60. Leading zeros are fine.
std::int64_t parseDelay(std::string_view text) {
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') refuse();
        const int digit = c - '0';
        if (value > (INT64_MAX - digit) / 10) refuse();
        value = value * 10 + digit;
    }
    if (value > AutomationRequest::maximumDelaySeconds) refuse();
    return value;
}

// Split at every comma, keeping empty pieces, each an exact action word; no trimming.
std::vector<PostAction> parsePostActions(std::string_view text) {
    std::vector<PostAction> actions;
    while (true) {
        const std::size_t comma = text.find(',');
        const auto action = automationPostActionFromRaw(text.substr(0, comma));
        if (!action) refuse();
        actions.push_back(*action);
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    return actions;
}

}  // namespace

std::string_view rawValue(AutomationRequest::Command command) {
    return kCommands[static_cast<std::size_t>(command)].raw;
}
std::optional<AutomationRequest::Command> automationCommandFromRaw(std::string_view raw) {
    return fromRaw(kCommands, raw);
}
std::string_view rawValue(AutomationCaptureMode mode) { return kModes[static_cast<std::size_t>(mode)].raw; }
std::optional<AutomationCaptureMode> automationCaptureModeFromRaw(std::string_view raw) {
    return fromRaw(kModes, raw);
}
std::string_view rawValue(AutomationPostAction action) {
    return kPostActions[static_cast<std::size_t>(action)].raw;
}
std::optional<AutomationPostAction> automationPostActionFromRaw(std::string_view raw) {
    return fromRaw(kPostActions, raw);
}

std::span<const std::string_view> AutomationRequest::allowedQueryKeys(Command command) {
    switch (command) {
    case Command::capture:
    case Command::append:
        return kCaptureKeys;
    case Command::ocr:
        return kOcrKeys;
    case Command::clipboard:
    case Command::filePicker:
        return kAfterKeys;
    case Command::editor:
        return kEditorKeys;
    case Command::history:
    case Command::settings:
        break;
    }
    return {};
}

AutomationRequest AutomationRequest::fromUrl(std::string_view text) {
    // Checked first, before anything else of the text is examined.
    if (text.size() > maximumUrlBytes) refuse();

    // Absolute URLs only: there is no base to resolve a relative one against.
    const auto url = UrlComponents::parse(text);
    if (!url) refuse();

    if (lowerAscii(url->scheme) != "brevalto") refuse();

    // The host is the command word exactly as written: no escapes, no other letter case.
    if (!url->encodedHost || url->encodedHost->find('%') != std::string::npos) refuse();
    const auto command = automationCommandFromRaw(*url->encodedHost);
    if (!command) refuse();

    if (url->user || url->password || url->port || url->encodedFragment) refuse();
    if (!url->encodedPath.empty() && url->encodedPath != "/") refuse();

    const auto allowed = allowedQueryKeys(*command);
    std::map<std::string, std::string, std::less<>> values;
    for (auto& item : url->queryItems()) {
        if (std::find(allowed.begin(), allowed.end(), item.name) == allowed.end()) refuse();
        if (values.contains(item.name)) refuse();
        if (!item.value || item.value->empty()) refuse();
        values.emplace(std::move(item.name), std::move(*item.value));
    }
    const auto value = [&values](std::string_view key) -> const std::string* {
        const auto found = values.find(key);
        return found == values.end() ? nullptr : &found->second;
    };

    AutomationRequest request;
    request.command = *command;

    if (const auto* mode = value("mode")) {
        const auto parsed = automationCaptureModeFromRaw(*mode);
        if (!parsed) refuse();
        request.mode = *parsed;
    } else {
        request.mode = *command == Command::ocr ? Mode::ocr : Mode::region;
    }

    if (const auto* delay = value("delay"))
        request.delaySeconds = parseDelay(*delay);
    else
        request.delaySeconds = request.mode == Mode::delay ? 3 : 0;

    if (const auto* after = value("after")) request.postActions = parsePostActions(*after);

    if (const auto* id = value("id")) {
        request.clipID = Uuid::parse(*id);
        if (!request.clipID) refuse();
    }

    request.validate();
    return request;
}

void AutomationRequest::validate() const {
    if (delaySeconds < 0 || delaySeconds > maximumDelaySeconds) refuse();
    if (postActions.size() > maximumPostActions) refuse();
    for (std::size_t i = 0; i < postActions.size(); ++i)
        if (std::find(postActions.begin() + static_cast<std::ptrdiff_t>(i) + 1, postActions.end(), postActions[i]) !=
            postActions.end())
            refuse();
    if (command != Command::editor && clipID) refuse();

    switch (command) {
    case Command::capture:
    case Command::append:
        if (mode == Mode::delay && delaySeconds < 1) refuse();
        break;
    case Command::ocr:
        if (mode != Mode::ocr) refuse();
        break;
    case Command::clipboard:
    case Command::filePicker:
        if (mode != Mode::region || delaySeconds != 0) refuse();
        break;
    case Command::history:
    case Command::settings:
    case Command::editor:
        if (mode != Mode::region || delaySeconds != 0 || !postActions.empty()) refuse();
        break;
    }
}

bool AutomationRequest::needsConfirmation() const {
    switch (command) {
    case Command::capture:
    case Command::ocr:
    case Command::append:
    case Command::clipboard:
        return true;
    default:
        break;
    }
    return std::find(postActions.begin(), postActions.end(), PostAction::copy) != postActions.end() ||
           std::find(postActions.begin(), postActions.end(), PostAction::save) != postActions.end();
}

}  // namespace brevalto
