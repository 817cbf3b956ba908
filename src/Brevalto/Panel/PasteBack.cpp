#include "Panel/PasteBack.h"

#include "Clipboard/ClipStore.h"
#include "Clipboard/ClipboardMonitor.h"
#include "Panel/PanelController.h"
#include "Platform/Keyboard.h"
#include "Platform/Screens.h"

#include <QCoreApplication>
#include <QTimer>

namespace brevalto {

namespace {

// The same application: by process when both know theirs, else by window and class.
bool sameApplication(const AppIdentity& a, const AppIdentity& b) {
    if (a.processId != 0 && b.processId != 0) return a.processId == b.processId;
    return a.window != 0 && a.window == b.window && a.bundleIdentifier == b.bundleIdentifier;
}

}  // namespace

PasteBack::PasteBack(PanelController& controller, Apps& apps, Keyboard& keyboard, Screens& screens, Timer timer)
    : QObject(&controller), controller_(controller), apps_(apps), keyboard_(keyboard), screens_(screens),
      timer_(std::move(timer)) {
    if (!timer_) {
        timer_ = [](std::chrono::milliseconds delay, std::function<void()> work) {
            QTimer::singleShot(delay, QCoreApplication::instance(), std::move(work));
        };
    }
}

void PasteBack::paste(const Clip& clip, bool direct) {
    if (!controller_.monitor().copy(clip)) return;
    if (!direct) {
        controller_.collapsePanel();
        return;
    }
    if (!keyboard_.isTrusted()) {
        controller_.store().setMessage(allowAccessibilityMessage);
        keyboard_.requestTrust();
        return;
    }
    const std::optional<AppIdentity> target = controller_.target();
    if (target && apps_.isRunning(*target)) {
        controller_.collapsePanel();
        apps_.activate(*target);
        schedulePaste(*target);
        return;
    }
    controller_.store().setMessage(returnToAppMessage);
}

void PasteBack::dropPaste(const Clip& clip, bool accepted, QPointF point) {
    const QPointF topLeft = screens_.geometry().toQt(point);
    const std::optional<std::int64_t> pid = apps_.processAt(topLeft);
    if (!pid) return;
    bool found = false;
    for (const WindowInfo& entry : apps_.windows()) {
        if (isTargetWindow(entry, *pid, topLeft)) {
            found = true;
            break;
        }
    }
    if (!found || *pid == QCoreApplication::applicationPid()) return;
    const std::optional<AppIdentity> app = apps_.application(*pid);
    if (!app) return;
    if (accepted && !apps_.isFlutter(*app)) return;
    if (!controller_.monitor().copy(clip)) return;
    if (!keyboard_.isTrusted()) {
        controller_.store().setMessage(allowAccessibilityDropMessage);
        return;
    }
    apps_.activate(*app);
    schedulePaste(*app);
}

bool PasteBack::isTargetWindow(const WindowInfo& entry, std::int64_t processId, QPointF point) {
    if (entry.processId != processId || entry.layer != 0) return false;
    if (!entry.bounds.isValid()) return false;
    return rectContains(entry.bounds, point);
}

void PasteBack::sendPaste(const AppIdentity& target, const QPointer<PanelController>& controller, Apps& apps,
                          Keyboard& keyboard) {
    const std::optional<AppIdentity> front = apps.frontmost();
    if (front && sameApplication(*front, target)) {
        keyboard.sendPaste();
        return;
    }
    if (controller) controller->store().setMessage(noFocusMessage);
}

void PasteBack::schedulePaste(const AppIdentity& target) {
    QPointer<PanelController> controller(&controller_);
    Apps* apps = &apps_;
    Keyboard* keyboard = &keyboard_;
    timer_(pasteDelay, [target, controller, apps, keyboard] { sendPaste(target, controller, *apps, *keyboard); });
}

}  // namespace brevalto
