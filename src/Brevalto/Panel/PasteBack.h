#pragma once

#include "Platform/Apps.h"

#include <QObject>
#include <QPointer>
#include <QPointF>
#include <QString>

#include <chrono>
#include <functional>

namespace brevalto {

struct Clip;
class Keyboard;
class PanelController;
class Screens;

// Puts a clip into the application the user works in: the clip is copied to the clipboard, the
// panel collapses, the application that was in front gets the keyboard back and, 0.15 s later,
// receives Ctrl+V when it really is in front again. A text dropped onto another application that
// did not take it (or that runs on Flutter, which takes drops it then ignores) is pasted the same
// way into the application under the drop point. Every outcome ends in the store's message.
// GUI thread only.
class PasteBack : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds pasteDelay{150};

    static inline const QString allowAccessibilityMessage =
        QStringLiteral("Copied. Allow Accessibility to enable direct paste.");
    static inline const QString returnToAppMessage = QStringLiteral("Copied. Return to your app and press Ctrl+V.");
    static inline const QString noFocusMessage =
        QStringLiteral("Copied. Target app did not regain focus; paste manually.");
    static inline const QString allowAccessibilityDropMessage =
        QStringLiteral("Copied. Allow Accessibility to paste dropped text.");

    // Runs work once, delay from now, on the GUI thread, without blocking it. The default is a
    // single-shot Qt timer; tests pass one that runs when they move their clock.
    using Timer = std::function<void(std::chrono::milliseconds delay, std::function<void()> work)>;

    PasteBack(PanelController& controller, Apps& apps, Keyboard& keyboard, Screens& screens, Timer timer = {});

    // Copies the clip; direct false only collapses the panel so that the user pastes by hand;
    // direct true also pastes into the remembered target.
    void paste(const Clip& clip, bool direct);
    // A text clip's drag ended at point (bottom-left screen points); accepted tells whether the
    // destination took the drop.
    void dropPaste(const Clip& clip, bool accepted, QPointF point);

    // Whether a window-list entry is an ordinary window of that process containing the point
    // (top-left screen coordinates).
    static bool isTargetWindow(const WindowInfo& entry, std::int64_t processId, QPointF point);
    // Posts Ctrl+V when target is the frontmost application; otherwise tells the user to paste by
    // hand, unless the controller is gone.
    static void sendPaste(const AppIdentity& target, const QPointer<PanelController>& controller, Apps& apps,
                          Keyboard& keyboard);

private:
    void schedulePaste(const AppIdentity& target);

    PanelController& controller_;
    Apps& apps_;
    Keyboard& keyboard_;
    Screens& screens_;
    Timer timer_;
};

}  // namespace brevalto
