// Arbitrary bytes as a MessagePack body: no crash, leak or unbounded growth, and the consumed
// count never passes the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "binding/json_bridge.h"
#include "binding/message_pack_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  binding::MessagePackReadResult read = binding::parseMessagePack(data, size);
  if (read.consumed > size) std::abort();
  if (read.result.ok == 0 && binding::errorText(read.result).empty()) std::abort();
  // Whatever was decoded must be writable.
  const std::string json = binding::toJson(read.result.value);
  (void)json;
  return 0;
}
