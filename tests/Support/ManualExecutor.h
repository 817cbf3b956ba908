#pragma once

#include "Platform/Task.h"

#include <QCoreApplication>

#include <deque>
#include <functional>

namespace brevalto {

// An executor that holds background work until the test runs it, on the test's own thread, in
// any order it likes. Results then arrive as queued calls: deliver() runs the work and hands the
// results over.
class ManualExecutor final : public TaskExecutor {
public:
    void start(std::function<void()> work) override { queue.push_back(std::move(work)); }

    std::size_t pending() const { return queue.size(); }
    // Runs the job at index (0 = oldest) and removes it.
    void run(std::size_t index = 0) {
        auto work = std::move(queue.at(index));
        queue.erase(queue.begin() + static_cast<std::ptrdiff_t>(index));
        work();
    }
    // Runs every held job, oldest first, then delivers their results.
    void runAll() {
        while (!queue.empty()) run();
        deliver();
    }
    static void deliver() { QCoreApplication::sendPostedEvents(); }
    // Drops held work without running it.
    void drop() { queue.clear(); }

    std::deque<std::function<void()>> queue;
};

}  // namespace brevalto
