#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
#include "Panel/DragSourceView.h"
#include "Panel/PanelController.h"
#include "Platform/Defaults.h"
#include "Platform/Linux/QtPasteboard.h"
#include "Platform/Linux/QtScreens.h"
#include "Platform/Linux/X11Apps.h"
#include "Platform/Linux/X11Keyboard.h"

#include "FakeClock.h"
#include "QtWait.h"
#include "TestFolder.h"

#include <QCoreApplication>
#include <QProcess>
#include <QWindow>

#include <gtest/gtest.h>

namespace brevalto {
namespace {

// A GTK window of another process at (600, 300) with one text field that takes no drops; it
// prints the field's text whenever it changes (a paste reads the clipboard from its owner).
const char* const kTextWindow = R"(
import gi
gi.require_version('Gtk', '3.0')
from gi.repository import Gtk
w = Gtk.Window(title='paste target')
w.set_default_size(300, 300)
w.move(600, 300)
e = Gtk.Entry()
e.drag_dest_unset()
w.add(e)
e.connect('changed', lambda entry: print('text:' + entry.get_text(), flush=True))
w.connect('map-event', lambda *a: print('ready', flush=True))
w.connect('destroy', Gtk.main_quit)
w.show_all()
Gtk.main()
)";

class PasteBackX11Test : public ::testing::Test {
public:
    void SetUp() override {
        controller.setKeyboard(keyboard);
        window.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromLatin1(kTextWindow)});
        ASSERT_TRUE(waitUntil([&] { return (out += window.readAllStandardOutput()).contains("ready\n"); }, 10000));
        out.clear();
    }
    void TearDown() override {
        window.kill();
        window.waitForFinished(5000);
    }
    bool printed(const QByteArray& line) {
        return waitUntil([&] { return (out += window.readAllStandardOutput()).contains(line); }, 15000);
    }
    bool frontIs(std::int64_t pid) {
        return waitUntil([&] {
            const auto front = apps.frontmost();
            return front && front->processId == pid;
        });
    }

    TestFolder folder;
    FakeClock clock;
    ClipStore store{folder.path(), clock};
    QtPasteboard board;
    QtScreens screens;
    Defaults defaults;
    X11Apps apps;
    X11Keyboard keyboard;
    ClipboardMonitor monitor{store, board, apps, defaults};
    PanelController controller{store, monitor, screens, apps, defaults};
    QProcess window;
    QByteArray out;
};

TEST_F(PasteBackX11Test, APastedClipArrivesInTheAppThatWasInFront) {
    ASSERT_TRUE(frontIs(window.processId()));
    // The panel opens with the keyboard, taking it from the text window.
    controller.expandPanel(true);
    ASSERT_TRUE(controller.target());
    EXPECT_EQ(controller.target()->processId, window.processId());
    ASSERT_TRUE(frontIs(QCoreApplication::applicationPid()));

    controller.paste(Clip(Clip::Kind::text, SharedText("pasted from the history"), std::nullopt, "d", 23, "gedit"), true);
    EXPECT_FALSE(controller.expanded());
    ASSERT_TRUE(printed("text:pasted from the history\n")) << out.toStdString() << " / " << store.message().toStdString();
    EXPECT_EQ(store.message(), ClipboardMonitor::copiedMessage);
}

TEST_F(PasteBackX11Test, TextDraggedOntoAWindowThatRefusesItIsPastedThere) {
    DragSourceView source;
    source.setGeometry(100, 100, 120, 80);
    source.update(DragHandle::forCard(controller, Clip(Clip::Kind::text, SharedText("dropped text"), std::nullopt, "d", 12, "gedit"), {}, {}, {}));
    source.show();
    ASSERT_TRUE(waitUntil([&] { return source.windowHandle() && source.windowHandle()->isExposed(); }));
    waitUntil([] { return false; }, 300);

    const QPoint from = source.mapToGlobal(QPoint(60, 40));
    auto at = [](QPoint p) { return QStringList{"mousemove", QString::number(p.x()), QString::number(p.y())}; };
    const QStringList pause{"sleep", "0.3"};
    QProcess pointer;
    pointer.start(QStringLiteral("xdotool"), at(from) + pause + QStringList{"mousedown", "1"} + pause +
                                                 at(from + QPoint(10, 10)) + pause + at(QPoint(700, 400)) + pause +
                                                 at(QPoint(720, 420)) + pause + QStringList{"mouseup", "1"});
    ASSERT_TRUE(printed("text:dropped text\n")) << out.toStdString() << " / " << store.message().toStdString();
    pointer.waitForFinished(5000);
    EXPECT_FALSE(controller.dragActive());
}

}  // namespace
}  // namespace brevalto
