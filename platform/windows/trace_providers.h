// The four event-tracing providers behind event_tracing.h, over the system's three event-tracing
// functions, which are looked up at run time: older systems and some environments lack them.
#ifndef PLATFORM_WINDOWS_TRACE_PROVIDERS_H_
#define PLATFORM_WINDOWS_TRACE_PROVIDERS_H_

// clang-format off
#include <windows.h>
#include <evntprov.h>
// clang-format on

#include <array>
#include <cstdint>

#include "platform/event_tracing.h"

namespace platform::windows {

// The three functions of Advapi32.dll; all null when any of them is missing.
struct EventTracingFunctions {
  decltype(&EventRegister) register_provider = nullptr;
  decltype(&EventWrite) write = nullptr;
  decltype(&EventUnregister) unregister_provider = nullptr;
};

// Looks the functions up in Advapi32.dll if the process has loaded it (never loads it). Never
// fails: a library not loaded or a missing function gives all-null functions.
EventTracingFunctions FindEventTracingFunctions();

// The providers' identifiers, in registration order. The first one, the load provider, carries
// the "Main thread" event.
extern const std::array<GUID, kTraceProviderCount> kTraceProviderIds;

// Event 1 of the load provider: the text "Main thread" (NUL-terminated) and the 32-bit id of the
// thread that loaded the library.
inline constexpr USHORT kMainThreadEventId = 1;

class TraceProviders {
 public:
  // `functions` is kept by value.
  explicit TraceProviders(const EventTracingFunctions& functions) : functions_(functions) {}
  ~TraceProviders() { Unregister(); }
  TraceProviders(const TraceProviders&) = delete;
  TraceProviders& operator=(const TraceProviders&) = delete;

  // Registers every provider and, when the load provider was registered, writes the "Main
  // thread" event with `thread_id`. A provider the system refuses is left out; the others still
  // register. Returns how many were registered; 0 when any function is missing or when already
  // registered.
  int Register(std::uint32_t thread_id);

  // Unregisters every registered provider, once.
  void Unregister();

 private:
  EventTracingFunctions functions_;
  std::array<REGHANDLE, kTraceProviderCount> handles_{};
  bool registered_ = false;
};

}  // namespace platform::windows

#endif  // PLATFORM_WINDOWS_TRACE_PROVIDERS_H_
