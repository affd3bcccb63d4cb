// The host's event bus: delivers every event to the plug-in callbacks subscribed to its name and
// to every HTTP client listening on /events (Server-Sent Events).
#ifndef DEVHOST_EVENT_HUB_H_
#define DEVHOST_EVENT_HUB_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "plugin_host_interface.h"

namespace devhost {

// One Server-Sent Events frame: "event: <name>", "data: <json>", blank line. Line breaks inside
// the name or the data would end the frame early, so each data line gets its own "data:".
std::string FormatServerSentEvent(std::string_view name, std::string_view json);

class EventHub {
 public:
  // What a listener holds: frames not yet taken, oldest first. A listener that falls more than
  // kMaxQueuedFrames behind loses the oldest (a stalled client must not grow the host).
  class Listener;
  static constexpr std::size_t kMaxQueuedFrames = 4096;
  // Frames kept for listeners that ask for what happened before they came: the last 1 024, or
  // fewer when those would pass 256 KiB (token events are large; the history must not hold
  // megabytes to tell a new console how the run began).
  static constexpr std::size_t kHistoryFrames = 1024;
  static constexpr std::size_t kHistoryBytes = 256 * 1024;

  EventHub() = default;
  EventHub(const EventHub&) = delete;
  EventHub& operator=(const EventHub&) = delete;

  // One callback per (name, handle); a second subscription of the pair replaces the first.
  void Subscribe(std::string_view name, std::uint32_t plugin_handle, HostEventCallback callback,
                 void* context);
  void Unsubscribe(std::string_view name, std::uint32_t plugin_handle);
  std::size_t SubscriptionCount() const;

  // Calls every callback subscribed to `name` on this thread (outside the hub's lock: a
  // callback may publish or subscribe), then queues one frame for every listener. `value` is
  // borrowed for the call.
  void Publish(std::string_view name, const HostValue& value);
  // Queues a frame of the host's own (`json` already written) for the HTTP listeners only: the
  // plug-in never hears the host talking about itself.
  void Announce(std::string_view name, std::string_view json);

  // The frame that ends a replayed history.
  static constexpr std::string_view kHistoryEnd = ": history end\n\n";

  // A new listener sees the events published after this call and, with `replay`, the history
  // of those published before it, oldest first, then kHistoryEnd.
  std::shared_ptr<Listener> Listen(bool replay = false);
  void Forget(const std::shared_ptr<Listener>& listener);
  // Waits up to `wait` for the next frame of `listener`. False when none came or the hub was
  // closed (`closed` tells which).
  bool Next(Listener& listener, std::string& frame, std::chrono::milliseconds wait, bool& closed);
  // Wakes every listener for good: the host is stopping.
  void Close();

 private:
  struct Subscription {
    std::string name;
    std::uint32_t plugin_handle;
    HostEventCallback callback;
    void* context;
  };

  // Keeps `frame` in the history and hands it to every listener.
  void QueueFrame(std::string frame);

  mutable std::mutex mutex_;
  std::vector<Subscription> subscriptions_;
  std::vector<std::shared_ptr<Listener>> listeners_;
  std::deque<std::string> history_;
  std::size_t history_bytes_ = 0;
  bool closed_ = false;
};

class EventHub::Listener {
 private:
  friend class EventHub;
  std::condition_variable ready_;
  std::deque<std::string> frames_;
};

}  // namespace devhost

#endif  // DEVHOST_EVENT_HUB_H_
