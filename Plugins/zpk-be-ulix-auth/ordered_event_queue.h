// Host calls that follow a change of the sign-on state (change events, refresh timers), kept in
// the order of the changes and made with no lock of the plug-in held.
#ifndef PLUGINS_ZPK_BE_ULIX_AUTH_ORDERED_EVENT_QUEUE_H_
#define PLUGINS_ZPK_BE_ULIX_AUTH_ORDERED_EVENT_QUEUE_H_

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "plugin_runtime/plugin_host_bridge.h"

namespace ulix_auth {

// The plug-in changes its state under its own lock and queues here what the host must hear of
// it; after releasing the lock it drains the queue. One thread drains at a time and makes each
// host call with no lock held, so a host that delivers an event synchronously to a handler that
// enters the plug-in again (on the same thread or on another one it waits for) finds the lock
// free; the handler's own events join the queue behind the current ones, and the draining thread
// sends them too. Events therefore reach the host exactly once, in the order of the changes,
// though a caller may return before another thread has sent its events.
//
// Any thread may call every member. `bridge` must outlive the queue.
class OrderedEventQueue {
 public:
  using Action = std::function<void()>;

  explicit OrderedEventQueue(plugin_runtime::PluginHostBridge& bridge) : bridge_(bridge) {}

  // A Create or Update event on `path` carrying `data`. A record that does not convert is
  // dropped when sent.
  template <binding::BindingConvertible T>
  void Change(Vorn::Client::PluginResourceEventType type, std::string_view path, T data) {
    Add([this, type, path = std::string(path), data = std::move(data)] {
      (void)bridge_.publishResourceChange(type, path, data);
    });
  }
  // A Delete event on `path`.
  void Delete(std::string_view path);
  // Any other host call that must follow the changes queued before it.
  void Add(Action action);

  // Runs every queued action, including those queued meanwhile, unless another thread is
  // draining already (that thread runs them). An action that throws is dropped.
  void Drain();

  // Actions queued and not yet run.
  std::size_t PendingCount() const;

 private:
  plugin_runtime::PluginHostBridge& bridge_;
  mutable std::mutex mutex_;
  std::deque<Action> pending_;
  bool draining_ = false;
  // pending_.size(), readable without the mutex: a drain with nothing queued (every read
  // request) returns without locking. A thread always sees the actions it queued itself.
  std::atomic<std::size_t> pending_count_{0};
};

}  // namespace ulix_auth

#endif  // PLUGINS_ZPK_BE_ULIX_AUTH_ORDERED_EVENT_QUEUE_H_
