#include "Platform/Linux/X11RootWatcher.h"

#include "Platform/Linux/X11Connection.h"

#include <QSocketNotifier>

#include <cstdlib>

namespace brevalto {

X11RootWatcher::X11RootWatcher(const QStringList& properties, QObject* parent) : QObject(parent) {
    x_ = X11Connection::open();
    if (!x_) return;
    for (const QString& name : properties) atoms_.emplace_back(x_->atom(name.toStdString()), name);
    // Other clients may select events on the root too; each client's mask is its own.
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(x_->get(), x_->root(), XCB_CW_EVENT_MASK, &mask);
    xcb_flush(x_->get());
    notifier_ = new QSocketNotifier(xcb_get_file_descriptor(x_->get()), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &X11RootWatcher::drain);
}

X11RootWatcher::~X11RootWatcher() = default;

void X11RootWatcher::drain() {
    QStringList seen;
    while (xcb_generic_event_t* event = xcb_poll_for_event(x_->get())) {
        if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
            const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
            for (const auto& [atom, name] : atoms_)
                if (notify->atom == atom && notify->window == x_->root() && !seen.contains(name)) seen.append(name);
        }
        std::free(event);
    }
    if (x_->broken()) {
        // The server went away: nothing more will come.
        notifier_->setEnabled(false);
        return;
    }
    for (const QString& name : seen) emit changed(name);
}

}  // namespace brevalto
