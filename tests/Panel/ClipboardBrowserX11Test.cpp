#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
#include "Panel/ClipCard.h"
#include "Panel/ClipCardRow.h"
#include "Panel/ClipboardView.h"
#include "Panel/NotchSurface.h"
#include "Panel/PanelController.h"
#include "Platform/Defaults.h"
#include "Platform/Linux/QtPasteboard.h"
#include "Platform/Linux/QtScreens.h"
#include "Platform/Linux/X11Apps.h"

#include "FakePasteboardOwner.h"
#include "QtWait.h"
#include "TestFolder.h"

#include <QFile>

#include <gtest/gtest.h>

namespace brevalto {
namespace {

// A text another program copies is the first card when the panel opens.
TEST(ClipboardBrowserX11, CopiedTextIsTheFirstCardWhenThePanelOpens) {
    TestFolder history;
    TestFolder files;
    QtScreens screens;
    X11Apps apps;
    Defaults defaults;
    defaults.registerDefaults({{"hoverOpen", false}});
    ClipStore store(history.path());
    store.addText("copied earlier", "app");
    QtPasteboard board;
    ClipboardMonitor monitor(store, board, apps, defaults);
    monitor.start();
    PanelController controller(store, monitor, screens, apps, defaults);
    auto* view = qobject_cast<ClipboardView*>(controller.surface()->content());
    ASSERT_NE(view, nullptr);

    const QString file = QString::fromStdString((files.path() / "copied.txt").string());
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write("copied with xclip \xE2\x9C\x93");
    out.close();
    ASSERT_TRUE(Xclip::copyFile(file));
    ASSERT_TRUE(waitUntil([&] { return store.items().size() == 2 && !monitor.reading(); }));

    controller.expandPanel(true);
    ASSERT_TRUE(waitUntil([&] { return view->isVisible() && !view->cardRow()->cards().empty(); }));
    ClipCard* first = view->cardRow()->cards().front();
    EXPECT_EQ(first->clip().id, store.items().front().id);
    EXPECT_EQ(first->previewText(), QStringLiteral("copied with xclip \u2713"));
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->mapTo(view->cardRow(), QPoint(0, 0)).x(), ClipCardRow::kInset);
}

}  // namespace
}  // namespace brevalto
