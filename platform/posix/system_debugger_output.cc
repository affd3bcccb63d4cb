#include "platform/internal/system_debugger_output.h"

namespace platform::internal {

// Linux has no system-wide debugger channel: only an installed sink sees the output.
void WriteSystemDebuggerOutput(std::string_view) {}

}  // namespace platform::internal
