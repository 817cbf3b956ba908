#include "Platform/Task.h"

#include <deque>

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

struct SerialExecutor::Queue {
    std::mutex mutex;
    std::deque<std::function<void()>> jobs;
    bool draining = false;
};

SerialExecutor::SerialExecutor(TaskExecutor& base) : base_(base), queue_(std::make_shared<Queue>()) {}

void SerialExecutor::start(std::function<void()> work) {
    {
        const std::lock_guard lock(queue_->mutex);
        queue_->jobs.push_back(std::move(work));
        if (queue_->draining) return;
        queue_->draining = true;
    }
    // One job on the base executor runs the queue until it is empty.
    base_.start([queue = queue_] {
        for (;;) {
            std::function<void()> job;
            {
                const std::lock_guard lock(queue->mutex);
                if (queue->jobs.empty()) {
                    queue->draining = false;
                    return;
                }
                job = std::move(queue->jobs.front());
                queue->jobs.pop_front();
            }
            job();
        }
    });
}

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
