#include "Automation/AutomationDispatcher.h"
#include "Automation/AutomationFailure.h"
#include "Automation/BrevaltoIntents.h"
#include "Automation/IntentCommandLine.h"
#include "Platform/Symbols.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QMap>

#include <optional>
#include <variant>

namespace brevalto {
namespace {

using Command = AutomationRequest::Command;
using Mode = AutomationCaptureMode;
using Action = AutomationPostAction;
using Kind = AutomationFailure::Kind;

class ScriptedPrompt final : public AutomationPrompt {
public:
    bool answer = true;
    int asked = 0;
    bool confirm(const AutomationRequest&) override {
        ++asked;
        return answer;
    }
};

// A dispatcher with a scripted prompt and a handler that records what reached it.
struct Harness {
    Harness() {
        auto owned = std::make_unique<ScriptedPrompt>();
        prompt = owned.get();
        dispatcher = std::make_unique<AutomationDispatcher>(std::move(owned));
        dispatcher->setOnRequest([this](const AutomationRequest& request) { handled.push_back(request); });
    }
    ScriptedPrompt* prompt;
    std::unique_ptr<AutomationDispatcher> dispatcher;
    std::vector<AutomationRequest> handled;
};

std::optional<Kind> failureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const AutomationFailure& failure) {
        return failure.kind();
    }
    return std::nullopt;
}

AutomationRequest expected(Command command, Mode mode, std::int64_t delay, std::vector<Action> actions) {
    AutomationRequest request;
    request.command = command;
    request.mode = mode;
    request.delaySeconds = delay;
    request.postActions = std::move(actions);
    return request;
}

// The capture intent from the words a caller sends, through the dispatcher, for each answer of
// the prompt: what reaches the handler, whether the user was asked, and the dialog.
TEST(BrevaltoIntents, CaptureFromWordsBuildsTheRequestOrRefusesIt) {
    struct Case {
        const char* mode;
        std::int64_t delay;
        QStringList after;
        bool append;
        std::optional<AutomationRequest> request;  // none: refused as invalid, nothing dispatched
    };
    const QStringList six{"copy", "save", "edit", "pin", "thumbnail", "copy"};
    const Case cases[] = {
        {"region", 0, {"edit"}, false, expected(Command::capture, Mode::region, 0, {Action::edit})},
        {"delay", 0, {"edit"}, false, expected(Command::capture, Mode::delay, 3, {Action::edit})},
        {"delay", 5, {}, false, expected(Command::capture, Mode::delay, 5, {})},
        {"screen", 60, {"copy", "save", "edit", "pin", "thumbnail"}, false,
         expected(Command::capture, Mode::screen, 60, {Action::copy, Action::save, Action::edit, Action::pin,
                                                        Action::thumbnail})},
        {"activeWindow", 2, {"pin"}, true, expected(Command::append, Mode::activeWindow, 2, {Action::pin})},
        {"ocr", 0, {"copy"}, false, expected(Command::capture, Mode::ocr, 0, {Action::copy})},
        {"repeat", 0, {}, true, expected(Command::append, Mode::repeat, 0, {})},
        {"region", 61, {"edit"}, false, std::nullopt},
        {"region", -1, {"edit"}, false, std::nullopt},
        {"region", 0, {"copy", "copy"}, false, std::nullopt},
        {"region", 0, six, false, std::nullopt},
        {"region", 0, {"upload"}, false, std::nullopt},
        {"region", 0, {"Copy"}, false, std::nullopt},
        {"region", 0, {""}, false, std::nullopt},
        {"Region", 0, {"edit"}, false, std::nullopt},
        {"repeatRegion", 0, {"edit"}, false, std::nullopt},
        {"", 0, {"edit"}, false, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.mode) + " " + std::to_string(c.delay) + " " + c.after.join(',').toStdString());
        for (const bool allow : {true, false}) {
            Harness h;
            h.prompt->answer = allow;
            std::optional<QString> dialog;
            const auto failure = failureOf([&] {
                dialog = BrevaltoCaptureIntent::fromWords(QString::fromUtf8(c.mode), c.delay, c.after, c.append)
                             .perform(*h.dispatcher);
            });
            if (!c.request) {
                EXPECT_EQ(failure, Kind::invalid);
                EXPECT_EQ(h.prompt->asked, 0);
                EXPECT_TRUE(h.handled.empty());
                continue;
            }
            ASSERT_FALSE(failure);
            EXPECT_EQ(h.prompt->asked, 1);  // every capture is confirmed
            if (allow) {
                EXPECT_EQ(*dialog, "Request sent to Brevalto. Check the app for capture status.");
                ASSERT_EQ(h.handled.size(), 1u);
                EXPECT_EQ(h.handled[0], *c.request);
            } else {
                EXPECT_EQ(*dialog, "Cancelled. No capture was requested.");
                EXPECT_TRUE(h.handled.empty());
            }
        }
    }
}

TEST(BrevaltoIntents, DefaultsAreACaptureOfARegionIntoTheEditor) {
    EXPECT_EQ(BrevaltoCaptureIntent{}.request(), expected(Command::capture, Mode::region, 0, {Action::edit}));
    EXPECT_TRUE(BrevaltoCaptureIntent{}.request().needsConfirmation());
    EXPECT_EQ(BrevaltoOpenIntent{}.request(), expected(Command::editor, Mode::region, 0, {}));
}

TEST(BrevaltoIntents, OpenGoesToEachDestinationAndOnlyTheClipboardAsks) {
    struct Case {
        const char* destination;
        std::optional<Command> command;
        bool asks;
    };
    const Case cases[] = {
        {"clipboard", Command::clipboard, true}, {"history", Command::history, false},
        {"file", Command::filePicker, false},    {"settings", Command::settings, false},
        {"editor", Command::editor, false},      {"files", std::nullopt, false},
        {"History", std::nullopt, false},        {"filePicker", std::nullopt, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.destination);
        for (const bool allow : {true, false}) {
            Harness h;
            h.prompt->answer = allow;
            std::optional<QString> dialog;
            const auto failure = failureOf(
                [&] { dialog = BrevaltoOpenIntent::fromWord(QString::fromUtf8(c.destination)).perform(*h.dispatcher); });
            if (!c.command) {
                EXPECT_EQ(failure, Kind::invalid);
                EXPECT_TRUE(h.handled.empty());
                continue;
            }
            ASSERT_FALSE(failure);
            EXPECT_EQ(h.prompt->asked, c.asks ? 1 : 0);
            const bool ran = allow || !c.asks;
            EXPECT_EQ(*dialog, ran ? "Request sent to Brevalto." : "Cancelled. Clipboard was not read.");
            ASSERT_EQ(h.handled.size(), ran ? 1u : 0u);
            if (ran) {
                EXPECT_EQ(h.handled[0], expected(*c.command, Mode::region, 0, {}));
            }
        }
    }
}

TEST(BrevaltoIntents, DispatcherFailuresReachTheCallerUnchanged) {
    AutomationDispatcher unready(std::make_unique<ScriptedPrompt>());
    EXPECT_EQ(failureOf([&] { BrevaltoOpenIntent{BrevaltoOpenDestination::history}.perform(unready); }),
              Kind::notReady);
    // An invalid request is refused before the missing handler is noticed.
    EXPECT_EQ(failureOf([&] { BrevaltoCaptureIntent::fromWords("region", 99, {}, false).perform(unready); }),
              Kind::invalid);

    Harness h;
    h.dispatcher->setOnRequest([](const AutomationRequest&) { throw std::runtime_error("private detail"); });
    EXPECT_EQ(failureOf([&] { BrevaltoCaptureIntent{}.perform(*h.dispatcher); }), Kind::execution);
}

// The command line reads options into the words it sends; the app checks the words.
TEST(IntentCommandLine, ParsesOptionsIntoCallsOrUsage) {
    using P = IntentCommandLine;
    struct Case {
        QStringList arguments;
        P::Parsed parsed;
    };
    const auto capture = [](QString mode, int delay, QStringList after, bool append) {
        return P::Parsed(P::CaptureCall{std::move(mode), delay, std::move(after), append});
    };
    const Case cases[] = {
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
        {{}, P::Usage{}},
        {{"shoot"}, P::Usage{}},
        {{"capture", "--delay", "5s"}, P::Usage{}},
        {{"capture", "--delay"}, P::Usage{}},
        {{"capture", "--mode", "screen", "--mode", "window"}, P::Usage{}},
        {{"capture", "--destination", "history"}, P::Usage{}},
        {{"capture", "--append=yes"}, P::Usage{}},
        {{"capture", "extra"}, P::Usage{}},
        {{"open", "--mode", "screen"}, P::Usage{}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const auto parsed = P::parse(c.arguments);
        ASSERT_EQ(parsed.index(), c.parsed.index());
        if (const auto* want = std::get_if<P::CaptureCall>(&c.parsed)) {
            const auto& got = std::get<P::CaptureCall>(parsed);
            EXPECT_EQ(got.mode, want->mode);
            EXPECT_EQ(got.delaySeconds, want->delaySeconds);
            EXPECT_EQ(got.postActions, want->postActions);
            EXPECT_EQ(got.append, want->append);
        }
        if (const auto* want = std::get_if<P::OpenCall>(&c.parsed)) {
            EXPECT_EQ(std::get<P::OpenCall>(parsed).destination, want->destination);
        }
    }
}

// The help is where a user reads the intents: every title, default and value is there.
TEST(IntentCommandLine, HelpListsEveryTitleAndValue) {
    const QString help = IntentCommandLine::helpText();
    QStringList wanted{BrevaltoCaptureIntent::title(),          BrevaltoCaptureIntent::modeTitle(),
                       BrevaltoCaptureIntent::delayTitle(),     BrevaltoCaptureIntent::postActionsTitle(),
                       BrevaltoCaptureIntent::appendTitle(),    BrevaltoOpenIntent::title(),
                       BrevaltoOpenIntent::destinationTitle(),  IntentValueTitles::captureModeType(),
                       IntentValueTitles::postActionType(),     IntentValueTitles::openDestinationType(),
                       "Capture with Brevalto",                 "Open Brevalto editor",
                       "(default: region)",                     "(default: 0;",
                       "(default: edit)",                       "(default: off)",
                       "(default: editor)"};
    for (const auto mode : kAllAutomationCaptureModes) wanted << IntentValueTitles::title(mode);
    for (const auto action : kAllAutomationPostActions) wanted << IntentValueTitles::title(action);
    for (const auto destination : kAllBrevaltoOpenDestinations) wanted << IntentValueTitles::title(destination);
    for (const QString& text : wanted) EXPECT_TRUE(help.contains(text)) << text.toStdString();
    EXPECT_EQ(IntentValueTitles::title(Mode::activeWindow), "Active window");
    EXPECT_EQ(IntentValueTitles::title(Action::pin), "Pin reference");
    EXPECT_EQ(IntentValueTitles::title(BrevaltoOpenDestination::filePicker), "Image file picker");
}

// Each shortcut is a desktop action of the entry, with an icon drawn like its symbol.
TEST(BrevaltoIntents, ShortcutsAreTheDesktopEntrysActions) {
    const QString packaging = QStringLiteral(BREVALTO_SOURCE_DIR "/packaging/");
    QFile file(packaging + "brevalto.desktop");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
    QMap<QString, QString> entry;  // "group/key" -> value
    QString group;
    for (const QString& line : QString::fromUtf8(file.readAll()).split('\n')) {
        if (line.startsWith('[')) group = line.mid(1, line.size() - 2);
        else if (const auto equals = line.indexOf('='); equals > 0) entry[group + "/" + line.left(equals)] = line.mid(equals + 1);
    }
    const QStringList actions = entry.value("Desktop Entry/Actions").split(';', Qt::SkipEmptyParts);
    const QStringList commands{"brevalto intent capture", "brevalto intent open"};
    const auto shortcuts = brevaltoShortcuts();
    ASSERT_EQ(actions.size(), int(shortcuts.size()));
    for (std::size_t i = 0; i < shortcuts.size(); ++i) {
        const auto& shortcut = shortcuts[i];
        SCOPED_TRACE(shortcut.phrase.toStdString());
        const QString action = "Desktop Action " + actions[int(i)] + "/";
        EXPECT_EQ(entry.value(action + "Name"), shortcut.shortTitle);
        EXPECT_EQ(entry.value(action + "Exec"), commands[int(i)]);
        EXPECT_EQ(entry.value(action + "Icon"), "brevalto-" + shortcut.systemImage);
        EXPECT_TRUE(Symbols::has(shortcut.systemImage));
        EXPECT_TRUE(QFile::exists(packaging + "brevalto-" + shortcut.systemImage + ".svg"));
    }
}

}  // namespace
}  // namespace brevalto
