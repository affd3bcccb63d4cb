// The debugger's output channel: the system's own on Windows (what a debugger attached to the
// process shows), and besides it a sink that a developer or a test installs. Linux has no
// system-wide channel, so there output reaches the sink alone, and nowhere by default.
#ifndef PLATFORM_DEBUGGER_OUTPUT_H_
#define PLATFORM_DEBUGGER_OUTPUT_H_

#include <functional>
#include <string_view>

namespace platform {

using DebuggerSink = std::function<void(std::string_view text)>;

// Hands `text` to the system's channel and to the installed sink, if any. Any thread may call it;
// calls are serialised, so the sink sees one text at a time.
void WriteDebuggerOutput(std::string_view text);

// Installs `sink` (an empty function removes it) and returns the one it replaces. The sink runs
// on the writing thread while a lock is held: it must not call WriteDebuggerOutput or
// SetDebuggerSink itself.
DebuggerSink SetDebuggerSink(DebuggerSink sink);

}  // namespace platform

#endif  // PLATFORM_DEBUGGER_OUTPUT_H_
