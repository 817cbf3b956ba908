#pragma once

#include <stop_token>

namespace brevalto {

// Waits between retries. Tests pass a sleeper that records the delays instead of waiting.
class Sleeper {
public:
    virtual ~Sleeper() = default;
    // Waits `seconds` (nothing for 0 or less); returns false when `cancel` stopped the wait early
    // or was already triggered.
    virtual bool sleep(double seconds, std::stop_token cancel) = 0;

    static Sleeper& system();
};

}  // namespace brevalto
