#include "devhost/timer_queue.h"

#include <cmath>

namespace devhost {

TimerQueue::TimerQueue() : thread_([this] { Run(); }) {}

TimerQueue::~TimerQueue() { Stop(); }

void TimerQueue::Schedule(std::string label, double delay_seconds, std::function<void()> task) {
  if (!std::isfinite(delay_seconds) || delay_seconds < 0) delay_seconds = 0;
  // Far-future delays are clamped so the time point cannot overflow.
  delay_seconds = std::min(delay_seconds, 1e9);
  const auto due = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(delay_seconds));
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_) return;
  entries_.push(Entry{due, next_sequence_++, std::move(label), std::move(task)});
  wake_.notify_one();
}

void TimerQueue::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    wake_.notify_one();
    quiet_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  while (!entries_.empty()) entries_.pop();
}

bool TimerQueue::WaitQuiet(std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  return quiet_.wait_for(lock, wait, [this] {
    return stopping_ || (!running_ && (entries_.empty() || entries_.top().due > Clock::now()));
  });
}

std::size_t TimerQueue::PendingCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_.size();
}

void TimerQueue::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    if (entries_.empty()) {
      wake_.wait(lock);
      continue;
    }
    // A copy: the wait releases the lock, and a Schedule meanwhile may move the entries.
    const Clock::time_point due = entries_.top().due;
    if (due > Clock::now()) {
      wake_.wait_until(lock, due);
      continue;
    }
    Entry entry = entries_.top();
    entries_.pop();
    // The task runs unlocked: it may schedule the next one.
    running_ = true;
    lock.unlock();
    entry.task();
    lock.lock();
    running_ = false;
    quiet_.notify_all();
  }
  quiet_.notify_all();
}

}  // namespace devhost
