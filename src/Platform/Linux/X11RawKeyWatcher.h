#pragma once

#include "Platform/RawKeyWatcher.h"

#include <QObject>

#include <memory>

class QSocketNotifier;

namespace brevalto {

class X11Connection;

// Raw key presses of XInput 2 selected on the root window of a connection of its own. Raw events
// go to every client that selects them and take nothing from the focused window or from a grab.
class X11RawKeyWatcher final : public QObject, public RawKeyWatcher {
    Q_OBJECT
public:
    explicit X11RawKeyWatcher(QObject* parent = nullptr);
    ~X11RawKeyWatcher() override;
    bool start(std::function<void(int key)> pressed) override;
    void stop() override;

private:
    void drain();

    std::unique_ptr<X11Connection> x_;
    QSocketNotifier* notifier_ = nullptr;
    std::uint8_t opcode_ = 0;
    std::function<void(int)> pressed_;
};

}  // namespace brevalto
