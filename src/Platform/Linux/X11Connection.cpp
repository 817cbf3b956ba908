#include "Platform/Linux/X11Connection.h"

#include <poll.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace brevalto {

std::unique_ptr<X11Connection> X11Connection::open() {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (!connection || xcb_connection_has_error(connection)) {
        if (connection) xcb_disconnect(connection);
        return nullptr;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && it.rem > 0; ++i) xcb_screen_next(&it);
    if (it.rem == 0) {
        xcb_disconnect(connection);
        return nullptr;
    }
    return std::unique_ptr<X11Connection>(new X11Connection(connection, it.data->root));
}

X11Connection::X11Connection(xcb_connection_t* connection, xcb_window_t root)
    : connection_(connection), root_(root) {}

X11Connection::~X11Connection() { xcb_disconnect(connection_); }

xcb_atom_t X11Connection::atom(std::string_view name) {
    std::string key(name);
    if (auto found = atoms_.find(key); found != atoms_.end()) return found->second;
    auto cookie = xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(key.size()), key.data());
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection_, cookie, nullptr);
    if (!reply) return XCB_ATOM_NONE;
    xcb_atom_t atom = reply->atom;
    std::free(reply);
    atoms_.emplace(key, atom);
    names_.emplace(atom, std::move(key));
    return atom;
}

std::vector<std::string> X11Connection::atomNames(const std::vector<xcb_atom_t>& atoms) {
    std::vector<xcb_get_atom_name_cookie_t> cookies(atoms.size());
    std::vector<bool> asked(atoms.size(), false);
    for (std::size_t i = 0; i < atoms.size(); ++i) {
        if (atoms[i] == XCB_ATOM_NONE || names_.count(atoms[i])) continue;
        cookies[i] = xcb_get_atom_name(connection_, atoms[i]);
        asked[i] = true;
    }
    std::vector<std::string> result(atoms.size());
    for (std::size_t i = 0; i < atoms.size(); ++i) {
        if (asked[i]) {
            xcb_get_atom_name_reply_t* reply = xcb_get_atom_name_reply(connection_, cookies[i], nullptr);
            if (!reply) continue;
            std::string name(xcb_get_atom_name_name(reply),
                             static_cast<std::size_t>(xcb_get_atom_name_name_length(reply)));
            std::free(reply);
            names_.emplace(atoms[i], name);
            atoms_.emplace(name, atoms[i]);
        }
        if (auto found = names_.find(atoms[i]); found != names_.end()) result[i] = found->second;
    }
    return result;
}

std::optional<X11Connection::Property> X11Connection::property(xcb_window_t window, xcb_atom_t name,
                                                                std::uint32_t maxBytes, bool remove) {
    return takeProperty(requestProperty(window, name, maxBytes, remove), maxBytes);
}

xcb_get_property_cookie_t X11Connection::requestProperty(xcb_window_t window, xcb_atom_t name, std::uint32_t maxBytes,
                                                         bool remove) {
    const std::uint32_t units = maxBytes / 4 + 1;
    return xcb_get_property(connection_, remove ? 1 : 0, window, name, XCB_ATOM_ANY, 0, units);
}

std::optional<X11Connection::Property> X11Connection::takeProperty(xcb_get_property_cookie_t cookie,
                                                                    std::uint32_t maxBytes) {
    xcb_get_property_reply_t* reply = xcb_get_property_reply(connection_, cookie, nullptr);
    if (!reply) return std::nullopt;
    if (reply->type == XCB_ATOM_NONE) {
        std::free(reply);
        return std::nullopt;
    }
    Property property;
    property.type = reply->type;
    property.format = reply->format;
    const int length = xcb_get_property_value_length(reply);
    const auto* value = static_cast<const char*>(xcb_get_property_value(reply));
    property.bytes.assign(value, static_cast<std::size_t>(std::max(length, 0)));
    property.bytesAfter = reply->bytes_after;
    std::free(reply);
    if (property.bytes.size() > maxBytes) {
        property.bytesAfter += static_cast<std::uint32_t>(property.bytes.size() - maxBytes);
        property.bytes.resize(maxBytes);
    }
    return property;
}

std::optional<std::uint32_t> X11Connection::cardinal(xcb_window_t window, xcb_atom_t name) {
    return cardinalOf(property(window, name, 4));
}

std::optional<std::uint32_t> X11Connection::cardinalOf(const std::optional<Property>& value) {
    if (!value || value->format != 32 || value->bytes.size() < 4) return std::nullopt;
    std::uint32_t number = 0;
    std::memcpy(&number, value->bytes.data(), 4);
    return number;
}

std::optional<xcb_window_t> X11Connection::windowProperty(xcb_window_t window, xcb_atom_t name) {
    auto value = cardinal(window, name);
    if (!value || *value == XCB_WINDOW_NONE) return std::nullopt;
    return static_cast<xcb_window_t>(*value);
}

xcb_generic_event_t* X11Connection::waitForEvent(const std::function<bool(const xcb_generic_event_t*)>& match,
                                                 Clock::time_point deadline, const std::function<bool()>& stop) {
    constexpr auto slice = std::chrono::milliseconds(20);
    for (;;) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            if (match(event)) return event;
            std::free(event);
        }
        if (broken() || (stop && stop())) return nullptr;
        const auto now = Clock::now();
        if (now >= deadline) return nullptr;
        const auto wait = std::min<Clock::duration>(deadline - now, slice);
        pollfd descriptor{xcb_get_file_descriptor(connection_), POLLIN, 0};
        const int ms = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count());
        ::poll(&descriptor, 1, std::max(ms, 1));
    }
}

void sendRootClientMessage(xcb_connection_t* c, xcb_window_t root, xcb_window_t window, xcb_atom_t type,
                           std::array<std::uint32_t, 5> data) {
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = type;
    for (std::size_t i = 0; i < data.size(); ++i) event.data.data32[i] = data[i];
    xcb_send_event(c, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&event));
}

}  // namespace brevalto
