// The library's event-tracing providers, registered with the system's event tracing while the
// library is loaded, so that tracing tools can see the process load it. Windows has such a
// facility; elsewhere tracing is simply off.
#ifndef PLATFORM_EVENT_TRACING_H_
#define PLATFORM_EVENT_TRACING_H_

namespace platform {

inline constexpr int kTraceProviderCount = 4;

// Registers the providers and records a "Main thread" event with the calling thread's id. When
// the system lacks event tracing (or any of its three functions), nothing is registered and
// tracing stays off: that is not an error. Returns the number of providers registered, 0 to
// kTraceProviderCount. A second call without StopEventTracing does nothing and returns 0.
// Called while the library loads; not concurrently with StopEventTracing.
int StartEventTracing();

// Unregisters what StartEventTracing registered; nothing when it registered nothing. Called
// while the library unloads.
void StopEventTracing();

}  // namespace platform

#endif  // PLATFORM_EVENT_TRACING_H_
