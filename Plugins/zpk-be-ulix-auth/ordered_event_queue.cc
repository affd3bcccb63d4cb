#include "Plugins/zpk-be-ulix-auth/ordered_event_queue.h"

#include "logging/logger.h"

namespace ulix_auth {

void OrderedEventQueue::Delete(std::string_view path) {
  Add([this, path = std::string(path)] { (void)bridge_.publishResourceDelete(path); });
}

void OrderedEventQueue::Add(Action action) {
  std::lock_guard<std::mutex> lock(mutex_);
  pending_.push_back(std::move(action));
  pending_count_.store(pending_.size(), std::memory_order_release);
}

void OrderedEventQueue::Drain() {
  if (pending_count_.load(std::memory_order_acquire) == 0) return;
  std::unique_lock<std::mutex> lock(mutex_);
  if (draining_) return;
  draining_ = true;
  while (!pending_.empty()) {
    Action action = std::move(pending_.front());
    pending_.pop_front();
    pending_count_.store(pending_.size(), std::memory_order_release);
    lock.unlock();
    try {
      action();
    } catch (...) {
      // A host call that fails must not keep the events behind it from being sent.
      logging::Log(logging::kError, logging::kGroupDbg,
                   "ulix-auth: a queued host call failed unexpectedly");
    }
    lock.lock();
  }
  draining_ = false;
}

std::size_t OrderedEventQueue::PendingCount() const {
  return pending_count_.load(std::memory_order_acquire);
}

}  // namespace ulix_auth
