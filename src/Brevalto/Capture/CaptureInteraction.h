#pragma once

#include "Capture/CaptureCoordinator.h"
#include "Capture/CaptureDisplay.h"

#include <QImage>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace brevalto {

// The interactive steps a capture asks of the user: one chooser at a time, the countdown panel
// and the frozen-frame selection windows. The coordinator decides what is asked; an
// implementation only shows it and reports the answer. Everything runs on the GUI thread.
class CaptureInteraction {
public:
    // A chooser: a message, a line under it, the items to pick from and the accepting button.
    struct Choice {
        QString message;
        QString informative;
        QStringList items;
        QString accept;
    };

    // What a selection shows: the frozen surface image at `scale` pixels per point, one window per
    // display, each showing its part of the surface.
    struct Selection {
        QImage image;
        double scale = 1;
        std::vector<CaptureDisplay> displays;
        CaptureDisplay surface;
        bool finishesOnMouseUp = false;
    };

    virtual ~CaptureInteraction() = default;

    // Shows a modal chooser; `answer` gets the chosen index, or none for Cancel or a closed
    // chooser. It is called exactly once, possibly from closeChooser.
    virtual void choose(const Choice& choice, std::function<void(std::optional<int>)> answer) = 0;
    // Ends an open chooser as cancelled; nothing without one.
    virtual void closeChooser() = 0;
    // Shows the countdown panel (or updates the one shown) with the seconds left; its Cancel
    // calls `cancel`.
    virtual void showCountdown(int seconds, std::function<void()> cancel) = 0;
    // Shows one selection window per display, grabbing keyboard and pointer; the windows report
    // how the selection ended through `completed` (possibly more than once: the first report
    // counts).
    virtual void showSelection(const Selection& selection,
                               std::function<void(CaptureCoordinator::Selection)> completed) = 0;
    // Removes every selection window and the countdown panel and releases the grabs.
    virtual void closeOverlays() = 0;
    // How many overlay windows are up (selection windows and the countdown panel).
    virtual int overlayCount() const = 0;
};

// A one-shot timer for the countdown's one-second waits.
class CaptureTimer {
public:
    virtual ~CaptureTimer() = default;
    // Calls `fire` once after `seconds`, replacing any pending call.
    virtual void start(double seconds, std::function<void()> fire) = 0;
    // Drops the pending call, if any.
    virtual void stop() = 0;
};

}  // namespace brevalto
