#pragma once

#include "Platform/Sleeper.h"

#include <mutex>
#include <vector>

namespace brevalto {

// A sleeper that returns at once and remembers each delay it was asked for.
class RecordingSleeper final : public Sleeper {
public:
    bool sleep(double seconds, std::stop_token cancel) override {
        std::lock_guard lock(mutex_);
        delays_.push_back(seconds);
        return !cancel.stop_requested();
    }

    std::vector<double> delays() const {
        std::lock_guard lock(mutex_);
        return delays_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<double> delays_;
};

}  // namespace brevalto
