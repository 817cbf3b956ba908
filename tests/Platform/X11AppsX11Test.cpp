#include "Platform/Linux/X11Apps.h"

#include "FakeAppsWindow.h"
#include "QtWait.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

namespace brevalto {
namespace {

TEST(X11AppsX11Test, FrontmostFollowsActivation) {
    X11Apps apps;
    FakeAppsWindow editor("gedit", "Gedit", 4242);
    FakeAppsWindow terminal("xterm", "XTerm", 4343);
    // Once the window manager has taken the window in, it can be activated.
    ASSERT_TRUE(waitUntil([&] { return apps.activate(AppIdentity{QStringLiteral("XTerm"), {}, 0, terminal.window()}); }));
    auto front = apps.frontmost();
    EXPECT_EQ(front->bundleIdentifier, QStringLiteral("XTerm"));
    EXPECT_EQ(front->name, QStringLiteral("xterm"));
    EXPECT_EQ(front->processId, 4343);

    // By the remembered window, and by class alone when the window is not known.
    EXPECT_TRUE(apps.activate(AppIdentity{QStringLiteral("Gedit"), {}, 4242, editor.window()}));
    EXPECT_EQ(apps.frontmost()->bundleIdentifier, QStringLiteral("Gedit"));
    EXPECT_TRUE(apps.activate(AppIdentity{QStringLiteral("XTerm"), {}, 0, 0}));
    EXPECT_EQ(apps.frontmost()->window, terminal.window());

    // Each activation is announced by the root window's property change, as it happens.
    QSignalSpy changed(&apps, &Apps::frontmostChanged);
    ASSERT_TRUE(apps.activate(AppIdentity{QStringLiteral("Gedit"), {}, 0, editor.window()}));
    EXPECT_TRUE(waitUntil([&] { return changed.count() >= 1; }, 2000));
    const int seen = changed.count();
    waitUntil([] { return false; }, 300);
    EXPECT_EQ(changed.count(), seen) << "no announcement while nothing changes";
    ASSERT_TRUE(apps.activate(AppIdentity{QStringLiteral("XTerm"), {}, 0, terminal.window()}));
    EXPECT_TRUE(waitUntil([&] { return changed.count() > seen; }, 2000));

    // A window id now used by another app does not activate that app.
    EXPECT_FALSE(apps.activate(AppIdentity{QStringLiteral("Inkscape"), {}, 0, editor.window()}));
    EXPECT_EQ(apps.frontmost()->bundleIdentifier, QStringLiteral("XTerm"));
}

}  // namespace
}  // namespace brevalto
