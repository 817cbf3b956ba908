#include "Automation/AutomationFailure.h"
#include "Automation/AutomationRequest.h"

#include <gtest/gtest.h>

#include <string>

namespace brevalto {
namespace {

using Command = AutomationRequest::Command;
using Mode = AutomationCaptureMode;
using Action = AutomationPostAction;

constexpr const char* kClip = "E621E1F8-C36C-495A-93FC-0C247A3E6E5F";

AutomationRequest request(Command command, Mode mode = Mode::region, std::int64_t delay = 0,
                          std::vector<Action> after = {}, std::optional<Uuid> clip = std::nullopt) {
    return AutomationRequest{command, mode, delay, std::move(after), clip};
}

// Runs fromUrl and reports the failure kind, or none when it parsed.
std::optional<AutomationFailure::Kind> failureOf(const std::string& url) {
    try {
        AutomationRequest::fromUrl(url);
    } catch (const AutomationFailure& failure) {
        return failure.kind();
    }
    return std::nullopt;
}

struct Accepted {
    const char* url;
    AutomationRequest expected;
};

TEST(AutomationRequestUrl, AcceptedFormsAndTheirDefaults) {
    const Uuid clip = *Uuid::parse(kClip);
    const Accepted cases[] = {
        {"brevalto://capture", request(Command::capture)},
        {"brevalto://capture/", request(Command::capture)},
        {"brevalto://capture/?", request(Command::capture)},
        {"BREVALTO://capture", request(Command::capture)},
        {"Brevalto://capture?", request(Command::capture)},
        {"brevalto://capture?mode=delay", request(Command::capture, Mode::delay, 3)},
        {"brevalto://capture?mode=delay&delay=1", request(Command::capture, Mode::delay, 1)},
        {"brevalto://capture?mode=region&delay=5", request(Command::capture, Mode::region, 5)},
        {"brevalto://capture?delay=60", request(Command::capture, Mode::region, 60)},
        {"brevalto://capture?delay=007", request(Command::capture, Mode::region, 7)},
        {"brevalto://capture?delay=0000000000000000000000000000060", request(Command::capture, Mode::region, 60)},
        {"brevalto://capture?mode=repeat", request(Command::capture, Mode::repeat)},
        {"brevalto://capture?mode=activeWindow&after=pin", request(Command::capture, Mode::activeWindow, 0, {Action::pin})},
        {"brevalto://capture?after=copy,save,edit,pin,thumbnail",
         request(Command::capture, Mode::region, 0, {Action::copy, Action::save, Action::edit, Action::pin, Action::thumbnail})},
        {"brevalto://capture?after=thumbnail,copy", request(Command::capture, Mode::region, 0, {Action::thumbnail, Action::copy})},
        {"brevalto://append?mode=window&delay=2", request(Command::append, Mode::window, 2)},
        {"brevalto://append?mode=scrolling", request(Command::append, Mode::scrolling)},
        {"brevalto://ocr", request(Command::ocr, Mode::ocr)},
        {"brevalto://ocr?delay=4&after=copy", request(Command::ocr, Mode::ocr, 4, {Action::copy})},
        {"brevalto://clipboard?after=save", request(Command::clipboard, Mode::region, 0, {Action::save})},
        {"brevalto://file", request(Command::filePicker)},
        {"brevalto://file?after=edit", request(Command::filePicker, Mode::region, 0, {Action::edit})},
        {"brevalto://history", request(Command::history)},
        {"brevalto://settings/", request(Command::settings)},
        {"brevalto://editor", request(Command::editor)},
        {"brevalto://editor?id=E621E1F8-C36C-495A-93FC-0C247A3E6E5F", request(Command::editor, Mode::region, 0, {}, clip)},
        {"brevalto://editor?id=e621e1f8-c36c-495a-93fc-0c247a3e6e5f", request(Command::editor, Mode::region, 0, {}, clip)},
        // Names and values are percent-decoded; the host is not.
        {"brevalto://capture?%6Dode=re%67ion&after=c%6Fpy", request(Command::capture, Mode::region, 0, {Action::copy})},
        {"brevalto://capture?after=copy%2Csave", request(Command::capture, Mode::region, 0, {Action::copy, Action::save})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        try {
            EXPECT_EQ(AutomationRequest::fromUrl(c.url), c.expected);
        } catch (const AutomationFailure& failure) {
            ADD_FAILURE() << "refused: " << failure.what();
        }
    }
}

TEST(AutomationRequestUrl, EveryMalformedFormIsRefusedAsInvalid) {
    const char* cases[] = {
        // Not a brevalto URL, or not absolute.
        "", "capture", "//capture", "brevalto:capture", "brevalto:///capture", "brevalt://capture",
        "http://capture", "brevalto ://capture", " brevalto://capture", "brevalto://capture ",
        // The command word: exact, case-sensitive, never escaped.
        "brevalto://Capture", "brevalto://CAPTURE", "brevalto://c%61pture", "brevalto://filePicker",
        "brevalto://upload", "brevalto://delete", "brevalto://capture.", "brevalto://[::1]",
        // User, password, port, fragment, path.
        "brevalto://me@capture", "brevalto://@capture", "brevalto://me:pw@capture", "brevalto://capture:80",
        "brevalto://capture:", "brevalto://capture#a", "brevalto://capture#", "brevalto://capture?mode=region#a",
        "brevalto://capture/x", "brevalto://capture//", "brevalto://capture/%2F",
        // Keys: allowed per command, once each, case-sensitive, with a non-empty value.
        "brevalto://ocr?mode=ocr", "brevalto://capture?id=E621E1F8-C36C-495A-93FC-0C247A3E6E5F",
        "brevalto://history?after=copy", "brevalto://settings?delay=0", "brevalto://editor?after=edit",
        "brevalto://clipboard?delay=0", "brevalto://capture?Mode=region", "brevalto://capture?mode=region&mode=window",
        "brevalto://capture?mode", "brevalto://capture?mode=", "brevalto://capture?after=copy&",
        "brevalto://capture?&after=copy", "brevalto://capture?after=copy&&delay=1", "brevalto://capture?=copy",
        "brevalto://capture?path=/etc/passwd", "brevalto://capture?shell=rm",
        // Escapes: well formed, and "+" is not a space.
        "brevalto://capture?mode=re%6", "brevalto://capture?mode=%zzregion", "brevalto://capture?mode=region%",
        "brevalto://capture?after=copy+save", "brevalto://capture?after=copy%20",
        // Characters a URL cannot hold.
        "brevalto://capture?mode=re gion", "brevalto://capture?mode=region\n", "brevalto://capture?after=\"copy\"",
        "brevalto://capture?mode=r\xC3\xA9gion", "brevalto://capture?mode={region}", "brevalto://capture?mode=a|b",
        // Modes.
        "brevalto://capture?mode=repeatRegion", "brevalto://capture?mode=Region", "brevalto://capture?mode=%20region",
        "brevalto://ocr?mode=region", "brevalto://clipboard?mode=region",
        // Delays.
        "brevalto://capture?delay=61", "brevalto://capture?delay=-1", "brevalto://capture?delay=+5",
        "brevalto://capture?delay=5s", "brevalto://capture?delay=%205", "brevalto://capture?delay=5.0",
        "brevalto://capture?delay=0x10", "brevalto://capture?delay=99999999999999999999",
        "brevalto://capture?delay=9223372036854775808", "brevalto://capture?mode=delay&delay=0",
        "brevalto://append?mode=delay&delay=00",
        // After actions: exact words, no empty pieces, at most five, none twice.
        "brevalto://capture?after=copy,copy", "brevalto://capture?after=copy,", "brevalto://capture?after=,copy",
        "brevalto://capture?after=copy,,save", "brevalto://capture?after=copy, save", "brevalto://capture?after=Copy",
        "brevalto://capture?after=upload", "brevalto://capture?after=copy,save,edit,pin,thumbnail,copy",
        // Clip ids.
        "brevalto://editor?id=42", "brevalto://editor?id={E621E1F8-C36C-495A-93FC-0C247A3E6E5F}",
        "brevalto://editor?id=urn:uuid:E621E1F8-C36C-495A-93FC-0C247A3E6E5F",
        "brevalto://editor?id=E621E1F8C36C495A93FC0C247A3E6E5F", "brevalto://editor?id=../../history.json",
        "brevalto://editor?id=E621E1F8-C36C-495A-93FC-0C247A3E6E5F&id=E621E1F8-C36C-495A-93FC-0C247A3E6E5F",
    };
    for (const char* url : cases) {
        SCOPED_TRACE(url);
        EXPECT_EQ(failureOf(url), AutomationFailure::Kind::invalid);
    }
}

TEST(AutomationRequestUrl, LengthIsCheckedInBytesUpTo2048) {
    // Leading zeros make a valid URL of any length.
    const std::string head = "brevalto://capture?delay=";
    const std::string at2048 = head + std::string(2048 - head.size() - 1, '0') + "5";
    ASSERT_EQ(at2048.size(), 2048u);
    EXPECT_EQ(failureOf(at2048), std::nullopt);
    EXPECT_EQ(failureOf(head + std::string(2049 - head.size() - 1, '0') + "5"), AutomationFailure::Kind::invalid);
    // Bytes, not characters: a long URL with multi-byte text is refused for its length too.
    std::string wide = "brevalto://capture?mode=";
    while (wide.size() < 2049) wide += "\xC3\xA9";
    EXPECT_EQ(failureOf(wide), AutomationFailure::Kind::invalid);
}

TEST(AutomationRequestUrl, TheMessageNeverRepeatsTheUrl) {
    try {
        AutomationRequest::fromUrl("brevalto://capture?after=secret-token");
        FAIL() << "accepted";
    } catch (const AutomationFailure& failure) {
        EXPECT_STREQ(failure.what(),
                     "Invalid Brevalto URL or command. Only allowed actions and parameters are accepted; no file "
                     "paths, shell, upload, AI or delete.");
    }
}

TEST(AutomationRequestValidate, RulesForRequestsBuiltInCode) {
    const Uuid clip = *Uuid::parse(kClip);
    struct Case {
        const char* name;
        AutomationRequest request;
        bool valid;
    };
    const Case cases[] = {
        {"capture any mode", request(Command::capture, Mode::scrolling, 10, {Action::copy}), true},
        {"capture delay mode needs a delay", request(Command::capture, Mode::delay, 0), false},
        {"append delay mode with a delay", request(Command::append, Mode::delay, 1), true},
        {"negative delay", request(Command::capture, Mode::region, -1), false},
        {"delay 60", request(Command::capture, Mode::region, 60), true},
        {"delay 61", request(Command::capture, Mode::region, 61), false},
        {"huge negative delay", request(Command::capture, Mode::region, INT64_MIN), false},
        {"six actions", request(Command::capture, Mode::region, 0, {Action::copy, Action::save, Action::edit, Action::pin, Action::thumbnail, Action::thumbnail}), false},
        {"repeated action", request(Command::capture, Mode::region, 0, {Action::pin, Action::copy, Action::pin}), false},
        {"clip id on capture", request(Command::capture, Mode::region, 0, {}, clip), false},
        {"ocr must use ocr mode", request(Command::ocr, Mode::region), false},
        {"ocr with delay", request(Command::ocr, Mode::ocr, 30, {Action::save}), true},
        {"clipboard with mode", request(Command::clipboard, Mode::window), false},
        {"clipboard with delay", request(Command::clipboard, Mode::region, 1), false},
        {"file picker with actions", request(Command::filePicker, Mode::region, 0, {Action::copy}), true},
        {"settings from the panel", request(Command::settings), true},
        {"settings with copy", request(Command::settings, Mode::region, 0, {Action::copy}), false},
        {"history with delay", request(Command::history, Mode::region, 2), false},
        {"history with ocr mode", request(Command::history, Mode::ocr), false},
        {"editor with clip", request(Command::editor, Mode::region, 0, {}, clip), true},
        {"editor with actions", request(Command::editor, Mode::region, 0, {Action::edit}), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.valid) {
            EXPECT_NO_THROW(c.request.validate());
        } else {
            try {
                c.request.validate();
                ADD_FAILURE() << "accepted";
            } catch (const AutomationFailure& failure) {
                EXPECT_EQ(failure.kind(), AutomationFailure::Kind::invalid);
            }
        }
    }
}

TEST(AutomationRequestConfirmation, CapturesClipboardReadsCopiesAndSavesNeedConfirmation) {
    struct Case {
        const char* url;
        bool needs;
    };
    const Case cases[] = {
        {"brevalto://capture", true},        {"brevalto://ocr", true},
        {"brevalto://append", true},         {"brevalto://clipboard", true},
        {"brevalto://clipboard?after=save", true},
        {"brevalto://history", false},       {"brevalto://settings", false},
        {"brevalto://editor", false},        {"brevalto://file", false},
        {"brevalto://file?after=edit,pin,thumbnail", false},
        {"brevalto://file?after=copy", true}, {"brevalto://file?after=pin,save", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(AutomationRequest::fromUrl(c.url).needsConfirmation(), c.needs);
    }
}

TEST(AutomationVocabulary, RawValuesRoundTripAndAreCaseSensitive) {
    for (const auto mode : kAllAutomationCaptureModes)
        EXPECT_EQ(automationCaptureModeFromRaw(rawValue(mode)), mode);
    for (const auto action : kAllAutomationPostActions)
        EXPECT_EQ(automationPostActionFromRaw(rawValue(action)), action);
    EXPECT_EQ(automationCommandFromRaw("file"), Command::filePicker);
    EXPECT_EQ(automationCommandFromRaw("filePicker"), std::nullopt);
    EXPECT_EQ(automationCaptureModeFromRaw("repeatRegion"), std::nullopt);
    EXPECT_EQ(automationPostActionFromRaw("Copy"), std::nullopt);
}

}  // namespace
}  // namespace brevalto
