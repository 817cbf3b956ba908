#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
#include "Document/ScreenshotFilePromise.h"
#include "Document/ScreenshotOutput.h"
#include "Errors/ScreenshotError.h"
#include "Imaging/ImageLimits.h"
#include "Panel/ClipDragSet.h"
#include "Panel/DragSourceView.h"
#include "Panel/NotchPanel.h"
#include "Panel/PanelController.h"
#include "Platform/Defaults.h"

#include "FakeApps.h"
#include "FakeClock.h"
#include "FakeKeyboard.h"
#include "FakePasteboard.h"
#include "FakeScreens.h"
#include "QtWait.h"
#include "TestFolder.h"

#include <QDrag>
#include <QImage>
#include <QMimeData>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <memory>

namespace brevalto {
namespace {

namespace fs = std::filesystem;

Clip textClip(const std::string& text) {
    return Clip(Clip::Kind::text, SharedText(text), std::nullopt, "t" + text, static_cast<std::int64_t>(text.size()),
                "gedit");
}

int modeOf(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 0777) : -1;
}

class ClipDragTest : public ::testing::Test {
public:
    void SetUp() override { store = std::make_unique<ClipStore>(folder.path(), clock); }

    // An image clip whose file (a noisy image, so PNG cannot squeeze it) lies in the history folder,
    // named by a digest made of its one-letter name, 0600 as the store writes it.
    Clip imageClip(const std::string& letter, int side = 64) {
        const std::string name = std::string(63, '0') + letter;
        QImage image(side, side, QImage::Format_ARGB32);
        quint32 seed = 12345;
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) {
                seed = seed * 1664525u + 1013904223u;
                image.setPixel(x, y, seed | 0xff000000u);
            }
        fs::create_directories(store->root());
        const fs::path file = store->root() / (name + ".png");
        EXPECT_TRUE(image.save(QString::fromStdString(file.string()), "PNG"));
        fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
        return Clip(Clip::Kind::image, std::nullopt, name + ".png", name, side * side * 4, "gimp", 800'000'000.0);
    }
    std::size_t filesUnder(const fs::path& path) const {
        std::size_t count = 0;
        if (!fs::exists(path)) return 0;
        for (const auto& entry : fs::recursive_directory_iterator(path)) count += entry.is_regular_file();
        return count;
    }
    std::string refusal(const Clip& item, const std::vector<Clip>& selected, std::size_t budget = ClipDragSet::imageBudget) {
        try {
            ClipDragSet::build(&item, store.get(), selected, budget);
        } catch (const std::exception& error) {
            return error.what();
        }
        return "built";
    }

    TestFolder folder;
    FakeClock clock;
    std::unique_ptr<ClipStore> store;
};

TEST_F(ClipDragTest, TheSetIsTheSelectionWhenItHoldsThePressedClipElseTheClipAlone) {
    const Clip a = imageClip("a"), b = imageClip("b"), c = imageClip("c");
    const ClipDragSet group = ClipDragSet::build(&b, store.get(), {c, b});
    ASSERT_EQ(group.items().size(), 2u);
    EXPECT_EQ(group.items()[0].frame, QRectF(0, 0, 110, 70));
    EXPECT_EQ(group.items()[1].frame, QRectF(8, 8, 110, 70));
    EXPECT_EQ(group.items()[0].promise->folder(), ClipDragSet::dragFolder(*store, c));
    EXPECT_EQ(group.items()[1].promise->folder(), ClipDragSet::dragFolder(*store, b));

    const ClipDragSet alone = ClipDragSet::build(&a, store.get(), {c, b});
    ASSERT_EQ(alone.items().size(), 1u);
    EXPECT_EQ(alone.items()[0].promise->folder(), ClipDragSet::dragFolder(*store, a));
    EXPECT_FALSE(alone.items()[0].image.isNull());  // the store's thumbnail

    const Clip hi = textClip("hi");
    const ClipDragSet text = ClipDragSet::build(&hi, store.get(), {});
    std::unique_ptr<QMimeData> data(text.mimeData());
    EXPECT_EQ(data->text(), QStringLiteral("hi"));
    EXPECT_FALSE(data->hasFormat(ScreenshotFilePromise::uriListMimeType));
}

TEST_F(ClipDragTest, ImageFilesAreWrittenOnlyWhenATargetAsksAndLandInTheClipsDragFolder) {
    const Clip a = imageClip("a"), b = imageClip("b");
    const ClipDragSet set = ClipDragSet::build(&a, store.get(), {a, b});
    // Nothing on disk until the URL list is asked for.
    EXPECT_EQ(filesUnder(store->root() / "ScreenshotDocuments"), 0u);

    std::unique_ptr<QMimeData> data(set.mimeData());
    EXPECT_EQ(data->data(ScreenshotFilePromise::pngMimeType), set.items()[0].promise->data());
    const QList<QUrl> urls = data->urls();
    ASSERT_EQ(urls.size(), 2);
    const std::string name = (ScreenshotOutput::fileName(QStringLiteral("Brevalto"), a.createdAt) +
                              QStringLiteral(".png")).toStdString();
    const fs::path first = urls[0].toLocalFile().toStdString();
    EXPECT_EQ(first, store->root() / "ScreenshotDocuments" / a.id.string() / "Drag" / name);
    EXPECT_EQ(fs::path(urls[1].toLocalFile().toStdString()).parent_path(), ClipDragSet::dragFolder(*store, b));
    EXPECT_EQ(modeOf(first), 0600);
    EXPECT_EQ(modeOf(first.parent_path()), 0700);
    EXPECT_EQ(filesUnder(store->root() / "ScreenshotDocuments"), 2u);
    EXPECT_FALSE(QImage(QString::fromStdString(first.string())).isNull());
}

TEST_F(ClipDragTest, RefusalsCarryTheirMessageAndLeaveNoFiles) {
    std::vector<Clip> texts;
    for (int i = 0; i < 33; ++i) texts.push_back(textClip(std::to_string(i)));
    EXPECT_EQ(refusal(texts[0], texts), ClipDragSet::tooManyMessage.toStdString());
    texts.pop_back();
    EXPECT_EQ(refusal(texts[0], texts), "built");

    Clip empty = textClip("x");
    empty.text.reset();
    EXPECT_EQ(refusal(empty, {}), ClipDragSet::unavailableMessage.toStdString());
    EXPECT_THROW(ClipDragSet::build(nullptr, store.get(), {}), ScreenshotError);
    EXPECT_EQ(refusal(textClip("x"), {}), "built");
    try {
        ClipDragSet::build(&texts[0], nullptr, {});
        ADD_FAILURE();
    } catch (const ScreenshotError& error) {
        EXPECT_EQ(error.message(), ClipDragSet::noItemMessage.toStdString());
    }

    // The image file vanished.
    const Clip gone = imageClip("e");
    fs::remove(store->root() / *gone.imageFile);
    EXPECT_EQ(refusal(gone, {}), "Could not read " + (store->root() / *gone.imageFile).string() +
                                     ": No such file or directory");

    // The budget counts every image's PNG bytes; reaching it exactly still passes.
    const Clip a = imageClip("a", 128), b = imageClip("b", 128);
    // A file that is no image.
    Clip broken = imageClip("f");
    fs::resize_file(store->root() / *broken.imageFile, 10);
    EXPECT_EQ(refusal(broken, {}), kUnreadableImageMessage);
    const auto one = static_cast<std::size_t>(ClipDragSet::build(&a, store.get(), {}).items()[0].promise->data().size());
    const auto two = one + static_cast<std::size_t>(ClipDragSet::build(&b, store.get(), {}).items()[0].promise->data().size());
    EXPECT_EQ(refusal(a, {a, b}, two), "built");
    EXPECT_EQ(refusal(a, {a, b}, two - 1), ClipDragSet::overBudgetMessage.toStdString());
    EXPECT_EQ(refusal(a, {}, one - 1), ClipDragSet::overBudgetMessage.toStdString());
    EXPECT_EQ(filesUnder(store->root() / "ScreenshotDocuments"), 0u);
}

// A drag source whose sessions end as the test says, without a real drag.
class ScriptedDragSource : public DragSourceView {
public:
    Qt::DropAction result = Qt::CopyAction;
    int sessions = 0;
    QString lastText;
    std::function<void()> during;

protected:
    Qt::DropAction runDrag(QDrag& drag) override {
        ++sessions;
        lastText = drag.mimeData()->text();
        if (during) during();
        return result;
    }
    QPointF endPoint() const override { return {300, 500}; }
};

class DragSourceTest : public ClipDragTest {
public:
    void SetUp() override {
        ClipDragTest::SetUp();
        view.resize(200, 100);
    }
    void press(QPoint at = {10, 10}, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mousePress(&view, Qt::LeftButton, modifiers, at);
    }
    void moveTo(QPoint at) {
        QMouseEvent event(QEvent::MouseMove, at, view.mapToGlobal(at), Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(&view, &event);
    }
    void release(QPoint at, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseRelease(&view, Qt::LeftButton, modifiers, at);
    }
    DragHandle handleFor(const Clip& clip) {
        DragHandle handle;
        handle.item = clip;
        handle.store = store.get();
        handle.clicked = [this] { log.push_back("clicked"); };
        handle.began = [this] { log.push_back("began"); };
        handle.ended = [this] { log.push_back("ended"); };
        handle.dropped = [this](QPointF point, bool accepted) {
            log.push_back(QStringLiteral("dropped %1,%2 %3").arg(point.x()).arg(point.y()).arg(accepted));
        };
        handle.escapeHeld = [this] { return escape; };
        return handle;
    }

    ScriptedDragSource view;
    QStringList log;
    bool escape = false;
};

TEST_F(DragSourceTest, FourPointsIsStillAClickAndCtrlClickSelectsWhereTheCardAllows) {
    view.update(handleFor(textClip("a")));
    press({10, 10});
    moveTo({14, 10});
    release({14, 10});
    EXPECT_EQ(log, QStringList{"clicked"});
    EXPECT_EQ(view.sessions, 0);

    // Ctrl-click without selectMultiple is a plain click; with it, it selects.
    press({10, 10}, Qt::ControlModifier);
    release({10, 10}, Qt::ControlModifier);
    DragHandle handle = handleFor(imageClip("d"));
    handle.selectMultiple = [this] { log.push_back("select"); };
    view.update(handle);
    press({10, 10}, Qt::ControlModifier);
    release({12, 12}, Qt::ControlModifier);
    EXPECT_EQ(log, (QStringList{"clicked", "clicked", "select"}));
    EXPECT_FALSE(view.armed());
}

TEST_F(DragSourceTest, ADragReportsHowItEndedAndDropsOnlyWithoutEscape) {
    view.update(handleFor(textClip("drag me")));
    press({10, 10});
    moveTo({15, 10});
    EXPECT_EQ(view.sessions, 1);
    EXPECT_EQ(view.lastText, QStringLiteral("drag me"));
    EXPECT_EQ(store->message(), DragSourceView::acceptedMessage);
    EXPECT_EQ(log, (QStringList{"began", "ended", "dropped 300,500 1"}));
    EXPECT_FALSE(view.armed());
    EXPECT_FALSE(view.active());

    // Refused: dropped runs with accepted false (paste back decides).
    log.clear();
    view.result = Qt::IgnoreAction;
    press({10, 10});
    moveTo({30, 30});
    EXPECT_EQ(store->message(), DragSourceView::cancelledMessage);
    EXPECT_EQ(log, (QStringList{"began", "ended", "dropped 300,500 0"}));

    // Cancelled with Escape: ended, but no drop.
    log.clear();
    escape = true;
    press({10, 10});
    moveTo({30, 30});
    EXPECT_EQ(log, (QStringList{"began", "ended"}));
}

TEST_F(DragSourceTest, AFailedDragSetIsReportedOnceAndThePressStaysDisarmedUntilRelease) {
    std::vector<Clip> texts;
    for (int i = 0; i < 33; ++i) texts.push_back(textClip(std::to_string(i)));
    DragHandle handle = handleFor(texts[0]);
    handle.selectedItems = texts;
    int reports = 0;
    QObject::connect(store.get(), &ClipStore::messageChanged, [&] { ++reports; });
    view.update(handle);

    press({10, 10});
    moveTo({20, 20});
    EXPECT_EQ(store->message(), ClipDragSet::tooManyMessage);
    // Later moves of the same press build nothing and report nothing.
    store->setMessage(QStringLiteral("meanwhile"));
    moveTo({40, 40});
    moveTo({60, 60});
    EXPECT_EQ(store->message(), QStringLiteral("meanwhile"));
    EXPECT_EQ(reports, 2);
    EXPECT_EQ(view.sessions, 0);
    EXPECT_TRUE(log.isEmpty());
    // The release of the failed press is no click either.
    release({60, 60});
    EXPECT_TRUE(log.isEmpty());

    // A new press tries again.
    reports = 0;
    press({10, 10});
    moveTo({20, 20});
    EXPECT_EQ(reports, 1);
    EXPECT_EQ(store->message(), ClipDragSet::tooManyMessage);
    release({20, 20});
}

TEST_F(DragSourceTest, ACardDragTakesThePanelAwayAndPastesRefusedTextWhereItWasDropped) {
    FakePasteboard board;
    FakeScreens screens;
    screens.setScreens({FakeScreens::screen("main", 0, 0, 1440, 900)});
    screens.setPrimaryHeight(900);
    FakeApps apps;
    FakeKeyboard keyboard;
    Defaults defaults;
    ClipboardMonitor monitor(*store, board, apps, defaults);
    PanelController controller(*store, monitor, screens, apps, defaults);
    controller.setKeyboard(keyboard);
    apps.windowList = {WindowInfo{5, 77, QRectF(0, 0, 1000, 800), 0}};
    apps.running = {AppIdentity{QStringLiteral("xterm"), QStringLiteral("xterm"), 77, 5}};
    apps.pidAtPoint = 77;
    controller.expandPanel(false);

    view.update(DragHandle::forCard(controller, textClip("to xterm"), {}, {}, [] {}));
    EXPECT_FALSE(view.handle().selectMultiple);  // text cards do not select
    bool activeDuring = false, visibleDuring = true;
    view.during = [&] {
        activeDuring = controller.dragActive();
        visibleDuring = controller.panel()->isVisible();
    };
    view.result = Qt::IgnoreAction;
    press({10, 10});
    moveTo({30, 30});
    EXPECT_TRUE(activeDuring);
    EXPECT_FALSE(visibleDuring);
    EXPECT_FALSE(controller.dragActive());
    EXPECT_FALSE(controller.expanded());
    // (300, 500) bottom-left is (300, 400) top-left, inside xterm's window.
    EXPECT_EQ(apps.pointsAsked, std::vector<QPointF>{QPointF(300, 400)});
    EXPECT_EQ(board.content().data(PasteboardType::string), QByteArray("to xterm"));
    EXPECT_TRUE(waitUntil([&] { return keyboard.pastes == 1; }));
}

}  // namespace
}  // namespace brevalto
