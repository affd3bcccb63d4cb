#include "logging/uuid.h"

#include "logging/assertion.h"

namespace logging {

Uuid CreateUuid(UuidGenerator generator) {
  Uuid uuid{};
  // Without an identifier nothing that needs one can work; the code in the log says why.
  if (generator(uuid) != 0) FatalStop(kFatalUuidCreationFailed);
  return uuid;
}

std::string UuidText(const Uuid& uuid) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(36);
  for (std::size_t i = 0; i < uuid.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += kDigits[uuid[i] >> 4];
    text += kDigits[uuid[i] & 0x0F];
  }
  return text;
}

}  // namespace logging
