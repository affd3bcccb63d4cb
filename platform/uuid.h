// UUID bytes from the system: its random source on Linux, the RPC runtime on Windows.
#ifndef PLATFORM_UUID_H_
#define PLATFORM_UUID_H_

#include <array>
#include <cstdint>

namespace platform {

using UuidBytes = std::array<std::uint8_t, 16>;

// Fills `bytes` with a random (version 4) UUID. Returns 0 on success, otherwise the system's
// error code (errno of the failed read, or the RPC runtime's status); `bytes` is then unspecified.
// Never stops the process itself: callers that cannot go on without an identifier decide that. Any
// thread may call it.
[[nodiscard]] std::int32_t GenerateUuid(UuidBytes& bytes);

}  // namespace platform

#endif  // PLATFORM_UUID_H_
