#pragma once

#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QThread>
#include <QThreadPool>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <type_traits>
#include <utility>
#include <variant>

namespace brevalto {

// Thrown by blocking work whose caller asked it to stop (through its std::stop_token); no partial
// result is returned. Callers treat it as silence, never as a failure to show.
class TaskCancelled : public std::exception {
public:
    const char* what() const noexcept override { return "The operation was cancelled."; }
};

// Whether an error only says that work was cancelled: TaskCancelled, or one of the given
// exception types (a feature's own cancellation).
template <typename... Cancellations>
bool isCancellation(const std::exception_ptr& error) {
    if (!error) return false;
    try {
        std::rethrow_exception(error);
    } catch (const TaskCancelled&) {
        return true;
    } catch (const std::exception& e) {
        return (... || (dynamic_cast<const Cancellations*>(&e) != nullptr));
    } catch (...) {
        return false;
    }
}

// The sentence an error carries (its what()), or `fallback` for one that is no std::exception.
QString errorMessage(const std::exception_ptr& error, const QString& fallback);

// Where background work runs. TaskPool runs it on threads; tests drive a manual executor.
class TaskExecutor {
public:
    virtual ~TaskExecutor() = default;
    virtual void start(std::function<void()> work) = 0;
};

// A pool of background threads. `shared()` serves general work; features that must serialise
// their work (the clip store's image encoding) own a pool of one thread.
class TaskPool final : public TaskExecutor {
public:
    explicit TaskPool(int maxThreads, QThread::Priority priority = QThread::InheritPriority);
    ~TaskPool() override;  // waits for work already started
    TaskPool(const TaskPool&) = delete;
    TaskPool& operator=(const TaskPool&) = delete;

    static TaskPool& shared();

    void start(std::function<void()> work) override;
    // Blocks until all started work has finished (tests and shutdown).
    void waitForDone();

private:
    QThreadPool pool_;
};

// Runs work on another executor one job at a time, in the order given: a job starts when the one
// before it has ended. Work cancelled while it waits ends at once, so a run of superseded
// requests (each step of a slider asks for a render) leaves only the newest doing work, and
// never several at once contending for the machine. Jobs still waiting keep the queue alive
// after the executor goes.
class SerialExecutor final : public TaskExecutor {
public:
    explicit SerialExecutor(TaskExecutor& base);
    void start(std::function<void()> work) override;

private:
    struct Queue;
    TaskExecutor& base_;
    std::shared_ptr<Queue> queue_;
};

// The outcome of background work: its value, or the exception it threw.
template <class T>
class TaskResult {
public:
    explicit TaskResult(T value) : state_(std::move(value)) {}
    explicit TaskResult(std::exception_ptr error) : state_(std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    // The value, or the work's exception rethrown.
    T& get() {
        if (auto* e = std::get_if<std::exception_ptr>(&state_)) std::rethrow_exception(*e);
        return std::get<T>(state_);
    }
    std::exception_ptr error() const {
        auto* e = std::get_if<std::exception_ptr>(&state_);
        return e ? *e : nullptr;
    }

private:
    std::variant<T, std::exception_ptr> state_;
};

template <>
class TaskResult<void> {
public:
    TaskResult() = default;
    explicit TaskResult(std::exception_ptr error) : error_(std::move(error)) {}
    bool ok() const { return !error_; }
    void get() const {
        if (error_) std::rethrow_exception(error_);
    }
    std::exception_ptr error() const { return error_; }

private:
    std::exception_ptr error_;
};

// A handle on running work. Cancelling asks the work to stop (through its std::stop_token) and
// drops its result: the completion is not called for cancelled work.
class TaskHandle {
public:
    TaskHandle() = default;
    explicit TaskHandle(std::shared_ptr<std::stop_source> source) : source_(std::move(source)) {}

    void cancel() {
        if (source_) source_->request_stop();
    }
    bool isCancelled() const { return source_ && source_->stop_requested(); }
    bool isValid() const { return source_ != nullptr; }
    // The token the work watches (one that never stops for an empty handle).
    std::stop_token token() const { return source_ ? source_->get_token() : std::stop_token(); }

private:
    std::shared_ptr<std::stop_source> source_;
};

// A request token: each new request takes the next number; a result whose number is no longer
// current belongs to superseded work and is dropped.
class RequestToken {
public:
    std::uint64_t next() { return ++current_; }
    void invalidate() { ++current_; }
    std::uint64_t current() const { return current_; }
    bool isCurrent(std::uint64_t token) const { return token == current_; }

private:
    std::uint64_t current_ = 0;
};

namespace Task {

namespace detail {

// Where finished work is delivered. The receiver's own thread clears it when the receiver is
// destroyed; a worker posts only while holding the lock and seeing it set, so the receiver is
// alive when its queue takes the call, and Qt drops the call if the receiver goes before it runs.
class Delivery {
public:
    explicit Delivery(QObject* receiver) : receiver_(receiver) {}

    // Watches the receiver; call once, on any thread, before the work starts.
    static void watch(const std::shared_ptr<Delivery>& delivery) {
        std::weak_ptr<Delivery> weak = delivery;
        delivery->watch_ = QObject::connect(delivery->receiver_, &QObject::destroyed, [weak] {
            if (const auto self = weak.lock()) {
                std::lock_guard lock(self->mutex_);
                self->receiver_ = nullptr;
            }
        });
    }

    // Queues fn on the receiver's thread unless the receiver is gone; then stops watching.
    template <class Fn>
    void post(Fn fn) {
        {
            std::lock_guard lock(mutex_);
            if (receiver_) QMetaObject::invokeMethod(receiver_, std::move(fn), Qt::QueuedConnection);
        }
        QObject::disconnect(watch_);
    }
    void drop() { QObject::disconnect(watch_); }

private:
    std::mutex mutex_;
    QObject* receiver_;
    QMetaObject::Connection watch_;
};

}  // namespace detail

// Runs fn on the receiver's thread (the GUI thread for widgets and models) soon, unless the
// receiver is destroyed first.
inline void post(QObject* receiver, std::function<void()> fn) {
    QMetaObject::invokeMethod(receiver, std::move(fn), Qt::QueuedConnection);
}

// Runs work(stop_token) on the pool and delivers its TaskResult to done on the receiver's
// thread. done is not called when the receiver is gone or the work was cancelled.
template <class Work, class Done>
TaskHandle run(TaskExecutor& pool, QObject* receiver, Work work, Done done) {
    using R = std::invoke_result_t<Work, std::stop_token>;
    auto source = std::make_shared<std::stop_source>();
    auto delivery = std::make_shared<detail::Delivery>(receiver);
    detail::Delivery::watch(delivery);
    pool.start([source, delivery, work = std::move(work), done = std::move(done)]() mutable {
        if (source->stop_requested()) {
            delivery->drop();
            return;
        }
        std::optional<TaskResult<R>> result;
        try {
            if constexpr (std::is_void_v<R>) {
                work(source->get_token());
                result.emplace();
            } else {
                result.emplace(work(source->get_token()));
            }
        } catch (...) {
            result.emplace(std::current_exception());
        }
        delivery->post([source, done = std::move(done), result = std::make_shared<TaskResult<R>>(std::move(*result))]() mutable {
            if (!source->stop_requested()) done(*result);
        });
    });
    return TaskHandle(std::move(source));
}

template <class Work, class Done>
TaskHandle run(QObject* receiver, Work work, Done done) {
    return run(TaskPool::shared(), receiver, std::move(work), std::move(done));
}

}  // namespace Task

}  // namespace brevalto
