#pragma once

#include "Platform/Screens.h"

#include <QPointF>
#include <QRectF>

#include <optional>
#include <vector>

namespace brevalto {

// The measurements of the screen the notch panel hangs from, in bottom-left points.
struct NotchGeometry {
    QRectF screenFrame;        // the whole screen
    QRectF visibleFrame;       // without reserved panels and docks
    double safeTop = 0;        // top inset; above 0 only on a screen with a camera housing
    double hardwareWidth = 0;  // width of the camera housing; 0 when safeTop is 0

    friend bool operator==(const NotchGeometry&, const NotchGeometry&) = default;

    // The measurements of one screen. The housing width is the frame's width less the areas left
    // and right of it; 180 when the screen does not report both.
    static NotchGeometry measure(const ScreenInfo& screen);
};

// The screen that holds the point (maximum edges outside), in list order; else the main screen.
std::optional<ScreenInfo> screenContaining(const std::vector<ScreenInfo>& screens, QPointF point,
                                           const std::optional<ScreenInfo>& mainScreen);

// The notch panel's window frame for its state, in bottom-left points: centred on the screen and
// hanging from its top edge (8 points lower on a screen without a camera housing), never below 12
// points above the visible frame's bottom, and never smaller than 1 x 1. Where a desktop panel
// reserves the top of the screen, the visible frame's top edge takes the screen's place.
QRectF panelFrame(bool expanded, bool previewExpanded, bool hasWorkspace, const NotchGeometry& geometry);

}  // namespace brevalto
