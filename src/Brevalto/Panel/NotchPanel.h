#pragma once

#include "Panel/NotchOutline.h"

#include <QWidget>

namespace brevalto {

// The borderless overlay window of the notch: a frameless tool window that stays above other
// windows and shows without taking the keyboard (it may take it when asked). Without a
// compositor its shape is cut to the notch outline by a mask; with one, the outside is
// transparent. Also used for the floating screenshot thumbnail.
class NotchPanel : public QWidget {
    Q_OBJECT
public:
    // translucent: the window has an alpha channel (only with a compositor; fixed at creation).
    explicit NotchPanel(bool translucent, QWidget* parent = nullptr);

    bool translucent() const { return translucent_; }

    // The outline the window's shape follows, and whether a mask cuts it.
    void setOutline(NotchOutline outline, bool masked);
    const NotchOutline& outline() const { return outline_; }
    bool masked() const { return masked_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    // Gives the panel's menus and popups its dark palette as they are made.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void applyMask();

    bool translucent_;
    NotchOutline outline_;
    bool masked_ = false;
};

}  // namespace brevalto
