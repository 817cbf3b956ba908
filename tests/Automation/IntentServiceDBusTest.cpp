// The intents on a private session bus: the service in this process with a scripted confirmation,
// called by the built `brevalto intent` command line and by a bus client of its own.
#include "Automation/AutomationDispatcher.h"
#include "Automation/AutomationFailure.h"
#include "Automation/AutomationRequest.h"
#include "Automation/IntentService.h"
#include "QtWait.h"

#include <gtest/gtest.h>

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QProcess>

#include <functional>
#include <optional>

namespace brevalto {
namespace {

const QString kProgram = QStringLiteral(BREVALTO_BINARY_DIR "/brevalto");
using Kind = AutomationFailure::Kind;

class ScriptedPrompt final : public AutomationPrompt {
public:
    std::function<bool(const AutomationRequest&)> answer = [](const AutomationRequest&) { return true; };
    int asked = 0;
    bool confirm(const AutomationRequest& request) override {
        ++asked;
        return answer(request);
    }
};

struct Outcome {
    int status = -1;
    QString out, err;
};

class IntentServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto owned = std::make_unique<ScriptedPrompt>();
        prompt = owned.get();
        dispatcher = std::make_unique<AutomationDispatcher>(std::move(owned));
        dispatcher->setOnRequest([this](const AutomationRequest& request) { handled.push_back(request); });
        service = std::make_unique<IntentService>(*dispatcher, QDBusConnection::sessionBus());
        ASSERT_TRUE(service->publish()) << service->errorString().toStdString();
    }

    // Starts `brevalto intent ARGS`; the test's event loop keeps running so that the service answers.
    std::unique_ptr<QProcess> start(const QStringList& arguments,
                                    const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(env);
        process->start(kProgram, QStringList{"intent"} + arguments);
        EXPECT_TRUE(process->waitForStarted(5000));
        return process;
    }
    Outcome finish(QProcess& process, int timeoutMs = 15000) {
        EXPECT_TRUE(waitUntil([&] { return process.state() == QProcess::NotRunning; }, timeoutMs));
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
    }
    Outcome intent(const QStringList& arguments,
                   const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
        auto process = start(arguments, env);
        return finish(*process);
    }

    // A raw call from a connection of its own, as any bus client would make it.
    QDBusMessage call(const QString& method, const QVariantList& arguments) {
        QDBusConnection client = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "intent-client");
        QDBusMessage message = QDBusMessage::createMethodCall(IntentService::kServiceName, IntentService::kObjectPath,
                                                              IntentService::kInterface, method);
        message.setArguments(arguments);
        QDBusPendingCall pending = client.asyncCall(message);
        EXPECT_TRUE(waitUntil([&] { return pending.isFinished(); }));
        return pending.reply();
    }

    ScriptedPrompt* prompt = nullptr;
    std::unique_ptr<AutomationDispatcher> dispatcher;
    std::unique_ptr<IntentService> service;
    std::vector<AutomationRequest> handled;
};

// The dialogs themselves are the unit tests' business: here, that they cross the bus both ways.
TEST_F(IntentServiceTest, CommandLineRunsTheIntentsWithTheirConfirmation) {
    struct Case {
        QStringList arguments;
        bool allow;
        int status;
        QString out, err;
        std::size_t handled;
    };
    const Case cases[] = {
        {{"capture"}, true, 0, "Request sent to Brevalto. Check the app for capture status.\n", "", 1},
        {{"capture"}, false, 0, "Cancelled. No capture was requested.\n", "", 0},
        {{"open", "--destination", "history"}, false, 0, "Request sent to Brevalto.\n", "", 1},
        {{"open", "--destination", "clipboard"}, false, 0, "Cancelled. Clipboard was not read.\n", "", 0},
        {{"capture", "--mode", "Region"}, true, 1, "", QString::fromUtf8(AutomationFailure::message(Kind::invalid).data()) + "\n", 0},
        {{"open"}, true, 1, "", "Brevalto intents need a D-Bus session bus.\n", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString() + (c.allow ? " (allowed)" : " (declined)"));
        handled.clear();
        prompt->answer = [&c](const AutomationRequest&) { return c.allow; };
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (c.err.contains("D-Bus")) env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
        const Outcome outcome = intent(c.arguments, env);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.out.toStdString(), c.out.toStdString());
        EXPECT_EQ(outcome.err.toStdString(), c.err.toStdString());
        EXPECT_EQ(handled.size(), c.handled);
    }
    // The defaults reach the app as the intent's: a region into the editor.
    handled.clear();
    intent({"capture"});
    ASSERT_EQ(handled.size(), 1u);
    EXPECT_EQ(handled[0], (AutomationRequest{AutomationRequest::Command::capture, AutomationCaptureMode::region, 0,
                                             {AutomationPostAction::edit}, std::nullopt}));
    EXPECT_EQ(intent({"capture", "--delay", "5s"}).status, 2);
}

TEST_F(IntentServiceTest, FailuresAreNamedErrorsCarryingTheirSentence) {
    const auto expectFailure = [](const QDBusMessage& reply, Kind kind) {
        EXPECT_EQ(reply.type(), QDBusMessage::ErrorMessage);
        EXPECT_EQ(reply.errorName(), IntentService::errorName(kind));
        EXPECT_EQ(reply.errorMessage().toStdString(), AutomationFailure::message(kind));
    };
    expectFailure(call("Open", {"files"}), Kind::invalid);
    // A flood of actions is refused whole, without a prompt.
    QStringList flood;
    for (int i = 0; i < 100000; ++i) flood << "copy";
    expectFailure(call("Capture", {"region", 0, flood, false}), Kind::invalid);
    expectFailure(call("Capture", {"region", 0, QStringList{"copy", "save", "edit", "pin", "thumbnail", "upload"}, false}),
                  Kind::invalid);
    EXPECT_EQ(prompt->asked, 0);
    EXPECT_TRUE(handled.empty());

    dispatcher->setOnRequest([](const AutomationRequest&) { throw std::runtime_error("a private detail"); });
    expectFailure(call("Open", {"history"}), Kind::execution);
    dispatcher->setOnRequest({});
    expectFailure(call("Open", {"history"}), Kind::notReady);

    // While one call waits for its confirmation, another is refused at once; the first still
    // gets its answer.
    dispatcher->setOnRequest([this](const AutomationRequest& request) { handled.push_back(request); });
    std::optional<QDBusMessage> second;
    prompt->answer = [&](const AutomationRequest&) {
        second = call("Open", {"history"});
        return true;
    };
    const QDBusMessage first = call("Capture", {"screen", 0, QStringList{"copy"}, false});
    EXPECT_EQ(first.type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(first.arguments().value(0).toString(), "Request sent to Brevalto. Check the app for capture status.");
    ASSERT_TRUE(second);
    expectFailure(*second, Kind::busy);
    ASSERT_EQ(handled.size(), 1u);
    EXPECT_EQ(handled[0].mode, AutomationCaptureMode::screen);

    // The name has one owner: a second service is refused and says why.
    IntentService other(*dispatcher, QDBusConnection::connectToBus(QDBusConnection::SessionBus, "second-app"));
    EXPECT_FALSE(other.publish());
    EXPECT_FALSE(other.errorString().isEmpty());
}

TEST_F(IntentServiceTest, APromptLeftOpenPastTheBusTimeoutStillAnswers) {
    prompt->answer = [](const AutomationRequest&) {
        waitUntil([] { return false; }, 26000);  // D-Bus gives up on an ordinary call after 25 s
        return true;
    };
    auto process = start({"capture", "--mode", "screen"});
    const Outcome outcome = finish(*process, 40000);
    EXPECT_EQ(outcome.status, 0) << outcome.err.toStdString();
    EXPECT_EQ(outcome.out, "Request sent to Brevalto. Check the app for capture status.\n");
}

TEST_F(IntentServiceTest, ACallerThatLeavesDuringThePromptLeavesTheServiceWorking) {
    std::unique_ptr<QProcess> process;
    prompt->answer = [&](const AutomationRequest&) {
        process->kill();
        waitUntil([&] { return process->state() == QProcess::NotRunning; });
        return true;
    };
    process = start({"capture"});
    EXPECT_TRUE(waitUntil([&] { return process->state() == QProcess::NotRunning; }));
    EXPECT_TRUE(waitUntil([&] { return !dispatcher->dispatching(); }));
    EXPECT_EQ(handled.size(), 1u);  // the user allowed it: it ran

    const Outcome next = intent({"open", "--destination", "history"});
    EXPECT_EQ(next.status, 0);
    EXPECT_EQ(next.out, "Request sent to Brevalto.\n");
}

}  // namespace
}  // namespace brevalto
