// The status line on a desktop with assistive technology: Qt's AT-SPI bridge runs on the suite's
// private D-Bus session once the accessibility bus is up, as a desktop session starts it at login
// (offscreen windows have no bridge, and Qt drops accessibility events while none listens), and
// each new status is announced on the line itself, a refusal also when it repeats.
#include "EditorViewFixture.h"

#include "QtWait.h"

#include <QAccessible>
#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include <algorithm>
#include <functional>
#include <vector>

namespace brevalto {
namespace {

std::vector<std::pair<QObject*, QAccessible::Event>> accessibilityEvents;

void recordAccessibilityEvent(QAccessibleEvent* event) { accessibilityEvents.emplace_back(event->object(), event->type()); }

TEST_F(EditorViewTest, TheStatusLineAnnouncesEachNewStatusAndEachRefusal) {
    QDBusConnection::sessionBus().interface()->startService(QStringLiteral("org.a11y.Bus"));
    ASSERT_TRUE(waitUntil([] { return QAccessible::isActive(); }, 10000)) << "the AT-SPI bridge should be on";
    QObject* status = find("editorStatus");
    QAccessible::installUpdateHandler(recordAccessibilityEvent);
    const auto heard = [&](const std::function<void()>& change) {
        accessibilityEvents.clear();
        change();
        const std::pair<QObject*, QAccessible::Event> renamed{status, QAccessible::NameChanged};
        return std::count(accessibilityEvents.begin(), accessibilityEvents.end(), renamed);
    };
    for (const QString& text : {ScreenshotEditorView::copiedImageStatus, ScreenshotEditorView::noHoverColorStatus})
        EXPECT_EQ(heard([&] { session().setStatus(text); }), 1) << text.toStdString();
    // A copy that a box too small for its text refuses, twice: heard again, though it says the same.
    ScreenshotLayer box = ScreenshotEditorView::coverLayer(ScreenshotLayerKind::text, QRectF(700, 500, 40, 10));
    box.text = "Text";
    session().addLayer(box);
    settle();
    for (int time = 1; time <= 2; ++time) EXPECT_EQ(heard([&] { click("copyImage"); }), 1) << time;
    EXPECT_TRUE(session().status().startsWith(QStringLiteral("Not copied: ")));
    QAccessible::installUpdateHandler(nullptr);
}

}  // namespace
}  // namespace brevalto
