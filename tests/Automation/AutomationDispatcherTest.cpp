#include "Automation/AutomationDispatcher.h"
#include "Automation/AutomationFailure.h"
#include "Automation/AutomationRequest.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

namespace brevalto {
namespace {

// Answers the confirmation as told, and can act while "the prompt is open".
class FakePrompt final : public AutomationPrompt {
public:
    bool answer = true;
    int asked = 0;
    std::function<void()> whileOpen;

    bool confirm(const AutomationRequest&) override {
        ++asked;
        if (whileOpen) whileOpen();
        return answer;
    }
};

std::optional<AutomationFailure::Kind> failureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const AutomationFailure& failure) {
        return failure.kind();
    }
    return std::nullopt;
}

class AutomationDispatcherTest : public ::testing::Test {
protected:
    AutomationDispatcherTest() {
        auto owned = std::make_unique<FakePrompt>();
        prompt = owned.get();
        dispatcher = std::make_unique<AutomationDispatcher>(std::move(owned));
    }

    void installHandler() {
        dispatcher->setOnRequest([this](const AutomationRequest& request) { handled.push_back(request); });
    }

    FakePrompt* prompt = nullptr;
    std::unique_ptr<AutomationDispatcher> dispatcher;
    std::vector<AutomationRequest> handled;
};

TEST_F(AutomationDispatcherTest, PromptsOnlyOutsideRequestsThatNeedIt) {
    installHandler();
    struct Case {
        const char* url;
        AutomationSource source;
        bool prompts;
    };
    const Case cases[] = {
        {"brevalto://history", AutomationSource::url, false},
        {"brevalto://settings", AutomationSource::appIntent, false},
        {"brevalto://file?after=pin", AutomationSource::url, false},
        {"brevalto://capture", AutomationSource::url, true},
        {"brevalto://capture", AutomationSource::appIntent, true},
        {"brevalto://capture", AutomationSource::internal, false},
        {"brevalto://clipboard?after=save", AutomationSource::url, true},
        {"brevalto://file?after=copy", AutomationSource::appIntent, true},
        {"brevalto://ocr", AutomationSource::internal, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        prompt->asked = 0;
        handled.clear();
        const auto request = AutomationRequest::fromUrl(c.url);
        EXPECT_TRUE(dispatcher->dispatch(request, c.source));
        EXPECT_EQ(prompt->asked, c.prompts ? 1 : 0);
        ASSERT_EQ(handled.size(), 1u);
        EXPECT_EQ(handled[0], request);
        EXPECT_FALSE(dispatcher->dispatching());
    }
}

TEST_F(AutomationDispatcherTest, DeclinedRequestRunsNothingAndDoesNotBlockTheNext) {
    installHandler();
    prompt->answer = false;
    EXPECT_FALSE(dispatcher->dispatch(AutomationRequest::fromUrl("brevalto://capture"), AutomationSource::url));
    EXPECT_TRUE(handled.empty());
    EXPECT_FALSE(dispatcher->dispatching());

    prompt->answer = true;
    EXPECT_TRUE(dispatcher->dispatch(AutomationRequest::fromUrl("brevalto://capture"), AutomationSource::url));
    EXPECT_EQ(handled.size(), 1u);
}

TEST_F(AutomationDispatcherTest, SecondRequestWhileThePromptIsOpenIsBusyButAnInvalidOneIsInvalid) {
    installHandler();
    std::optional<AutomationFailure::Kind> second, invalidDuringPrompt;
    std::string busyMessage;
    prompt->whileOpen = [&] {
        EXPECT_TRUE(dispatcher->dispatching());
        second = failureOf([&] {
            try {
                dispatcher->dispatch(AutomationRequest::fromUrl("brevalto://history"), AutomationSource::url);
            } catch (const AutomationFailure& failure) {
                busyMessage = failure.what();
                throw;
            }
        });
        AutomationRequest settingsWithCopy{AutomationRequest::Command::settings, AutomationCaptureMode::region, 0,
                                           {AutomationPostAction::copy}, std::nullopt};
        invalidDuringPrompt = failureOf([&] { dispatcher->dispatch(settingsWithCopy, AutomationSource::internal); });
    };
    EXPECT_TRUE(dispatcher->dispatch(AutomationRequest::fromUrl("brevalto://capture"), AutomationSource::url));
    EXPECT_EQ(second, AutomationFailure::Kind::busy);
    EXPECT_EQ(busyMessage, "An automation request is waiting for confirmation. Close it first.");
    EXPECT_EQ(invalidDuringPrompt, AutomationFailure::Kind::invalid);
    EXPECT_EQ(handled.size(), 1u);  // only the first ran

    prompt->whileOpen = nullptr;
    EXPECT_TRUE(dispatcher->dispatch(AutomationRequest::fromUrl("brevalto://history"), AutomationSource::url));
}

TEST_F(AutomationDispatcherTest, RequestFromInsideTheHandlerIsBusy) {
    std::optional<AutomationFailure::Kind> nested;
    dispatcher->setOnRequest([&](const AutomationRequest&) {
        nested = failureOf([&] { dispatcher->dispatch(AutomationRequest::fromUrl("brevalto://history"), AutomationSource::internal); });
    });
    EXPECT_TRUE(dispatcher->dispatch(AutomationRequest::fromUrl("brevalto://settings"), AutomationSource::internal));
    EXPECT_EQ(nested, AutomationFailure::Kind::busy);
}

TEST_F(AutomationDispatcherTest, WithoutAHandlerEveryValidRequestIsNotReady) {
    EXPECT_EQ(failureOf([&] { dispatcher->dispatch(AutomationRequest::fromUrl("brevalto://history"), AutomationSource::url); }),
              AutomationFailure::Kind::notReady);
    EXPECT_EQ(failureOf([&] { dispatcher->dispatch(AutomationRequest::fromUrl("brevalto://capture"), AutomationSource::url); }),
              AutomationFailure::Kind::notReady);
    EXPECT_EQ(prompt->asked, 0);
    AutomationRequest bad{AutomationRequest::Command::capture, AutomationCaptureMode::region, 99, {}, std::nullopt};
    EXPECT_EQ(failureOf([&] { dispatcher->dispatch(bad, AutomationSource::internal); }), AutomationFailure::Kind::invalid);
}

TEST_F(AutomationDispatcherTest, HandlerFailureBecomesExecutionWithoutItsMessage) {
    const std::function<void()> throwers[] = {
        [] { throw std::runtime_error("private: /home/me/secret.png"); },
        [] { throw AutomationFailure(AutomationFailure::Kind::busy); },
        [] { throw 42; },
    };
    for (const auto& thrower : throwers) {
        dispatcher->setOnRequest([&](const AutomationRequest&) { thrower(); });
        try {
            dispatcher->dispatch(AutomationRequest::fromUrl("brevalto://capture"), AutomationSource::url);
            ADD_FAILURE() << "no failure";
        } catch (const AutomationFailure& failure) {
            EXPECT_EQ(failure.kind(), AutomationFailure::Kind::execution);
            EXPECT_STREQ(failure.what(),
                         "The workflow did not receive the request. Check the status in Brevalto; private content "
                         "is not included in automation errors.");
        }
        EXPECT_FALSE(dispatcher->dispatching());
    }
}

TEST_F(AutomationDispatcherTest, TheHandlerInForceWhenAcceptedRunsTheRequest) {
    int first = 0, replacement = 0;
    dispatcher->setOnRequest([&](const AutomationRequest&) { ++first; });
    prompt->whileOpen = [&] { dispatcher->setOnRequest([&](const AutomationRequest&) { ++replacement; }); };
    EXPECT_TRUE(dispatcher->dispatch(AutomationRequest::fromUrl("brevalto://capture"), AutomationSource::url));
    EXPECT_EQ(first, 1);
    EXPECT_EQ(replacement, 0);
}

TEST(AutomationFailureText, EachKindHasItsSentence) {
    EXPECT_STREQ(AutomationFailure(AutomationFailure::Kind::notReady).what(),
                 "Brevalto is not connected to the workflow. Open the app and try again.");
    EXPECT_STREQ(AutomationFailure(AutomationFailure::Kind::busy).what(),
                 "An automation request is waiting for confirmation. Close it first.");
}

}  // namespace
}  // namespace brevalto
