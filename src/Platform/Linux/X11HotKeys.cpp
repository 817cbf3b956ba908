#include "Platform/Linux/X11HotKeys.h"

#include <QGuiApplication>
#include <QTimer>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <linux/input-event-codes.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace brevalto {

namespace {

// Stored key code -> the kernel's number of the key at that place on a US keyboard.
struct KeyPlace {
    std::int64_t keyCode;
    int linuxKey;
};
constexpr KeyPlace kKeyPlaces[] = {
    {49, KEY_SPACE},
    {0, KEY_A},  {11, KEY_B}, {8, KEY_C},  {2, KEY_D},  {14, KEY_E}, {3, KEY_F},  {5, KEY_G},  {4, KEY_H},
    {34, KEY_I}, {38, KEY_J}, {40, KEY_K}, {37, KEY_L}, {46, KEY_M}, {45, KEY_N}, {31, KEY_O}, {35, KEY_P},
    {12, KEY_Q}, {15, KEY_R}, {1, KEY_S},  {17, KEY_T}, {32, KEY_U}, {9, KEY_V},  {13, KEY_W}, {7, KEY_X},
    {16, KEY_Y}, {6, KEY_Z},
    {29, KEY_0}, {18, KEY_1}, {19, KEY_2}, {20, KEY_3}, {21, KEY_4}, {23, KEY_5}, {22, KEY_6}, {26, KEY_7},
    {28, KEY_8}, {25, KEY_9},
};
// The evdev driver gives X key codes 8 above the kernel's key numbers.
constexpr int kEvdevOffset = 8;

constexpr std::uint32_t kCommand = 0x100, kShift = 0x200, kOption = 0x800, kControl = 0x1000;

constexpr xcb_keysym_t kSuperL = 0xffeb, kSuperR = 0xffec, kAltL = 0xffe9, kAltR = 0xffea, kMetaL = 0xffe7,
                       kNumLock = 0xff7f;

template <class T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

xcb_connection_t* xcb(void* connection) { return static_cast<xcb_connection_t*>(connection); }

}  // namespace

std::optional<std::uint8_t> X11HotKeys::x11KeyCode(std::int64_t keyCode) {
    for (const auto& place : kKeyPlaces)
        if (place.keyCode == keyCode) return static_cast<std::uint8_t>(place.linuxKey + kEvdevOffset);
    return std::nullopt;
}

X11HotKeys::X11HotKeys() = default;

X11HotKeys::~X11HotKeys() {
    if (connection_ && !xcb_connection_has_error(xcb(connection_))) {
        for (const auto& grab : grabs_) ungrab(grab);
        xcb_flush(xcb(connection_));
    }
    removeHandler();
}

bool X11HotKeys::connect() {
    if (connection_) return !xcb_connection_has_error(xcb(connection_));
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c || xcb_connection_has_error(c)) return false;
    int screen = 0;
    char* host = nullptr;
    int display = 0;
    if (xcb_parse_display(nullptr, &host, &display, &screen) == 0) screen = 0;
    std::free(host);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screen && it.rem > 1; ++i) xcb_screen_next(&it);
    if (it.rem == 0) return false;
    connection_ = c;
    root_ = it.data->root;

    // Keyboard-mapping changes also arrive as XKB events, whose type number the server assigns.
    static constexpr char kXkb[] = "XKEYBOARD";
    Reply<xcb_query_extension_reply_t> xkb(
        xcb_query_extension_reply(c, xcb_query_extension(c, sizeof kXkb - 1, kXkb), nullptr), &std::free);
    if (xkb && xkb->present) xkbFirstEvent_ = xkb->first_event;
    return true;
}

void X11HotKeys::refreshMasks() {
    xcb_connection_t* c = xcb(connection_);
    // The usual places, for a keyboard whose mapping does not name the keys.
    masks_ = {XCB_MOD_MASK_4, XCB_MOD_MASK_1, XCB_MOD_MASK_2};
    masksKnown_ = true;
    Reply<xcb_get_modifier_mapping_reply_t> mapping(
        xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr), &std::free);
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(c);
    if (!mapping || !symbols) {
        if (symbols) xcb_key_symbols_free(symbols);
        return;
    }
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(mapping.get());
    const int perModifier = mapping->keycodes_per_modifier;
    // The modifier (Mod1 to Mod5) that holds one of the keys with these symbols, or 0.
    auto maskOf = [&](std::initializer_list<xcb_keysym_t> keysyms) -> std::uint16_t {
        for (int modifier = 3; modifier < 8; ++modifier) {
            for (int i = 0; i < perModifier; ++i) {
                const xcb_keycode_t code = codes[modifier * perModifier + i];
                if (code == 0) continue;
                for (int column = 0; column < 4; ++column) {
                    const xcb_keysym_t sym = xcb_key_symbols_get_keysym(symbols, code, column);
                    if (std::find(keysyms.begin(), keysyms.end(), sym) != keysyms.end())
                        return static_cast<std::uint16_t>(1u << modifier);
                }
            }
        }
        return 0;
    };
    if (const auto super = maskOf({kSuperL, kSuperR})) masks_.super = super;
    if (const auto alt = maskOf({kAltL, kAltR, kMetaL})) masks_.alt = alt;
    if (const auto numLock = maskOf({kNumLock})) masks_.numLock = numLock;
    xcb_key_symbols_free(symbols);
}

int X11HotKeys::installHandler(Handler handler) {
    if (!connect()) return noDisplay;
    handler_ = std::move(handler);
    if (!installed_) {
        qGuiApp->installNativeEventFilter(this);
        installed_ = true;
    }
    return noError;
}

void X11HotKeys::removeHandler() {
    if (installed_ && qGuiApp) qGuiApp->removeNativeEventFilter(this);
    installed_ = false;
    handler_ = {};
}

int X11HotKeys::registerHotKey(std::int64_t keyCode, std::uint32_t modifiers, HotKeyID id) {
    if (!connect()) return noDisplay;
    if (!masksKnown_) refreshMasks();
    unregisterHotKey(id);
    const auto code = x11KeyCode(keyCode);
    if (!code || (modifiers & ~(kCommand | kShift | kOption | kControl)) != 0 || modifiers == 0) return badValue;

    Grab grab;
    grab.id = id;
    grab.keyCode = *code;
    if (modifiers & kCommand) grab.modifiers |= masks_.super;
    if (modifiers & kShift) grab.modifiers |= XCB_MOD_MASK_SHIFT;
    if (modifiers & kOption) grab.modifiers |= masks_.alt;
    if (modifiers & kControl) grab.modifiers |= XCB_MOD_MASK_CONTROL;
    for (const std::uint16_t lock : {std::uint16_t(0), std::uint16_t(XCB_MOD_MASK_LOCK), masks_.numLock,
                                     std::uint16_t(XCB_MOD_MASK_LOCK | masks_.numLock)}) {
        const auto mask = static_cast<std::uint16_t>(grab.modifiers | lock);
        if (std::find(grab.grabbed.begin(), grab.grabbed.end(), mask) == grab.grabbed.end())
            grab.grabbed.push_back(mask);
    }

    // Events are reported to the root window even over our own windows (owner_events 0).
    xcb_connection_t* c = xcb(connection_);
    std::vector<xcb_void_cookie_t> cookies;
    for (const auto mask : grab.grabbed)
        cookies.push_back(
            xcb_grab_key_checked(c, 0, root_, mask, grab.keyCode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    int status = noError;
    for (const auto cookie : cookies) {
        if (xcb_generic_error_t* error = xcb_request_check(c, cookie)) {
            if (status == noError) status = error->error_code;
            std::free(error);
        }
    }
    if (status != noError) {
        // Ungrabbing releases only our own grabs, so the combinations that succeeded go.
        ungrab(grab);
        xcb_flush(c);
        return status;
    }
    grabs_.push_back(std::move(grab));
    return noError;
}

void X11HotKeys::ungrab(const Grab& grab) {
    for (const auto mask : grab.grabbed) xcb_ungrab_key(xcb(connection_), grab.keyCode, root_, mask);
}

void X11HotKeys::unregisterHotKey(HotKeyID id) {
    const auto found = std::find_if(grabs_.begin(), grabs_.end(), [&](const Grab& g) { return g.id == id; });
    if (found == grabs_.end()) return;
    if (connection_ && !xcb_connection_has_error(xcb(connection_))) {
        ungrab(*found);
        xcb_flush(xcb(connection_));
    }
    grabs_.erase(found);
}

void X11HotKeys::mappingChanged() {
    if (mappingQueued_) return;
    // A change arrives as a burst of events; answer it once, outside Qt's event handling.
    mappingQueued_ = true;
    QTimer::singleShot(0, &context_, [this] {
        mappingQueued_ = false;
        refreshMasks();
        if (handler_.mappingChanged) handler_.mappingChanged();
    });
}

bool X11HotKeys::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || !message) return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const int type = event->response_type & 0x7f;
    if (type == XCB_MAPPING_NOTIFY) {
        const auto* notify = static_cast<const xcb_mapping_notify_event_t*>(message);
        if (notify->request != XCB_MAPPING_POINTER) mappingChanged();
        return false;  // Qt updates its own keymap from it too
    }
    if (xkbFirstEvent_ >= 0 && type == xkbFirstEvent_) {
        // The XKB event's kind is its second byte: 0 new keyboard, 1 map change.
        if (event->pad0 == 0 || event->pad0 == 1) mappingChanged();
        return false;
    }
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE) return false;
    const auto* key = static_cast<const xcb_key_press_event_t*>(message);
    const std::uint16_t relevant =
        static_cast<std::uint16_t>(XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | masks_.super | masks_.alt);
    if (type == XCB_KEY_RELEASE) {
        // A window of ours that took the keyboard while the key was down (a capture overlay the
        // key opened) receives its release: the key is up all the same, and the window gets the
        // event too.
        bool ours = false;
        for (auto& grab : grabs_) {
            if (grab.keyCode != key->detail) continue;
            grab.down = false;
            grab.releasedAt = key->time;
            ours = true;
        }
        return ours && key->event == root_;
    }
    if (key->event != root_) return false;
    for (auto& grab : grabs_) {
        if (grab.keyCode != key->detail || (key->state & relevant) != grab.modifiers) continue;
        // A held key repeats: as presses alone, or as release and press with one time stamp.
        const bool repeat = grab.down || (grab.releasedAt != 0 && grab.releasedAt == key->time);
        grab.down = true;
        if (!repeat && handler_.pressed) {
            const HotKeyID id = grab.id;
            handler_.pressed(id);
        }
        return true;
    }
    return false;
}

}  // namespace brevalto
