#pragma once

#include "Editor/ReferencePins.h"

#include <QObject>
#include <QPointer>
#include <QRect>

#include <cstddef>
#include <vector>

namespace brevalto {

class Defaults;
class Screens;
class ScreenshotReferencePanel;

// Owns every open pin: small windows that keep a finished image in view above other windows.
// Each call of showReference opens a new one, cascaded from the centre of the main screen; a pin
// lives until its Close button or its title bar's close button closes it. Nothing about a pin is
// stored. The app has one, held by the screenshot workflow, which hands it to the editor too.
class ScreenshotPinController : public QObject, public ReferencePins {
    Q_OBJECT
public:
    static constexpr int kContentWidth = 420;
    static constexpr int kMinimumContentHeight = 240;
    static constexpr int kMaximumContentHeight = 600;
    static constexpr int kChromeHeight = 80;  // the controls above and the footnote below the image
    static constexpr int kCascadeStep = 24;
    static constexpr std::size_t kCascadeLength = 8;

    // Reads "showInDock" at each opening for the pin's taskbar presence.
    ScreenshotPinController(Screens& screens, const Defaults& defaults, QObject* parent = nullptr);
    ~ScreenshotPinController() override;

    void showReference(const QImage& image, std::function<void()> reopen) override;

    // The open pins in opening order.
    const std::vector<ScreenshotReferencePanel*>& panels() const { return panels_; }

    // Shows the open pins in the taskbar or keeps them out of it.
    void applyTaskbarPolicy(bool shown);

    // The content height for an image of that many pixels: its height at the width of 420 plus
    // the controls, held within 240 ... 600.
    static int contentHeight(QSize imagePixels);
    // How far right and down from the centred position the next pin opens, with openCount pins
    // open: 24 points more per open pin, back to the centre after eight.
    static int cascadeOffset(std::size_t openCount);
    // The content rectangle (Qt's top-left coordinates) of the next pin: centred in the screen's
    // visible area, then cascaded.
    static QRect initialFrame(QSize imagePixels, const QRect& visibleArea, std::size_t openCount);

private:
    // A pin closed: exactly that window leaves panels() and is released.
    void windowWillClose(ScreenshotReferencePanel* panel);
    // Maps again the pins that a window manager which was starting left unmapped, a few times
    // at most.
    void ensureMapped(int attemptsLeft);

    Screens& screens_;
    const Defaults& defaults_;
    std::vector<ScreenshotReferencePanel*> panels_;
    std::vector<QPointer<ScreenshotReferencePanel>> released_;  // closed, deleted on the next turn
};

}  // namespace brevalto
