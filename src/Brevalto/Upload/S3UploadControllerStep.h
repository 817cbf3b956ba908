#pragma once

// The upload controller's own machinery, shared by its source files: how a running upload reports
// its progress, and the step that runs one piece of an operation off the GUI thread.

#include "Upload/S3UploadController.h"

#include <atomic>
#include <type_traits>

namespace brevalto {

// Upload progress as the transfer thread reports it; the GUI reads it once per frame.
struct S3UploadController::ProgressReport {
    std::atomic<double> fraction{0};
    std::atomic<bool> fresh{false};
};

template <class Work, class Done>
void S3UploadController::step(const Operation& operation, Work work, Done done) {
    using R = std::invoke_result_t<Work, std::stop_token>;
    // The operation's own token stops the work; the pool's is never cancelled.
    const std::uint64_t number = operation.number;
    TaskHandle handle = operation.handle;
    Task::run(
        pool_, this,
        [work = std::move(work), handle](std::stop_token) mutable -> R {
            if (handle.isCancelled()) throw TaskCancelled();
            return work(handle.token());
        },
        [this, number, done = std::move(done)](TaskResult<R>& result) mutable {
            if (!isRunning(number)) return;
            bool continued = false;
            try {
                continued = done(result);
            } catch (...) {
                fail(std::current_exception());
            }
            if (!continued) finish(number);
        });
}

}  // namespace brevalto
