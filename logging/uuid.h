// UUIDs for install identifiers and session ids. A process that cannot make one cannot go on.
#ifndef LOGGING_UUID_H_
#define LOGGING_UUID_H_

#include <cstdint>
#include <string>

#include "platform/uuid.h"

namespace logging {

using Uuid = platform::UuidBytes;

// Fills 16 bytes; returns 0 or a non-zero status. The platform generator by default; tests pass
// others.
using UuidGenerator = std::int32_t (*)(platform::UuidBytes& bytes);

// A new UUID from `generator`. A non-zero status is a fatal stop with "ALE-8B4DC795".
Uuid CreateUuid(UuidGenerator generator = &platform::GenerateUuid);

// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" in lower-case hexadecimal, bytes in memory order.
std::string UuidText(const Uuid& uuid);

}  // namespace logging

#endif  // LOGGING_UUID_H_
