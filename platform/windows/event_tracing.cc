#include "platform/event_tracing.h"

#include <new>

#include "platform/windows/trace_providers.h"

namespace platform {
namespace {

// Static storage rather than the heap: the providers outlive every allocation count the host
// reads, and nothing is left behind at unload.
windows::TraceProviders& Providers() {
  alignas(windows::TraceProviders) static unsigned char storage[sizeof(windows::TraceProviders)];
  static windows::TraceProviders* providers =
      new (storage) windows::TraceProviders(windows::FindEventTracingFunctions());
  return *providers;
}

}  // namespace

int StartEventTracing() { return Providers().Register(GetCurrentThreadId()); }

void StopEventTracing() { Providers().Unregister(); }

}  // namespace platform
