#include "Clipboard/ClipboardMonitor.h"

#include "Clipboard/ClipStore.h"
#include "Document/ScreenshotOutput.h"
#include "FakeApps.h"
#include "FakeClock.h"
#include "FakePasteboard.h"
#include "Platform/AtomicFile.h"
#include "Platform/Defaults.h"
#include "QtWait.h"
#include "TestFolder.h"

#include <QBuffer>
#include <QImage>
#include <QTimer>

#include <gtest/gtest.h>

namespace brevalto {
namespace {

QByteArray encodedImage(const char* format, QColor color = Qt::red) {
    QImage image(8, 6, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

const QString restored = ClipboardMonitor::restoredType;
const QString transient = QStringLiteral("org.nspasteboard.TransientType");

class ClipboardMonitorTest : public ::testing::Test {
protected:
    // One poll with every read answered, and the store's image work finished.
    void tick() {
        monitor.poll();
        while (board.deliver() > 0) {
        }
        ASSERT_TRUE(waitUntil([&] { return store.pendingImages() == 0; }));
        EXPECT_FALSE(monitor.reading());
    }

    void copy(std::initializer_list<std::pair<QString, QByteArray>> entries) {
        PasteboardItem item;
        for (const auto& [type, bytes] : entries) item.setData(type, bytes);
        board.setContent(item);
    }

    TestFolder folder;
    FakeClock clock;
    ClipStore store{folder.path(), clock};
    FakePasteboard board;
    FakeApps apps;
    Defaults defaults;
    ClipboardMonitor monitor{store, board, apps, defaults};
};

TEST_F(ClipboardMonitorTest, CaptureRules) {
    const QByteArray png = encodedImage("PNG");
    const QByteArray tiff = encodedImage("TIFF", Qt::blue);
    const QByteArray fileURL = "file:///home/me/report.pdf";
    struct Case {
        const char* what;
        std::vector<std::pair<QString, QByteArray>> content;
        QString frontmost;
        std::optional<std::string> ignoredApps;
        std::optional<Clip::Kind> recorded;
        std::string source = {};
        QString imageRead = {};
    };
    const std::vector<Case> cases = {
        {"text from the frontmost app", {{PasteboardType::string, "hello"}}, "Gedit", {}, Clip::Kind::text, "Gedit"},
        {"no frontmost app", {{PasteboardType::string, "hello"}}, "", {}, Clip::Kind::text, "Unknown"},
        {"the content's own source wins",
         {{PasteboardType::string, "hello"}, {PasteboardType::source, "org.gimp.GIMP"}}, "Gedit", {},
         Clip::Kind::text, "org.gimp.GIMP"},
        {"our own write-back", {{PasteboardType::string, "hello"}, {restored, "1"}}, "Gedit", {}, {}},
        {"a password manager in the default list", {{PasteboardType::string, "pw"}}, "KeePassXC", {}, {}},
        {"ignored by the content's source", {{PasteboardType::string, "pw"}, {PasteboardType::source, "1Password"}},
         "Gedit", {}, {}},
        {"a set list replaces the default", {{PasteboardType::string, "pw"}}, "KeePassXC", "Gedit", Clip::Kind::text,
         "KeePassXC"},
        {"blanks and empty pieces around names", {{PasteboardType::string, "x"}}, "XTerm", " Gedit ,, XTerm\n,",
         {}},
        {"names match exactly", {{PasteboardType::string, "x"}}, "Gedit2", " Gedit ,, XTerm\n,", Clip::Kind::text,
         "Gedit2"},
        {"a blank piece ignores no nameless source", {{PasteboardType::string, "x"}, {PasteboardType::source, ""}},
         "Gedit", " , ", Clip::Kind::text, ""},
        {"concealed", {{PasteboardType::string, "pw"}, {PasteboardType::concealed, ""}}, "Gedit", {}, {}},
        {"transient", {{PasteboardType::string, "x"}, {transient, ""}}, "Gedit", {}, {}},
        {"concealed beats an image", {{PasteboardType::png, png}, {PasteboardType::concealed, ""}}, "Gedit", {}, {}},
        {"image before text", {{PasteboardType::string, "caption"}, {PasteboardType::png, png}}, "Gimp", {},
         Clip::Kind::image, "Gimp", PasteboardType::png},
        {"PNG before TIFF", {{PasteboardType::tiff, tiff}, {PasteboardType::png, png}}, "Gimp", {}, Clip::Kind::image,
         "Gimp", PasteboardType::png},
        {"TIFF alone", {{PasteboardType::tiff, tiff}}, "Gimp", {}, Clip::Kind::image, "Gimp", PasteboardType::tiff},
        {"a file is not recorded as its name", {{PasteboardType::fileURL, fileURL}, {PasteboardType::string, "report.pdf"}},
         "Nautilus", {}, {}},
        {"a copied image file records the image",
         {{PasteboardType::fileURL, fileURL}, {PasteboardType::png, png}, {PasteboardType::string, "a.png"}},
         "Nautilus", {}, Clip::Kind::image, "Nautilus"},
        {"no text and no image", {{QStringLiteral("text/html"), "<b>x</b>"}}, "Firefox", {}, {}},
        {"bytes that are not UTF-8 are recorded as valid text", {{PasteboardType::string, "caf\xe9"}}, "XTerm", {},
         Clip::Kind::text, "XTerm"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        store.commit({});
        board.dataReads.clear();
        apps.setFrontmost(c.frontmost);
        if (c.ignoredApps) {
            defaults.set(ClipboardMonitor::ignoredAppsKey, *c.ignoredApps);
        } else {
            defaults.remove(ClipboardMonitor::ignoredAppsKey);
        }
        PasteboardItem item;
        for (const auto& [type, bytes] : c.content) item.setData(type, bytes);
        board.setContent(item);
        tick();
        if (!c.recorded) {
            store.flush();
            EXPECT_TRUE(store.items().empty());
            EXPECT_FALSE(board.dataReads.contains(PasteboardType::string));
            EXPECT_FALSE(board.dataReads.contains(PasteboardType::png));
            continue;
        }
        store.flush();
        ASSERT_EQ(store.items().size(), 1u);
        const Clip& clip = store.items().front();
        EXPECT_EQ(clip.kind, *c.recorded);
        EXPECT_EQ(clip.source, c.source);
        if (!c.imageRead.isEmpty()) {
            EXPECT_EQ(board.dataReads.filter(QStringLiteral("public.")).first(), c.imageRead);
            EXPECT_FALSE(board.dataReads.contains(PasteboardType::string));
        }
        if (clip.kind == Clip::Kind::text && clip.text) {
            EXPECT_EQ(QString::fromStdString(*clip.text).toUtf8(), QByteArray::fromStdString(*clip.text));
        }
    }
}

TEST_F(ClipboardMonitorTest, ContentFromBeforeLaunchIsNotRecordedAndUnchangedCountsReadNothing) {
    board.copyText("before launch");
    ClipboardMonitor late{store, board, apps, defaults};
    late.poll();
    late.poll();
    EXPECT_EQ(board.typeReads, 0);
    EXPECT_EQ(board.pendingReads(), 0u);

    // Setting the count to -1 takes the current content as new.
    late.setCount(-1);
    late.poll();
    board.deliver();
    board.deliver();
    store.flush();
    ASSERT_EQ(store.items().size(), 1u);
    EXPECT_EQ(store.items().front().text, std::optional<std::string>("before launch"));
}

TEST_F(ClipboardMonitorTest, CopiesWhilePausedAreNeverRecorded) {
    store.setPaused(true);
    board.copyText("while paused");
    tick();
    EXPECT_EQ(board.typeReads, 0);
    store.setPaused(false);
    tick();
    store.flush();
    EXPECT_TRUE(store.items().empty());
    board.copyText("after resuming");
    tick();
    store.flush();
    ASSERT_EQ(store.items().size(), 1u);
    EXPECT_EQ(store.items().front().text, std::optional<std::string>("after resuming"));
}

TEST_F(ClipboardMonitorTest, RestrictedAccessReportsAndKeepsTheChangeForLater) {
    board.accessSetting = PasteboardAccess::ask;
    board.copyText("made while restricted");
    tick();
    EXPECT_EQ(store.message(), ClipboardMonitor::accessMessage);
    EXPECT_EQ(board.typeReads, 0);
    board.accessSetting = PasteboardAccess::alwaysAllow;
    tick();
    store.flush();
    ASSERT_EQ(store.items().size(), 1u);

    // Only the general pasteboard's setting counts.
    FakePasteboard other(QStringLiteral("find"));
    other.accessSetting = PasteboardAccess::alwaysDeny;
    ClipboardMonitor monitorOfOther{store, other, apps, defaults};
    EXPECT_FALSE(monitorOfOther.accessRestricted());
}

TEST_F(ClipboardMonitorTest, AChangeDuringTheReadDropsTheOldContent) {
    struct Case {
        const char* what;
        int deliveriesBeforeChange;  // 1: after the types, 0: before them
    };
    for (const Case& c : {Case{"before the types", 0}, Case{"before the text", 1}}) {
        SCOPED_TRACE(c.what);
        store.commit({});
        board.copyText("old");
        monitor.poll();
        for (int i = 0; i < c.deliveriesBeforeChange; ++i) {
            ASSERT_EQ(board.pendingReads(), 1u);
            board.deliver();
        }
        EXPECT_TRUE(monitor.reading());
        monitor.poll();  // a poll while reading does nothing
        board.copyText("new");
        board.deliver();
        board.deliver();
        EXPECT_FALSE(monitor.reading());
        store.flush();
        EXPECT_TRUE(store.items().empty());
        tick();
        store.flush();
        ASSERT_EQ(store.items().size(), 1u);
        EXPECT_EQ(store.items().front().text, std::optional<std::string>("new"));
    }
}

TEST_F(ClipboardMonitorTest, UnreadableOrOversizedContentRecordsNothingAndTheMonitorGoesOn) {
    struct Case {
        const char* what;
        std::function<void()> arrange;
        QString message;
    };
    const QByteArray hugeText(ClipStore::kMaxInputBytes + 1, 'a');
    const std::vector<Case> cases = {
        {"owner does not answer its types", [&] { board.typesFail = true; board.copyText("x"); }, {}},
        {"owner does not answer the text", [&] { board.failingTypes = {PasteboardType::string}; board.copyText("x"); }, {}},
        {"owner does not answer its source",
         [&] {
             board.failingTypes = {PasteboardType::source};
             copy({{PasteboardType::string, "x"}, {PasteboardType::source, "Gedit"}});
         },
         {}},
        {"an image that does not decode", [&] { copy({{PasteboardType::png, "not a png at all"}}); },
         QStringLiteral("Image unsupported or too large (32 MB / 40 MP limit)")},
        {"a text over 32 MiB", [&] { copy({{PasteboardType::string, hugeText}}); }, ClipboardMonitor::textTooLargeMessage},
        {"an image over 32 MiB", [&] { copy({{PasteboardType::png, hugeText}}); }, ClipboardMonitor::imageTooLargeMessage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        board.typesFail = false;
        board.failingTypes.clear();
        store.setMessage(QStringLiteral("before"));
        c.arrange();
        tick();
        store.flush();
        EXPECT_TRUE(store.items().empty());
        EXPECT_EQ(store.message(), c.message.isEmpty() ? QStringLiteral("before") : c.message);
    }
    // An image whose PNG does not come falls back to its text.
    board.failingTypes = {PasteboardType::png};
    copy({{PasteboardType::png, encodedImage("PNG")}, {PasteboardType::string, "fallback"}});
    tick();
    store.flush();
    ASSERT_EQ(store.items().size(), 1u);
    EXPECT_EQ(store.items().front().text, std::optional<std::string>("fallback"));
}

// Content too large to read is reported as the store reports such content: a store that could
// not load its history keeps saying so, and a full image queue is reported before the size.
TEST_F(ClipboardMonitorTest, OversizedContentIsReportedAsTheStoreWould) {
    const QByteArray huge(ClipStore::kMaxInputBytes + 1, 'a');
    const QByteArray smallPng = encodedImage("PNG");

    TestFolder brokenFolder;
    AtomicFile::write(brokenFolder.path() / ClipStore::kIndexFileName, std::string("not json"));
    ClipStore readOnly{brokenFolder.path(), clock};
    ASSERT_FALSE(readOnly.writable());
    const QString loadFailure = readOnly.message();
    ClipboardMonitor readOnlyMonitor{readOnly, board, apps, defaults};
    for (const QString& type : {PasteboardType::string, PasteboardType::png}) {
        SCOPED_TRACE(type.toStdString());
        copy({{type, huge}});
        readOnlyMonitor.poll();
        while (board.deliver() > 0) {
        }
        EXPECT_EQ(readOnly.message(), loadFailure);
    }

    // Three images pending: a fourth, oversized one meets the full queue first.
    monitor.setCount(board.changeCount());
    for (int i = 0; i < ClipStore::kMaxPendingImages; ++i) store.addImage(smallPng, "test");
    copy({{PasteboardType::png, huge}});
    monitor.poll();
    while (board.deliver() > 0) {
    }
    EXPECT_EQ(store.message(), ClipboardMonitor::imageQueueBusyMessage);
    ASSERT_TRUE(waitUntil([&] { return store.pendingImages() == 0; }));
    copy({{PasteboardType::png, huge}});
    tick();
    EXPECT_EQ(store.message(), ClipboardMonitor::imageTooLargeMessage);
}

TEST_F(ClipboardMonitorTest, WriteBackMarksTheContentAndIsNotRecordedAgain) {
    apps.setFrontmost(QStringLiteral("Gedit"));
    board.copyText("from gedit");
    tick();
    store.flush();
    ASSERT_EQ(store.items().size(), 1u);
    const Clip textClip = store.items().front();

    apps.setFrontmost(QStringLiteral("Firefox"));
    ASSERT_TRUE(monitor.copy(textClip));
    EXPECT_EQ(store.message(), ClipboardMonitor::copiedMessage);
    EXPECT_EQ(board.content().data(PasteboardType::string), std::optional<QByteArray>("from gedit"));
    EXPECT_EQ(board.content().data(restored), std::optional<QByteArray>("1"));
    EXPECT_EQ(board.content().data(PasteboardType::source), std::optional<QByteArray>("Gedit"));
    EXPECT_EQ(monitor.count(), board.changeCount());
    const int reads = board.typeReads;
    tick();
    EXPECT_EQ(board.typeReads, reads);
    // Even when the count is forced, the marker keeps it out.
    monitor.setCount(-1);
    tick();
    store.flush();
    EXPECT_EQ(store.items().size(), 1u);

    copy({{PasteboardType::png, encodedImage("PNG")}});
    tick();
    store.flush();
    const Clip imageClip = store.items().front();
    ASSERT_EQ(imageClip.kind, Clip::Kind::image);
    ASSERT_TRUE(monitor.copy(imageClip));
    const std::string file = AtomicFile::read(store.root() / *imageClip.imageFile, 1 << 20);
    EXPECT_EQ(board.content().data(PasteboardType::png), std::optional<QByteArray>(QByteArray::fromStdString(file)));
    EXPECT_FALSE(board.content().data(PasteboardType::string));
    EXPECT_EQ(board.content().data(restored), std::optional<QByteArray>("1"));
}

TEST_F(ClipboardMonitorTest, WriteBackFailures) {
    Clip noData;
    noData.kind = Clip::Kind::image;
    Clip missingFile = noData;
    missingFile.imageFile = std::string(64, 'a') + ".png";
    Clip escaping = noData;
    escaping.imageFile = "../history.json";
    for (const Clip& clip : {noData, missingFile, escaping}) {
        const auto before = board.changeCount();
        EXPECT_FALSE(monitor.copy(clip));
        EXPECT_EQ(store.message(), ClipboardMonitor::unavailableMessage);
        EXPECT_EQ(board.changeCount(), before);
    }

    Clip text;
    text.text = "x";
    board.refuseWrites = true;
    EXPECT_FALSE(monitor.copy(text));
    EXPECT_EQ(store.message(), ClipboardMonitor::writeFailedMessage);
    EXPECT_EQ(monitor.count(), board.changeCount());
}

TEST_F(ClipboardMonitorTest, StartedMonitorLooksAtAChangeAtOnce) {
    monitor.start();
    board.copyText("quick");
    // The change is taken up by the next turn of the event loop, not at the next tick.
    QCoreApplication::processEvents();
    EXPECT_EQ(board.typeReads, 1);
    board.deliver();
    // A copy made while reading is taken up as soon as the read is done.
    board.copyText("quicker");
    board.deliver();
    store.flush();
    EXPECT_TRUE(store.items().empty());
    QCoreApplication::processEvents();
    EXPECT_EQ(board.typeReads, 2);
    while (board.deliver() > 0) {
    }
    store.flush();
    ASSERT_EQ(store.items().size(), 1u);
    EXPECT_EQ(store.items().front().text, std::optional<std::string>("quicker"));
}

// Nothing wakes the monitor while the clipboard stays as it is; only a denied clipboard is
// looked at again by itself, until access is allowed and the change is recorded.
TEST_F(ClipboardMonitorTest, AStartedMonitorRestsUntilTheClipboardChanges) {
    auto running = [&] {
        int active = 0;
        for (const QTimer* timer : monitor.findChildren<QTimer*>()) active += timer->isActive();
        return active;
    };
    monitor.start();
    QCoreApplication::processEvents();
    EXPECT_EQ(running(), 0);
    EXPECT_EQ(board.typeReads, 0);

    board.accessSetting = PasteboardAccess::ask;
    board.copyText("while denied");
    QCoreApplication::processEvents();
    EXPECT_EQ(store.message(), ClipboardMonitor::accessMessage);
    EXPECT_EQ(running(), 1);
    store.setMessage(QStringLiteral("something else"));
    ASSERT_TRUE(waitUntil([&] { return store.message() == ClipboardMonitor::accessMessage; }, 2000))
        << "said again without another change";
    board.accessSetting = PasteboardAccess::alwaysAllow;
    ASSERT_TRUE(waitUntil([&] { return board.typeReads == 1; }, 2000));
    while (board.deliver() > 0) {
    }
    store.flush();
    ASSERT_EQ(store.items().size(), 1u);
    EXPECT_EQ(running(), 0);
}

TEST_F(ClipboardMonitorTest, CopiesOfFinishedScreenshotsAreNotRecorded) {
    monitor.setCount(-1);
    QImage image(12, 9, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    ScreenshotOutput::copyImage(image, board);
    tick();
    ScreenshotOutput::copyFileURL(QUrl::fromLocalFile(QString::fromStdString(folder.path().string())), board);
    tick();
    store.flush();
    EXPECT_TRUE(store.items().empty());
    board.copyText(QStringLiteral("from another app"));
    tick();
    store.flush();
    EXPECT_EQ(store.items().size(), 1u);
}

}  // namespace
}  // namespace brevalto
