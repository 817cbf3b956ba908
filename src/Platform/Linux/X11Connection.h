#pragma once

#include <xcb/xcb.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace brevalto {

// An xcb reply, freed with the connection's allocator.
struct XcbFree {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using XcbReply = std::unique_ptr<T, XcbFree>;

// Sends a 32-bit client message about window to the root window, the way EWMH asks window
// managers for a change (active window, window state, desktop).
void sendRootClientMessage(xcb_connection_t* c, xcb_window_t root, xcb_window_t window, xcb_atom_t type,
                           std::array<std::uint32_t, 5> data);

// One connection of our own to the X server, with the few requests the platform code repeats:
// atoms by name (cached), window properties, and waiting for an event with a deadline.
// Not thread-safe: a connection belongs to the one thread that uses it.
class X11Connection {
public:
    // Connects to $DISPLAY; none when there is no X server to talk to.
    static std::unique_ptr<X11Connection> open();
    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    xcb_connection_t* get() const { return connection_; }
    xcb_window_t root() const { return root_; }
    bool broken() const { return xcb_connection_has_error(connection_) != 0; }

    xcb_atom_t atom(std::string_view name);
    // Names of many atoms at once (one round trip for all that are not cached yet). An atom the
    // server does not know gives an empty name.
    std::vector<std::string> atomNames(const std::vector<xcb_atom_t>& atoms);

    struct Property {
        xcb_atom_t type = XCB_ATOM_NONE;
        std::uint8_t format = 0;
        std::string bytes;
        std::uint32_t bytesAfter = 0;  // what did not fit in maxBytes
    };
    // A property of a window, at most maxBytes of it; none when the window has no such property
    // or is gone. With remove, the server deletes the property once it was read whole.
    std::optional<Property> property(xcb_window_t window, xcb_atom_t name, std::uint32_t maxBytes = 65536,
                                     bool remove = false);
    // The same in two halves, so that several requests share one round trip: every request must
    // be taken once, with the maxBytes it was asked with.
    xcb_get_property_cookie_t requestProperty(xcb_window_t window, xcb_atom_t name, std::uint32_t maxBytes = 65536,
                                              bool remove = false);
    std::optional<Property> takeProperty(xcb_get_property_cookie_t cookie, std::uint32_t maxBytes = 65536);
    std::optional<std::uint32_t> cardinal(xcb_window_t window, xcb_atom_t name);
    // The first value of a 32-bit property of at least one value.
    static std::optional<std::uint32_t> cardinalOf(const std::optional<Property>& property);
    std::optional<xcb_window_t> windowProperty(xcb_window_t window, xcb_atom_t name);

    // Waits for the first event that match accepts, dropping the others, until the deadline or
    // until stop returns true (asked about every few milliseconds). The caller frees the event.
    using Clock = std::chrono::steady_clock;
    xcb_generic_event_t* waitForEvent(const std::function<bool(const xcb_generic_event_t*)>& match,
                                      Clock::time_point deadline, const std::function<bool()>& stop);

private:
    X11Connection(xcb_connection_t* connection, xcb_window_t root);

    xcb_connection_t* connection_;
    xcb_window_t root_;
    std::unordered_map<std::string, xcb_atom_t> atoms_;
    std::unordered_map<xcb_atom_t, std::string> names_;
};

}  // namespace brevalto
