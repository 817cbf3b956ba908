#include "Clipboard/ClipboardMonitor.h"

#include "Clipboard/ClipStore.h"
#include "FakeAppsWindow.h"
#include "FakePasteboardOwner.h"
#include "Platform/AtomicFile.h"
#include "Platform/Defaults.h"
#include "Platform/Linux/QtPasteboard.h"
#include "Platform/Linux/X11Apps.h"
#include "QtWait.h"
#include "TestFolder.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace brevalto {
namespace {

using namespace std::chrono_literals;

QByteArray pngOf(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.fillRect(10, 10, width / 2, height / 3, Qt::darkCyan);
    painter.drawText(20, height - 20, QStringLiteral("Brevalto"));
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

class ClipboardMonitorX11Test : public ::testing::Test {
protected:
    void SetUp() override { monitor.start(); }

    QString file(const std::string& name, const QByteArray& bytes) {
        const QString path = QString::fromStdString((folder / name).string());
        QFile out(path);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(bytes);
        return path;
    }

    bool waitForItems(std::size_t count, int timeoutMs = 5000) {
        return waitUntil([&] { return store.items().size() == count && !monitor.reading() && store.pendingImages() == 0; },
                         timeoutMs);
    }

    // Lets the monitor look at the clipboard for longer than one tick.
    void idle() { waitUntil([] { return false; }, 3 * ClipboardMonitor::intervalMs / 2); }

    TestFolder folder;
    TestFolder historyFolder;
    ClipStore store{historyFolder.path()};
    QtPasteboard board{QtPasteboard::Timeouts{500ms, 5000ms}};
    X11Apps apps;
    Defaults defaults;
    ClipboardMonitor monitor{store, board, apps, defaults};
};

TEST_F(ClipboardMonitorX11Test, RecordsTextWithItsSource) {
    FakeAppsWindow editor("gedit", "Gedit", 4242);
    ASSERT_TRUE(waitUntil([&] { return apps.activate(AppIdentity{QStringLiteral("Gedit"), {}, 0, editor.window()}); }));
    ASSERT_TRUE(Xclip::copyFile(file("a.txt", "copied in the editor ✓")));
    ASSERT_TRUE(waitForItems(1));
    EXPECT_EQ(store.items().front().text, std::optional<std::string>("copied in the editor ✓"));
    EXPECT_EQ(store.items().front().source, "Gedit");

    // A source named by the content itself wins over the active window.
    FakePasteboardOwner owner({{"UTF8_STRING", "from the canvas"}, {"org.nspasteboard.source", "org.gimp.GIMP"}});
    ASSERT_TRUE(waitForItems(2));
    EXPECT_EQ(store.items().front().text, std::optional<std::string>("from the canvas"));
    EXPECT_EQ(store.items().front().source, "org.gimp.GIMP");
}

TEST_F(ClipboardMonitorX11Test, RecordsAPNGCopyAsAnImage) {
    const QByteArray png = pngOf(640, 480);
    ASSERT_TRUE(Xclip::copyFile(file("a.png", png), QStringLiteral("image/png")));
    ASSERT_TRUE(waitForItems(1));
    const Clip& clip = store.items().front();
    EXPECT_EQ(clip.kind, Clip::Kind::image);
    ASSERT_TRUE(clip.imageFile);
    QImage stored(QString::fromStdString((store.root() / *clip.imageFile).string()));
    EXPECT_EQ(stored.size(), QSize(640, 480));
}

TEST_F(ClipboardMonitorX11Test, PasswordManagerCopiesAreNotRecorded) {
    {
        FakePasteboardOwner owner({{"UTF8_STRING", "hunter2"}, {"x-kde-passwordManagerHint", "secret"}});
        ASSERT_TRUE(owner.owns());
        ASSERT_TRUE(waitUntil([&] { return owner.requests() >= 2; }));
        idle();
        EXPECT_TRUE(store.items().empty());
    }
    // The same copy without the hint is recorded.
    FakePasteboardOwner owner({FakePasteboardOwner::Target{"UTF8_STRING", "hunter2"}});
    ASSERT_TRUE(waitForItems(1));
}

TEST_F(ClipboardMonitorX11Test, WrittenBackClipsAreServedWithTheMarkersAndNotRecordedAgain) {
    ASSERT_TRUE(Xclip::copyFile(file("t.txt", "round trip")));
    ASSERT_TRUE(waitForItems(1));
    ASSERT_TRUE(Xclip::copyFile(file("p.png", pngOf(320, 200)), QStringLiteral("image/png")));
    ASSERT_TRUE(waitForItems(2));
    const Clip image = store.items()[0];
    const Clip text = store.items()[1];
    ASSERT_EQ(image.kind, Clip::Kind::image);

    struct Case {
        Clip clip;
        QString target;
        QByteArray bytes;
    };
    const Case cases[] = {
        {text, QStringLiteral("UTF8_STRING"), "round trip"},
        {image, QStringLiteral("image/png"),
         QByteArray::fromStdString(AtomicFile::read(store.root() / *image.imageFile, 1 << 24))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target.toStdString());
        ASSERT_TRUE(monitor.copy(c.clip));
        EXPECT_EQ(store.message(), QStringLiteral("Copied \u00B7 Ctrl+V to paste"));
        auto targets = Xclip::paste(QStringLiteral("TARGETS"));
        ASSERT_TRUE(targets);
        EXPECT_TRUE(targets->split('\n').contains("app.brevalto.restored"));
        EXPECT_TRUE(targets->split('\n').contains("org.nspasteboard.source"));
        EXPECT_EQ(Xclip::paste(c.target), std::optional<QByteArray>(c.bytes));
        EXPECT_EQ(Xclip::paste(QStringLiteral("app.brevalto.restored")), std::optional<QByteArray>("1"));
        EXPECT_EQ(Xclip::paste(QStringLiteral("org.nspasteboard.source")),
                  std::optional<QByteArray>(QByteArray::fromStdString(c.clip.source)));
        idle();
        ASSERT_EQ(store.items().size(), 2u);
        EXPECT_EQ(store.items()[0], image);
        EXPECT_EQ(store.items()[1], text);
    }
}

TEST_F(ClipboardMonitorX11Test, BadOwnersDoNotStopTheMonitor) {
    {
        FakePasteboardOwner silent({{"UTF8_STRING", "never sent"}}, FakePasteboardOwner::Behaviour::silent);
        ASSERT_TRUE(waitUntil([&] { return silent.requests() >= 1; }));
        // A new copy is taken up without waiting for the silent owner.
        ASSERT_TRUE(Xclip::copyFile(file("next.txt", "next")));
        ASSERT_TRUE(waitForItems(1, 4000));
        EXPECT_EQ(store.items().front().text, std::optional<std::string>("next"));
    }
    {
        FakePasteboardOwner garbage({{"UTF8_STRING", "x"}}, FakePasteboardOwner::Behaviour::garbageTargets);
        ASSERT_TRUE(waitUntil([&] { return garbage.requests() >= 1; }));
        idle();
    }
    ASSERT_TRUE(Xclip::copyFile(file("bad.png", "\x89PNG\r\n\x1a\nnot really"), QStringLiteral("image/png")));
    ASSERT_TRUE(waitUntil([&] { return store.message().startsWith(QStringLiteral("Image unsupported")); }));
    ASSERT_TRUE(Xclip::copyFile(file("last.txt", "still working")));
    ASSERT_TRUE(waitForItems(2));
    EXPECT_EQ(store.items().front().text, std::optional<std::string>("still working"));
}

}  // namespace
}  // namespace brevalto
