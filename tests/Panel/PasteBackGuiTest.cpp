#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
#include "Panel/PanelController.h"
#include "Panel/PasteBack.h"
#include "Platform/Defaults.h"

#include "FakeApps.h"
#include "FakeClock.h"
#include "FakeKeyboard.h"
#include "FakePasteboard.h"
#include "FakeScreens.h"
#include "TestFolder.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace brevalto {
namespace {

using namespace std::chrono_literals;

// Timers that fire only when the test moves their clock.
class ManualTimers {
public:
    PasteBack::Timer timer() {
        return [this](std::chrono::milliseconds delay, std::function<void()> work) {
            pending_.push_back({now_ + delay, std::move(work)});
            delays.push_back(delay);
        };
    }
    void advance(std::chrono::milliseconds by) {
        now_ += by;
        for (std::size_t i = 0; i < pending_.size();) {
            if (pending_[i].due <= now_) {
                auto work = std::move(pending_[i].work);
                pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(i));
                work();
            } else {
                ++i;
            }
        }
    }
    std::size_t pending() const { return pending_.size(); }
    std::vector<std::chrono::milliseconds> delays;

private:
    struct Entry {
        std::chrono::milliseconds due;
        std::function<void()> work;
    };
    std::chrono::milliseconds now_{0};
    std::vector<Entry> pending_;
};

AppIdentity app(const char* name, std::int64_t pid) {
    return AppIdentity{QString::fromLatin1(name), QString::fromLatin1(name), pid, 0};
}

Clip textClip(const char* text) {
    return Clip(Clip::Kind::text, SharedText(text), std::nullopt, "d", static_cast<std::int64_t>(std::strlen(text)),
                "gedit");
}

class PasteBackTest : public ::testing::Test {
public:
    void SetUp() override {
        screens.setScreens({FakeScreens::screen("main", 0, 0, 1440, 900)});
        screens.setPrimaryHeight(900);
        screens.setMouse({10, 10});
        screens.setCompositor(true);
        store = std::make_unique<ClipStore>(folder.path(), clock);
        monitor = std::make_unique<ClipboardMonitor>(*store, board, apps, defaults);
        controller = std::make_unique<PanelController>(*store, *monitor, screens, apps, defaults);
        pasteBack = new PasteBack(*controller, apps, keyboard, screens, timers.timer());
        keyboard.onPaste = [this] { events.push_back("paste:" + board.content().data(PasteboardType::string).value_or("")); };
    }

    // The panel opened while gedit (pid 42) was in front.
    void openOverGedit() {
        apps.setFrontmost(QStringLiteral("gedit"), 42);
        controller->expandPanel(true);
        ASSERT_EQ(controller->target(), app("gedit", 42));
        apps.setFrontmost(QStringLiteral("brevalto"), QCoreApplication::applicationPid());
    }

    QString message() const { return store->message(); }
    QByteArray clipboardText() const { return board.content().data(PasteboardType::string).value_or(""); }

    TestFolder folder;
    FakeClock clock;
    FakePasteboard board;
    FakeScreens screens;
    FakeApps apps;
    FakeKeyboard keyboard;
    Defaults defaults;
    ManualTimers timers;
    std::unique_ptr<ClipStore> store;
    std::unique_ptr<ClipboardMonitor> monitor;
    std::unique_ptr<PanelController> controller;
    PasteBack* pasteBack = nullptr;  // the controller's child
    std::vector<QByteArray> events;
};

TEST_F(PasteBackTest, DirectPasteCopiesCollapsesActivatesAndSendsTheKeysAfterTheDelay) {
    openOverGedit();
    pasteBack->paste(textClip("hello"), true);

    EXPECT_EQ(clipboardText(), "hello");
    EXPECT_FALSE(controller->expanded());
    ASSERT_FALSE(apps.activated.empty());
    EXPECT_EQ(apps.activated.back(), app("gedit", 42));
    EXPECT_EQ(timers.delays, std::vector<std::chrono::milliseconds>{150ms});

    // Nothing is typed before the delay; at 0.15 s Ctrl+V goes to gedit, with the clip on the board.
    timers.advance(149ms);
    EXPECT_TRUE(events.empty());
    timers.advance(1ms);
    EXPECT_EQ(events, std::vector<QByteArray>{"paste:hello"});
    EXPECT_EQ(message(), ClipboardMonitor::copiedMessage);
}

TEST_F(PasteBackTest, PlainReturnCopiesAndCollapsesWithoutAnyTrustCheck) {
    openOverGedit();
    keyboard.trusted = false;
    pasteBack->paste(textClip("by hand"), false);
    EXPECT_EQ(clipboardText(), "by hand");
    EXPECT_FALSE(controller->expanded());
    EXPECT_EQ(keyboard.trustRequests, 0);
    EXPECT_EQ(timers.pending(), 0u);
    EXPECT_EQ(message(), ClipboardMonitor::copiedMessage);
}

TEST_F(PasteBackTest, EachRefusalLeavesTheClipCopiedAndSaysWhy) {
    // Not trusted: the panel stays open and the prompt is asked for once per call.
    openOverGedit();
    keyboard.trusted = false;
    pasteBack->paste(textClip("one"), true);
    pasteBack->paste(textClip("two"), true);
    EXPECT_EQ(message(), PasteBack::allowAccessibilityMessage);
    EXPECT_EQ(keyboard.trustRequests, 2);
    EXPECT_TRUE(controller->expanded());
    EXPECT_EQ(clipboardText(), "two");
    EXPECT_EQ(timers.pending(), 0u);

    // The target quit before the paste: nothing is activated or typed.
    keyboard.trusted = true;
    apps.terminated.insert(42);
    apps.activated.clear();
    pasteBack->paste(textClip("three"), true);
    EXPECT_EQ(message(), PasteBack::returnToAppMessage);
    EXPECT_EQ(message(), QStringLiteral("Copied. Return to your app and press Ctrl+V."));
    EXPECT_TRUE(controller->expanded());
    EXPECT_TRUE(apps.activated.empty());
    EXPECT_EQ(clipboardText(), "three");
    EXPECT_EQ(timers.pending(), 0u);

    // No other application was ever in front.
    SetUp();
    apps.setFrontmost(QStringLiteral("brevalto"), QCoreApplication::applicationPid());
    controller->expandPanel(true);
    pasteBack->paste(textClip("four"), true);
    EXPECT_EQ(message(), PasteBack::returnToAppMessage);
    EXPECT_TRUE(controller->expanded());
}

TEST_F(PasteBackTest, KeysGoOnlyToTheTargetWhenItIsFrontmost) {
    // Activation refused: no keys, and the user is told to paste by hand.
    openOverGedit();
    apps.refuseActivation = true;
    pasteBack->paste(textClip("a"), true);
    timers.advance(150ms);
    EXPECT_EQ(keyboard.pastes, 0);
    EXPECT_EQ(message(), PasteBack::noFocusMessage);

    // Another application came forward meanwhile (the target's window closed).
    apps.refuseActivation = false;
    controller->expandPanel(true);
    pasteBack->paste(textClip("b"), true);
    apps.setFrontmost(QStringLiteral("xterm"), 77);
    timers.advance(150ms);
    EXPECT_EQ(keyboard.pastes, 0);
    EXPECT_EQ(message(), PasteBack::noFocusMessage);

    // The controller went away before the delay: no message and no crash.
    controller->expandPanel(true);
    apps.setFrontmost(QStringLiteral("brevalto"), QCoreApplication::applicationPid());
    apps.refuseActivation = true;
    pasteBack->paste(textClip("c"), true);
    store->setMessage(QStringLiteral("before"));
    controller.reset();
    timers.advance(150ms);
    EXPECT_EQ(keyboard.pastes, 0);
    EXPECT_EQ(message(), QStringLiteral("before"));
}

TEST_F(PasteBackTest, CopyFailureStopsThePaste) {
    openOverGedit();
    board.refuseWrites = true;
    pasteBack->paste(textClip("a"), true);
    EXPECT_EQ(message(), ClipboardMonitor::writeFailedMessage);
    EXPECT_TRUE(controller->expanded());
    EXPECT_TRUE(apps.activated.empty());

    EXPECT_EQ(timers.pending(), 0u);
}

class DropPasteTest : public PasteBackTest {
public:
    void SetUp() override {
        PasteBackTest::SetUp();
        // xterm (pid 77) covers (100, 100)-(500, 400) in top-left coordinates.
        apps.windowList = {WindowInfo{9, 88, QRectF(600, 0, 100, 100), 1}, WindowInfo{5, 77, QRectF(100, 100, 400, 300), 0}};
        apps.running = {app("xterm", 77), app("flutterapp", 55)};
        apps.pidAtPoint = 77;
    }
    // The drop point (200, 200) top-left, as the drag hands it over: bottom-left, y up.
    const QPointF drop{200, 700};
};

TEST_F(DropPasteTest, RefusedTextIsPastedIntoTheAppUnderTheDropPoint) {
    pasteBack->dropPaste(textClip("dropped"), false, drop);
    ASSERT_EQ(apps.pointsAsked.size(), 1u);
    EXPECT_EQ(apps.pointsAsked.front(), QPointF(200, 200));
    EXPECT_EQ(clipboardText(), "dropped");
    ASSERT_EQ(apps.activated.size(), 1u);
    EXPECT_EQ(apps.activated.front(), app("xterm", 77));
    timers.advance(100ms);
    EXPECT_EQ(keyboard.pastes, 0);
    timers.advance(50ms);
    EXPECT_EQ(events, std::vector<QByteArray>{"paste:dropped"});
}

TEST_F(DropPasteTest, WhatIsNotPastedAfterADrop) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        bool accepted;
    };
    const std::vector<Case> cases = {
        {"accepted by an ordinary app", [] {}, true},
        {"over a menu (not layer 0)", [this] { apps.pidAtPoint = 88; }, false},
        {"outside every window of that process", [this] { apps.windowList.pop_back(); }, false},
        {"over no window that names a process", [this] { apps.pidAtPoint.reset(); }, false},
        {"over this app", [this] {
             apps.pidAtPoint = QCoreApplication::applicationPid();
             apps.windowList.push_back(WindowInfo{3, QCoreApplication::applicationPid(), QRectF(0, 0, 900, 900), 0});
         }, false},
        {"the app quit (its window is closing)", [this] { apps.terminated.insert(77); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        const auto count = board.changeCount();
        store->setMessage(QStringLiteral("before"));
        c.arrange();
        pasteBack->dropPaste(textClip("no"), c.accepted, drop);
        EXPECT_EQ(board.changeCount(), count);
        EXPECT_TRUE(apps.activated.empty());
        EXPECT_EQ(timers.pending(), 0u);
        EXPECT_EQ(message(), QStringLiteral("before"));
        apps.activated.clear();
        apps.terminated.clear();
    }
}

TEST_F(DropPasteTest, FlutterAppsArePastedIntoEvenWhenTheyAcceptedAndOnlyWithTrust) {
    apps.pidAtPoint = 55;
    apps.windowList = {WindowInfo{6, 55, QRectF(0, 0, 800, 800), 0}};
    apps.flutter = {55};
    pasteBack->dropPaste(textClip("flutter"), true, drop);
    EXPECT_EQ(apps.activated, std::vector<AppIdentity>{app("flutterapp", 55)});
    timers.advance(150ms);
    EXPECT_EQ(events, std::vector<QByteArray>{"paste:flutter"});

    // Without trust the drop is copied and reported, without a prompt.
    keyboard.trusted = false;
    pasteBack->dropPaste(textClip("t"), true, drop);
    EXPECT_EQ(clipboardText(), "t");
    EXPECT_EQ(message(), PasteBack::allowAccessibilityDropMessage);
    EXPECT_EQ(keyboard.trustRequests, 0);
    EXPECT_EQ(apps.activated.size(), 1u);
}

TEST(PasteBackTargetWindow, NeedsTheProcessLayerZeroAndThePointInside) {
    const WindowInfo entry{1, 10, QRectF(100, 100, 50, 40), 0};
    EXPECT_TRUE(PasteBack::isTargetWindow(entry, 10, {100, 100}));
    EXPECT_TRUE(PasteBack::isTargetWindow(entry, 10, {149.9, 139.9}));
    EXPECT_FALSE(PasteBack::isTargetWindow(entry, 10, {150, 120}));  // the maximum edge is outside
    EXPECT_FALSE(PasteBack::isTargetWindow(entry, 10, {120, 140}));
    EXPECT_FALSE(PasteBack::isTargetWindow(entry, 11, {120, 120}));
    EXPECT_FALSE(PasteBack::isTargetWindow(WindowInfo{1, 10, QRectF(100, 100, 50, 40), 1}, 10, {120, 120}));
    EXPECT_FALSE(PasteBack::isTargetWindow(WindowInfo{1, 10, QRectF(), 0}, 10, {0, 0}));
}

}  // namespace
}  // namespace brevalto
