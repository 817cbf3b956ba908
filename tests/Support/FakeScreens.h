#pragma once

#include "Platform/Screens.h"

#include <QWindow>

#include <utility>

namespace brevalto {

// Screens a test sets up by hand: any number of displays (a notch is a top inset with optional
// areas left and right of it), a mouse location, reduced motion and a compositor switch.
class FakeScreens : public Screens {
    Q_OBJECT
public:
    using Screens::Screens;

    // A screen with its origin at (x, y) in bottom-left points, the visible frame equal to it.
    static ScreenInfo screen(const QString& name, double x, double y, double width, double height) {
        ScreenInfo info;
        info.name = name;
        info.frame = QRectF(x, y, width, height);
        info.visibleFrame = info.frame;
        return info;
    }
    // The same screen with a camera housing of the given width and top inset, centred on top.
    static ScreenInfo notched(ScreenInfo info, double housingWidth, double safeTop, bool reportAreas = true) {
        info.safeTop = safeTop;
        if (reportAreas) {
            const double side = (info.frame.width() - housingWidth) / 2;
            const double top = info.frame.y() + info.frame.height() - safeTop;
            info.auxiliaryTopLeftArea = QRectF(info.frame.x(), top, side, safeTop);
            info.auxiliaryTopRightArea = QRectF(info.frame.x() + side + housingWidth, top, side, safeTop);
        }
        return info;
    }

    void setScreens(std::vector<ScreenInfo> list, int mainIndex = 0) {
        list_ = std::move(list);
        main_ = mainIndex;
    }
    void setMouse(QPointF location) { mouse_ = location; }
    void setPrimaryHeight(double height) { primaryHeight_ = height; }
    void setReduceMotion(bool on) { reduceMotion_ = on; }
    void setCompositor(bool on) { compositor_ = on; }
    int preparedWindows() const { return prepared_; }

    std::vector<ScreenInfo> screens() const override { return list_; }
    std::optional<ScreenInfo> mainScreen() const override {
        if (main_ < 0 || main_ >= static_cast<int>(list_.size())) return std::nullopt;
        return list_[static_cast<std::size_t>(main_)];
    }
    QPointF mouseLocation() const override { return mouse_; }
    ScreenGeometry geometry() const override { return ScreenGeometry(primaryHeight_); }
    bool reduceMotion() const override { return reduceMotion_; }
    bool hasCompositor() const override { return compositor_; }
    void prepareOverlayWindow(QWindow*) override { ++prepared_; }
    void setShownInTaskbar(QWindow*, bool shown) override { shownInTaskbar_ = shown; }
    // Windows are viewable when shown, unless a test says the window manager left them unmapped.
    bool isViewable(QWindow* window) const override { return window && window->isVisible() && !unmapped; }
    bool unmapped = false;
    void mapAgain(QWindow*) override { ++mappedAgain; }
    int mappedAgain = 0;
    std::optional<bool> shownInTaskbar() const { return shownInTaskbar_; }
    void setWindowFixed(QWindow*, bool fixed) override { windowFixed_ = fixed; }
    std::optional<bool> windowFixed() const { return windowFixed_; }

private:
    std::vector<ScreenInfo> list_;
    int main_ = 0;
    QPointF mouse_;
    double primaryHeight_ = 900;
    bool reduceMotion_ = true;
    bool compositor_ = false;
    int prepared_ = 0;
    std::optional<bool> shownInTaskbar_;
    std::optional<bool> windowFixed_;
};

}  // namespace brevalto
