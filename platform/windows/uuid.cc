#include "platform/uuid.h"

// clang-format off
#include <windows.h>
#include <rpc.h>
// clang-format on

namespace platform {

std::int32_t GenerateUuid(UuidBytes& bytes) {
  UUID uuid{};
  RPC_STATUS status = UuidCreate(&uuid);
  // A UUID that is unique on this machine only is still a fine random identifier for us.
  if (status != RPC_S_OK && status != RPC_S_UUID_LOCAL_ONLY)
    return static_cast<std::int32_t>(status);
  // The structure keeps its first three fields in the machine's byte order; the bytes of a UUID
  // are written most significant first.
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(uuid.Data1 >> (24 - 8 * i));
  bytes[4] = static_cast<std::uint8_t>(uuid.Data2 >> 8);
  bytes[5] = static_cast<std::uint8_t>(uuid.Data2);
  bytes[6] = static_cast<std::uint8_t>(uuid.Data3 >> 8);
  bytes[7] = static_cast<std::uint8_t>(uuid.Data3);
  for (int i = 0; i < 8; ++i) bytes[8 + i] = uuid.Data4[i];
  return 0;
}

}  // namespace platform
