#include "devhost/timer_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <future>
#include <string>
#include <vector>

namespace devhost {
namespace {

TEST(TimerQueue, RunsTasksDueTogetherInTheOrderScheduled) {
  TimerQueue timers;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<void> blocking_started;
  std::promise<void> all_done;
  std::vector<std::string> order;  // written by the timer thread only
  // The first task holds the thread, so the others are all due when it lets go.
  timers.Schedule("hold", 0, [&] {
    blocking_started.set_value();
    released.wait();
    order.push_back("hold");
  });
  blocking_started.get_future().wait();
  timers.Schedule("b", 0, [&] { order.push_back("b"); });
  timers.Schedule("c", -1, [&] { order.push_back("c"); });
  timers.Schedule("d", std::nan(""), [&] {
    order.push_back("d");
    all_done.set_value();
  });
  release.set_value();
  all_done.get_future().wait();
  EXPECT_EQ(order, (std::vector<std::string>{"hold", "b", "c", "d"}));
}

TEST(TimerQueue, IsQuietOnceTasksDueNowAndWhatTheyScheduledNowHaveRunAndStopDropsTheRest) {
  TimerQueue timers;
  std::atomic<int> ran{0};
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<void> second_started;
  std::atomic<bool> third_ran{false};
  timers.Schedule("refresh later", 3600, [&] { ++ran; });
  // A due task that schedules another due task, which holds the thread, then a third.
  timers.Schedule("first", 0, [&] {
    timers.Schedule("second", 0, [&] {
      second_started.set_value();
      released.wait();
      timers.Schedule("third", 0, [&] { third_ran = true; });
    });
  });
  second_started.get_future().wait();
  EXPECT_FALSE(timers.WaitQuiet(std::chrono::milliseconds(0)));
  release.set_value();
  EXPECT_TRUE(timers.WaitQuiet(std::chrono::minutes(1)));
  EXPECT_TRUE(third_ran);
  EXPECT_EQ(timers.PendingCount(), 1u);  // the task an hour away does not hold it up
  // Stopping drops tasks not yet due and ignores later ones.
  timers.Stop();
  timers.Schedule("after stop", 0, [&] { ++ran; });
  EXPECT_EQ(timers.PendingCount(), 0u);
  EXPECT_EQ(ran.load(), 0);
}

}  // namespace
}  // namespace devhost
