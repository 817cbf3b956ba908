// The status line on a desktop with assistive technology: Qt's AT-SPI bridge runs on the suite's
// private D-Bus session once the accessibility bus is up, as a desktop session starts it at login
// (offscreen windows have no bridge, and Qt drops accessibility events while none listens), and
// each new status is announced on the line itself.
#include "EditorViewFixture.h"

#include "QtWait.h"

#include <QAccessible>
#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include <algorithm>
#include <vector>

namespace brevalto {
namespace {

std::vector<std::pair<QObject*, QAccessible::Event>> accessibilityEvents;

void recordAccessibilityEvent(QAccessibleEvent* event) { accessibilityEvents.emplace_back(event->object(), event->type()); }

TEST_F(EditorViewTest, TheStatusLineAnnouncesEachNewStatus) {
    QDBusConnection::sessionBus().interface()->startService(QStringLiteral("org.a11y.Bus"));
    ASSERT_TRUE(waitUntil([] { return QAccessible::isActive(); }, 10000)) << "the AT-SPI bridge should be on";
    QObject* status = find("editorStatus");
    QAccessible::installUpdateHandler(recordAccessibilityEvent);
    for (const QString& text : {ScreenshotEditorView::copiedImageStatus, ScreenshotEditorView::noHoverColorStatus}) {
        accessibilityEvents.clear();
        session().setStatus(text);
        const std::pair<QObject*, QAccessible::Event> renamed{status, QAccessible::NameChanged};
        EXPECT_EQ(std::count(accessibilityEvents.begin(), accessibilityEvents.end(), renamed), 1) << text.toStdString();
    }
    QAccessible::installUpdateHandler(nullptr);
}

}  // namespace
}  // namespace brevalto
