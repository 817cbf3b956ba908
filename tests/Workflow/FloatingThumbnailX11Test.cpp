#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
#include "Panel/NotchPanel.h"
#include "Panel/PanelController.h"
#include "Platform/Clock.h"
#include "Platform/Defaults.h"
#include "Platform/Linux/QtScreens.h"
#include "Platform/Linux/X11Connection.h"
#include "Workflow/FloatingThumbnail.h"

#include "FakeApps.h"
#include "FakePasteboard.h"
#include "QtWait.h"
#include "TestFolder.h"
#include "TestImages.h"
#include "RunProgram.h"

#include <QCursor>
#include <QProcess>
#include <QToolButton>

#include <gtest/gtest.h>

namespace brevalto {
namespace {

QString run(const QString& program, const QStringList& arguments) { return runProgram(program, arguments); }
QString xdotool(const QString& line) { return run(QStringLiteral("xdotool"), line.split(QLatin1Char(' '))); }

TEST(FloatingThumbnailX11, AppearsBesideThePointerWithoutFocusExpiresAndTakesEscapeOnceClicked) {
    auto x11 = X11Connection::open();
    ASSERT_TRUE(x11);
    const auto active = [&] { return x11->windowProperty(x11->root(), x11->atom("_NET_ACTIVE_WINDOW")); };
    TestFolder folder;
    ClipStore store(folder.path());
    FakePasteboard board;
    FakeApps apps;
    QtScreens screens;
    Defaults defaults;
    ClipboardMonitor monitor(store, board, apps, defaults);
    PanelController controller(store, monitor, screens, apps, defaults);
    FloatingThumbnail thumbnail(store, monitor, controller, screens, defaults, Clock::system(), {});
    QImage image(640, 400, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    std::optional<Clip> clip;
    store.addImage(encodedImage(image, "PNG"), "Screenshot", 1.0, {}, [&](auto c) { clip = c; });
    ASSERT_TRUE(waitUntil([&] { return clip.has_value(); }));

    QWidget other;
    other.resize(400, 300);
    other.show();
    other.activateWindow();
    ASSERT_TRUE(waitUntil([&] { return active() == xcb_window_t(other.winId()); }));
    xdotool(QStringLiteral("mousemove 500 300"));
    ASSERT_TRUE(waitUntil([] { return QCursor::pos() == QPoint(500, 300); }));

    defaults.set("capture.thumbnailTimeout", 1.0);
    thumbnail.showThumbnail(*clip);
    const WId id = thumbnail.thumbnail()->winId();
    ASSERT_TRUE(waitUntil([&] { return screens.isViewable(thumbnail.thumbnail()->windowHandle()); }));
    const QPoint offset = thumbnail.thumbnail()->geometry().topLeft() - QPoint(516, 316);
    EXPECT_LE(offset.manhattanLength(), 2) << offset.x() << "," << offset.y();
    const QString xprop = run(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(id)});
    for (const char* expected : {"_NET_WM_STATE_ABOVE", "_NET_WM_DESKTOP(CARDINAL) = 4294967295", "\"Screenshot\""})
        EXPECT_TRUE(xprop.contains(QString::fromLatin1(expected))) << expected << "\n" << xprop.toStdString();
    EXPECT_EQ(active(), xcb_window_t(other.winId()));
    EXPECT_TRUE(waitUntil([&] { return !thumbnail.thumbnail(); }, 3000));

    // Without a timeout it stays; a click gives it the keyboard, and Escape closes it.
    defaults.set("capture.thumbnailTimeout", 0.0);
    thumbnail.showThumbnail(*clip);
    NotchPanel* window = thumbnail.thumbnail();
    ASSERT_TRUE(waitUntil([&] { return screens.isViewable(window->windowHandle()); }));
    const QPoint pin = window->findChild<QToolButton*>("pin")->mapToGlobal(QPoint(16, 16));
    xdotool(QStringLiteral("mousemove %1 %2 click 1").arg(pin.x()).arg(pin.y()));
    ASSERT_TRUE(waitUntil([&] { return active() == xcb_window_t(window->winId()); }));
    xdotool(QStringLiteral("key Escape"));
    EXPECT_TRUE(waitUntil([&] { return !thumbnail.thumbnail(); }));
}

}  // namespace
}  // namespace brevalto
