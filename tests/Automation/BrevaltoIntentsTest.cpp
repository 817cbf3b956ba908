#include "Automation/AutomationDispatcher.h"
#include "Automation/AutomationFailure.h"
#include "Automation/BrevaltoIntents.h"
#include "Automation/IntentCommandLine.h"
#include "Platform/Symbols.h"

#include <gtest/gtest.h>

#include <QFile>

#include <optional>
#include <variant>

namespace brevalto {
namespace {

using Command = AutomationRequest::Command;
using Mode = AutomationCaptureMode;
using Action = AutomationPostAction;

class ScriptedPrompt final : public AutomationPrompt {
public:
    bool answer = true;
    int asked = 0;
    bool confirm(const AutomationRequest&) override { return ++asked, answer; }
};

// Runs an intent through a dispatcher whose prompt answers `allow`: the dialog (none when it
// was refused as invalid), whether the user was asked, and what reached the handler.
struct Outcome {
    std::optional<QString> dialog;
    int asked = 0;
    std::vector<AutomationRequest> handled;
};
template <typename Perform>
Outcome perform(bool allow, const Perform& intent) {
    auto prompt = std::make_unique<ScriptedPrompt>();
    prompt->answer = allow;
    ScriptedPrompt& asked = *prompt;
    AutomationDispatcher dispatcher(std::move(prompt));
    Outcome run;
    dispatcher.setOnRequest([&run](const AutomationRequest& request) { run.handled.push_back(request); });
    try {
        run.dialog = intent(dispatcher);
    } catch (const AutomationFailure& failure) {
        EXPECT_EQ(failure.kind(), AutomationFailure::Kind::invalid);
    }
    run.asked = asked.asked;
    return run;
}

AutomationRequest request(Command command, Mode mode, std::int64_t delay, std::vector<Action> actions) {
    return {command, mode, delay, std::move(actions), std::nullopt};
}

TEST(BrevaltoIntents, CaptureFromWordsBuildsTheRequestOrRefusesIt) {
    struct Case {
        const char* mode;
        std::int64_t delay;
        QStringList after;
        bool append;
        std::optional<AutomationRequest> request;  // none: refused as invalid, nothing dispatched
    };
    const Case cases[] = {
        {"region", 0, {"edit"}, false, request(Command::capture, Mode::region, 0, {Action::edit})},
        {"delay", 0, {"edit"}, false, request(Command::capture, Mode::delay, 3, {Action::edit})},
        {"delay", 5, {}, false, request(Command::capture, Mode::delay, 5, {})},
        {"screen", 60, {"copy", "save", "edit", "pin", "thumbnail"}, false,
         request(Command::capture, Mode::screen, 60, {Action::copy, Action::save, Action::edit, Action::pin, Action::thumbnail})},
        {"activeWindow", 2, {"pin"}, true, request(Command::append, Mode::activeWindow, 2, {Action::pin})},
        {"ocr", 0, {"copy"}, false, request(Command::capture, Mode::ocr, 0, {Action::copy})},
        {"region", 61, {"edit"}, false, std::nullopt},
        {"region", -1, {"edit"}, false, std::nullopt},
        {"region", 0, {"copy", "copy"}, false, std::nullopt},
        {"region", 0, {"copy", "save", "edit", "pin", "thumbnail", "copy"}, false, std::nullopt},
        {"region", 0, {"upload"}, false, std::nullopt},
        {"region", 0, {"Copy"}, false, std::nullopt},
        {"Region", 0, {"edit"}, false, std::nullopt},
        {"repeatRegion", 0, {"edit"}, false, std::nullopt},
    };
    for (const auto& c : cases) {
        for (const bool allow : {true, false}) {
            SCOPED_TRACE(std::string(c.mode) + " " + std::to_string(c.delay) + " " + c.after.join(',').toStdString() +
                         (allow ? " allowed" : " declined"));
            const Outcome run = perform(allow, [&](AutomationDispatcher& dispatcher) {
                return BrevaltoCaptureIntent::fromWords(c.mode, c.delay, c.after, c.append).perform(dispatcher);
            });
            EXPECT_EQ(run.dialog.has_value(), c.request.has_value());
            EXPECT_EQ(run.asked, c.request ? 1 : 0);  // every capture is confirmed
            if (!c.request) continue;
            EXPECT_EQ(*run.dialog, allow ? "Request sent to Brevalto. Check the app for capture status."
                                         : "Cancelled. No capture was requested.");
            EXPECT_EQ(run.handled, allow ? std::vector{*c.request} : std::vector<AutomationRequest>{});
        }
    }
    EXPECT_EQ(BrevaltoCaptureIntent{}.request(), request(Command::capture, Mode::region, 0, {Action::edit}));
}

TEST(BrevaltoIntents, OpenGoesToEachDestinationAndOnlyTheClipboardAsks) {
    const std::pair<const char*, std::optional<Command>> cases[] = {
        {"clipboard", Command::clipboard}, {"history", Command::history}, {"file", Command::filePicker},
        {"settings", Command::settings},   {"editor", Command::editor},   {"files", std::nullopt},
        {"History", std::nullopt},         {"filePicker", std::nullopt},
    };
    for (const auto& [destination, command] : cases) {
        for (const bool allow : {true, false}) {
            SCOPED_TRACE(std::string(destination) + (allow ? " allowed" : " declined"));
            const Outcome run = perform(allow, [&](AutomationDispatcher& dispatcher) {
                return BrevaltoOpenIntent::fromWord(destination).perform(dispatcher);
            });
            ASSERT_EQ(run.dialog.has_value(), command.has_value());
            if (!command) continue;
            const bool asks = *command == Command::clipboard, ran = allow || !asks;
            EXPECT_EQ(run.asked, asks ? 1 : 0);
            EXPECT_EQ(*run.dialog, ran ? "Request sent to Brevalto." : "Cancelled. Clipboard was not read.");
            EXPECT_EQ(run.handled, ran ? std::vector{request(*command, Mode::region, 0, {})} : std::vector<AutomationRequest>{});
        }
    }
    EXPECT_EQ(BrevaltoOpenIntent{}.destination, BrevaltoOpenDestination::editor);
}

// The command line reads options into the words it sends (the app checks the words), or refuses.
TEST(IntentCommandLine, ParsesOptionsIntoCallsOrUsage) {
    using P = IntentCommandLine;
    const auto capture = [](QString mode, int delay, QStringList after, bool append) {
        return P::Parsed(P::CaptureCall{std::move(mode), delay, std::move(after), append});
    };
    const std::pair<QStringList, P::Parsed> cases[] = {
        {{"capture"}, capture("region", 0, {"edit"}, false)},
        {{"capture", "--mode", "screen", "--delay", "5", "--after", "copy,pin", "--append"},
         capture("screen", 5, {"copy", "pin"}, true)},
        {{"capture", "--mode=Region", "--delay=-1", "--after=copy,,save"}, capture("Region", -1, {"copy", "", "save"}, false)},
        {{"capture", "--after", ""}, capture("region", 0, {}, false)},
        {{"capture", "--delay", "99999999999"}, capture("region", 0x7fffffff, {"edit"}, false)},
        {{"open"}, P::OpenCall{"editor"}},
        {{"open", "--destination", "files"}, P::OpenCall{"files"}},
        {{"--help"}, P::Help{}},
        {{"capture", "--help"}, P::Help{}},
    };
    for (const auto& [arguments, want] : cases) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const auto got = P::parse(arguments);
        ASSERT_EQ(got.index(), want.index());
        if (const auto* w = std::get_if<P::CaptureCall>(&want)) {
            const auto& g = std::get<P::CaptureCall>(got);
            EXPECT_EQ(std::tie(g.mode, g.delaySeconds, g.postActions, g.append),
                      std::tie(w->mode, w->delaySeconds, w->postActions, w->append));
        }
        if (const auto* w = std::get_if<P::OpenCall>(&want)) {
            EXPECT_EQ(std::get<P::OpenCall>(got).destination, w->destination);
        }
    }
    const QStringList usage[] = {{},
                                 {"shoot"},
                                 {"capture", "--delay", "5s"},
                                 {"capture", "--delay"},
                                 {"capture", "--mode", "screen", "--mode", "window"},
                                 {"capture", "--destination", "history"},
                                 {"capture", "--append=yes"},
                                 {"capture", "extra"},
                                 {"open", "--mode", "screen"}};
    for (const auto& arguments : usage)
        EXPECT_TRUE(std::holds_alternative<P::Usage>(P::parse(arguments))) << arguments.join(' ').toStdString();
}

// The help is where a user reads the intents: every title, default and value, and each shortcut
// is a desktop action of the entry with an icon drawn like its symbol.
TEST(IntentCommandLine, HelpAndDesktopEntryShowEveryTitle) {
    const QString help = IntentCommandLine::helpText();
    QStringList wanted{BrevaltoCaptureIntent::title(), BrevaltoCaptureIntent::modeTitle(),
                       BrevaltoCaptureIntent::delayTitle(), BrevaltoCaptureIntent::postActionsTitle(),
                       BrevaltoCaptureIntent::appendTitle(), BrevaltoOpenIntent::title(),
                       BrevaltoOpenIntent::destinationTitle(), IntentValueTitles::captureModeType(),
                       IntentValueTitles::postActionType(), IntentValueTitles::openDestinationType(),
                       "(default: region)", "(default: 0;", "(default: edit)", "(default: off)", "(default: editor)"};
    for (const auto mode : kAllAutomationCaptureModes) wanted << IntentValueTitles::title(mode);
    for (const auto action : kAllAutomationPostActions) wanted << IntentValueTitles::title(action);
    for (const auto destination : kAllBrevaltoOpenDestinations) wanted << IntentValueTitles::title(destination);
    for (const auto& shortcut : brevaltoShortcuts()) wanted << shortcut.phrase << shortcut.shortTitle;
    for (const QString& text : wanted) EXPECT_TRUE(help.contains(text)) << text.toStdString();

    QFile file(BREVALTO_SOURCE_DIR "/packaging/brevalto.desktop");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString entry = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(entry.contains("\nActions=capture;open-editor;\n"));
    const char* commands[] = {"capture", "open"};
    const char* actions[] = {"capture", "open-editor"};
    for (int i = 0; i < 2; ++i) {
        const BrevaltoShortcut shortcut = brevaltoShortcuts()[std::size_t(i)];
        EXPECT_TRUE(entry.contains(QStringLiteral("[Desktop Action %1]\nName=%2\nIcon=brevalto-%3\nExec=brevalto intent %4\n")
                                       .arg(actions[i], shortcut.shortTitle, shortcut.systemImage, commands[i])));
        EXPECT_TRUE(Symbols::has(shortcut.systemImage));
        EXPECT_TRUE(QFile::exists(BREVALTO_SOURCE_DIR "/packaging/brevalto-" + shortcut.systemImage + ".svg"));
    }
}

}  // namespace
}  // namespace brevalto
