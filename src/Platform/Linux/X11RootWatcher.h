#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class QSocketNotifier;

namespace brevalto {

class X11Connection;

// Reports changes of chosen properties of the root window (the window manager's announcements:
// the active window, its own presence) as they happen. It listens on an X connection of its own
// that makes no other requests, so the event loop wakes only when one of those changes arrives.
class X11RootWatcher final : public QObject {
    Q_OBJECT
public:
    // Watches the named root properties; does nothing without an X display.
    explicit X11RootWatcher(const QStringList& properties, QObject* parent = nullptr);
    ~X11RootWatcher() override;

    bool watching() const { return notifier_ != nullptr; }

signals:
    // One of the properties was set, changed or deleted.
    void changed(const QString& property);

private:
    void drain();

    std::unique_ptr<X11Connection> x_;
    std::vector<std::pair<std::uint32_t, QString>> atoms_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace brevalto
