#include "platform/event_tracing.h"

namespace platform {

// No system-wide event tracing to register with.
int StartEventTracing() { return 0; }

void StopEventTracing() {}

}  // namespace platform
