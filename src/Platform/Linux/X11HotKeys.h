#pragma once

#include "Platform/HotKeys.h"

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <cstdint>
#include <optional>
#include <vector>

namespace brevalto {

// Hot keys as passive key grabs on the root window of the application's own X connection. Each
// binding is grabbed once per combination of Caps Lock and Num Lock, so that neither lock blocks
// it; presses reach the handler through Qt's native event filter, and a keyboard-mapping change
// refreshes the modifier masks and asks the handler to register again. Without an X11 display
// (another Qt platform) nothing can be installed or registered: both answer noDisplay.
class X11HotKeys final : public HotKeys, private QAbstractNativeEventFilter {
public:
    static constexpr int noDisplay = -1;
    static constexpr int badValue = 2;  // X's BadValue: a key or modifier that has no X form

    X11HotKeys();
    ~X11HotKeys() override;
    X11HotKeys(const X11HotKeys&) = delete;
    X11HotKeys& operator=(const X11HotKeys&) = delete;

    int installHandler(Handler handler) override;
    void removeHandler() override;
    int registerHotKey(std::int64_t keyCode, std::uint32_t modifiers, HotKeyID id) override;
    void unregisterHotKey(HotKeyID id) override;

    // The X key code of a stored key code: the key at that place on a US keyboard, numbered as
    // the evdev driver numbers it; none for a key outside the table.
    static std::optional<std::uint8_t> x11KeyCode(std::int64_t keyCode);

private:
    struct Grab {
        HotKeyID id;
        std::uint8_t keyCode = 0;
        std::uint16_t modifiers = 0;          // X modifier mask without the locks
        std::vector<std::uint16_t> grabbed;  // every mask grabbed, locks included
        bool down = false;
        std::uint32_t releasedAt = 0;
    };
    struct Masks {
        std::uint16_t super = 0, alt = 0, numLock = 0;
    };

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
    bool connect();
    void refreshMasks();
    void ungrab(const Grab& grab);
    void mappingChanged();

    void* connection_ = nullptr;  // Qt's xcb_connection_t
    std::uint32_t root_ = 0;
    int xkbFirstEvent_ = -1;
    Masks masks_;
    bool masksKnown_ = false;
    Handler handler_;
    bool installed_ = false;
    bool mappingQueued_ = false;
    std::vector<Grab> grabs_;
    QObject context_;  // owns queued calls, so none outlives this object
};

}  // namespace brevalto
