// Delayed callbacks of the host: one thread runs each task once its delay has passed, in due
// order (tasks due at the same moment in the order they were scheduled).
#ifndef DEVHOST_TIMER_QUEUE_H_
#define DEVHOST_TIMER_QUEUE_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <queue>
#include <string>
#include <thread>
#include <vector>

namespace devhost {

class TimerQueue {
 public:
  TimerQueue();
  // Stops (see Stop).
  ~TimerQueue();
  TimerQueue(const TimerQueue&) = delete;
  TimerQueue& operator=(const TimerQueue&) = delete;

  // Any thread, a task included. A negative or non-finite delay counts as 0. Ignored after Stop.
  void Schedule(std::string label, double delay_seconds, std::function<void()> task);
  // Waits for a running task to return, drops the tasks not yet due and ends the thread.
  void Stop();
  std::size_t PendingCount() const;
  // Waits up to `wait` until no task runs and none is due: what was scheduled to run now has
  // run, and so has what it scheduled to run now in turn. True when that came.
  bool WaitQuiet(std::chrono::milliseconds wait);

 private:
  using Clock = std::chrono::steady_clock;
  struct Entry {
    Clock::time_point due;
    std::uint64_t sequence;
    std::string label;
    std::function<void()> task;
    bool operator>(const Entry& other) const {
      return due != other.due ? due > other.due : sequence > other.sequence;
    }
  };
  void Run();

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable quiet_;  // a task returned, or the queue stopped
  bool running_ = false;
  std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> entries_;
  std::uint64_t next_sequence_ = 0;
  bool stopping_ = false;
  std::thread thread_;  // last: starts once the members above exist
};

}  // namespace devhost

#endif  // DEVHOST_TIMER_QUEUE_H_
