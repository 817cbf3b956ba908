#pragma once

#include "Capture/CaptureInteraction.h"
#include "Capture/FrozenCaptureView.h"

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <vector>

class QLabel;

namespace brevalto {

class RawKeyWatcher;
class Screens;

// The countdown panel: a small frameless window near the bottom-right corner of the main screen
// that shows the seconds left and a Cancel button, and never takes the focus.
class CaptureCountdownPanel : public QWidget {
    Q_OBJECT
public:
    explicit CaptureCountdownPanel(QWidget* parent = nullptr);

    void setSeconds(int seconds);
    QString text() const;
    // The panel's frame (Qt coordinates) on a desktop: 250 x 80, 280 from the right and 30 above
    // the bottom of the main screen's visible frame; at (520, 30) without a screen.
    static QRect frameOn(const Screens& screens);

signals:
    void cancelRequested();

private:
    QLabel* label_;
};

// The real capture interaction: modal chooser dialogs with a list, the countdown panel and one
// frameless, always-on-top window per display for a frozen-frame selection, which grab keyboard
// and pointer while they are up.
class CaptureOverlays : public QObject, public CaptureInteraction {
    Q_OBJECT
public:
    explicit CaptureOverlays(Screens& screens, QObject* parent = nullptr);
    ~CaptureOverlays() override;

    void choose(const Choice& choice, std::function<void(std::optional<int>)> answer) override;
    void closeChooser() override;
    void showCountdown(int seconds, std::function<void()> cancel) override;
    void showSelection(const Selection& selection,
                       std::function<void(CaptureCoordinator::Selection)> completed) override;
    void closeOverlays() override;
    int overlayCount() const override;

    // The open chooser and the selection windows that are up.
    QDialog* chooser() const { return chooser_; }
    std::vector<FrozenCaptureView*> selectionViews() const;
    CaptureCountdownPanel* countdownPanel() const { return countdown_; }
    // The window that holds the keyboard and pointer grabs while a selection is up.
    FrozenCaptureView* keyView() const { return keyView_; }
    // Whether the display server has given that window the keyboard and pointer grabs.
    bool inputGrabbed() const { return grabbed_; }
    // Escape pressed anywhere, wherever the keyboard goes, cancels a selection while it is up:
    // also before its window has the keyboard, and while another client holds it.
    void watchEscapeWith(RawKeyWatcher* keys) { keys_ = keys; }

private:
    void grabInput();
    void releaseInput();

    Screens& screens_;
    QPointer<QDialog> chooser_;
    std::function<void(std::optional<int>)> answer_;
    QPointer<CaptureCountdownPanel> countdown_;
    std::function<void()> cancelCountdown_;
    std::vector<QPointer<FrozenCaptureView>> views_;
    QPointer<FrozenCaptureView> keyView_;
    QTimer grabRetry_;
    int grabAttempts_ = 0;
    bool grabbed_ = false;
    bool shown_ = false;
    RawKeyWatcher* keys_ = nullptr;
    bool watching_ = false;
};

// The countdown's one-second waits on a Qt timer.
class QtCaptureTimer : public CaptureTimer {
public:
    QtCaptureTimer();
    void start(double seconds, std::function<void()> fire) override;
    void stop() override;

private:
    QTimer timer_;
    std::function<void()> fire_;
};

}  // namespace brevalto
