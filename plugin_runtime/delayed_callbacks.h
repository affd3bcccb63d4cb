// The bridge's pending delayed callbacks: functions stored under 64-bit ids (1, 2, ...) until the
// host calls back, and the tickets handed to the host as callback contexts.
//
// A context is a ticket, a number looked up in a process-wide table, never an address: the host
// may fire a callback after stop or after this object is gone, and then finds a closed table or
// none. Locks: the table's mutex guards the id counter, the entries and the count of functions
// running per thread (taken by the scheduling thread, any thread, and by the host thread that
// runs a callback, to find and then remove its entry); Close waits for the functions running on
// other threads, never for one of its own thread (a callback that stops the plug-in), whose
// function stays alive while it runs; the ticket table has its own mutex. Functions run with the
// table's mutex released, so they may schedule the next one. Nothing here calls the host.
#ifndef PLUGIN_RUNTIME_DELAYED_CALLBACKS_H_
#define PLUGIN_RUNTIME_DELAYED_CALLBACKS_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace plugin_runtime {

class DelayedCallbacks {
 public:
  using Function = std::function<void()>;

  // Functions are skipped once `stopping` reads true; it must outlive this object.
  explicit DelayedCallbacks(const std::atomic<bool>& stopping);
  ~DelayedCallbacks();
  DelayedCallbacks(const DelayedCallbacks&) = delete;
  DelayedCallbacks& operator=(const DelayedCallbacks&) = delete;

  struct Added {
    std::uint64_t id;
    void* context;  // the ticket to hand to the host with RunEntry
  };
  // Stores `function` under the next id.
  Added Add(Function function);
  // The host's callback: runs the function of the ticket in `context` (unless closed or
  // stopping), then removes its entry, also when the function throws. Never throws.
  static void RunEntry(void* context);

  std::size_t PendingCount() const;
  // Runs nothing from now on; waits for the functions running on other threads; drops every
  // entry and its ticket. Called by stop and by the destructor.
  void Close();

  // Defined in the .cc; shared with the ticket table.
  struct Table;

 private:
  std::shared_ptr<Table> table_;
};

}  // namespace plugin_runtime

#endif  // PLUGIN_RUNTIME_DELAYED_CALLBACKS_H_
