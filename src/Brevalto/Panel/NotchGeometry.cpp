#include "Panel/NotchGeometry.h"

#include <algorithm>

namespace brevalto {

namespace {

constexpr double kSideMargin = 32;
constexpr double kListWidth = 740;
constexpr double kWorkspaceWidth = 1100;
constexpr double kCollapsedMinimumWidth = 238;
constexpr double kHousingAllowance = 76;
constexpr double kFallbackHousingWidth = 180;
constexpr double kFloatingDrop = 8;
constexpr double kCollapsedHeight = 32;
constexpr double kHeaderMinimum = 40;
constexpr double kListHeight = 288;
constexpr double kPreviewHeight = 196;
constexpr double kWorkspaceShare = 0.75;
constexpr double kBottomClearance = 12;

}  // namespace

NotchGeometry NotchGeometry::measure(const ScreenInfo& screen) {
    double housing = kFallbackHousingWidth;
    if (screen.auxiliaryTopLeftArea && screen.auxiliaryTopRightArea)
        housing = screen.frame.width() - screen.auxiliaryTopLeftArea->width() - screen.auxiliaryTopRightArea->width();
    NotchGeometry geometry;
    geometry.screenFrame = screen.frame;
    geometry.visibleFrame = screen.visibleFrame;
    geometry.safeTop = screen.safeTop;
    geometry.hardwareWidth = screen.safeTop > 0 ? housing : 0;
    return geometry;
}

std::optional<ScreenInfo> screenContaining(const std::vector<ScreenInfo>& screens, QPointF point,
                                           const std::optional<ScreenInfo>& mainScreen) {
    for (const ScreenInfo& screen : screens)
        if (rectContains(screen.frame, point)) return screen;
    return mainScreen;
}

QRectF panelFrame(bool expanded, bool previewExpanded, bool hasWorkspace, const NotchGeometry& geometry) {
    const QRectF& s = geometry.screenFrame;
    const QRectF& v = geometry.visibleFrame;
    const double available = s.width() - kSideMargin;
    const double listWidth = std::max(std::min(available, kListWidth), 1.0);

    double width;
    if (!expanded)
        width = std::min(std::max(geometry.hardwareWidth + kHousingAllowance, kCollapsedMinimumWidth), listWidth);
    else if (hasWorkspace)
        width = std::max(std::min(available, kWorkspaceWidth), 1.0);
    else
        width = listWidth;

    // The screen's top edge, or the visible frame's where a desktop panel reserves the top of the
    // screen: the panel never covers the desktop's top bar.
    double top = std::min(s.y() + s.height(), v.y() + v.height());
    if (!(geometry.safeTop > 0)) top -= kFloatingDrop;

    double height;
    if (!expanded)
        height = std::max(geometry.safeTop, kCollapsedHeight);
    else if (hasWorkspace)
        height = s.height() * kWorkspaceShare;
    else
        height = std::max(geometry.safeTop + 8, kHeaderMinimum) + kListHeight + (previewExpanded ? kPreviewHeight : 0);
    height = std::max(std::min(top - v.y() - kBottomClearance, height), 1.0);

    const double midX = s.x() + s.width() / 2;
    return QRectF(midX - width / 2, top - height, width, height);
}

}  // namespace brevalto
