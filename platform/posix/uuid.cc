#include "platform/uuid.h"

#include <sys/random.h>

#include <cerrno>
#include <cstddef>

namespace platform {

std::int32_t GenerateUuid(UuidBytes& bytes) {
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    ssize_t got = getrandom(bytes.data() + filled, bytes.size() - filled, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return errno != 0 ? errno : EIO;
    }
    filled += static_cast<std::size_t>(got);
  }
  // Mark the bytes as a random UUID so readers of the text can tell how it was made.
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);
  return 0;
}

}  // namespace platform
