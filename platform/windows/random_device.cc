#include "platform/random_device.h"

// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include "platform/internal/fallback_seed.h"

namespace platform {

std::uint32_t RandomDeviceValue() {
  std::uint32_t value = 0;
  // The system's preferred generator needs no algorithm handle of our own.
  if (BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&value), sizeof(value),
                      BCRYPT_USE_SYSTEM_PREFERRED_RNG) >= 0) {
    return value;
  }
  return internal::FallbackSeed();
}

}  // namespace platform
