#include "platform/random_device.h"

#include <sys/random.h>

#include <cerrno>

#include "platform/monotonic_clock.h"
#include "platform/thread_id.h"

namespace platform {

std::uint32_t RandomDeviceValue() {
  std::uint32_t value = 0;
  for (;;) {
    ssize_t got = getrandom(&value, sizeof(value), 0);
    if (got == static_cast<ssize_t>(sizeof(value))) return value;
    if (got < 0 && errno == EINTR) continue;
    break;
  }
  // Fallback: a 64-bit mix (splitmix64 finaliser) of the clock and the thread id.
  std::uint64_t mix =
      static_cast<std::uint64_t>(MonotonicNanoseconds()) ^ (CurrentThreadId() << 32);
  mix = (mix ^ (mix >> 30)) * 0xBF58476D1CE4E5B9ull;
  mix = (mix ^ (mix >> 27)) * 0x94D049BB133111EBull;
  mix ^= mix >> 31;
  return static_cast<std::uint32_t>(mix);
}

}  // namespace platform
