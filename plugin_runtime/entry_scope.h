// Counts the host's calls into the plug-in that are running on this thread (requests, event
// deliveries, delayed callbacks), so that a stop made from inside one of them (a host that stops
// the plug-in from inside an exchange) leaves freeing the plug-in to the outermost of them, once
// nothing below it uses the plug-in any more.
#ifndef PLUGIN_RUNTIME_ENTRY_SCOPE_H_
#define PLUGIN_RUNTIME_ENTRY_SCOPE_H_

#include <functional>

namespace plugin_runtime {

class EntryScope {
 public:
  EntryScope();
  // The outermost scope of the thread runs what AtExit left for it.
  ~EntryScope();
  EntryScope(const EntryScope&) = delete;
  EntryScope& operator=(const EntryScope&) = delete;

  // Whether a call of the host's is running on this thread.
  static bool Inside();
  // Runs `action` when the outermost scope of this thread ends. Inside a scope only.
  static void AtExit(std::function<void()> action);
  // Waits until no other thread is inside a call of the host's: what stop does once new calls
  // are refused. Calls of this thread are frames below the caller and are not waited for.
  static void WaitForOtherThreads();
};

}  // namespace plugin_runtime

#endif  // PLUGIN_RUNTIME_ENTRY_SCOPE_H_
