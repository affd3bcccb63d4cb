// The seed a random device falls back to when the system's source cannot be read.
#ifndef PLATFORM_INTERNAL_FALLBACK_SEED_H_
#define PLATFORM_INTERNAL_FALLBACK_SEED_H_

#include <cstdint>

#include "platform/monotonic_clock.h"
#include "platform/thread_id.h"

namespace platform::internal {

// A 64-bit mix (splitmix64 finaliser) of the clock and the thread id, cut to 32 bits.
inline std::uint32_t FallbackSeed() {
  std::uint64_t mix =
      static_cast<std::uint64_t>(MonotonicNanoseconds()) ^ (CurrentThreadId() << 32);
  mix = (mix ^ (mix >> 30)) * 0xBF58476D1CE4E5B9ull;
  mix = (mix ^ (mix >> 27)) * 0x94D049BB133111EBull;
  mix ^= mix >> 31;
  return static_cast<std::uint32_t>(mix);
}

}  // namespace platform::internal

#endif  // PLATFORM_INTERNAL_FALLBACK_SEED_H_
