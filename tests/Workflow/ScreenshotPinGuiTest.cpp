#include "ClipCore/Clip.h"
#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
#include "Document/ScreenshotDocument.h"
#include "Editor/EditorPrompts.h"
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
#include "FakeScreenCapture.h"
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

QColor centreOf(QWidget* widget) {
    const QImage shot = widget->grab().toImage();
    return shot.pixelColor(shot.width() / 2, shot.height() / 2);
}

void releaseClosed() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

TEST(ScreenshotPinFrame, HeightCascadeAndImageFit) {
    // The image's height at width 420 plus 80, raised to 240 and lowered to 600.
    const std::pair<QSize, int> heights[] = {{{420, 100}, 240}, {{420, 160}, 240}, {{300, 300}, 500},
                                             {{8000, 8000}, 500}, {{840, 700}, 430}, {{100, 2000}, 600},
                                             {{1, 65536}, 600}, {{0, 0}, 240}};
    for (const auto& [image, height] : heights)
        EXPECT_EQ(ScreenshotPinController::contentHeight(image), height) << image.width() << "x" << image.height();

    // Centred in the work area, then 24 right and down per open pin, centred again after eight.
    const QRect screen(0, 0, 1440, 900);
    const std::pair<std::size_t, QPoint> cascade[] = {{0, {510, 200}}, {3, {582, 272}}, {7, {678, 368}},
                                                      {8, {510, 200}}, {49, {534, 224}}};
    for (const auto& [open, origin] : cascade)
        EXPECT_EQ(ScreenshotPinController::initialFrame({10, 10}, screen, open), QRect(origin, QSize(420, 500)))
            << open;
    EXPECT_EQ(ScreenshotPinController::initialFrame({420, 100}, QRect(100, 30, 1000, 800), 0),
              QRect(390, 310, 420, 240));

    // At zoom 1 the image fits its area; the zoom scales that.
    EXPECT_EQ(ScreenshotPinImageArea::imageFrame({800, 400}, {400, 300}, 1.0), QSize(400, 200));
    EXPECT_EQ(ScreenshotPinImageArea::imageFrame({800, 400}, {400, 300}, 2.0), QSize(800, 400));
    EXPECT_EQ(ScreenshotPinImageArea::imageFrame({100, 2000}, {404, 400}, 1.0), QSize(20, 400));
    EXPECT_EQ(ScreenshotPinImageArea::imageFrame({8000, 8000}, {404, 387}, 4.0), QSize(1548, 1548));
    EXPECT_EQ(ScreenshotPinImageArea::imageFrame({800, 400}, {0, 0}, 1.0), QSize(0, 0));
}

class ScreenshotPinTest : public ::testing::Test {
public:
    ScreenshotPinTest() { screens.setScreens({FakeScreens::screen("main", 0, 0, 1440, 900)}); }
    ScreenshotReferencePanel* open(const QImage& image, std::function<void()> reopen = {}) {
        pins.showReference(image, std::move(reopen));
        return pins.panels().back();
    }

    FakeScreens screens;
    Defaults defaults;
    ScreenshotPinController pins{screens, defaults};
};

TEST_F(ScreenshotPinTest, OpensAFloatingUnfocusableWindowThatFollowsTheTaskbarSetting) {
    ScreenshotReferencePanel* first = open(filled(420, 100, Qt::red));
    EXPECT_TRUE(first->isVisible());
    EXPECT_FALSE(first->isActiveWindow());
    EXPECT_EQ(first->windowTitle(), QStringLiteral("Brevalto Reference"));
    EXPECT_EQ(first->geometry(), QRect(510, 330, 420, 240));
    EXPECT_EQ(first->minimumSize(), QSize(280, 180));
    for (Qt::WindowType flag : {Qt::Tool, Qt::WindowStaysOnTopHint, Qt::WindowDoesNotAcceptFocus,
                                Qt::WindowTitleHint, Qt::WindowCloseButtonHint})
        EXPECT_TRUE(first->windowFlags().testFlag(flag)) << flag;
    EXPECT_EQ(screens.preparedWindows(), 1);
    EXPECT_EQ(screens.shownInTaskbar(), false);  // "showInDock" is off by default

    defaults.set("showInDock", true);
    ScreenshotReferencePanel* second = open(filled(300, 300, Qt::blue));
    EXPECT_EQ(second->geometry(), QRect(534, 224, 420, 500));
    EXPECT_EQ(screens.shownInTaskbar(), true);
    pins.applyTaskbarPolicy(false);
    EXPECT_EQ(screens.shownInTaskbar(), false);

    // A window manager that starts late and leaves them unmapped gets them mapped again.
    screens.unmapped = true;
    emit screens.windowManagerChanged();
    EXPECT_TRUE(waitUntil([&] { return screens.mappedAgain >= 2; }));
    screens.unmapped = false;
    EXPECT_TRUE(first->isVisible() && second->isVisible());
    EXPECT_EQ(screens.shownInTaskbar(), false);
}

TEST_F(ScreenshotPinTest, FiftyPinsCascadeByHowManyAreOpenAndEachCloseRemovesExactlyItsPin) {
    const QImage image = filled(64, 64, Qt::green);
    for (int i = 0; i < 50; ++i) open(image);
    ASSERT_EQ(pins.panels().size(), 50u);
    for (std::size_t i = 0; i < 50; ++i)
        EXPECT_EQ(pins.panels()[i]->geometry().topLeft(), QPoint(510, 200) + QPoint(24, 24) * int(i % 8)) << i;

    std::vector<ScreenshotReferencePanel*> expected = pins.panels();
    QPointer<ScreenshotReferencePanel> byButton = expected[3], byTitleBar = expected[10];
    QTest::mouseClick(find<QPushButton>(byButton, "close"), Qt::LeftButton);
    byTitleBar->close();  // what the window manager's close button does
    byTitleBar->close();
    expected.erase(expected.begin() + 10);
    expected.erase(expected.begin() + 3);
    EXPECT_EQ(pins.panels(), expected);
    releaseClosed();
    EXPECT_TRUE(byButton.isNull() && byTitleBar.isNull());

    // 48 open: the next opens centred; with three open it steps 72.
    EXPECT_EQ(open(image)->geometry().topLeft(), QPoint(510, 200));
    while (pins.panels().size() > 3) pins.panels().front()->close();
    releaseClosed();
    EXPECT_EQ(open(image)->geometry().topLeft(), QPoint(582, 272));
}

TEST_F(ScreenshotPinTest, LockFixesTheWindowWhileOpacityEditorCloseAndScrollingKeepWorking) {
    int reopened = 0;
    ScreenshotReferencePanel* panel = open(filled(800, 400, Qt::red), [&] { ++reopened; });
    QApplication::processEvents();
    ScreenshotPinState& state = panel->state();
    auto* lock = find<QPushButton>(panel, "lock");
    auto* zoom = find<QSlider>(panel, "zoom");
    QScrollBar* bar = panel->view()->imageArea()->horizontalScrollBar();
    EXPECT_EQ(bar->maximum(), 0);  // at zoom 1 the image fits
    zoom->setValue(3000);
    EXPECT_DOUBLE_EQ(state.zoom(), 3.0);
    QApplication::processEvents();
    EXPECT_GT(bar->maximum(), 0);

    QTest::mouseClick(lock, Qt::LeftButton);
    EXPECT_TRUE(state.locked());
    EXPECT_EQ(lock->text(), QStringLiteral("Unlock"));
    EXPECT_FALSE(zoom->isEnabled());
    EXPECT_FALSE(panel->movableByBackground());
    EXPECT_EQ(panel->minimumSize(), panel->size());
    EXPECT_EQ(panel->maximumSize(), panel->size());
    EXPECT_EQ(screens.windowFixed(), true);

    find<QSlider>(panel, "opacity")->setValue(500);
    EXPECT_DOUBLE_EQ(state.opacity(), 0.5);
    QTest::mouseClick(find<QPushButton>(panel, "editor"), Qt::LeftButton);
    QTest::mouseClick(find<QPushButton>(panel, "editor"), Qt::LeftButton);
    EXPECT_EQ(reopened, 2);
    EXPECT_TRUE(panel->isVisible());
    bar->setValue(bar->maximum());
    EXPECT_EQ(bar->value(), bar->maximum());

    QTest::mouseClick(lock, Qt::LeftButton);
    EXPECT_EQ(lock->text(), QStringLiteral("Lock"));
    EXPECT_TRUE(zoom->isEnabled());
    EXPECT_TRUE(panel->movableByBackground());
    EXPECT_EQ(panel->minimumSize(), QSize(280, 180));
    EXPECT_EQ(panel->maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    EXPECT_EQ(screens.windowFixed(), false);
}

TEST_F(ScreenshotPinTest, OpacityFadesTheWindowWithACompositorAndTheImageWithoutOne) {
    ScreenshotReferencePanel* plain = open(filled(400, 400, Qt::red));
    QApplication::processEvents();
    auto* slider = find<QSlider>(plain, "opacity");
    slider->setValue(slider->minimum());
    plain->state().setOpacity(0.0);
    EXPECT_DOUBLE_EQ(plain->state().opacity(), 0.15);  // never invisible
    EXPECT_DOUBLE_EQ(plain->windowOpacity(), 1.0);
    const QColor faded = centreOf(plain->view()->imageArea()->image());
    EXPECT_LT(faded.red(), 255);
    EXPECT_GT(faded.red(), faded.green());

    screens.setCompositor(true);
    ScreenshotReferencePanel* composited = open(filled(400, 400, Qt::red));
    QApplication::processEvents();
    find<QSlider>(composited, "opacity")->setValue(400);
    EXPECT_DOUBLE_EQ(composited->windowOpacity(), 0.4);
    EXPECT_EQ(centreOf(composited->view()->imageArea()->image()), QColor(Qt::red));
}

TEST_F(ScreenshotPinTest, A64MegapixelImagePinsAtTheSquareHeightAndDraws) {
    QImage huge(8000, 8000, QImage::Format_ARGB32_Premultiplied);
    ASSERT_FALSE(huge.isNull());
    huge.fill(Qt::blue);
    ScreenshotReferencePanel* panel = open(huge);
    huge = QImage();
    EXPECT_EQ(panel->size(), QSize(420, 500));
    EXPECT_EQ(centreOf(panel->view()->imageArea()->image()), QColor(Qt::blue));
}

// The workflow's pin: the clip's document, rendered, in a pin whose Editor reopens the clip.
TEST(WorkflowPin, PinsTheRenderedDocumentAndSurvivesTheClipsDeletion) {
    TestFolder folder;
    FakeClock clock;
    ClipStore store(folder.path(), clock);
    FakePasteboard board;
    FakeApps apps;
    FakeScreens screens;
    Defaults defaults;
    ClipboardMonitor monitor(store, board, apps, defaults);
    PanelController controller(store, monitor, screens, apps, defaults);
    FakeScreenCapture screen;
    ScreenshotWorkflow workflow(store, monitor, controller, defaults, screens, {&screen, &apps});
    EXPECT_EQ(workflow.editor()->pins(), workflow.pins());
    std::optional<Clip> clip;
    store.addImage(encodedImage(filled(40, 20, Qt::red), "PNG"), "test", 1.0, {}, [&](auto c) { clip = c; });
    ASSERT_TRUE(waitUntil([&] { return clip.has_value(); }));
    ASSERT_TRUE(clip->imageFile.has_value());

    // The document's crop shows in the pin: the edited image, not the capture.
    auto loaded = ScreenshotDocument::load(screenshotDocumentsRoot(store.root()), clip->id,
                                           store.root() / *clip->imageFile, 1.0);
    loaded.document.crop = QRectF(0, 0, 10, 8);
    ScreenshotDocument::save(loaded.document, loaded.folder);
    workflow.pin(*clip);
    ASSERT_EQ(workflow.pins()->panels().size(), 1u);
    ScreenshotReferencePanel* panel = workflow.pins()->panels().front();
    EXPECT_EQ(panel->state().image().size(), QSize(10, 8));
    EXPECT_EQ(panel->state().image().pixelColor(5, 4), QColor(Qt::red));

    // Deleted: the pin keeps its image and Editor still reaches the workflow, whose editor says
    // why it cannot open the document.
    struct Errors : EditorPrompts {
        QStringList shown;
        void showError(const QString& message) override { shown << message; }
        std::vector<QUrl> chooseImageFiles() override { return {}; }
    } errors;
    workflow.editor()->setPrompts(&errors);
    store.commit({});
    store.flush();
    QTest::mouseClick(find<QPushButton>(panel, "editor"), Qt::LeftButton);
    EXPECT_EQ(errors.shown.size(), 1);
    EXPECT_TRUE(panel->isVisible());

    // Pinning the deleted clip, or a file name outside the history, opens nothing and says why;
    // a clip without an image file does nothing at all.
    for (const std::string& name : {*clip->imageFile, "../" + *clip->imageFile}) {
        Clip gone = *clip;
        gone.imageFile = name;
        store.setMessage(QString());
        workflow.pin(gone);
        EXPECT_EQ(workflow.pins()->panels().size(), 1u) << name;
        EXPECT_FALSE(store.message().isEmpty()) << name;
    }
    store.setMessage(QString());
    clip->imageFile.reset();
    workflow.pin(*clip);
    EXPECT_EQ(workflow.pins()->panels().size(), 1u);
    EXPECT_TRUE(store.message().isEmpty());
}

}  // namespace
}  // namespace brevalto
