// The frozen-frame selection views and overlay windows, offscreen: pointer to pixel maths, drags,
// key adjustments, how a selection ends, and the windows the overlay puts up and takes down.
#include "Capture/CaptureOverlays.h"
#include "Capture/FrozenCaptureView.h"
#include "FakeScreens.h"
#include "Platform/KeyCodes.h"
#include "QtWait.h"

#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace brevalto {
namespace {

using Selection = CaptureCoordinator::Selection;
using Kind = Selection::Kind;

QImage gradient(int w, int h) {
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) image.setPixel(x, y, qRgb(x % 256, y % 256, 128));
    }
    return image;
}

struct ViewFixture {
    explicit ViewFixture(double scale, bool finishesOnMouseUp = false, QSize size = QSize(400, 300))
        : view(gradient(size.width(), size.height()), scale, std::make_shared<FrozenCaptureSelection>(), QPointF(),
               finishesOnMouseUp, [this](Selection s) { reports.push_back(s); }, [this] { ++changes; }) {
        view.show();
    }
    const std::optional<QRectF>& rect() const { return view.shared()->rect; }

    std::vector<Selection> reports;
    int changes = 0;
    FrozenCaptureView view;
};

TEST(FrozenCaptureGeometry, PointerMapsToRoundedClampedPixels) {
    const QSize image(2000, 1000);
    EXPECT_EQ(FrozenCaptureView::imagePoint({10.25, 3.75}, 2, {0, 0}, image), QPointF(21, 8));
    EXPECT_EQ(FrozenCaptureView::imagePoint({-5, 2}, 2, {0, 0}, image), QPointF(0, 4));
    EXPECT_EQ(FrozenCaptureView::imagePoint({1500, 600}, 2, {0, 0}, image), QPointF(2000, 1000)) << "far edge";
    // A second display's view starts at its origin in the surface.
    EXPECT_EQ(FrozenCaptureView::imagePoint({3, 4}, 2, {800, 0}, image), QPointF(806, 8));

    EXPECT_EQ(FrozenCaptureView::dragRect({50, 60}, {10, 20}, image), QRectF(10, 20, 40, 40));
    EXPECT_EQ(FrozenCaptureView::dragRect({1990, 990}, {2100, 1200}, image), QRectF(1990, 990, 10, 10));

    EXPECT_EQ(FrozenCaptureView::loupeSource({5, 5}, image), QRect(0, 0, 20, 20));
    EXPECT_EQ(FrozenCaptureView::loupeSource({1999, 500}, image), QRect(1980, 490, 20, 20));
}

TEST(FrozenCaptureGeometry, ArrowKeysMoveAndResizeWithinTheImage) {
    const QSize image(2000, 1000);
    struct Case {
        QRectF rect;
        int key;
        std::uint64_t flags;
        QRectF expected;
    };
    const std::uint64_t shift = KeyPress::shift;
    const std::uint64_t option = KeyPress::option;
    const Case cases[] = {
        {{1900, 10, 100, 50}, KeyPress::right, shift | option, {1900, 10, 100, 50}},  // already at the right edge
        {{100, 10, 1, 50}, KeyPress::left, option, {100, 10, 1, 50}},                  // never narrower than 1
        {{4, 10, 30, 30}, KeyPress::left, shift, {0, 10, 30, 30}},                     // stops at the left edge
        {{4, 10, 30, 30}, KeyPress::up, shift, {4, 0, 30, 30}},
        {{4, 10, 30, 30}, KeyPress::down, shift, {4, 20, 30, 30}},                    // y grows downward
        {{4, 10, 30, 30}, KeyPress::down, option, {4, 10, 30, 31}},
        {{4, 960, 30, 30}, KeyPress::down, shift, {4, 970, 30, 30}},                  // stops at the bottom
    };
    for (const auto& c : cases) {
        const auto r = FrozenCaptureView::nudged(c.rect, KeyPress{c.key, c.flags}, image);
        ASSERT_TRUE(r.has_value());
        EXPECT_EQ(*r, c.expected) << c.key << " " << c.flags;
    }
    EXPECT_FALSE(FrozenCaptureView::nudged({0, 0, 5, 5}, KeyPress{KeyPress::space, 0}, image).has_value());
}

TEST(FrozenCaptureGeometry, LabelsAndHints) {
    EXPECT_EQ(FrozenCaptureView::sizeLabel({0, 0, 301.7, 200}, 2), "301 x 200 px | 150.8 x 100.0 pt\n");
    EXPECT_TRUE(FrozenCaptureView::hint(false, 2).endsWith("Output scale: 2.0x."));
    EXPECT_EQ(FrozenCaptureView::hint(true, 2), "Drag a viewport. Release to start scrolling. Esc cancels.");
}

TEST(FrozenCaptureView, DragThenReturnReportsPixelsAtScaleOneAndTwo) {
    for (double scale : {1.0, 2.0}) {
        ViewFixture f(scale);
        QTest::keyClick(&f.view, Qt::Key_Return);
        EXPECT_TRUE(f.reports.empty()) << "Return without a rectangle is ignored";
        QTest::keyClick(&f.view, Qt::Key_Left);
        EXPECT_FALSE(f.rect().has_value()) << "arrows without a rectangle do nothing";

        QTest::mousePress(&f.view, Qt::LeftButton, {}, QPoint(10, 20));
        QTest::mouseMove(&f.view, QPoint(60, 50));
        QTest::mouseRelease(&f.view, Qt::LeftButton, {}, QPoint(60, 50));
        ASSERT_TRUE(f.rect().has_value());
        EXPECT_EQ(*f.rect(), QRectF(10 * scale, 20 * scale, 50 * scale, 30 * scale));
        EXPECT_TRUE(f.reports.empty()) << "releasing does not end a region selection";
        EXPECT_GT(f.changes, 0);

        QTest::keyClick(&f.view, Qt::Key_Right, Qt::ShiftModifier);
        QTest::keyClick(&f.view, Qt::Key_Down, Qt::AltModifier);
        EXPECT_EQ(*f.rect(), QRectF(10 * scale + 10, 20 * scale, 50 * scale, 30 * scale + 1));
        QTest::keyClick(&f.view, Qt::Key_Enter, Qt::KeypadModifier);
        ASSERT_EQ(f.reports.size(), 1u);
        EXPECT_EQ(f.reports[0], Selection::region(*f.rect()));

        // A new press clears the rectangle; a click without movement leaves none to report.
        QTest::mouseClick(&f.view, Qt::LeftButton, {}, QPoint(5, 5));
        EXPECT_EQ(f.rect(), QRectF(5 * scale, 5 * scale, 0, 0));
        QTest::keyClick(&f.view, Qt::Key_Return);
        EXPECT_EQ(f.reports.size(), 1u) << "an empty rectangle is not reported";
    }
}

TEST(FrozenCaptureView, SpaceAndEscapeEndTheSelectionButSpaceNeverEndsAViewport) {
    ViewFixture region(1);
    QTest::keyClick(&region.view, Qt::Key_Space);
    QTest::keyClick(&region.view, Qt::Key_Escape);
    ASSERT_EQ(region.reports.size(), 2u);
    EXPECT_EQ(region.reports[0].kind, Kind::window);
    EXPECT_EQ(region.reports[1].kind, Kind::cancel);

    ViewFixture viewport(1, true);
    QTest::keyClick(&viewport.view, Qt::Key_Space);
    EXPECT_TRUE(viewport.reports.empty()) << "a viewport cannot become a window capture";
    QTest::mouseClick(&viewport.view, Qt::LeftButton, {}, QPoint(30, 30));
    EXPECT_TRUE(viewport.reports.empty()) << "a click without dragging does nothing";
    QTest::mousePress(&viewport.view, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseMove(&viewport.view, QPoint(90, 70));
    QTest::mouseRelease(&viewport.view, Qt::LeftButton, {}, QPoint(90, 70));
    ASSERT_EQ(viewport.reports.size(), 1u);
    EXPECT_EQ(viewport.reports[0], Selection::region(QRectF(10, 10, 80, 60)));
    QTest::keyClick(&viewport.view, Qt::Key_Return);
    EXPECT_EQ(viewport.reports.size(), 2u) << "Return still works";
    QTest::keyClick(&viewport.view, Qt::Key_Escape);
    EXPECT_EQ(viewport.reports.back().kind, Kind::cancel);
}

TEST(FrozenCaptureView, PaintsTheFrozenImageDimmedOutsideTheSelection) {
    ViewFixture f(1, false, QSize(400, 300));
    f.view.resize(400, 300);
    f.view.shared()->pointer = QPointF(390, 290);
    QImage before = f.view.grab().toImage();
    // Everything is dimmed to 65 % without a rectangle (away from the hint, crosshair and loupe).
    const QRgb dimmed = before.pixel(100, 50);
    EXPECT_NEAR(qRed(dimmed), 100 * 0.65, 2);
    EXPECT_NEAR(qGreen(dimmed), 50 * 0.65, 2);

    f.view.shared()->rect = QRectF(90, 40, 50, 50);
    QImage after = f.view.grab().toImage();
    EXPECT_EQ(after.pixel(100, 50), qRgb(100, 50, 128)) << "the selection shows the frozen pixels as they are";
    EXPECT_EQ(after.pixel(90, 40), qRgb(255, 255, 255)) << "its outline is white";
    EXPECT_NEAR(qRed(after.pixel(200, 50)), 200 * 0.65, 2);
}

TEST(CaptureOverlays, OneWindowPerDisplaySharingOneSelection) {
    FakeScreens screens;
    screens.setPrimaryHeight(300);
    screens.setMouse(QPointF(450, 250));
    CaptureOverlays overlays(screens);
    CaptureInteraction::Selection shown;
    shown.image = gradient(600, 300);
    shown.scale = 1;
    shown.displays = {CaptureDisplay{1, "A", QRectF(0, 0, 400, 300), QSizeF(400, 300), 0},
                      CaptureDisplay{2, "B", QRectF(400, 200, 200, 100), QSizeF(200, 100), 0}};
    shown.surface = CaptureDisplay::surface(shown.displays);
    std::vector<Selection> reports;
    overlays.showSelection(shown, [&](Selection s) { reports.push_back(s); });

    const auto views = overlays.selectionViews();
    ASSERT_EQ(views.size(), 2u);
    EXPECT_EQ(overlays.overlayCount(), 2);
    EXPECT_EQ(views[0]->geometry(), QRect(0, 0, 400, 300));
    EXPECT_EQ(views[1]->geometry(), QRect(400, 0, 200, 100));
    EXPECT_EQ(views[1]->imageOrigin(), QPointF(400, 0));
    EXPECT_EQ(overlays.keyView(), views[1]) << "the window under the mouse takes the keys";
    EXPECT_EQ(views[0]->shared()->pointer, QPointF(450, 50)) << "crosshair and loupe start under the mouse";
    EXPECT_TRUE(views[0]->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(views[0]->windowFlags().testFlag(Qt::WindowStaysOnTopHint));

    // A drag that starts on A and ends on B is one rectangle on both.
    QTest::mousePress(views[0], Qt::LeftButton, {}, QPoint(350, 20));
    QTest::mouseMove(views[0], QPoint(450, 80));
    QTest::mouseRelease(views[0], Qt::LeftButton, {}, QPoint(450, 80));
    ASSERT_TRUE(views[1]->shared()->rect.has_value());
    EXPECT_EQ(*views[1]->shared()->rect, QRectF(350, 20, 100, 60));
    QTest::keyClick(views[1], Qt::Key_Return);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], Selection::region(QRectF(350, 20, 100, 60)));

    overlays.closeOverlays();
    EXPECT_EQ(overlays.overlayCount(), 0);
    EXPECT_EQ(overlays.keyView(), nullptr);
    EXPECT_TRUE(overlays.selectionViews().empty());

    // The next selection starts clean, on one display, and reports to its own callback.
    shown.displays.pop_back();
    shown.surface = shown.displays[0];
    std::vector<Selection> next;
    overlays.showSelection(shown, [&](Selection s) { next.push_back(s); });
    ASSERT_EQ(overlays.selectionViews().size(), 1u);
    EXPECT_FALSE(overlays.keyView()->shared()->rect.has_value());
    QTest::keyClick(overlays.keyView(), Qt::Key_Escape);
    EXPECT_EQ(reports.size(), 1u);
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(next[0].kind, Kind::cancel);
}

TEST(CaptureOverlays, CountdownPanelAndChooserAnswerOnce) {
    FakeScreens screens;
    screens.setScreens({FakeScreens::screen("main", 0, 0, 1920, 1080)});
    screens.setPrimaryHeight(1080);
    CaptureOverlays overlays(screens);
    int cancels = 0;
    overlays.showCountdown(3, [&] { ++cancels; });
    overlays.showCountdown(2, [&] { ++cancels; });
    EXPECT_EQ(overlays.countdownPanel()->text(), "Capture in 2s");
    EXPECT_EQ(overlays.countdownPanel()->geometry(), QRect(1640, 970, 250, 80)) << "near the bottom-right corner";
    EXPECT_TRUE(overlays.countdownPanel()->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    QTest::mouseClick(overlays.countdownPanel()->findChild<QPushButton*>(), Qt::LeftButton);
    EXPECT_EQ(cancels, 1);
    overlays.closeOverlays();
    EXPECT_EQ(overlays.overlayCount(), 0);

    std::vector<std::optional<int>> answers;
    overlays.choose({"Choose a display", "", {"Display 1", "Display 2"}, "Choose"},
                    [&](std::optional<int> i) { answers.push_back(i); });
    EXPECT_TRUE(overlays.chooser()->isModal());
    overlays.chooser()->findChild<QListWidget*>()->setCurrentRow(1);
    overlays.chooser()->accept();
    overlays.choose({"Choose a window", "", {"a - b"}, "Capture"}, [&](std::optional<int> i) { answers.push_back(i); });
    overlays.closeChooser();
    overlays.closeChooser();
    EXPECT_EQ(answers, (std::vector<std::optional<int>>{1, std::nullopt}));
}

TEST(KeyPressAdapter, QtKeysBecomeKeyCodesAndFlags) {
    const QKeyEvent enter(QEvent::KeyPress, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(keyPressOf(enter), (KeyPress{76, 0}));
    const QKeyEvent left(QEvent::KeyPress, Qt::Key_Left, Qt::ShiftModifier | Qt::AltModifier | Qt::ControlModifier);
    EXPECT_EQ(keyPressOf(left), (KeyPress{123, KeyPress::shift | KeyPress::option | KeyPress::command}));
    EXPECT_FALSE(keyPressOf(QKeyEvent(QEvent::KeyPress, Qt::Key_Shift, Qt::ShiftModifier)).has_value());
}

}  // namespace
}  // namespace brevalto
