#include "Platform/Sleeper.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace brevalto {

namespace {

class SystemSleeper final : public Sleeper {
public:
    bool sleep(double seconds, std::stop_token cancel) override {
        if (cancel.stop_requested()) return false;
        if (!(seconds > 0)) return true;
        std::mutex mutex;
        std::condition_variable_any wake;
        std::unique_lock lock(mutex);
        const auto duration = std::chrono::duration<double>(seconds);
        wake.wait_for(lock, cancel, duration, [] { return false; });
        return !cancel.stop_requested();
    }
};

}  // namespace

Sleeper& Sleeper::system() {
    static SystemSleeper sleeper;
    return sleeper;
}

}  // namespace brevalto
