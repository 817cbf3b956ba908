#pragma once

#include "Capture/CaptureInteraction.h"
#include "FakeClock.h"

#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace brevalto {

// The user side of a capture as a test scripts it: choosers wait until the test answers, the
// countdown panel and the selection windows are counted, and a selection ends when the test
// completes it.
class FakeCaptureInteraction : public CaptureInteraction {
public:
    std::vector<Choice> choices;  // every chooser shown, in order
    std::vector<int> countdowns;  // every second shown on the countdown panel
    std::optional<Selection> selection;  // the selection last shown
    int selectionsShown = 0;
    bool countdownUp = false;

    bool chooserOpen() const { return static_cast<bool>(answer_); }
    void answer(std::optional<int> index) {
        auto reply = std::exchange(answer_, nullptr);
        if (reply) reply(index);
    }
    // What a selection window reports (a key or a mouse-up).
    void complete(const CaptureCoordinator::Selection& s) {
        if (completed_) completed_(s);
    }
    // The countdown panel's Cancel button.
    void pressCountdownCancel() {
        if (cancelCountdown_) cancelCountdown_();
    }

    void choose(const Choice& choice, std::function<void(std::optional<int>)> answer) override {
        choices.push_back(choice);
        answer_ = std::move(answer);
    }
    void closeChooser() override { answer(std::nullopt); }
    void showCountdown(int seconds, std::function<void()> cancel) override {
        countdowns.push_back(seconds);
        cancelCountdown_ = std::move(cancel);
        countdownUp = true;
    }
    void showSelection(const Selection& s, std::function<void(CaptureCoordinator::Selection)> completed) override {
        selection = s;
        ++selectionsShown;
        selectionWindows_ = static_cast<int>(s.displays.size());
        completed_ = std::move(completed);
    }
    void closeOverlays() override {
        selectionWindows_ = 0;
        countdownUp = false;
        cancelCountdown_ = nullptr;
    }
    int overlayCount() const override { return selectionWindows_ + (countdownUp ? 1 : 0); }

private:
    std::function<void(std::optional<int>)> answer_;
    std::function<void()> cancelCountdown_;
    std::function<void(CaptureCoordinator::Selection)> completed_;
    int selectionWindows_ = 0;
};

// A countdown timer on a clock that moves only when the test advances it.
class ManualCaptureTimer : public CaptureTimer {
public:
    explicit ManualCaptureTimer(FakeClock& clock) : clock_(clock) {}

    void start(double seconds, std::function<void()> fire) override {
        due_ = clock_.now() + seconds;
        fire_ = std::move(fire);
    }
    void stop() override {
        due_.reset();
        fire_ = nullptr;
    }
    bool pending() const { return due_.has_value(); }
    // Moves the clock by `seconds` and fires the pending call once it is due.
    void advance(double seconds) {
        clock_.advance(seconds);
        if (due_ && clock_.now() >= *due_) {
            due_.reset();
            auto fire = std::exchange(fire_, nullptr);
            if (fire) fire();
        }
    }

private:
    FakeClock& clock_;
    std::optional<Date> due_;
    std::function<void()> fire_;
};

}  // namespace brevalto
