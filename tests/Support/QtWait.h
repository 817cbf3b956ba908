#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>

#include <functional>

namespace brevalto {

// Processes events until the condition holds or the time is up; returns whether it held. The
// default is generous: it only costs time when a test fails, and a loaded machine (CI, the
// sanitizer build) can take seconds to map a window or start a window manager.
inline bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 15000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

}  // namespace brevalto
