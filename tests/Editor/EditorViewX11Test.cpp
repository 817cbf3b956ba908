// The editor as a user reaches it on a real X server: opened from a link, driven by real pointer
// and key events (xdotool), its copy read back by another program (xclip).
#include "App/AppDelegate.h"
#include "Clipboard/ClipStore.h"
#include "Document/ScreenshotDocumentSession.h"
#include "Editor/Canvas/ScreenshotCanvasView.h"
#include "Editor/View/ScreenshotEditorView.h"
#include "Panel/NotchPanel.h"
#include "Panel/PanelController.h"
#include "Platform/AtomicFile.h"
#include "Platform/Clock.h"
#include "Platform/Defaults.h"
#include "Platform/Linux/QtPasteboard.h"
#include "Platform/Linux/QtScreens.h"
#include "Platform/Linux/X11Apps.h"

#include "FakeHotKeys.h"
#include "FakeScreenCapture.h"
#include "QtWait.h"
#include "TestFolder.h"
#include "TestImages.h"

#include <QApplication>
#include <QProcess>

#include <gtest/gtest.h>

namespace brevalto {
namespace {

class AllowAll final : public AutomationPrompt {
public:
    bool confirm(const AutomationRequest&) override { return true; }
};

// Runs xdotool with the arguments while the event loop goes on.
void xdotool(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    EXPECT_TRUE(waitUntil([&] { return process.state() == QProcess::NotRunning; }, 10000)) << arguments.join(' ').toStdString();
    waitUntil([] { return false; }, 200);  // the events reach the app
}

QStringList at(QPoint p) { return {QStringLiteral("mousemove"), QString::number(p.x()), QString::number(p.y())}; }

void drag(QPoint from, QPoint to) {
    const QStringList pause{QStringLiteral("sleep"), QStringLiteral("0.1")};
    xdotool(at(from) + pause + QStringList{"mousedown", "1"} + pause + at((from + to) / 2) + pause + at(to) + pause +
            QStringList{"mouseup", "1"});
}

void click(QWidget* widget) {
    ASSERT_TRUE(widget);
    xdotool(at(widget->mapToGlobal(widget->rect().center())) + QStringList{"click", "1"});
}

TEST(EditorViewX11Test, ALinkOpensTheEditorWithTheKeyboardAndARedactionIsCopiedAsBlackPixels) {
    TestFolder folder;
    AtomicFile::createFolder(folder / "run");
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString((folder / "run").string()));
    Defaults defaults;
    QtPasteboard pasteboard;
    X11Apps apps;
    QtScreens screens;
    FakeScreenCapture capture;
    FakeHotKeys hotKeys;
    AppEnvironment env;
    env.platform.defaults = &defaults;
    env.platform.clock = &Clock::system();
    env.platform.pasteboard = &pasteboard;
    env.platform.apps = &apps;
    env.platform.screens = &screens;
    env.platform.screenCapture = &capture;
    env.platform.hotKeys = &hotKeys;
    env.dataFolder = folder / "data";
    env.stagingRoot = folder / "staging";
    env.prompt = std::make_unique<AllowAll>();
    env.login = LaunchAtLogin(folder / "autostart", folder / "data", "/usr/bin/brevalto");
    AppDelegate app(std::move(env));
    app.applicationDidFinishLaunching();

    QImage white(800, 500, QImage::Format_RGB32);
    white.fill(Qt::white);
    app.store()->addImage(encodedImage(white, "PNG"), "Screenshot");
    ASSERT_TRUE(waitUntil([&] { return !app.store()->items().empty(); }));

    app.openURLs({QStringLiteral("brevalto://editor")});
    ScreenshotEditorView* view = nullptr;
    ASSERT_TRUE(waitUntil([&] {
        view = app.controller()->panel()->findChild<ScreenshotEditorView*>();
        return view && view->isVisible() && !view->session().preview().isNull() && view->canvas()->hasFocus() &&
               app.controller()->panel()->isActiveWindow();
    })) << "the editor did not open with the keyboard";
    ScreenshotCanvasView* canvas = view->canvas();
    ScreenshotDocumentSession& session = view->session();
    const std::size_t base = session.document().layers.size();
    auto screen = [&](QPointF document) { return canvas->mapToGlobal(canvas->viewPoint(document).toPoint()); };

    // The first letter reaches the canvas: r, then a drag, is a rectangle.
    xdotool({QStringLiteral("key"), QStringLiteral("r")});
    drag(screen(QPointF(500, 300)), screen(QPointF(700, 450)));
    ASSERT_TRUE(waitUntil([&] { return session.document().layers.size() == base + 1; }));
    EXPECT_EQ(session.document().layers.back().kind, ScreenshotLayerKind::rectangle);

    // v, a selection, Redact (opaque), Copy image.
    xdotool({QStringLiteral("key"), QStringLiteral("v")});
    drag(screen(QPointF(100, 100)), screen(QPointF(300, 200)));
    ASSERT_TRUE(waitUntil([&] { return session.selection().has_value(); }));
    const QRectF selected = *session.selection();
    click(view->findChild<QWidget*>(QStringLiteral("redactSelection")));
    ASSERT_TRUE(waitUntil([&] { return session.document().layers.size() == base + 2 && !session.selection(); }));
    click(view->findChild<QWidget*>(QStringLiteral("copyImage")));
    ASSERT_TRUE(waitUntil([&] { return session.status() == ScreenshotEditorView::copiedImageStatus; }));

    QImage copied;
    ASSERT_TRUE(waitUntil([&] {
        QProcess xclip;
        xclip.start(QStringLiteral("xclip"), {"-selection", "clipboard", "-t", "image/png", "-o"});
        waitUntil([&] { return xclip.state() == QProcess::NotRunning; }, 5000);
        copied = QImage::fromData(xclip.readAllStandardOutput(), "PNG");
        return !copied.isNull();
    }, 10000));
    EXPECT_EQ(copied.size(), QSize(800, 500));
    const QPoint inside = selected.center().toPoint();
    EXPECT_EQ(copied.pixelColor(inside), QColor(Qt::black));
    EXPECT_EQ(copied.pixelColor(selected.toRect().topLeft() + QPoint(3, 3)), QColor(Qt::black));
    EXPECT_EQ(copied.pixelColor(QPoint(50, 450)), QColor(Qt::white));
    EXPECT_NE(copied.pixelColor(QPoint(600, 300)), QColor(Qt::black));  // inside the rectangle's outline
    app.applicationWillTerminate();
}

}  // namespace
}  // namespace brevalto
