#pragma once

#include "ClipCore/ReferenceDate.h"

namespace brevalto {

// The current date, in seconds since 2001-01-01 UTC. Code that decides by age (retention,
// stale folders, token expiry) takes a Clock so tests can move time.
class Clock {
public:
    virtual ~Clock() = default;
    virtual Date now() const = 0;

    static Clock& system();
};

class SystemClock final : public Clock {
public:
    Date now() const override { return referenceDateNow(); }
};

}  // namespace brevalto
