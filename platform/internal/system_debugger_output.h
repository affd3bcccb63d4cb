// The system's own debugger channel, where there is one.
#ifndef PLATFORM_INTERNAL_SYSTEM_DEBUGGER_OUTPUT_H_
#define PLATFORM_INTERNAL_SYSTEM_DEBUGGER_OUTPUT_H_

#include <string_view>

namespace platform::internal {

// Hands `text` to the attached debugger on Windows; does nothing elsewhere. Any thread.
void WriteSystemDebuggerOutput(std::string_view text);

}  // namespace platform::internal

#endif  // PLATFORM_INTERNAL_SYSTEM_DEBUGGER_OUTPUT_H_
