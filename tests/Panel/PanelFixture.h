#pragma once

#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
#include "Panel/ClipboardView.h"
#include "Panel/NotchSurface.h"
#include "Panel/PanelController.h"
#include "Platform/Defaults.h"

#include "FakeApps.h"
#include "FakeClock.h"
#include "FakePasteboard.h"
#include "FakeScreens.h"
#include "ManualAIBackend.h"
#include "ScriptedPanelAlerts.h"
#include "TestFolder.h"

#include <gtest/gtest.h>

#include <memory>

namespace brevalto {

// A panel on one 1440 x 900 screen over a real store in a fresh folder, with fake desktop
// services and scripted alerts; `view` is its clipboard browser.
class PanelFixture : public ::testing::Test {
public:
    void SetUp() override {
        configure();
        screens.setScreens({FakeScreens::screen("main", 0, 0, 1440, 900)});
        screens.setPrimaryHeight(900);
        store = std::make_unique<ClipStore>(folder.path(), clock);
        monitor = std::make_unique<ClipboardMonitor>(*store, board, apps, defaults);
        controller = std::make_unique<PanelController>(*store, *monitor, screens, apps, defaults);
        view = qobject_cast<ClipboardView*>(controller->surface()->content());
        ASSERT_NE(view, nullptr);
        view->setAlerts(&alerts);
    }
    // Settings and desktop state a test wants before the panel is built.
    virtual void configure() {}
    void TearDown() override {
        controller.reset();
        monitor.reset();
        store.reset();
    }

    TestFolder folder;
    FakeClock clock;
    FakePasteboard board;
    FakeScreens screens;
    FakeApps apps;
    Defaults defaults;
    ManualAIBackend ai;
    ScriptedPanelAlerts alerts;
    std::unique_ptr<ClipStore> store;
    std::unique_ptr<ClipboardMonitor> monitor;
    std::unique_ptr<PanelController> controller;
    ClipboardView* view = nullptr;
};

}  // namespace brevalto
