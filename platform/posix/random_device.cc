#include "platform/random_device.h"

#include <sys/random.h>

#include <cerrno>

#include "platform/internal/fallback_seed.h"

namespace platform {

std::uint32_t RandomDeviceValue() {
  std::uint32_t value = 0;
  for (;;) {
    ssize_t got = getrandom(&value, sizeof(value), 0);
    if (got == static_cast<ssize_t>(sizeof(value))) return value;
    if (got < 0 && errno == EINTR) continue;
    break;
  }
  return internal::FallbackSeed();
}

}  // namespace platform
