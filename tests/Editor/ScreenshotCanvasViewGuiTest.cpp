#include "Document/RenderSamples.h"
#include "Document/ScreenshotDocumentSession.h"
#include "Editor/Canvas/CanvasTools.h"
#include "Editor/Canvas/ScreenshotCanvasView.h"
#include "Platform/Defaults.h"

#include "ManualExecutor.h"
#include "TestFolder.h"

#include <QApplication>
#include <QBuffer>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPaintEvent>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace brevalto {
namespace {

using Kind = ScreenshotLayerKind;

// Drop events reach a widget only from a running drag; the test hands them over directly.
class DropCanvas : public ScreenshotCanvasView {
public:
    using ScreenshotCanvasView::ScreenshotCanvasView;
    void drop(QDropEvent* event) { dropEvent(event); }
};

// A 400 x 300 white document on a canvas of 832 x 532 at zoom 1, so document point (x, y) is view
// point (216 + x, 116 + y).
class CanvasTest : public ::testing::Test {
public:
    void SetUp() override { open(files.document); }

    void open(ScreenshotDocument document, bool actual = true) {
        canvas = nullptr;
        host = std::make_unique<QWidget>();
        host->resize(832, 600);
        field = new QLineEdit(host.get());
        field->setGeometry(0, 540, 200, 30);
        document.historyID = files.document.historyID;
        session = std::make_shared<ScreenshotDocumentSession>(std::move(document), files.folder, defaults, executor);
        canvas = new DropCanvas(session, host.get());
        canvas->setGeometry(0, 0, 832, 532);
        canvas->setClose([this] { ++closed; });
        canvas->setCopyColor([this] { ++copied; });
        canvas->setMaskText([this](std::optional<Kind> kind) { masked = kind; });
        host->show();
        host->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(host.get()));
        canvas->setFocus();
        if (actual) canvas->applyViewport(QStringLiteral("actual"));
    }

    QPointF view(QPointF d) const { return canvas->viewPoint(d); }
    void mouse(QEvent::Type type, QPointF d, Qt::MouseButton button, Qt::MouseButtons buttons) {
        const QPointF v = view(d);
        QMouseEvent event(type, v, canvas->mapToGlobal(v), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(canvas, &event);
    }
    void press(QPointF d, Qt::MouseButton b = Qt::LeftButton) { mouse(QEvent::MouseButtonPress, d, b, b); }
    void move(QPointF d, Qt::MouseButton b = Qt::LeftButton) { mouse(QEvent::MouseMove, d, Qt::NoButton, b); }
    void release(QPointF d, Qt::MouseButton b = Qt::LeftButton) { mouse(QEvent::MouseButtonRelease, d, b, Qt::NoButton); }
    void drag(QPointF from, QPointF to) {
        press(from);
        move(to);
        release(to);
    }
    bool key(Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = {}) {
        QKeyEvent event(QEvent::KeyPress, k, mods, text);
        QApplication::sendEvent(canvas, &event);
        return event.isAccepted();
    }
    ScreenshotLayer add(Kind kind, QRectF frame) {
        ScreenshotLayer layer = samples::layer(kind, frame);
        session->edit([&](ScreenshotDocument& d) { d.layers.push_back(layer); });
        return layer;
    }
    const ScreenshotLayer& last() const { return session->document().layers.back(); }
    std::size_t undos() const { return session->undoStack().size(); }

    samples::RenderedDocument files{samples::solid(400, 300, Qt::white)};
    Defaults defaults;
    ManualExecutor executor;
    std::shared_ptr<ScreenshotDocumentSession> session;
    std::unique_ptr<QWidget> host;
    DropCanvas* canvas = nullptr;
    QLineEdit* field = nullptr;
    int closed = 0, copied = 0;
    std::optional<std::optional<Kind>> masked;
};

ScreenshotDocument blank(double width, double height) {
    ScreenshotDocument document;
    document.canvas = QSizeF(width, height);
    return document;
}

TEST_F(CanvasTest, ViewportCommandsFitZoomAndMapPoints) {
    open(blank(2000, 1000), false);
    EXPECT_DOUBLE_EQ(session->zoom(), 0.4);  // the first layout fits
    EXPECT_EQ(session->pan(), QPointF(0, 0));
    open(blank(100, 50), false);
    EXPECT_DOUBLE_EQ(session->zoom(), 4);  // a fit never enlarges more than fourfold

    // A view left as fitted follows the visible image when a backdrop grows it; after a zoom it stays.
    ScreenshotDocument grown = session->document();
    grown.backdrop.enabled = true;
    grown.backdrop.padding = 500;
    grown.backdrop.shadow = 0;
    session->setDocument(grown);
    EXPECT_DOUBLE_EQ(session->zoom(), std::min((canvas->width() - 32) / 1100.0, (canvas->height() - 32) / 1050.0));
    session->setZoom(3);
    grown.backdrop.padding = 800;
    session->setDocument(grown);
    EXPECT_EQ(session->zoom(), 3);
    open(blank(100, 50), false);

    session->setSelectionRect(QRectF(10, 10, 10, 10));
    session->sendViewport(QStringLiteral("selection"));
    EXPECT_DOUBLE_EQ(session->zoom(), 32);
    EXPECT_EQ(view(QPointF(15, 15)), QPointF(416, 266));  // the selection's centre at the view's
    session->setSelectionRect(std::nullopt);
    session->sendViewport(QStringLiteral("selection"));  // nothing to show: a fit
    EXPECT_DOUBLE_EQ(session->zoom(), 4);

    ScreenshotDocument framed = blank(400, 300);
    framed.backdrop.enabled = true;
    framed.backdrop.padding = 40;
    framed.backdrop.shadow = 20;
    framed.crop = QRectF(100, 50, 200, 100);
    open(framed);
    EXPECT_EQ(canvas->backdropMargin(), 60);
    EXPECT_EQ(canvas->displaySize(), QSizeF(320, 220));
    session->setZoom(2.5);
    session->setPan(QPointF(13, -7));
    EXPECT_EQ(view(QPointF(100, 50)), canvas->imageOrigin() + QPointF(150, 150));
    EXPECT_EQ(canvas->imagePoint(view(QPointF(333.25, -12.5))), QPointF(333.25, -12.5));

    // Only the first layout wider than 10 points fits.
    ScreenshotCanvasView late(session);
    session->setZoom(7);
    late.resize(10, 500);
    late.show();
    EXPECT_EQ(session->zoom(), 7);
    late.resize(11, 500);
    EXPECT_DOUBLE_EQ(session->zoom(), ScreenshotCanvasView::minZoom);
    // A view that grows while nobody has zoomed or panned fits again; after a zoom it stays.
    late.resize(352, 252);
    EXPECT_DOUBLE_EQ(session->zoom(), 1);
    session->setZoom(2);
    late.resize(900, 600);
    EXPECT_EQ(session->zoom(), 2);
}

TEST_F(CanvasTest, WheelPinchAndZoomLimitsKeepThePointUnderThePointer) {
    const QPointF at(300, 200);
    const QPointF under = canvas->imagePoint(at);
    const auto wheel = [&](QPoint pixels, QPoint angle, Qt::KeyboardModifiers mods) {
        QWheelEvent event(at, canvas->mapToGlobal(at), pixels, angle, Qt::NoButton, mods, Qt::NoScrollPhase, false);
        QApplication::sendEvent(canvas, &event);
    };
    wheel(QPoint(0, 100), QPoint(0, 0), Qt::ControlModifier);  // scrolling up 100 pixels
    EXPECT_NEAR(session->zoom(), std::exp(1.0), 1e-12);
    EXPECT_NEAR(canvas->imagePoint(at).x(), under.x(), 1e-9);
    EXPECT_NEAR(canvas->imagePoint(at).y(), under.y(), 1e-9);
    wheel(QPoint(0, 0), QPoint(0, 120 * 1000), Qt::ControlModifier);
    EXPECT_EQ(session->zoom(), ScreenshotCanvasView::maxZoom);

    const QPointF pan = session->pan();
    wheel(QPoint(0, 0), QPoint(0, 120), Qt::NoModifier);  // one notch is one line
    EXPECT_EQ(session->pan(), pan + QPointF(0, -1));
    wheel(QPoint(-7, 5), QPoint(0, 120), Qt::NoModifier);  // pixels win over notches
    EXPECT_EQ(session->pan(), pan + QPointF(7, -6));

    session->setZoom(1);
    QNativeGestureEvent pinch(Qt::ZoomNativeGesture, QPointingDevice::primaryPointingDevice(), 2, at, at,
                              canvas->mapToGlobal(at), -2, QPointF());
    QApplication::sendEvent(canvas, &pinch);
    EXPECT_DOUBLE_EQ(session->zoom(), 0.1);
    canvas->zoomAbout(1e-9, at);
    EXPECT_EQ(session->zoom(), ScreenshotCanvasView::minZoom);
    canvas->zoomAbout(std::nan(""), at);
    EXPECT_EQ(session->zoom(), ScreenshotCanvasView::minZoom);
}

TEST_F(CanvasTest, DrawingToolsAddOneLayerPerGesture) {
    struct Row {
        const char* tool;
        const char* mode;
        QPointF from, to;
        Kind kind;
        QRectF frame;
    };
    const std::vector<Row> rows = {
        {"rectangle", "", {100, 100}, {100, 100}, Kind::rectangle, {100, 100, 140, 140}},
        {"text", "", {100, 100}, {100, 100}, Kind::text, {100, 100, 140, 48}},
        {"counter", "", {100, 100}, {100, 100}, Kind::counter, {100, 100, 48, 48}},
        {"rectangle", "", {100, 100}, {103, 103}, Kind::rectangle, {100, 100, 140, 140}},
        {"oval", "", {100, 100}, {104, 101}, Kind::oval, {100, 100, 4, 1}},
        {"arrow", "", {50, 80}, {10, 20}, Kind::arrow, {10, 20, 40, 60}},
        {"effect", "redact", {20, 20}, {60, 40}, Kind::redact, {20, 20, 40, 20}},
        {"effect", "blur", {20, 20}, {60, 40}, Kind::blur, {20, 20, 40, 20}},
        {"effect", "erase", {20, 20}, {60, 40}, Kind::erase, {20, 20, 40, 20}},
    };
    for (const Row& row : rows) {
        session->selectTool(QString::fromLatin1(row.tool));
        session->setEffectMode(QString::fromLatin1(row.mode));
        const std::size_t before = undos();
        drag(row.from, row.to);
        EXPECT_EQ(undos(), before + 1) << row.tool;
        EXPECT_EQ(last().kind, row.kind) << row.tool;
        EXPECT_TRUE(sameRect(last().frame, row.frame)) << row.tool;
        EXPECT_EQ(session->selectedID(), last().id);
        EXPECT_FALSE(canvas->draft());
    }
    const auto& layers = session->document().layers;
    EXPECT_EQ(layers[2].text, "Text");
    EXPECT_EQ(layers[3].text, "1");
    EXPECT_EQ(session->nextCounter(), 2);
    EXPECT_EQ(layers[6].points, (std::vector<QPointF>{{1, 1}, {0, 0}, {0.5, 0.1}}));
    EXPECT_EQ(layers[7].style.fill, (ScreenshotColor::RGBA{0, 0, 0, 1}));
    EXPECT_EQ(layers[8].value, 12);
    EXPECT_EQ(session->status(), QStringLiteral("Erase samples the nearby background; best on flat backgrounds."));

    // A text mask adds nothing: it selects the area and asks the editor to mask it.
    session->setEffectMode(QStringLiteral("eraseText"));
    const std::size_t before = undos();
    drag({350, 250}, {450, 280});
    EXPECT_EQ(undos(), before);
    EXPECT_EQ(session->selection(), QRectF(350, 250, 50, 30));
    EXPECT_EQ(masked, std::optional(std::optional(Kind::erase)));
}

TEST_F(CanvasTest, FreehandThinsAndLimitsItsPathAndEscapeDropsTheStroke) {
    session->selectTool(QStringLiteral("freehand"));
    press({10, 10});
    move({10.5, 10});  // closer than 0.75: dropped
    move({20, 10});
    EXPECT_EQ(canvas->path().size(), 2u);
    EXPECT_TRUE(sameRect(canvas->draft()->frame, QRectF(10, 10, 10, 1)));
    for (int x = 21; x < 20'100; ++x) move({double(x), 10});
    EXPECT_EQ(canvas->path().size(), 20'000u);
    const std::size_t before = undos();
    EXPECT_TRUE(key(Qt::Key_Escape));
    release({20'100, 10});
    EXPECT_FALSE(canvas->draft());
    EXPECT_EQ(undos(), before);

    // Panning with the middle button moves by the pointer's movement at any zoom.
    session->setZoom(3);
    const QPointF pan = session->pan();
    press({10, 10}, Qt::MiddleButton);
    const QPointF start = view({10, 10});
    QMouseEvent moved(QEvent::MouseMove, start + QPointF(25, -4), canvas->mapToGlobal(start), Qt::NoButton,
                      Qt::MiddleButton, Qt::NoModifier);
    QApplication::sendEvent(canvas, &moved);
    EXPECT_EQ(session->pan(), pan + QPointF(25, -4));
}

TEST_F(CanvasTest, RulerMeasuresDragsAndFindsNoEdgeOnAFlatImage) {
    ScreenshotDocument document = files.document;
    document.sourceScale = 2;
    open(document);
    session->selectTool(QStringLiteral("ruler"));
    press({10, 10});
    move({310, 10});
    EXPECT_EQ(session->status(), QStringLiteral("Ruler 300.0 px / 150.0 pt (capture scale 2.00)."));
    release({310, 10});
    drag({50, 50}, {51, 51});
    EXPECT_EQ(session->status(), QStringLiteral("No reliable edge found. Drag the ruler to measure manually."));

    // The colour tool selects one pixel; no tool acts outside the canvas.
    session->selectTool(QStringLiteral("color"));
    drag({20.7, 30.2}, {20.7, 30.2});
    EXPECT_EQ(session->selection(), QRectF(20, 30, 1, 1));
    session->selectTool(QStringLiteral("rectangle"));
    drag({-5, 10}, {50, 50});
    drag({450, 10}, {450, 10});
    EXPECT_EQ(undos(), 0u);
}

TEST_F(CanvasTest, HoverSamplesTheRenderAndFocusFollowsTheSessionUnlessATextFieldEdits) {
    executor.runAll();
    move({10, 10}, Qt::NoButton);
    ASSERT_TRUE(session->hoverColor());
    EXPECT_EQ(session->hoverColor()->qColor().rgb(), qRgb(255, 255, 255));
    move({-100, 10}, Qt::NoButton);  // off the image: the last colour stays
    EXPECT_TRUE(session->hoverColor());

    const ScreenshotLayer layer = add(Kind::rectangle, {10, 10, 50, 50});
    field->setFocus();
    session->setSelectedID(layer.id);
    QApplication::processEvents();
    EXPECT_TRUE(field->hasFocus());
    field->clearFocus();
    host->setFocus();
    session->selectTool(QStringLiteral("arrow"));
    QApplication::processEvents();
    EXPECT_TRUE(canvas->hasFocus());
}

TEST_F(CanvasTest, SelectToolPicksMovesAndResizesWithOneUndoStepPerDrag) {
    const ScreenshotLayer lower = add(Kind::rectangle, {50, 50, 100, 100});
    const ScreenshotLayer upper = add(Kind::oval, {100, 100, 100, 100});
    session->selectTool(QStringLiteral("select"));
    session->setSnap(false);
    drag({120, 120}, {120, 120});
    EXPECT_EQ(session->selectedID(), upper.id);  // the upper one in the overlap
    drag({60, 60}, {60, 60});
    EXPECT_EQ(session->selectedID(), lower.id);
    press({10, 250});  // the image layer is never picked: an area selection starts
    EXPECT_EQ(session->selectedID(), std::nullopt);
    EXPECT_TRUE(canvas->selectingArea());
    release({10, 250});
    EXPECT_EQ(session->selection(), std::nullopt);
    drag({10, 250}, {10.2, 250.3});
    EXPECT_EQ(session->selection(), QRectF(10, 250, 1, 1));

    const std::size_t before = undos();
    drag({120, 120}, {150, 140});  // select and move the oval
    EXPECT_TRUE(sameRect(last().frame, QRectF(130, 120, 100, 100)));
    EXPECT_EQ(undos(), before + 1);
    press({130, 170});  // its left handle
    EXPECT_EQ(canvas->handle(), QPointF(0, 0.5));
    move({400, 170});
    EXPECT_TRUE(sameRect(*canvas->dragRect(), QRectF(229, 120, 1, 100)));
    EXPECT_TRUE(sameRect(last().frame, QRectF(130, 120, 100, 100)));  // nothing changes before release
    release({400, 170});
    EXPECT_TRUE(sameRect(last().frame, QRectF(229, 120, 1, 100)));
    EXPECT_EQ(undos(), before + 2);

    // Snapping: a left edge 5 pixels from the rectangle's centre line (x 100) lands on it.
    session->setSnap(true);
    session->edit([&](ScreenshotDocument& d) { d.layers.back().frame = QRectF(200, 200, 50, 50); });
    drag({210, 210}, {115, 215});
    EXPECT_EQ(last().frame.x(), 100);

    // A window losing the focus mid-drag leaves the document as it was.
    const ScreenshotDocument kept = session->document();
    press({110, 210});
    move({300, 280});
    QFocusEvent out(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(canvas, &out);
    release({300, 280});
    EXPECT_EQ(session->document(), kept);
    EXPECT_FALSE(canvas->moveID());

}

TEST_F(CanvasTest, ControlPointAndLensKnobDragsCommitOnRelease) {
    ScreenshotLayer curve = add(Kind::curvedArrow, {100, 20, 100, 50});
    session->selectTool(QStringLiteral("select"));
    session->setSelectedID(curve.id);
    const std::size_t before = undos();
    press({150, 27.5});  // (0.5, 0.15) of the frame
    EXPECT_TRUE(canvas->controlPointGrabbed());
    move({120, 45.5});
    EXPECT_EQ(session->status(), QStringLiteral("Control point 120.0, 45.5 px"));
    release({120, 45.5});
    EXPECT_EQ(undos(), before + 1);
    EXPECT_EQ(last().points[2], QPointF(0.2, 0.51));

    ScreenshotLayer magnifier = samples::layer(Kind::magnifier, {100, 150, 20, 20});
    magnifier.value = 2;
    magnifier.setMagnifierLensCenter({200, 160});
    session->addLayer(magnifier);
    const QRectF lens = last().magnifierLens();
    press({lens.right(), lens.center().y()});
    EXPECT_TRUE(canvas->lensDragging());
    move({240, 160});  // twice the frame width from the lens centre
    release({240, 160});
    EXPECT_EQ(last().value, 4);
    EXPECT_EQ(last().magnifierLens().center(), QPointF(200, 160));
    drag({lens.right() + 20, 160}, {390, 160});
    EXPECT_EQ(last().value, 8);
}

TEST_F(CanvasTest, KeyRulesInTheirOrder) {
    const ScreenshotLayer layer = add(Kind::rectangle, {10, 10, 1, 20});
    session->selectTool(QStringLiteral("select"));
    struct Row {
        const char* what;
        std::function<void()> setUp;
        Qt::Key key;
        Qt::KeyboardModifiers mods;
        bool accepted;
        std::function<bool()> expect;
    };
    const auto tool = [this](const char* t) { return session->tool() == QLatin1String(t); };
    const auto layers = [this] { return session->document().layers.size(); };
    const std::vector<Row> rows = {
        {"Shift+R picks the rectangle", [] {}, Qt::Key_R, Qt::ShiftModifier, true, [&] { return tool("rectangle"); }},
        {"Alt+V is no tool key", [] {}, Qt::Key_V, Qt::AltModifier, false, [&] { return tool("rectangle"); }},
        {"Ctrl+V is no tool key", [] {}, Qt::Key_V, Qt::ControlModifier, false, [&] { return tool("rectangle"); }},
        {"an unknown letter goes on", [] {}, Qt::Key_X, Qt::NoModifier, false, [&] { return tool("rectangle"); }},
        {"Delete without a layer does nothing", [] {}, Qt::Key_Backspace, Qt::NoModifier, true, [&] { return layers() == 2; }},
        {"Alt+Left keeps a 1-pixel width", [&] { session->setSelectedID(layer.id); }, Qt::Key_Left, Qt::AltModifier, true,
         [&] { return last().frame.width() == 1 && last().frame.height() == 20; }},
        {"Shift+Down nudges ten", [] {}, Qt::Key_Down, Qt::ShiftModifier, true, [&] { return last().frame.y() == 20; }},
        {"Delete removes the layer", [] {}, Qt::Key_Delete, Qt::NoModifier, true,
         [&] { return layers() == 1 && !session->selectedID(); }},
        {"Ctrl+Z undoes", [] {}, Qt::Key_Z, Qt::ControlModifier, true, [&] { return layers() == 2; }},
        {"Ctrl+Shift+Z redoes", [] {}, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier, true, [&] { return layers() == 1; }},
        {"Return without a selection goes on", [] {}, Qt::Key_Return, Qt::NoModifier, false, [&] { return !session->document().crop; }},
        {"Tab copies the colour", [] {}, Qt::Key_Tab, Qt::NoModifier, true, [&] { return copied == 1; }},
        {"Escape clears the selection", [&] { session->setSelectionRect(QRectF(380, 10, 15, 15)); }, Qt::Key_Escape,
         Qt::NoModifier, true, [&] { return !session->selection() && closed == 0; }},
        {"Escape with nothing selected closes", [] {}, Qt::Key_Escape, Qt::NoModifier, true, [&] { return closed == 1; }},
        {"Alt+Right widens the selection", [&] { session->setSelectionRect(QRectF(380, 10, 15, 15)); }, Qt::Key_Right,
         Qt::AltModifier, true, [&] { return session->selection() == QRectF(380, 10, 16, 15); }},
        {"Shift+Right clips it at the edge", [] {}, Qt::Key_Right, Qt::ShiftModifier, true,
         [&] { return session->selection() == QRectF(390, 10, 10, 15); }},
        {"pushed off, it is empty", [] {}, Qt::Key_Right, Qt::ShiftModifier, true, [&] { return session->selection()->isEmpty(); }},
        {"Return on an empty selection", [] {}, Qt::Key_Return, Qt::NoModifier, true,
         [&] { return session->status() == QLatin1String("The crop area is empty.") && !session->document().crop; }},
        {"Enter crops", [&] { session->setSelectionRect(QRectF(10, 10, 100, 50)); }, Qt::Key_Enter, Qt::KeypadModifier, true,
         [&] { return session->document().crop == QRectF(10, 10, 100, 50) && !session->selection(); }},
        {"no key while a text field has the focus", [&] { field->setFocus(); }, Qt::Key_V, Qt::NoModifier, false,
         [&] { return tool("rectangle"); }},
    };
    for (const Row& row : rows) {
        row.setUp();
        EXPECT_EQ(key(row.key, row.mods), row.accepted) << row.what;
        EXPECT_TRUE(row.expect()) << row.what;
    }
}

TEST_F(CanvasTest, OverlayDimsOutsideTheSelectionAndDrawsHandles) {
    QImage shot = canvas->grab().toImage();
    EXPECT_EQ(qGray(shot.pixel(5, 5)), 33);       // the surround before the first render
    EXPECT_EQ(qGray(shot.pixel(416, 266)), 71);   // the backing
    executor.runAll();
    const ScreenshotLayer box = add(Kind::rectangle, {20, 200, 60, 40});
    executor.runAll();
    session->setSelectionRect(QRectF(100, 50, 100, 50));
    shot = canvas->grab().toImage();
    const auto at = [&](QPointF d) { return shot.pixel(view(d).toPoint()); };
    EXPECT_NEAR(qGray(at({50, 20})), 166, 2);   // outside: white under black at 0.35
    EXPECT_EQ(qGray(at({150, 75})), 255);       // inside
    EXPECT_EQ(qGray(shot.pixel(5, 5)), 33);     // never the surround
    EXPECT_EQ(qRed(at({20, 200})), qRed(at({21, 201})));  // the layer's stroke shows at its corner
    EXPECT_NE(at({20.5, 200.5}), qRgb(255, 255, 255));

    session->setSelectionRect(std::nullopt);
    session->setSelectedID(box.id);
    shot = canvas->grab().toImage();
    for (const QPointF& h : CanvasTools::handles)
        EXPECT_EQ(at({20 + h.x() * 60, 200 + h.y() * 40}), qRgb(255, 255, 255)) << h.x() << "," << h.y();
}

// Collects the regions a widget is asked to paint.
class PaintLog : public QObject {
public:
    QRegion painted;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) painted += static_cast<QPaintEvent*>(event)->region();
        return false;
    }
};

TEST_F(CanvasTest, ChangesRepaintWhereTheHandlesAndTheRenderChanged) {
    const ScreenshotLayer box = add(Kind::rectangle, QRectF(20, 20, 60, 40));
    session->setSelectedID(box.id);
    executor.runAll();
    PaintLog log;
    canvas->installEventFilter(&log);
    const auto changeBox = [&](const std::function<void(ScreenshotLayer&)>& change) {
        canvas->repaint();
        QTest::qWait(30);
        log.painted = QRegion();
        ScreenshotDocument d = session->document();
        change(d.layers.back());
        session->setDocument(std::move(d));
        QTest::qWait(30);  // the repaints that are due
        return log.painted;
    };
    // A new colour changes nothing the canvas draws before the render: nothing is painted.
    EXPECT_TRUE(changeBox([](ScreenshotLayer& l) { l.style.stroke = {0, 0, 1, 1}; }).isEmpty());
    // A move repaints where the handles were and where they are now, not the whole view; also
    // after a zoom, which drew the handles elsewhere.
    session->setZoom(0.5);
    const QRegion moved = changeBox([](ScreenshotLayer& l) { l.frame.translate(100, 50); });
    EXPECT_TRUE(moved.contains(view(QPointF(20, 20)).toPoint()));
    EXPECT_TRUE(moved.contains(view(QPointF(180, 110)).toPoint()));
    EXPECT_FALSE(moved.contains(QPoint(5, 5)));
    // The render's arrival repaints where it differs from the one on screen: where the box was
    // and is; a render that changes an image repaints everything.
    const auto render = [&] {
        log.painted = QRegion();
        session->scheduleRender();
        executor.runAll();
        QTest::qWait(30);
        return log.painted;
    };
    const QRegion arrived = render();
    EXPECT_TRUE(arrived.contains(view(QPointF(20, 20)).toPoint()));
    EXPECT_TRUE(arrived.contains(view(QPointF(180, 110)).toPoint()));
    EXPECT_FALSE(arrived.contains(QPoint(5, 5)));
    ScreenshotDocument d = session->document();
    ASSERT_EQ(d.layers.front().kind, Kind::image);
    d.layers.front().frame.translate(1, 0);
    session->setDocument(std::move(d));
    EXPECT_TRUE(render().contains(QPoint(5, 5)));
}

TEST_F(CanvasTest, DropsImportImagesOrReportWhyNot) {
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    samples::solid(50, 40, Qt::red).save(&buffer, "PNG");
    const auto drop = [&](QMimeData& data) {
        QDropEvent event(QPointF(300, 200), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        canvas->drop(&event);
        return event.isAccepted();
    };
    QMimeData image;
    image.setData(QStringLiteral("image/png"), png);
    EXPECT_TRUE(drop(image));
    EXPECT_EQ(last().kind, Kind::image);
    EXPECT_EQ(undos(), 1u);

    TestFolder folder;
    QList<QUrl> urls;
    for (int i = 0; i < 33; ++i) {
        const QString path = QString::fromStdString((folder / ("i" + std::to_string(i) + ".png")).string());
        samples::solid(4, 4, Qt::blue).save(path);
        urls.push_back(QUrl::fromLocalFile(path));
    }
    QMimeData many;
    many.setUrls(urls);
    const ScreenshotDocument kept = session->document();
    EXPECT_FALSE(drop(many));
    EXPECT_EQ(session->status(), QStringLiteral("Import at most 32 images at once."));
    EXPECT_EQ(session->document(), kept);
    QMimeData text;
    text.setText(QStringLiteral("hello"));
    EXPECT_FALSE(drop(text));
    EXPECT_EQ(session->status(), QStringLiteral("Drop contains a non-image item."));
}

}  // namespace
}  // namespace brevalto
