// Decodes one MessagePack value from a request body into a BindingValue tree. There is no encoder:
// the plug-in only ever receives MessagePack.
#ifndef BINDING_MESSAGE_PACK_READER_H_
#define BINDING_MESSAGE_PACK_READER_H_

#include <cstddef>

#include "binding/binding_value.h"

namespace binding {

// Arrays and maps nested deeper than this fail instead of building a tree whose destruction and
// copies would recurse past the stack of a host thread.
inline constexpr std::size_t kMaxMessagePackDepth = 512;

struct [[nodiscard]] MessagePackReadResult {
  BindingConversionResult result;
  // Bytes read before decoding stopped: after the one top-level value on success, where the fault
  // was found on failure. Callers reject bodies with bytes left over.
  std::size_t consumed = 0;
};

// Reads exactly one top-level value from `data` (borrowed for the call only). An empty buffer is
// the empty value. Input that ends while containers still expect entries is not an error: the
// containers hold what was read. Failures ({"error": message}, `ok` 0) name the byte position.
// Thread-safe: no shared state.
MessagePackReadResult parseMessagePack(const void* data, std::size_t size);

}  // namespace binding

#endif  // BINDING_MESSAGE_PACK_READER_H_
