#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
#include "Panel/ClipDragSet.h"
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

#include <QImage>
#include <QProcess>
#include <QUrl>
#include <QWindow>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

namespace brevalto {
namespace {

namespace fs = std::filesystem;

// GTK windows in another process at (600, 300), 300 by 300. "files" takes drops of URL lists and
// prints them; "refuses" takes no drops and prints its text field whenever it changes.
const char* const kTargets = R"(
import sys, gi
gi.require_version('Gtk', '3.0')
from gi.repository import Gtk, Gdk
w = Gtk.Window(title='target')
w.set_default_size(300, 300)
w.move(600, 300)
if sys.argv[1] == 'files':
    w.drag_dest_set(Gtk.DestDefaults.ALL, [Gtk.TargetEntry.new('text/uri-list', 0, 0)], Gdk.DragAction.COPY)
    w.connect('drag-data-received', lambda wd, c, x, y, data, i, t: print('uris:' + ' '.join(data.get_uris()), flush=True))
else:
    e = Gtk.Entry()
    e.drag_dest_unset()
    w.add(e)
    e.connect('changed', lambda entry: print('text:' + entry.get_text(), flush=True))
w.connect('map-event', lambda *a: print('ready', flush=True))
w.connect('destroy', Gtk.main_quit)
w.show_all()
Gtk.main()
)";

class ClipDragX11Test : public ::testing::Test {
public:
    void SetUp() override {
        controller.setKeyboard(keyboard);
        source.setGeometry(100, 100, 120, 80);
    }
    void TearDown() override {
        target.kill();
        target.waitForFinished(5000);
    }
    void startTarget(const char* kind) {
        target.start(QStringLiteral("/usr/bin/python3"),
                     {QStringLiteral("-c"), QString::fromLatin1(kTargets), QString::fromLatin1(kind)});
        ASSERT_TRUE(waitUntil([&] { return (out += target.readAllStandardOutput()).contains("ready\n"); }, 10000));
        out.clear();
    }
    // Drags from the middle of the source onto the target window with the real pointer.
    void dragToTarget() {
        source.show();
        ASSERT_TRUE(waitUntil([&] { return source.windowHandle() && source.windowHandle()->isExposed(); }));
        waitUntil([] { return false; }, 300);
        const QPoint from = source.mapToGlobal(QPoint(60, 40));
        auto at = [](QPoint p) { return QStringList{"mousemove", QString::number(p.x()), QString::number(p.y())}; };
        const QStringList pause{"sleep", "0.3"};
        pointer.start(QStringLiteral("xdotool"), at(from) + pause + QStringList{"mousedown", "1"} + pause +
                                                     at(from + QPoint(10, 10)) + pause + at(QPoint(700, 400)) + pause +
                                                     at(QPoint(720, 420)) + pause + QStringList{"mouseup", "1"});
    }
    bool printed(const QByteArray& line) {
        return waitUntil([&] { return (out += target.readAllStandardOutput()).contains(line); }, 15000);
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
    DragSourceView source;
    QProcess target, pointer;
    QByteArray out;
};

TEST_F(ClipDragX11Test, AnImageClipArrivesAsAFileInItsDragFolder) {
    startTarget("files");
    QImage image(90, 60, QImage::Format_RGB32);
    image.fill(QColor(20, 160, 90));
    const std::string name = std::string(64, 'c') + ".png";
    fs::create_directories(store.root());
    ASSERT_TRUE(image.save(QString::fromStdString((store.root() / name).string()), "PNG"));
    fs::permissions(store.root() / name, fs::perms::owner_read | fs::perms::owner_write);  // as the store keeps it
    const Clip clip(Clip::Kind::image, std::nullopt, name, std::string(64, 'c'), 90 * 60 * 4, "gimp");
    source.update(DragHandle::forCard(controller, clip, {}, {}, {}));

    dragToTarget();
    ASSERT_TRUE(printed("uris:")) << out.toStdString();
    pointer.waitForFinished(5000);
    const QUrl url(QString::fromUtf8(out.mid(out.indexOf("uris:") + 5).trimmed()));
    ASSERT_TRUE(url.isLocalFile()) << out.toStdString();
    const fs::path file = url.toLocalFile().toStdString();
    EXPECT_EQ(file.parent_path(), ClipDragSet::dragFolder(store, clip));
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(QImage(QString::fromStdString(file.string())).pixelColor(10, 10), QColor(20, 160, 90));
    EXPECT_TRUE(waitUntil([&] { return store.message() == DragSourceView::acceptedMessage; }));
}

TEST_F(ClipDragX11Test, ARefusedTextIsPastedIntoTheWindowUnderTheDrop) {
    startTarget("refuses");
    const Clip clip(Clip::Kind::text, SharedText("dropped text"), std::nullopt, "d", 12, "gedit");
    source.update(DragHandle::forCard(controller, clip, {}, {}, {}));

    dragToTarget();
    ASSERT_TRUE(printed("text:dropped text\n")) << out.toStdString() << " / " << store.message().toStdString();
    pointer.waitForFinished(5000);
    EXPECT_FALSE(controller.dragActive());
}

}  // namespace
}  // namespace brevalto
