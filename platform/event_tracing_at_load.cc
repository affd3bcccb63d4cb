// Ties the event-tracing providers to the life of the library that links this object: they are
// registered while the library's static objects are built and unregistered when they are
// destroyed, at unload.
#include "platform/event_tracing.h"

namespace {

struct TracingWhileLoaded {
  TracingWhileLoaded() { platform::StartEventTracing(); }
  ~TracingWhileLoaded() { platform::StopEventTracing(); }
};

const TracingWhileLoaded g_tracing_while_loaded;

}  // namespace
