#include "Document/ScreenshotDragView.h"
#include "Document/ScreenshotFilePromise.h"
#include "Platform/AtomicFile.h"
#include "QtWait.h"
#include "TestFolder.h"

#include <QImage>
#include <QProcess>
#include <QUrl>
#include <QWindow>

#include <gtest/gtest.h>

namespace brevalto {
namespace {

// A GTK window in another process that takes drops of URL lists and prints what it got.
const char* const kDropTarget = R"(
import sys, gi
gi.require_version('Gtk', '3.0')
from gi.repository import Gtk, Gdk
w = Gtk.Window(title='drop target')
w.set_default_size(300, 300)
w.move(600, 300)
w.drag_dest_set(Gtk.DestDefaults.ALL, [Gtk.TargetEntry.new('text/uri-list', 0, 0)], Gdk.DragAction.COPY)
def received(widget, context, x, y, data, info, time):
    print('\n'.join(data.get_uris()), flush=True)
    Gtk.main_quit()
w.connect('drag-data-received', received)
w.connect('map-event', lambda *a: print('ready', flush=True))
w.connect('destroy', Gtk.main_quit)
w.show_all()
Gtk.main()
)";

TEST(ScreenshotDragX11Test, AnotherProgramReceivesTheFileWhenTheDropAsksForIt) {
    TestFolder folder;
    QProcess target;
    target.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromLatin1(kDropTarget)});
    QByteArray out;
    ASSERT_TRUE(waitUntil([&] { return (out += target.readAllStandardOutput()).contains("ready\n"); }, 10000));
    out.clear();

    ScreenshotDragView view;
    QImage image(120, 80, QImage::Format_RGB32);
    image.fill(QColor(250, 120, 0));
    view.makeImage = [&] { return image; };
    view.folder = folder / "Drag";
    view.setGeometry(100, 100, 40, 40);
    view.show();
    ASSERT_TRUE(waitUntil([&] { return view.isVisible() && view.windowHandle() && view.windowHandle()->isExposed(); }));
    waitUntil([] { return false; }, 300);

    const QPoint from = view.mapToGlobal(QPoint(20, 20));
    auto at = [](QPoint p) { return QStringList{QStringLiteral("mousemove"), QString::number(p.x()), QString::number(p.y())}; };
    const QStringList pause{QStringLiteral("sleep"), QStringLiteral("0.3")};
    QProcess pointer;
    pointer.start(QStringLiteral("xdotool"), at(from) + pause + QStringList{"mousedown", "1"} + pause +
                                                 at(from + QPoint(10, 10)) + pause + at(QPoint(700, 400)) + pause +
                                                 at(QPoint(720, 420)) + pause + QStringList{"mouseup", "1"});
    ASSERT_TRUE(waitUntil([&] { return (out += target.readAllStandardOutput()).contains('\n'); }, 15000));
    pointer.waitForFinished(5000);
    target.waitForFinished(5000);

    const QUrl url(QString::fromUtf8(out.trimmed()));
    ASSERT_TRUE(url.isLocalFile()) << out.toStdString();
    const auto promise = view.promise();
    ASSERT_TRUE(promise);
    EXPECT_EQ(promise->createdFile(), std::filesystem::path(url.toLocalFile().toStdString()));
    EXPECT_EQ(AtomicFile::read(url.toLocalFile().toStdString(), 1 << 20), promise->data().toStdString());
    EXPECT_EQ(QImage::fromData(promise->data(), "PNG").pixelColor(5, 5), QColor(250, 120, 0));
}

}  // namespace
}  // namespace brevalto
