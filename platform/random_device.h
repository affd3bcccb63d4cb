// The system's random device, for seeding pseudo-random generators.
#ifndef PLATFORM_RANDOM_DEVICE_H_
#define PLATFORM_RANDOM_DEVICE_H_

#include <cstdint>

namespace platform {

// A 32-bit value from the system's random source. Seeds need no cryptographic strength, so when
// the source cannot be read the value is mixed from the clock and the thread instead of failing.
// Any thread may call it.
std::uint32_t RandomDeviceValue();

}  // namespace platform

#endif  // PLATFORM_RANDOM_DEVICE_H_
