#include "Platform/Linux/X11RawKeyWatcher.h"

#include "Platform/Linux/X11Connection.h"

#include <QSocketNotifier>

#include <xcb/xcb_keysyms.h>
#include <xcb/xinput.h>

#include <cstdlib>

namespace brevalto {

namespace {

constexpr xcb_keysym_t escapeSym = 0xff1b;

// Selects (or with an empty mask, deselects) raw key presses of every master device on the root.
bool selectRawKeys(X11Connection& x, bool on) {
    struct {
        xcb_input_event_mask_t head;
        std::uint32_t bits;
    } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1}, on ? std::uint32_t(XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS) : 0u};
    const auto cookie = xcb_input_xi_select_events_checked(x.get(), x.root(), 1, &mask.head);
    xcb_generic_error_t* error = xcb_request_check(x.get(), cookie);
    const bool ok = error == nullptr;
    std::free(error);
    return ok;
}

}  // namespace

X11RawKeyWatcher::X11RawKeyWatcher(QObject* parent) : QObject(parent) {}

X11RawKeyWatcher::~X11RawKeyWatcher() { stop(); }

bool X11RawKeyWatcher::start(std::function<void(int key)> pressed) {
    stop();
    if (!x_ || x_->broken()) {
        x_ = X11Connection::open();
        if (!x_) return false;
        const xcb_query_extension_reply_t* ext = xcb_get_extension_data(x_->get(), &xcb_input_id);
        if (!ext || !ext->present) return x_.reset(), false;
        opcode_ = ext->major_opcode;
        // Version 2.1 and later deliver raw events to the root whatever grab is active.
        XcbReply<xcb_input_xi_query_version_reply_t> version(xcb_input_xi_query_version_reply(
            x_->get(), xcb_input_xi_query_version(x_->get(), 2, 2), nullptr));
        if (!version || version->major_version < 2) return x_.reset(), false;
    }
    if (!selectRawKeys(*x_, true)) return false;
    pressed_ = std::move(pressed);
    notifier_ = new QSocketNotifier(xcb_get_file_descriptor(x_->get()), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &X11RawKeyWatcher::drain);
    return true;
}

void X11RawKeyWatcher::stop() {
    pressed_ = nullptr;
    delete notifier_;
    notifier_ = nullptr;
    if (x_ && !x_->broken()) selectRawKeys(*x_, false);
}

void X11RawKeyWatcher::drain() {
    std::vector<int> keys;
    xcb_key_symbols_t* symbols = nullptr;
    while (xcb_generic_event_t* event = xcb_poll_for_event(x_->get())) {
        const auto* ge = reinterpret_cast<const xcb_ge_generic_event_t*>(event);
        if ((event->response_type & 0x7f) == XCB_GE_GENERIC && ge->extension == opcode_ &&
            ge->event_type == XCB_INPUT_RAW_KEY_PRESS) {
            if (!symbols) symbols = xcb_key_symbols_alloc(x_->get());
            const auto* raw = reinterpret_cast<const xcb_input_raw_key_press_event_t*>(event);
            const xcb_keysym_t sym =
                symbols ? xcb_key_symbols_get_keysym(symbols, static_cast<xcb_keycode_t>(raw->detail), 0) : 0;
            keys.push_back(sym == escapeSym ? Qt::Key_Escape : Qt::Key_unknown);
        }
        std::free(event);
    }
    if (symbols) xcb_key_symbols_free(symbols);
    if (x_->broken() && notifier_) notifier_->setEnabled(false);
    for (int key : keys) {
        if (!pressed_) break;
        const auto pressed = pressed_;  // the callback may stop the watch
        pressed(key);
    }
}

}  // namespace brevalto
