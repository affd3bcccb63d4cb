#include "devhost/event_hub.h"

#include <algorithm>

#include "devhost/host_value_json.h"

namespace devhost {

std::string FormatServerSentEvent(std::string_view name, std::string_view json) {
  std::string frame = "event: ";
  for (char c : name) frame += (c == '\n' || c == '\r') ? ' ' : c;
  frame += '\n';
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = json.find('\n', start);
    frame += "data: ";
    frame.append(json.substr(start, end == std::string_view::npos ? end : end - start));
    frame += '\n';
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  frame += '\n';
  return frame;
}

void EventHub::Subscribe(std::string_view name, std::uint32_t plugin_handle,
                         HostEventCallback callback, void* context) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Subscription& subscription : subscriptions_) {
    if (subscription.name == name && subscription.plugin_handle == plugin_handle) {
      subscription.callback = callback;
      subscription.context = context;
      return;
    }
  }
  subscriptions_.push_back({std::string(name), plugin_handle, callback, context});
}

void EventHub::Unsubscribe(std::string_view name, std::uint32_t plugin_handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase_if(subscriptions_, [&](const Subscription& subscription) {
    return subscription.name == name && subscription.plugin_handle == plugin_handle;
  });
}

std::size_t EventHub::SubscriptionCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return subscriptions_.size();
}

void EventHub::Publish(std::string_view name, const HostValue& value) {
  std::vector<Subscription> receivers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Subscription& subscription : subscriptions_) {
      if (subscription.name == name) receivers.push_back(subscription);
    }
  }
  const std::string owned_name(name);
  for (const Subscription& receiver : receivers) {
    HostEventDelivery delivery{};
    delivery.name = owned_name.c_str();
    delivery.value = value;
    delivery.context = receiver.context;
    receiver.callback(&delivery);
  }
  QueueFrame(FormatServerSentEvent(name, HostValueToJson(value)));
}

void EventHub::Announce(std::string_view name, std::string_view json) {
  QueueFrame(FormatServerSentEvent(name, json));
}

void EventHub::QueueFrame(std::string frame) {
  std::lock_guard<std::mutex> lock(mutex_);
  history_.push_back(frame);
  history_bytes_ += frame.size();
  // The newest frame stays even when it alone is larger than the bound.
  while (history_.size() > kHistoryFrames ||
         (history_bytes_ > kHistoryBytes && history_.size() > 1)) {
    history_bytes_ -= history_.front().size();
    history_.pop_front();
  }
  for (const std::shared_ptr<Listener>& listener : listeners_) {
    if (listener->frames_.size() >= kMaxQueuedFrames) listener->frames_.pop_front();
    listener->frames_.push_back(frame);
    listener->ready_.notify_one();
  }
}

std::shared_ptr<EventHub::Listener> EventHub::Listen(bool replay) {
  auto listener = std::make_shared<Listener>();
  std::lock_guard<std::mutex> lock(mutex_);
  if (replay) {
    listener->frames_.assign(history_.begin(), history_.end());
    // A comment, which event-stream readers skip: tells a page what happened before it came
    // from what happens now.
    listener->frames_.push_back(std::string(kHistoryEnd));
  }
  listeners_.push_back(listener);
  return listener;
}

void EventHub::Forget(const std::shared_ptr<Listener>& listener) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::erase(listeners_, listener);
}

bool EventHub::Next(Listener& listener, std::string& frame, std::chrono::milliseconds wait,
                    bool& closed) {
  std::unique_lock<std::mutex> lock(mutex_);
  listener.ready_.wait_for(lock, wait, [&] { return closed_ || !listener.frames_.empty(); });
  closed = closed_;
  if (closed_ || listener.frames_.empty()) return false;
  frame = std::move(listener.frames_.front());
  listener.frames_.pop_front();
  return true;
}

void EventHub::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  for (const std::shared_ptr<Listener>& listener : listeners_) listener->ready_.notify_all();
}

}  // namespace devhost
