#include "platform/recursive_lock.h"

#include <mutex>
#include <thread>

#include "gtest/gtest.h"

namespace platform {
namespace {

TEST(RecursiveLock, ItsHolderMayTakeItAgainWhileOtherThreadsMustWait) {
  RecursiveLock lock;
  std::lock_guard<RecursiveLock> outer(lock);
  {
    std::lock_guard<RecursiveLock> inner(lock);  // a target that logs while writing
    bool other_got_it = true;
    std::thread([&] { other_got_it = lock.try_lock(); }).join();
    EXPECT_FALSE(other_got_it);
  }
  // One level released: still held.
  bool other_got_it = true;
  std::thread([&] { other_got_it = lock.try_lock(); }).join();
  EXPECT_FALSE(other_got_it);
}

TEST(RecursiveLock, IsFreeForOtherThreadsOnceEveryLevelIsReleased) {
  RecursiveLock lock;
  lock.lock();
  ASSERT_TRUE(lock.try_lock());
  lock.unlock();
  lock.unlock();
  bool other_got_it = false;
  std::thread([&] {
    other_got_it = lock.try_lock();
    if (other_got_it) lock.unlock();
  }).join();
  EXPECT_TRUE(other_got_it);
}

TEST(RecursiveLock, KeepsCountsExactUnderContention) {
  RecursiveLock lock;
  int count = 0;
  std::thread threads[4];
  for (std::thread& thread : threads) {
    thread = std::thread([&] {
      for (int i = 0; i < 10000; ++i) {
        std::lock_guard<RecursiveLock> hold(lock);
        std::lock_guard<RecursiveLock> again(lock);
        ++count;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(count, 40000);
}

}  // namespace
}  // namespace platform
