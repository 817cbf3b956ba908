#pragma once

#include "Platform/ScreenGeometry.h"

#include <QObject>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <optional>
#include <vector>

class QWindow;

namespace brevalto {

// One display as the app measures it. Frames are in points with the origin at the bottom-left
// corner of the primary screen, y growing upward (see ScreenGeometry).
struct ScreenInfo {
    QString name;
    QRectF frame;         // the whole screen
    QRectF visibleFrame;  // without panels and docks that reserve space (the work area)
    double scale = 1.0;   // device pixels per point
    // Camera housing: the top safe-area inset and the areas left and right of the housing.
    // Linux screens have none (0 and absent); the fake can simulate one.
    double safeTop = 0.0;
    std::optional<QRectF> auxiliaryTopLeftArea;
    std::optional<QRectF> auxiliaryTopRightArea;

    friend bool operator==(const ScreenInfo&, const ScreenInfo&) = default;
};

// The standard rectangle test of the geometry rules: a point on the maximum x or y edge is
// outside.
inline bool rectContains(const QRectF& rect, const QPointF& point) {
    return point.x() >= rect.x() && point.x() < rect.x() + rect.width() && point.y() >= rect.y() &&
           point.y() < rect.y() + rect.height();
}

// The displays, the mouse and the window server facilities the notch panel needs.
class Screens : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~Screens() override = default;

    // Every screen, in the desktop's order.
    virtual std::vector<ScreenInfo> screens() const = 0;
    // The primary screen, or none when there is no screen at all.
    virtual std::optional<ScreenInfo> mainScreen() const = 0;
    // The mouse location in bottom-left points.
    virtual QPointF mouseLocation() const = 0;
    // The conversion between bottom-left points and Qt's top-left window coordinates.
    virtual ScreenGeometry geometry() const = 0;
    // Whether the desktop asks for reduced motion (frame changes are then immediate).
    virtual bool reduceMotion() const = 0;
    // Whether a compositor draws window transparency; without one, shaped windows need a mask.
    virtual bool hasCompositor() const = 0;
    // Dresses a top-level window as an overlay before it is shown: on every desktop, out of the
    // taskbar and the pager, above other windows. Call before each show (the window manager
    // forgets these states when a window is withdrawn).
    virtual void prepareOverlayWindow(QWindow* window) = 0;
    // Shows an ordinary window of ours in the taskbar and pager, or keeps it out of them.
    virtual void setShownInTaskbar(QWindow* window, bool shown) = 0;
    // Asks the window manager to keep a window of ours where it is and as large as it is (fixed),
    // or to let the user move and resize it again.
    virtual void setWindowFixed(QWindow* window, bool fixed) = 0;
    // Whether a shown window of ours is on screen as far as the display server knows (a window
    // manager that was starting while it was shown may have left it unmapped).
    virtual bool isViewable(QWindow* window) const = 0;
    // Asks again for a shown window of ours to be mapped, without withdrawing it first. A window
    // manager that is still starting drops a map request that a withdrawal follows, and one that
    // takes in the withdrawal late erases the states the window was dressed in again meanwhile:
    // hiding and showing the window races with it, this does not.
    virtual void mapAgain(QWindow* window) = 0;

signals:
    // Screens appeared, disappeared, moved or changed size or scale.
    void screensChanged();
    // The system is about to sleep / has woken up.
    void willSleep();
    void didWake();
    // A window manager started, quit or was replaced. One that starts after our windows were
    // shown may not have taken them in: shown windows are mapped again.
    void windowManagerChanged();
};

}  // namespace brevalto
