#pragma once

#include <QToolButton>

#include <functional>

class QTimer;

namespace brevalto {

// The OCR control of an image card: a click recognises the image's text, a Shift-click also
// translates it. The decision is the live keyboard state at the click; the label ("OCR" with
// "text.viewfinder", or "OCR and translate" with "translate") follows Shift while the button
// shows: through key events while the panel has the keyboard, otherwise by polling the keyboard
// on a short timer (only while the button is visible).
class OCRActionButton : public QToolButton {
    Q_OBJECT
public:
    static constexpr int kPollIntervalMs = 100;

    // `action` receives translate = Shift held at the click; `shift` is the starting state.
    OCRActionButton(std::function<void(bool)> action, bool shift, QWidget* parent = nullptr);
    ~OCRActionButton() override;

    bool shift() const { return shift_; }
    // Follows a new Shift state (other modifiers are ignored).
    void setShift(bool shift);
    bool polling() const;

    // The label for a Shift state.
    static QString title(bool shift);
    static QString symbol(bool shift);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateTracking();
    void refreshLabel();

    std::function<void(bool)> action_;
    bool shift_;
    bool filtering_ = false;
    QTimer* poll_;
};

}  // namespace brevalto
