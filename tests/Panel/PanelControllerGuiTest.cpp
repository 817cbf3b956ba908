#include "AI/AIActionModel.h"
#include "AI/TranslatedImageModel.h"
#include "ClipCore/SecretScanner.h"
#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
#include "Document/ScreenshotDocumentSession.h"
#include "Editor/Canvas/ScreenshotCanvasView.h"
#include "Editor/ScreenshotEditorController.h"
#include "Errors/AIError.h"
#include "Panel/NotchPanel.h"
#include "Panel/NotchSurface.h"
#include "Panel/PanelController.h"
#include "Platform/Defaults.h"

#include "FakeApps.h"
#include "FakeClock.h"
#include "FakePasteboard.h"
#include "FakeScreens.h"
#include "FakeScreenshotActions.h"
#include "ManualAIBackend.h"
#include "ManualExecutor.h"
#include "QtWait.h"
#include "TestFolder.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <memory>

namespace brevalto {
namespace {

using Workspace = PanelController::Workspace;

AppIdentity app(const char* name, std::int64_t pid) {
    return AppIdentity{QString::fromLatin1(name), QString::fromLatin1(name), pid, 0};
}

class PanelControllerTest : public ::testing::Test {
public:
    void SetUp() override {
        defaults.remove("hoverOpen");
        defaults.registerDefaults({{"hoverOpen", true}});
        screens.setScreens({FakeScreens::screen("main", 0, 0, 1440, 900)});
        screens.setPrimaryHeight(900);
        screens.setMouse({10, 10});
        screens.setCompositor(true);
        workflow.reset();
        controller.reset();
        monitor.reset();
        store = std::make_unique<ClipStore>(folder.path(), clock);
        monitor = std::make_unique<ClipboardMonitor>(*store, board, apps, defaults);
        controller = std::make_unique<PanelController>(*store, *monitor, screens, apps, defaults);
        workflow = std::make_unique<FakeScreenshotActions>();
        controller->setScreenshots(workflow.get());
    }

    // Runs one hover tick with the mouse at the point.
    void tickAt(QPointF mouse) {
        screens.setMouse(mouse);
        controller->hoverTick();
    }
    QPointF notchCentre() const { return controller->currentFrame().center(); }
    std::shared_ptr<ScreenshotDocumentSession> session() {
        return std::make_shared<ScreenshotDocumentSession>(ScreenshotDocument{}, folder.path(), defaults, executor);
    }
    std::shared_ptr<TranslatedImageModel> regionsModel() {
        QImage(4, 4, QImage::Format_RGB32).save(QString::fromStdString((folder / "regions.png").string()));
        return std::make_shared<TranslatedImageModel>(
            QUrl::fromLocalFile(QString::fromStdString((folder / "regions.png").string())), "en", false, defaults,
            backend);
    }
    std::shared_ptr<AIActionModel> aiModel() {
        return std::make_shared<AIActionModel>(Clip(Clip::Kind::text, SharedText("hello"), std::nullopt, "d", 5, "t"), false,
                                               defaults, backend);
    }

    TestFolder folder;
    ManualExecutor executor;
    FakeClock clock;
    std::unique_ptr<ClipStore> store;
    FakePasteboard board;
    FakeScreens screens;
    FakeApps apps;
    Defaults defaults;
    ManualAIBackend backend;
    std::unique_ptr<ClipboardMonitor> monitor;
    std::unique_ptr<PanelController> controller;
    std::unique_ptr<FakeScreenshotActions> workflow;
};

TEST_F(PanelControllerTest, StartsCollapsedOnScreenAtTheTopCentre) {
    EXPECT_FALSE(controller->expanded());
    EXPECT_TRUE(controller->panel()->isVisible());
    EXPECT_EQ(controller->panel()->geometry(), QRect(601, 8, 238, 32));
    EXPECT_EQ(controller->panel()->windowTitle(), QStringLiteral("Brevalto"));
    EXPECT_EQ(screens.preparedWindows(), 1);
    // With a compositor the outside of the outline is transparent; without, a mask cuts it.
    EXPECT_TRUE(controller->panel()->translucent());
    EXPECT_FALSE(controller->panel()->masked());
    screens.setCompositor(false);
    controller->updatePanelFrame(false);
    EXPECT_TRUE(controller->panel()->masked());
}

TEST_F(PanelControllerTest, ActivationsReportedByTheDesktopUpdateTheTargetWithoutPolling) {
    const int asked = apps.frontmostCalls;
    waitUntil([] { return false; }, 600);
    EXPECT_EQ(apps.frontmostCalls, asked) << "nobody asks while nothing changes";
    apps.setFrontmost(QStringLiteral("Gedit"), 300);
    EXPECT_EQ(controller->target(), app("Gedit", 300));
    apps.setFrontmost(QStringLiteral("Brevalto"), QCoreApplication::applicationPid());
    EXPECT_EQ(controller->target(), app("Gedit", 300));
}

TEST_F(PanelControllerTest, APanelLeftUnmappedByAStartingWindowManagerIsMappedAgainInItsState) {
    controller->expandPanel(true);
    const QRect expanded = controller->panel()->geometry();
    const int prepared = screens.preparedWindows();

    // Taken in: nothing is mapped again.
    emit screens.windowManagerChanged();
    waitUntil([] { return false; }, 600);
    EXPECT_EQ(screens.mappedAgain, 0);

    // Left unmapped: mapped again, never hidden, still expanded and in place; a few times at most.
    screens.unmapped = true;
    emit screens.windowManagerChanged();
    ASSERT_TRUE(waitUntil([&] { return screens.mappedAgain == 2; }, 2000));
    EXPECT_TRUE(controller->expanded());
    EXPECT_TRUE(controller->panel()->isVisible());
    EXPECT_EQ(controller->panel()->geometry(), expanded);
    EXPECT_TRUE(waitUntil([&] { return screens.mappedAgain == PanelController::kMappingAttempts; },
                          300 * PanelController::kMappingAttempts));
    waitUntil([] { return false; }, 400);
    EXPECT_EQ(screens.mappedAgain, PanelController::kMappingAttempts);
    EXPECT_EQ(screens.preparedWindows(), prepared);

    // Off screen around a capture it stays off screen.
    screens.unmapped = false;
    controller->setCaptureActive(true);
    controller->orderOut();
    emit screens.windowManagerChanged();
    waitUntil([] { return false; }, 400);
    EXPECT_FALSE(controller->panel()->isVisible());
}

TEST_F(PanelControllerTest, HoverOpensUnpinnedAndTheMarginKeepsItOpen) {
    QSignalSpy shown(controller.get(), &PanelController::brevaltoShown);
    QSignalSpy hidden(controller.get(), &PanelController::brevaltoHidden);
    tickAt(notchCentre());
    ASSERT_TRUE(controller->expanded());
    EXPECT_FALSE(controller->pinnedOpen());
    ASSERT_EQ(shown.count(), 1);
    EXPECT_FALSE(shown.at(0).at(0).toBool());
    const QRectF open = controller->currentFrame();
    EXPECT_EQ(open, QRectF(350, 564, 740, 328));

    // Within 12 points of the frame it stays open; beyond, it collapses.
    tickAt({open.x() - 11.5, open.center().y()});
    tickAt({open.center().x(), open.y() - 11.5});
    tickAt({open.x() + open.width() + 11.5, open.center().y()});
    EXPECT_TRUE(controller->expanded());
    EXPECT_EQ(hidden.count(), 0);
    tickAt({open.x() - 12.5, open.center().y()});
    EXPECT_FALSE(controller->expanded());
    EXPECT_EQ(hidden.count(), 1);
    EXPECT_EQ(controller->currentFrame(), QRectF(601, 860, 238, 32));
}

TEST_F(PanelControllerTest, HoverStandsStillWhenItMust) {
    struct Case {
        const char* name;
        std::function<void(PanelControllerTest&)> arrange;
    } cases[] = {
        {"hover open off", [](PanelControllerTest& t) { t.defaults.set("hoverOpen", false); }},
        {"capture running", [](PanelControllerTest& t) { t.controller->setCaptureActive(true); }},
        {"card drag running", [](PanelControllerTest& t) { t.controller->setDragActive(true); }},
        {"panel ordered out", [](PanelControllerTest& t) { t.controller->orderOut(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        c.arrange(*this);
        tickAt({720, 876});
        EXPECT_FALSE(controller->expanded());
    }
    // Just outside the collapsed notch nothing opens either.
    SetUp();
    tickAt({600.5, 876});
    EXPECT_FALSE(controller->expanded());
}

TEST_F(PanelControllerTest, PinnedOrFrozenPanelIgnoresTheMouseLeaving) {
    controller->expandPanel(true);
    EXPECT_TRUE(controller->pinnedOpen());
    tickAt({5, 5});
    EXPECT_TRUE(controller->expanded());

    controller->collapsePanel();
    tickAt(notchCentre());
    ASSERT_TRUE(controller->expanded());
    controller->setCaptureActive(true);
    tickAt({5, 5});
    EXPECT_TRUE(controller->expanded());
}

// The timer rests while the panel is collapsed and the pointer elsewhere; the pointer entering
// the notch wakes it, and it runs on while the panel is open.
TEST_F(PanelControllerTest, TheTimerDrivesHoverOnlyWhileThePointerIsOnThePanel) {
    screens.setMouse({5, 5});
    EXPECT_TRUE(waitUntil([&] { return !controller->hoverArmed(); }, 2000));

    screens.setMouse(notchCentre());
    waitUntil([] { return false; }, 300);
    EXPECT_FALSE(controller->expanded()) << "no entry reported yet";
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(controller->panel(), &enter);
    EXPECT_TRUE(waitUntil([&] { return controller->expanded(); }, 2000));
    EXPECT_TRUE(controller->hoverArmed());
    screens.setMouse({5, 5});
    EXPECT_TRUE(waitUntil([&] { return !controller->expanded(); }, 2000));
    EXPECT_TRUE(waitUntil([&] { return !controller->hoverArmed(); }, 2000));

    // Collapsing with the pointer still on the notch opens it again at the next tick, as before.
    screens.setMouse(notchCentre());
    QApplication::sendEvent(controller->panel(), &enter);
    ASSERT_TRUE(waitUntil([&] { return controller->expanded(); }, 2000));
    controller->collapsePanel();
    EXPECT_TRUE(waitUntil([&] { return controller->expanded(); }, 2000));

    // After a capture the timer looks again, since the panel came back under a still pointer.
    controller->collapsePanel();
    controller->setCaptureActive(true);
    screens.setMouse({5, 5});
    EXPECT_TRUE(waitUntil([&] { return !controller->hoverArmed(); }, 2000));
    screens.setMouse(notchCentre());
    controller->setCaptureActive(false);
    EXPECT_TRUE(waitUntil([&] { return controller->expanded(); }, 2000));

    // With several screens the notch follows the pointer, so the timer never rests.
    controller->collapsePanel();
    screens.setMouse({5, 5});
    screens.setScreens({FakeScreens::screen("main", 0, 0, 1440, 900), FakeScreens::screen("right", 1440, 0, 1440, 900)});
    emit screens.screensChanged();
    waitUntil([] { return false; }, 400);
    EXPECT_TRUE(controller->hoverArmed());
    screens.setMouse({2000, 100});
    EXPECT_TRUE(waitUntil([&] { return controller->screen()->name == QStringLiteral("right"); }, 2000));
}

TEST_F(PanelControllerTest, CollapsedNotchFollowsTheMouseToAnotherScreen) {
    const ScreenInfo right = FakeScreens::notched(FakeScreens::screen("right", 1440, 0, 1512, 982), 185, 32);
    screens.setScreens({FakeScreens::screen("main", 0, 0, 1440, 900), right});
    tickAt({2000, 100});
    EXPECT_EQ(controller->screen()->name, QStringLiteral("right"));
    EXPECT_EQ(controller->currentFrame(), QRectF(1440 + 626, 950, 261, 32));  // 625.5 rounded to a pixel
    EXPECT_EQ(controller->geometry().hardwareWidth, 185);

    // Expanded, it stays where it is.
    controller->expandPanel(true);
    const QRectF open = controller->currentFrame();
    tickAt({100, 100});
    EXPECT_EQ(controller->screen()->name, QStringLiteral("right"));
    EXPECT_EQ(controller->currentFrame(), open);
}

TEST_F(PanelControllerTest, OpeningAndClosingSignalAndRecordTheTarget) {
    QSignalSpy shown(controller.get(), &PanelController::brevaltoShown);
    QSignalSpy hidden(controller.get(), &PanelController::brevaltoHidden);
    const std::int64_t self = QCoreApplication::applicationPid();

    apps.front = app("editor", 100);
    controller->expandPanel(false);
    EXPECT_EQ(controller->target(), app("editor", 100));
    apps.front = app("brevalto", self);
    controller->expandPanel(true);
    EXPECT_EQ(controller->target(), app("editor", 100));
    apps.front.reset();
    controller->expandPanel(true);
    EXPECT_FALSE(controller->target().has_value());
    ASSERT_EQ(shown.count(), 3);
    EXPECT_FALSE(shown.at(0).at(0).toBool());
    EXPECT_TRUE(shown.at(1).at(0).toBool());

    // Activations of other applications update the target; ours and unknown ones do not.
    controller->applicationActivated(app("terminal", 200));
    controller->applicationActivated(app("brevalto", self));
    controller->applicationActivated(std::nullopt);
    EXPECT_EQ(controller->target(), app("terminal", 200));

    // Re-opening an open panel closes the preview but keeps a workspace and applies makeKey.
    controller->showWorkspace(Workspace::editor(session()));
    controller->expandPanel(false);
    EXPECT_TRUE(controller->workspace().has_value());
    EXPECT_FALSE(controller->previewExpanded());
    EXPECT_FALSE(controller->pinnedOpen());

    // Collapsing a collapsed panel still signals, closes workspaces and clears the pin.
    controller->collapsePanel();
    controller->showWorkspace(Workspace::editor(session()));
    controller->collapsePanel();
    controller->setPinnedOpen(true);
    controller->collapsePanel();
    EXPECT_EQ(hidden.count(), 3);
    EXPECT_FALSE(controller->workspace().has_value());
    EXPECT_FALSE(controller->pinnedOpen());
    EXPECT_EQ(controller->currentFrame(), QRectF(601, 860, 238, 32));
}

TEST_F(PanelControllerTest, DraggingFreezesOpeningAndClosing) {
    controller->expandPanel(true);
    controller->setDragActive(true);
    QSignalSpy hidden(controller.get(), &PanelController::brevaltoHidden);
    controller->collapsePanel();
    controller->displayChanged();
    EXPECT_TRUE(controller->expanded());
    EXPECT_EQ(hidden.count(), 0);
    controller->setDragActive(false);
    controller->collapsePanel();
    controller->setDragActive(true);
    controller->expandPanel(true);
    EXPECT_FALSE(controller->expanded());
}

TEST_F(PanelControllerTest, EscapeWalksBackOneLevel) {
    auto editor = session();
    controller->showWorkspace(Workspace::editor(editor));
    controller->showWorkspace(Workspace::imageAI(aiModel()));
    EXPECT_EQ(controller->parentEditor(), editor);
    EXPECT_EQ(controller->currentFrame().width(), 1100);

    struct Step {
        bool expanded, preview, workspace;
        std::optional<Workspace::Kind> kind;
    } steps[] = {
        {true, true, true, Workspace::Kind::editor},  // image AI -> the kept editor
        {true, false, false, std::nullopt},           // editor -> list, preview closed
        {false, false, false, std::nullopt},          // list -> collapsed
    };
    for (const Step& step : steps) {
        ASSERT_TRUE(controller->handleEscape());
        EXPECT_EQ(controller->expanded(), step.expanded);
        EXPECT_EQ(controller->previewExpanded(), step.preview);
        EXPECT_EQ(controller->workspace().has_value(), step.workspace);
        if (step.kind) {
            EXPECT_EQ(controller->workspace()->kind(), *step.kind);
            EXPECT_EQ(controller->workspace()->session(), editor);
            EXPECT_EQ(controller->parentEditor(), nullptr);
        }
    }

    // An open preview pane closes first.
    controller->expandPanel(true);
    controller->setPreviewExpanded(true);
    EXPECT_EQ(controller->currentFrame().height(), 524);
    ASSERT_TRUE(controller->handleEscape());
    EXPECT_TRUE(controller->expanded());
    EXPECT_FALSE(controller->previewExpanded());
    EXPECT_EQ(controller->currentFrame().height(), 328);
}

TEST_F(PanelControllerTest, EscapeKeyReachesThePanelOnlyWhenItIsItsOwn) {
    auto* host = new QWidget;
    auto* field = new QLineEdit(host);
    auto* canvas = new ScreenshotCanvasView(session(), host);
    canvas->setFocusPolicy(Qt::StrongFocus);
    auto* layout = new QVBoxLayout(host);
    layout->addWidget(field);
    layout->addWidget(canvas);
    controller->surface()->setContent(host);
    controller->showWorkspace(Workspace::editor(session()));
    ASSERT_TRUE(waitUntil([&] { return controller->panel()->isActiveWindow(); }));

    // The canvas keeps Escape for itself inside the editor.
    canvas->setFocus();
    ASSERT_TRUE(waitUntil([&] { return QApplication::focusWidget() == canvas; }));
    QTest::keyClick(canvas, Qt::Key_Escape);
    EXPECT_TRUE(controller->workspace().has_value());

    // An input method composing in a text field keeps it too.
    field->setFocus();
    ASSERT_TRUE(waitUntil([&] { return QApplication::focusWidget() == field; }));
    QInputMethodEvent compose(QStringLiteral("ni"), {});
    QApplication::sendEvent(field, &compose);
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_TRUE(controller->workspace().has_value());
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("你"));
    QApplication::sendEvent(field, &commit);

    // Otherwise Escape closes the workspace, then collapses.
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_FALSE(controller->workspace().has_value());
    EXPECT_TRUE(controller->expanded());
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_FALSE(controller->expanded());
}

TEST_F(PanelControllerTest, WorkspaceStackKeepsOneEditor) {
    auto first = session();
    auto second = session();
    controller->showWorkspace(Workspace::editor(first));
    controller->showWorkspace(Workspace::imageAI(aiModel()));
    controller->showWorkspace(Workspace::imageAI(aiModel()));
    EXPECT_EQ(controller->parentEditor(), first);
    controller->showWorkspace(Workspace::regions(regionsModel()));
    EXPECT_EQ(controller->parentEditor(), first);

    // A new editor keeps nothing underneath; the dropped editor finishes its editing.
    TaskHandle ocr(std::make_shared<std::stop_source>());
    workflow->editor()->setOCRTask(ocr);
    controller->showWorkspace(Workspace::editor(second));
    EXPECT_EQ(controller->parentEditor(), nullptr);
    EXPECT_TRUE(ocr.isCancelled());
    EXPECT_EQ(controller->workspace()->session(), second);

    // Closing the preview with an editor underneath returns to that editor.
    controller->showWorkspace(Workspace::imageAI(aiModel()));
    controller->setPreviewExpanded(false);
    EXPECT_EQ(controller->workspace()->kind(), Workspace::Kind::editor);
    EXPECT_EQ(controller->workspace()->session(), second);
    EXPECT_TRUE(controller->previewExpanded());
    EXPECT_TRUE(controller->pinnedOpen());

    // Without the workflow, dropping the editor still works.
    workflow->editor()->setOCRTask(TaskHandle(std::make_shared<std::stop_source>()));
    controller->setScreenshots(nullptr);
    controller->closeWorkspace(false);
    EXPECT_FALSE(controller->workspace().has_value());
    EXPECT_FALSE(workflow->editor()->ocrTask().isCancelled());

    // The reference is weak: a workflow that is gone is never reached.
    controller->setScreenshots(workflow.get());
    controller->showWorkspace(Workspace::editor(session()));
    workflow.reset();
    EXPECT_EQ(controller->screenshots(), nullptr);
    controller->closeWorkspace(false);
    EXPECT_FALSE(controller->workspace().has_value());
}

TEST_F(PanelControllerTest, OnCloseRunsOnceHoweverTheWorkspaceCloses) {
    struct Case {
        const char* name;
        std::function<void(PanelController&)> close;
    } cases[] = {
        {"escape", [](PanelController& c) { c.handleEscape(); }},
        {"collapse", [](PanelController& c) { c.collapsePanel(); }},
        {"replacement", [this](PanelController& c) { c.showWorkspace(Workspace::imageAI(aiModel())); }},
        {"preview closed", [](PanelController& c) { c.setPreviewExpanded(false); }},
        {"sleep", [](PanelController& c) { c.sleeping(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        int runs = 0;
        controller->showWorkspace(Workspace::imageAI(aiModel()), [&] { ++runs; });
        c.close(*controller);
        EXPECT_EQ(runs, 1);
        controller->collapsePanel();
        controller->closeWorkspace(false);
        EXPECT_EQ(runs, 1);
    }
}

TEST_F(PanelControllerTest, ShowTranslationOpensThePreviewPinnedAndStartsTheRequest) {
    controller->setAIActions(&backend);
    controller->expandPanel(false);
    ASSERT_FALSE(controller->pinnedOpen());
    const Clip first(Clip::Kind::text, SharedText("token ghp_" + std::string(36, 'a')), std::nullopt, "d", 40, "t");
    controller->showTranslation(first);
    auto model = controller->translation();
    ASSERT_TRUE(model);
    EXPECT_FALSE(model->ocr);
    EXPECT_TRUE(controller->previewExpanded());
    EXPECT_TRUE(controller->pinnedOpen());
    EXPECT_TRUE(model->busy());
    ASSERT_EQ(backend.jobs.size(), 1u);
    EXPECT_EQ(backend.last().content.at(0).at("text"), SecretScanner::masked(first.text->str()));

    // A second translation cancels the first, whose late reply is dropped.
    controller->showTranslation(Clip(Clip::Kind::text, SharedText("hello"), std::nullopt, "e", 5, "t"));
    EXPECT_FALSE(model->busy());
    backend.jobs.front()->reply("stale");
    EXPECT_TRUE(model->result().isEmpty());
    backend.last().reply("こんにちは");
    EXPECT_EQ(controller->translation()->result(), QStringLiteral("こんにちは"));

    // The region translator needs the model and an image file.
    EXPECT_THROW(controller->showRegionTranslator(first, controller->translation()), AIError);
    const Clip image(Clip::Kind::image, std::nullopt, std::string("a.png"), "i", 5, "t");
    EXPECT_THROW(controller->showRegionTranslator(image, std::weak_ptr<AIActionModel>()), AIError);
    // A missing file is reported in the status line; an image opens the workspace and recognition.
    controller->showRegionTranslator(image, controller->translation());
    EXPECT_EQ(store->message(), QStringLiteral("The file \u201Ca.png\u201D couldn\u2019t be opened."));
    EXPECT_NE(controller->workspace()->kind(), Workspace::Kind::regions);
    QImage(4, 4, QImage::Format_RGB32).save(QString::fromStdString((folder / "a.png").string()));
    controller->translation()->setTarget("fr");
    controller->showRegionTranslator(image, controller->translation());
    ASSERT_TRUE(controller->workspace());
    EXPECT_EQ(controller->workspace()->kind(), Workspace::Kind::regions);
    const auto& regions = *controller->workspace()->regionsModel();
    EXPECT_EQ(regions.target(), "fr");
    EXPECT_FALSE(regions.inferTarget);
    EXPECT_TRUE(regions.busy());
    EXPECT_EQ(backend.last().file, regions.sourceURL);
}

TEST_F(PanelControllerTest, ClosingCancelsTheWorkspaceModels) {
    auto ai = aiModel();
    auto regions = regionsModel();
    ai->submit(folder.path());
    ASSERT_TRUE(ai->busy());
    regions->detectRegions();
    ASSERT_TRUE(regions->busy());
    controller->showWorkspace(Workspace::imageAI(ai));
    controller->showWorkspace(Workspace::regions(regions));
    EXPECT_FALSE(ai->busy());
    controller->collapsePanel();
    EXPECT_FALSE(regions->busy());
}

TEST_F(PanelControllerTest, CollapsingGivesTheKeyboardBack) {
    apps.front = app("editor", 100);
    controller->expandPanel(false);
    controller->collapsePanel();
    EXPECT_TRUE(apps.activated.empty());  // it never had the keyboard

    controller->expandPanel(true);
    ASSERT_TRUE(waitUntil([&] { return controller->panel()->isActiveWindow(); }));
    controller->collapsePanel();
    ASSERT_EQ(apps.activated.size(), 1u);
    EXPECT_EQ(apps.activated[0], app("editor", 100));
}

TEST_F(PanelControllerTest, CollapsedNotchButtonOpensThePanelWithTheKeyboard) {
    QSignalSpy shown(controller.get(), &PanelController::brevaltoShown);
    QAbstractButton* button = controller->surface()->notchButton();
    EXPECT_EQ(button->accessibleName(), QStringLiteral("Open clipboard"));
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(button);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->text(QAccessible::Name), QStringLiteral("Open clipboard"));
    EXPECT_EQ(accessible->text(QAccessible::Value), QStringLiteral("0 items"));
    for (const char* text : {"one", "two", "three"}) store->addText(text, "test");
    store->flush();
    EXPECT_EQ(accessible->text(QAccessible::Value), QStringLiteral("3 items"));
    EXPECT_TRUE(button->isVisible());
    EXPECT_FALSE(controller->surface()->content()->isVisible());
    button->click();
    EXPECT_TRUE(controller->expanded());
    EXPECT_TRUE(controller->pinnedOpen());
    ASSERT_EQ(shown.count(), 1);
    EXPECT_TRUE(shown.at(0).at(0).toBool());
    EXPECT_FALSE(button->isVisible());
    EXPECT_TRUE(controller->surface()->content()->isVisible());
    // The content is laid out at the full expanded size, centred, from the top.
    EXPECT_EQ(controller->surface()->content()->geometry(), QRect(0, 0, 740, 328));
}

TEST_F(PanelControllerTest, ScreenChangesKeepAValidFrame) {
    controller->expandPanel(true);
    struct Case {
        const char* name;
        std::vector<ScreenInfo> screens;
        int main;
        QPointF mouse;
        QRectF expected;
    } cases[] = {
        {"bigger screen", {FakeScreens::screen("big", 0, 0, 2560, 1440)}, 0, {10, 10}, {910, 1104, 740, 328}},
        {"mouse off every screen uses the main one",
         {FakeScreens::screen("a", 0, 0, 1440, 900), FakeScreens::screen("b", 1440, 0, 1280, 800)}, 1, {-50, -50},
         {1440 + 270, 464, 740, 328}},
        {"zero-sized screen", {FakeScreens::screen("zero", 0, 0, 0, 0)}, 0, {0, 0}, {-0.5, -9, 1, 1}},
        {"all screens gone keeps the last frame", {}, -1, {10, 10}, {-0.5, -9, 1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        screens.setScreens(c.screens, c.main);
        screens.setMouse(c.mouse);
        emit screens.screensChanged();
        EXPECT_TRUE(controller->expanded());
        const QRect qt = controller->panel()->geometry();
        EXPECT_GE(qt.width(), 1);
        EXPECT_GE(qt.height(), 1);
        EXPECT_EQ(controller->currentFrame().width(), c.expected.width());
        EXPECT_EQ(controller->currentFrame().height(), c.expected.height());
        if (c.expected.width() > 1) {
            EXPECT_EQ(controller->currentFrame(), c.expected);
        }
    }
}

TEST_F(PanelControllerTest, SleepCaptureAndWake) {
    controller->expandPanel(true);
    emit screens.willSleep();
    EXPECT_FALSE(controller->expanded());
    EXPECT_FALSE(controller->panel()->isVisible());
    emit screens.didWake();
    EXPECT_TRUE(controller->panel()->isVisible());
    EXPECT_EQ(screens.preparedWindows(), 2);

    // Around a capture the panel stays off screen, even when the screens change meanwhile.
    controller->expandPanel(true);
    controller->setCaptureActive(true);
    controller->collapsePanel();
    controller->orderOut();
    emit screens.screensChanged();
    emit screens.didWake();
    controller->collapsePanel();  // the clipboard hot key, say
    EXPECT_FALSE(controller->panel()->isVisible());
    controller->setCaptureActive(false);
    controller->updatePanelFrame(false);
    controller->orderFront();
    EXPECT_TRUE(controller->panel()->isVisible());
}

TEST_F(PanelControllerTest, FrameChangesAnimateUnlessMotionIsReduced) {
    screens.setReduceMotion(false);
    controller->expandPanel(true);
    EXPECT_NE(controller->panel()->geometry(), QRect(350, 8, 740, 328));
    EXPECT_TRUE(waitUntil([&] { return controller->panel()->geometry() == QRect(350, 8, 740, 328); }, 2000));
    screens.setReduceMotion(true);
    controller->collapsePanel();
    EXPECT_EQ(controller->panel()->geometry(), QRect(601, 8, 238, 32));
}

TEST_F(PanelControllerTest, HoverJudgesTheFrameAnAnimationIsHeadingFor) {
    screens.setReduceMotion(false);
    // Escape with the mouse over the panel's upper part, beside the notch: while the window
    // shrinks, the mouse is still inside it, but the collapsed notch is not under the mouse.
    controller->expandPanel(true);
    ASSERT_TRUE(waitUntil([&] { return controller->panel()->geometry() == QRect(350, 8, 740, 328); }, 2000));
    controller->collapsePanel();
    tickAt({400, 850});
    EXPECT_FALSE(controller->expanded());

    // A hover open, then a quick move down into the list: the growing window has not reached
    // the mouse yet, but the panel it is becoming holds it.
    tickAt({720, 876});
    ASSERT_TRUE(controller->expanded());
    tickAt({720, 600});
    EXPECT_TRUE(controller->expanded());
}

}  // namespace
}  // namespace brevalto
