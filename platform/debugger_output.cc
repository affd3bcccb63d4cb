#include "platform/debugger_output.h"

#include <mutex>
#include <new>
#include <utility>

#include "platform/internal/system_debugger_output.h"

namespace platform {
namespace {

struct SinkSlot {
  std::mutex lock;
  DebuggerSink sink;
};

// Never destroyed: output may still be written from static destructors at exit. Static storage
// rather than the heap, so that unloading the library leaves nothing behind.
SinkSlot& Slot() {
  alignas(SinkSlot) static unsigned char storage[sizeof(SinkSlot)];
  static SinkSlot* slot = new (storage) SinkSlot;
  return *slot;
}

}  // namespace

void WriteDebuggerOutput(std::string_view text) {
  internal::WriteSystemDebuggerOutput(text);
  SinkSlot& slot = Slot();
  std::lock_guard<std::mutex> hold(slot.lock);
  if (slot.sink) slot.sink(text);
}

DebuggerSink SetDebuggerSink(DebuggerSink sink) {
  SinkSlot& slot = Slot();
  std::lock_guard<std::mutex> hold(slot.lock);
  std::swap(slot.sink, sink);
  return sink;
}

}  // namespace platform
