#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
#include "Panel/NotchPanel.h"
#include "Panel/PanelController.h"
#include "Platform/Clock.h"
#include "Platform/Defaults.h"
#include "Platform/Linux/QtScreens.h"
#include "Platform/Linux/X11Connection.h"
#include "Workflow/CaptureSettings.h"
#include "Workflow/FloatingThumbnail.h"
#include "Workflow/WorkflowDialogs.h"

#include "FakeApps.h"
#include "FakePasteboard.h"
#include "QtWait.h"
#include "TestFolder.h"
#include "TestImages.h"
#include "RunProgram.h"

#include <QApplication>
#include <QCursor>
#include <QFileDialog>
#include <QScreen>
#include <QTest>
#include <QTimer>
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

// Save As from the thumbnail: the save dialog opens above the thumbnail, which stays above other
// windows, and starts in the auto-save folder.
TEST(FloatingThumbnailX11, TheSaveDialogOpensAboveTheThumbnailInTheAutoSaveFolder) {
    TestFolder folder;
    const auto shots = folder / "shots";
    std::filesystem::create_directory(shots);
    ClipStore store(folder / "history");
    FakePasteboard board;
    FakeApps apps;
    QtScreens screens;
    Defaults defaults;
    defaults.set(std::string(CaptureSettings::folderKey), shots.string());
    ClipboardMonitor monitor(store, board, apps, defaults);
    PanelController controller(store, monitor, screens, apps, defaults);
    FloatingThumbnail::Actions actions;
    actions.saveAs = [&](const Clip&) {
        WorkflowDialogs::system().chooseSaveFile(QStringLiteral("shot.png"), CaptureSettings::saveDialogFolder(defaults));
        return std::optional<QString>();
    };
    FloatingThumbnail thumbnail(store, monitor, controller, screens, defaults, Clock::system(), actions);
    QImage image(640, 400, QImage::Format_RGB32);
    image.fill(QColor(0, 200, 0));
    std::optional<Clip> clip;
    store.addImage(encodedImage(image, "PNG"), "Screenshot", 1.0, {}, [&](auto c) { clip = c; });
    ASSERT_TRUE(waitUntil([&] { return clip.has_value(); }));
    xdotool(QStringLiteral("mousemove 700 400"));
    defaults.set("capture.thumbnailTimeout", 0.0);
    thumbnail.showThumbnail(*clip);
    NotchPanel* window = thumbnail.thumbnail();
    ASSERT_TRUE(waitUntil([&] { return screens.isViewable(window->windowHandle()); }));
    QTest::qWait(300);
    const QPoint middle = window->geometry().center();
    const auto pixel = [&] {
        return QApplication::primaryScreen()->grabWindow(0, middle.x(), middle.y(), 1, 1).toImage().pixel(0, 0);
    };
    const QRgb thumbnailPixel = pixel();
    ASSERT_GT(qGreen(thumbnailPixel), 150) << "the thumbnail shows the image";

    // While the dialog's modal loop runs: put it over the thumbnail and look at the screen.
    QString directory;
    QRgb seen = thumbnailPixel;
    bool looked = false;
    QTimer::singleShot(0, [&] {
        QFileDialog* dialog = nullptr;
        ASSERT_TRUE(waitUntil([&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* d = qobject_cast<QFileDialog*>(w); d && d->isVisible()) dialog = d;
            return dialog && screens.isViewable(dialog->windowHandle());
        }));
        directory = dialog->directory().absolutePath();
        dialog->move(middle - QPoint(dialog->width() / 2, dialog->height() / 2));
        waitUntil([&] { return (seen = pixel()) != thumbnailPixel; }, 3000);
        looked = true;
        dialog->reject();
    });
    window->findChild<QToolButton*>("save")->click();
    EXPECT_TRUE(looked);
    EXPECT_EQ(directory, QString::fromStdString(shots.string()));
    EXPECT_NE(seen, thumbnailPixel) << "the thumbnail covers the dialog";
    EXPECT_TRUE(thumbnail.thumbnail());
}

}  // namespace
}  // namespace brevalto
