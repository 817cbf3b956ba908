#pragma once

#include "Platform/Screens.h"

#include <QByteArray>
#include <QList>
#include <QMetaObject>

#include <cstdint>
#include <optional>
#include <string_view>

class QScreen;

namespace brevalto {

// Screens from QScreen (RandR on X11): geometry, available geometry (the work area) and device
// pixel ratio; no camera housing. Sleep and wake come from logind's PrepareForSleep signal on the
// system bus when there is one. Reduced motion is the XSETTINGS value "Gtk/EnableAnimations"
// when a settings manager publishes it, else off; the compositor is the owner of _NET_WM_CM_Sn.
// A window manager's arrival or departure is seen in the root's _NET_SUPPORTING_WM_CHECK.
class QtScreens : public Screens {
    Q_OBJECT
public:
    explicit QtScreens(QObject* parent = nullptr);
    ~QtScreens() override;

    std::vector<ScreenInfo> screens() const override;
    std::optional<ScreenInfo> mainScreen() const override;
    QPointF mouseLocation() const override;
    ScreenGeometry geometry() const override;
    bool reduceMotion() const override;
    bool hasCompositor() const override;
    void prepareOverlayWindow(QWindow* window) override;
    void setShownInTaskbar(QWindow* window, bool shown) override;
    void setWindowFixed(QWindow* window, bool fixed) override;
    bool isViewable(QWindow* window) const override;
    void mapAgain(QWindow* window) override;

    static ScreenInfo describe(const QScreen* screen, const ScreenGeometry& geometry);
    // One integer setting from an XSETTINGS blob (as the settings manager publishes it); none
    // when it is absent or the blob is malformed.
    static std::optional<std::int32_t> xsettingsInteger(const QByteArray& blob, std::string_view name);

private slots:
    void prepareForSleep(bool sleeping);

private:
    void watch(QScreen* screen);

    QList<QMetaObject::Connection> connections_;
};

}  // namespace brevalto
