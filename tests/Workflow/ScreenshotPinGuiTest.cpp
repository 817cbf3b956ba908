#include "ClipCore/Clip.h"
#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
#include "Document/ScreenshotDocument.h"
#include "Editor/ScreenshotEditorController.h"
#include "Panel/PanelController.h"
#include "Platform/Defaults.h"
#include "Workflow/ScreenshotPinController.h"
#include "Workflow/ScreenshotPinState.h"
#include "Workflow/ScreenshotPinView.h"
#include "Workflow/ScreenshotReferencePanel.h"
#include "Workflow/ScreenshotWorkflow.h"

#include "FakeApps.h"
#include "FakeClock.h"
#include "FakePasteboard.h"
#include "FakeScreens.h"
#include "QtWait.h"
#include "TestFolder.h"
#include "TestImages.h"

#include <QApplication>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace brevalto {
namespace {

template <class T>
T* find(const QWidget* root, const char* name) {
    T* found = root->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

QImage filled(int width, int height, QColor colour) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    return image;
}

// Lets deferred deletes of closed pins run.
void settle() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

TEST(ScreenshotPinFrame, ContentHeightIsTheImageAtWidth420PlusControlsWithin240To600) {
    const struct {
        QSize image;
        int height;
    } cases[] = {
        {{420, 100}, 240},    // 180 is raised to 240
        {{420, 160}, 240},    // exactly 240
        {{300, 300}, 500},    // any square
        {{8000, 8000}, 500},  // 64 megapixels
        {{1, 1}, 500},
        {{840, 700}, 430},
        {{100, 2000}, 600},  // 8480 is lowered to 600
        {{1, 65536}, 600},
        {{65536, 1}, 240},
        {{0, 0}, 240},  // an empty image does not divide by zero
    };
    for (const auto& c : cases)
        EXPECT_EQ(ScreenshotPinController::contentHeight(c.image), c.height)
            << c.image.width() << "x" << c.image.height();
}

TEST(ScreenshotPinFrame, CascadeStepsBy24AndRestartsAfterEight) {
    const QRect screen(0, 0, 1440, 900);
    // Centred: (1440 - 420) / 2 = 510 and (900 - 500) / 2 = 200 for a square image.
    EXPECT_EQ(ScreenshotPinController::initialFrame({10, 10}, screen, 0), QRect(510, 200, 420, 500));
    EXPECT_EQ(ScreenshotPinController::initialFrame({10, 10}, screen, 3), QRect(582, 272, 420, 500));
    EXPECT_EQ(ScreenshotPinController::initialFrame({10, 10}, screen, 7), QRect(678, 368, 420, 500));
    EXPECT_EQ(ScreenshotPinController::initialFrame({10, 10}, screen, 8), QRect(510, 200, 420, 500));
    EXPECT_EQ(ScreenshotPinController::initialFrame({10, 10}, screen, 49), QRect(534, 224, 420, 500));
    // A work area below a top bar keeps the centring inside it.
    EXPECT_EQ(ScreenshotPinController::initialFrame({420, 100}, QRect(100, 30, 1000, 800), 0),
              QRect(390, 310, 420, 240));
}

TEST(ScreenshotPinFrame, ImageFitsTheAreaAtZoomOneAndScalesWithZoom) {
    EXPECT_EQ(ScreenshotPinImageArea::imageFrame({800, 400}, {400, 300}, 1.0), QSize(400, 200));
    EXPECT_EQ(ScreenshotPinImageArea::imageFrame({800, 400}, {400, 300}, 2.0), QSize(800, 400));
    EXPECT_EQ(ScreenshotPinImageArea::imageFrame({800, 400}, {400, 300}, 0.1), QSize(40, 20));
    EXPECT_EQ(ScreenshotPinImageArea::imageFrame({100, 2000}, {404, 400}, 1.0), QSize(20, 400));
    EXPECT_EQ(ScreenshotPinImageArea::imageFrame({8000, 8000}, {404, 387}, 4.0), QSize(1548, 1548));
    EXPECT_EQ(ScreenshotPinImageArea::imageFrame({800, 400}, {0, 0}, 1.0), QSize(0, 0));
}

class ScreenshotPinTest : public ::testing::Test {
public:
    ScreenshotPinTest() {
        screens.setScreens({FakeScreens::screen("main", 0, 0, 1440, 900)});
        screens.setPrimaryHeight(900);
    }
    ScreenshotReferencePanel* open(const QImage& image, std::function<void()> reopen = {}) {
        pins.showReference(image, std::move(reopen));
        return pins.panels().back();
    }

    FakeScreens screens;
    Defaults defaults;
    ScreenshotPinController pins{screens, defaults};
};

TEST_F(ScreenshotPinTest, OpensAFloatingUnfocusableWindowCentredThenCascaded) {
    ScreenshotReferencePanel* first = open(filled(420, 100, Qt::red));
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->windowTitle(), QStringLiteral("Brevalto Reference"));
    EXPECT_EQ(first->geometry(), QRect(510, 330, 420, 240));
    EXPECT_EQ(first->minimumSize(), QSize(280, 180));
    const Qt::WindowFlags flags = first->windowFlags();
    for (Qt::WindowType flag : {Qt::Tool, Qt::WindowStaysOnTopHint, Qt::WindowDoesNotAcceptFocus,
                                Qt::WindowTitleHint, Qt::WindowCloseButtonHint})
        EXPECT_TRUE(flags.testFlag(flag)) << flag;
    EXPECT_TRUE(first->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_FALSE(first->isActiveWindow());
    EXPECT_EQ(screens.preparedWindows(), 1);
    EXPECT_EQ(screens.shownInTaskbar(), false);  // "showInDock" is off by default

    defaults.set("showInDock", true);
    ScreenshotReferencePanel* second = open(filled(300, 300, Qt::blue));
    EXPECT_EQ(second->geometry(), QRect(534, 224, 420, 500));
    EXPECT_EQ(screens.shownInTaskbar(), true);
    pins.applyTaskbarPolicy(false);
    EXPECT_EQ(screens.shownInTaskbar(), false);
    EXPECT_EQ(pins.panels(), (std::vector<ScreenshotReferencePanel*>{first, second}));
    EXPECT_NE(&first->state(), &second->state());
}

TEST_F(ScreenshotPinTest, FiftyPinsCascadeByHowManyAreOpenAndEachCloseRemovesExactlyItsPin) {
    const QImage image = filled(64, 64, Qt::green);
    for (int i = 0; i < 50; ++i) open(image);
    ASSERT_EQ(pins.panels().size(), 50u);
    for (std::size_t i = 0; i < 50; ++i) {
        const int step = 24 * int(i % 8);
        EXPECT_EQ(pins.panels()[i]->geometry().topLeft(), QPoint(510 + step, 200 + step)) << i;
    }

    std::vector<ScreenshotReferencePanel*> expected = pins.panels();
    QPointer<ScreenshotReferencePanel> byButton = expected[3];
    QPointer<ScreenshotReferencePanel> byTitleBar = expected[10];
    QTest::mouseClick(find<QPushButton>(byButton, "close"), Qt::LeftButton);
    byTitleBar->close();  // what the window manager's close button does
    byTitleBar->close();  // a second close finds nothing more to remove
    expected.erase(expected.begin() + 10);
    expected.erase(expected.begin() + 3);
    EXPECT_EQ(pins.panels(), expected);
    settle();
    EXPECT_TRUE(byButton.isNull());
    EXPECT_TRUE(byTitleBar.isNull());

    // 48 open: the next steps 0 from the centre; with three left open it steps 72.
    EXPECT_EQ(open(image)->geometry().topLeft(), QPoint(510, 200));
    while (pins.panels().size() > 3) pins.panels().front()->close();
    settle();
    EXPECT_EQ(open(image)->geometry().topLeft(), QPoint(582, 272));
}

TEST_F(ScreenshotPinTest, LockFixesTheWindowWhileOpacityEditorCloseAndScrollingKeepWorking) {
    int reopened = 0;
    ScreenshotReferencePanel* panel = open(filled(800, 400, Qt::red), [&] { ++reopened; });
    ScreenshotPinState& state = panel->state();
    auto* lock = find<QPushButton>(panel, "lock");
    auto* zoom = find<QSlider>(panel, "zoom");
    auto* opacity = find<QSlider>(panel, "opacity");
    EXPECT_EQ(lock->text(), QStringLiteral("Lock"));
    EXPECT_TRUE(panel->movableByBackground());

    QTest::mouseClick(lock, Qt::LeftButton);
    EXPECT_TRUE(state.locked());
    EXPECT_EQ(lock->text(), QStringLiteral("Unlock"));
    EXPECT_FALSE(zoom->isEnabled());
    EXPECT_FALSE(panel->movableByBackground());
    EXPECT_EQ(panel->minimumSize(), panel->size());
    EXPECT_EQ(panel->maximumSize(), panel->size());
    EXPECT_EQ(screens.windowFixed(), true);

    opacity->setValue(500);
    EXPECT_DOUBLE_EQ(state.opacity(), 0.5);
    QTest::mouseClick(find<QPushButton>(panel, "editor"), Qt::LeftButton);
    QTest::mouseClick(find<QPushButton>(panel, "editor"), Qt::LeftButton);
    EXPECT_EQ(reopened, 2);
    EXPECT_TRUE(panel->isVisible());
    // Zoomed before the lock, the image still scrolls while locked.
    state.setZoom(3.0);
    QScrollBar* bar = panel->view()->imageArea()->horizontalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    bar->setValue(bar->maximum());
    EXPECT_EQ(bar->value(), bar->maximum());

    QTest::mouseClick(lock, Qt::LeftButton);
    EXPECT_FALSE(state.locked());
    EXPECT_EQ(lock->text(), QStringLiteral("Lock"));
    EXPECT_TRUE(zoom->isEnabled());
    EXPECT_TRUE(panel->movableByBackground());
    EXPECT_EQ(panel->minimumSize(), QSize(280, 180));
    EXPECT_EQ(panel->maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    EXPECT_EQ(screens.windowFixed(), false);

    QTest::mouseClick(find<QPushButton>(panel, "close"), Qt::LeftButton);
    EXPECT_TRUE(pins.panels().empty());
    // The state outlives nothing: a lock after the window is gone only flips the flag.
    settle();
}

TEST_F(ScreenshotPinTest, OpacityFadesTheWindowWithACompositorAndTheImageWithoutOne) {
    ScreenshotReferencePanel* plain = open(filled(400, 400, Qt::red));
    QApplication::processEvents();
    auto* slider = find<QSlider>(plain, "opacity");
    slider->setValue(slider->minimum());
    EXPECT_DOUBLE_EQ(plain->state().opacity(), 0.15);
    plain->state().setOpacity(0.0);  // never below 0.15
    EXPECT_DOUBLE_EQ(plain->state().opacity(), 0.15);
    EXPECT_DOUBLE_EQ(plain->windowOpacity(), 1.0);
    const QImage faded = plain->view()->imageArea()->image()->grab().toImage();
    ASSERT_FALSE(faded.isNull());
    const QColor drawn = faded.pixelColor(faded.width() / 2, faded.height() / 2);
    EXPECT_LT(drawn.red(), 255);  // red at 15 % over the window's background
    EXPECT_GT(drawn.red(), drawn.green());

    screens.setCompositor(true);
    ScreenshotReferencePanel* composited = open(filled(400, 400, Qt::red));
    QApplication::processEvents();
    find<QSlider>(composited, "opacity")->setValue(400);
    EXPECT_DOUBLE_EQ(composited->windowOpacity(), 0.4);
    const QImage full = composited->view()->imageArea()->image()->grab().toImage();
    EXPECT_EQ(full.pixelColor(full.width() / 2, full.height() / 2), QColor(Qt::red));
}

TEST_F(ScreenshotPinTest, ZoomOneFitsTheAreaAndLargerZoomOverflowsIntoScrolling) {
    ScreenshotReferencePanel* panel = open(filled(800, 400, Qt::red));
    QApplication::processEvents();
    ScreenshotPinImageArea* area = panel->view()->imageArea();
    const QSize fitted = area->image()->size();
    EXPECT_TRUE(fitted.width() == area->width() || fitted.height() == area->height());
    EXPECT_LE(fitted.width(), area->width());
    EXPECT_LE(fitted.height(), area->height());
    EXPECT_EQ(area->horizontalScrollBar()->maximum(), 0);

    find<QSlider>(panel, "zoom")->setValue(2000);
    EXPECT_DOUBLE_EQ(panel->state().zoom(), 2.0);
    EXPECT_EQ(area->image()->width(), ScreenshotPinImageArea::imageFrame({800, 400}, area->size(), 2.0).width());
    QApplication::processEvents();
    EXPECT_GT(area->horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(area->image()->accessibleName(), QStringLiteral("Pinned screenshot"));
}

TEST_F(ScreenshotPinTest, A64MegapixelImagePinsAtTheSquareHeightAndDraws) {
    QImage huge(8000, 8000, QImage::Format_ARGB32_Premultiplied);
    ASSERT_FALSE(huge.isNull());
    huge.fill(Qt::blue);
    ScreenshotReferencePanel* panel = open(huge);
    huge = QImage();
    EXPECT_EQ(panel->size(), QSize(420, 500));
    const QImage drawn = panel->view()->imageArea()->image()->grab().toImage();
    ASSERT_FALSE(drawn.isNull());
    EXPECT_EQ(drawn.pixelColor(drawn.width() / 2, drawn.height() / 2), QColor(Qt::blue));
}

// The workflow's pin: the clip's document, rendered, in a pin whose Editor reopens the clip.
class WorkflowPinTest : public ::testing::Test {
public:
    WorkflowPinTest() {
        screens.setScreens({FakeScreens::screen("main", 0, 0, 1440, 900)});
        screens.setPrimaryHeight(900);
    }
    Clip addImage(const QImage& image) {
        std::optional<Clip> added;
        store.addImage(encodedImage(image, "PNG"), "test", 1.0, {}, [&](std::optional<Clip> c) { added = c; });
        EXPECT_TRUE(waitUntil([&] { return added.has_value(); }));
        return added.value_or(Clip{});
    }

    TestFolder folder;
    FakeClock clock;
    ClipStore store{folder.path(), clock};
    FakePasteboard board;
    FakeApps apps;
    FakeScreens screens;
    Defaults defaults;
    ClipboardMonitor monitor{store, board, apps, defaults};
    PanelController controller{store, monitor, screens, apps, defaults};
    ScreenshotWorkflow workflow{store, monitor, controller, defaults, screens};
};

TEST_F(WorkflowPinTest, PinsTheRenderedDocumentAndReopensTheClip) {
    EXPECT_EQ(workflow.editor()->pins(), workflow.pins());
    const Clip clip = addImage(filled(40, 20, Qt::red));
    ASSERT_TRUE(clip.imageFile.has_value());

    // The document's crop is part of what is pinned: the edited image, not the capture.
    auto loaded = ScreenshotDocument::load(screenshotDocumentsRoot(store.root()), clip.id,
                                           store.root() / *clip.imageFile, 1.0);
    loaded.document.crop = QRectF(0, 0, 10, 8);
    ScreenshotDocument::save(loaded.document, loaded.folder);

    workflow.pin(clip);
    ASSERT_EQ(workflow.pins()->panels().size(), 1u);
    ScreenshotReferencePanel* panel = workflow.pins()->panels().front();
    EXPECT_EQ(panel->state().image().size(), QSize(10, 8));
    EXPECT_EQ(panel->state().image().pixelColor(5, 4), QColor(Qt::red));

    // The clip is deleted: its pin keeps its image and Editor still reaches the workflow.
    store.commit({});
    store.flush();
    store.setMessage(QString());
    QTest::mouseClick(find<QPushButton>(panel, "editor"), Qt::LeftButton);
    EXPECT_FALSE(store.message().isEmpty());  // the editor's own answer about that clip
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->state().image().size(), QSize(10, 8));

    // Pinning the deleted clip again opens nothing and says why.
    store.setMessage(QString());
    workflow.pin(clip);
    EXPECT_EQ(workflow.pins()->panels().size(), 1u);
    EXPECT_FALSE(store.message().isEmpty());

    // A clip without an image file does nothing at all.
    store.setMessage(QString());
    Clip text = clip;
    text.imageFile.reset();
    workflow.pin(text);
    EXPECT_EQ(workflow.pins()->panels().size(), 1u);
    EXPECT_TRUE(store.message().isEmpty());
}

TEST_F(WorkflowPinTest, AnUnsafeImageFileNameIsRefused) {
    Clip clip = addImage(filled(4, 4, Qt::red));
    clip.imageFile = "../" + *clip.imageFile;
    workflow.pin(clip);
    EXPECT_TRUE(workflow.pins()->panels().empty());
    EXPECT_FALSE(store.message().isEmpty());
}

}  // namespace
}  // namespace brevalto
