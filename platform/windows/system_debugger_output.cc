#include "platform/internal/system_debugger_output.h"

#include <windows.h>

#include <string>

namespace platform::internal {

void WriteSystemDebuggerOutput(std::string_view text) {
  // The system call takes a NUL-terminated text; a debugger that listens shows it as it is.
  const std::string terminated(text);
  OutputDebugStringA(terminated.c_str());
}

}  // namespace platform::internal
