// A clock that only moves forward, for durations and timeouts.
#ifndef PLATFORM_MONOTONIC_CLOCK_H_
#define PLATFORM_MONOTONIC_CLOCK_H_

#include <cstdint>

namespace platform {

// Nanoseconds since an arbitrary fixed point (the machine's boot, on Linux and
// Windows). Unaffected by changes
// of the wall-clock time. Any thread may call it.
std::int64_t MonotonicNanoseconds();

}  // namespace platform

#endif  // PLATFORM_MONOTONIC_CLOCK_H_
