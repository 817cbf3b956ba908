#pragma once

#include "Platform/Clock.h"

namespace brevalto {

// A clock that stands still until a test moves it.
class FakeClock final : public Clock {
public:
    explicit FakeClock(Date start = 800'000'000.0) : now_(start) {}
    Date now() const override { return now_; }
    void set(Date d) { now_ = d; }
    void advance(double seconds) { now_ += seconds; }

private:
    Date now_;
};

}  // namespace brevalto
