#pragma once

#include <QWidget>

#include <functional>

namespace brevalto {

class Screens;
class ScreenshotPinState;
class ScreenshotPinView;

// A pin's window: a titled, closable, resizable utility window that stays above other windows on
// every desktop and never takes the keyboard focus, not even when its controls are clicked. It is
// moved by its title bar or by dragging its background. Closing it (its Close button or the title
// bar's) hides it and emits closed(); its owner releases it.
class ScreenshotReferencePanel : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMinimumWidth = 280;
    static constexpr int kMinimumHeight = 180;

    // screens may be null (no window-manager dressing, the image fades instead of the window).
    ScreenshotReferencePanel(QImage image, std::function<void()> reopen, Screens* screens, bool shownInTaskbar,
                             QWidget* parent = nullptr);
    ~ScreenshotReferencePanel() override;

    ScreenshotPinState& state() const;
    ScreenshotPinView* view() const { return view_; }
    bool movableByBackground() const { return movable_; }

    // Asks the window manager for the pin's states and shows it without activating it.
    void present();
    // Shows the window in the taskbar or keeps it out of it, now and whenever it is shown again.
    void setShownInTaskbar(bool shown);
    // Locked: fixed in place and size; unlocked: movable and resizable again.
    void applyLock(bool locked);

signals:
    void closed(ScreenshotReferencePanel* panel);

protected:
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    Screens* screens_;
    bool shownInTaskbar_;
    bool fadeWindow_;
    bool movable_ = true;
    ScreenshotPinView* view_;
};

}  // namespace brevalto
