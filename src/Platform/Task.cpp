#include "Platform/Task.h"

namespace brevalto {

TaskPool::TaskPool(int maxThreads, QThread::Priority priority) {
    pool_.setMaxThreadCount(maxThreads);
    pool_.setThreadPriority(priority);
}

TaskPool::~TaskPool() { pool_.waitForDone(); }

TaskPool& TaskPool::shared() {
    static TaskPool pool(QThread::idealThreadCount());
    return pool;
}

void TaskPool::start(std::function<void()> work) { pool_.start(std::move(work)); }

void TaskPool::waitForDone() { pool_.waitForDone(); }

QString errorMessage(const std::exception_ptr& error, const QString& fallback) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return fallback;
    }
}

}  // namespace brevalto
