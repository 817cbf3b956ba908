#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
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

#include <gtest/gtest.h>

namespace brevalto {
namespace {

// A GTK window in another process with one text field; it prints the field's text whenever it
// changes (a paste reads the clipboard from its owner).
const char* const kTextWindow = R"(
import gi
gi.require_version('Gtk', '3.0')
from gi.repository import Gtk
w = Gtk.Window(title='paste target')
w.set_wmclass('pastetarget', 'PasteTarget')
w.set_default_size(400, 120)
e = Gtk.Entry()
w.add(e)
e.connect('changed', lambda entry: print('text:' + entry.get_text(), flush=True))
w.connect('map-event', lambda *a: print('ready', flush=True))
w.connect('destroy', Gtk.main_quit)
w.show_all()
Gtk.main()
)";

TEST(PasteBackX11Test, APastedClipArrivesInTheAppThatWasInFront) {
    QProcess window;
    window.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromLatin1(kTextWindow)});
    QByteArray out;
    ASSERT_TRUE(waitUntil([&] { return (out += window.readAllStandardOutput()).contains("ready\n"); }, 10000));
    out.clear();

    X11Apps apps;
    X11Keyboard keyboard;
    ASSERT_TRUE(waitUntil([&] {
        const auto front = apps.frontmost();
        return front && front->bundleIdentifier == QStringLiteral("PasteTarget");
    }));

    TestFolder folder;
    FakeClock clock;
    ClipStore store(folder.path(), clock);
    QtPasteboard board;
    QtScreens screens;
    Defaults defaults;
    ClipboardMonitor monitor(store, board, apps, defaults);
    PanelController controller(store, monitor, screens, apps, defaults);
    controller.setKeyboard(keyboard);

    // The panel opens with the keyboard, taking it from the text window.
    controller.expandPanel(true);
    ASSERT_TRUE(controller.target());
    EXPECT_EQ(controller.target()->processId, window.processId());
    ASSERT_TRUE(waitUntil([&] {
        const auto front = apps.frontmost();
        return front && front->processId == QCoreApplication::applicationPid();
    }));
    const Clip clip(Clip::Kind::text, SharedText("pasted from the history"), std::nullopt, "d", 23, "gedit");
    controller.paste(clip, true);
    EXPECT_FALSE(controller.expanded());

    ASSERT_TRUE(waitUntil([&] { return (out += window.readAllStandardOutput()).contains("text:pasted from the history\n"); },
                          10000))
        << out.toStdString() << " / " << store.message().toStdString();
    EXPECT_EQ(store.message(), ClipboardMonitor::copiedMessage);
    window.kill();
    window.waitForFinished(5000);
}

}  // namespace
}  // namespace brevalto
