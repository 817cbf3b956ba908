#pragma once

#include <chrono>

namespace brevalto {

// Dates are stored as seconds since 2001-01-01 00:00:00 UTC, as a double.
using Date = double;

inline constexpr double kUnixSecondsAtReferenceDate = 978307200.0;

inline Date referenceDate(std::chrono::system_clock::time_point t) {
    using namespace std::chrono;
    return duration<double>(t.time_since_epoch()).count() - kUnixSecondsAtReferenceDate;
}

inline Date referenceDateNow() { return referenceDate(std::chrono::system_clock::now()); }

inline double unixSeconds(Date d) { return d + kUnixSecondsAtReferenceDate; }

}  // namespace brevalto
