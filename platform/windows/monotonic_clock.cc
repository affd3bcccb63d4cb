#include "platform/monotonic_clock.h"

#include <windows.h>

namespace platform {

std::int64_t MonotonicNanoseconds() {
  // The counter's frequency is fixed at boot.
  static const std::int64_t frequency = [] {
    LARGE_INTEGER value{};
    QueryPerformanceFrequency(&value);
    return value.QuadPart;
  }();
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  // Whole seconds and the remainder apart: counts times 10^9 would overflow after a few days
  // of uptime at a 10 MHz counter.
  std::int64_t seconds = now.QuadPart / frequency;
  std::int64_t rest = now.QuadPart % frequency;
  return seconds * 1'000'000'000 + rest * 1'000'000'000 / frequency;
}

}  // namespace platform
