// The small system services: UUIDs, clocks, the random device and thread ids.
#include <set>
#include <thread>

#include "gtest/gtest.h"
#include "platform/local_time.h"
#include "platform/monotonic_clock.h"
#include "platform/random_device.h"
#include "platform/thread_id.h"
#include "platform/uuid.h"

namespace platform {
namespace {

TEST(Uuid, IsARandomVersion4UuidThatDiffersEachTime) {
  UuidBytes first{};
  UuidBytes second{};
  ASSERT_EQ(GenerateUuid(first), 0);
  ASSERT_EQ(GenerateUuid(second), 0);
  EXPECT_NE(first, second);
  EXPECT_EQ(first[6] >> 4, 4);
  EXPECT_EQ(first[8] >> 6, 2);
}

TEST(MonotonicClock, NeverGoesBackwards) {
  std::int64_t previous = MonotonicNanoseconds();
  for (int i = 0; i < 1000; ++i) {
    std::int64_t now = MonotonicNanoseconds();
    ASSERT_GE(now, previous);
    previous = now;
  }
}

TEST(LocalTime, FieldsAreCalendarValues) {
  LocalTime now = CurrentLocalTime();
  EXPECT_GE(now.year, 2024);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
  EXPECT_GE(now.day, 1);
  EXPECT_LE(now.day, 31);
  EXPECT_LE(now.hour, 23);
  EXPECT_LE(now.minute, 59);
  EXPECT_LE(now.second, 60);
  EXPECT_LE(now.millisecond, 999);
}

TEST(RandomDevice, DoesNotRepeatOneValue) {
  std::set<std::uint32_t> values;
  for (int i = 0; i < 16; ++i) values.insert(RandomDeviceValue());
  EXPECT_GT(values.size(), 1u);
}

TEST(ThreadId, IsStableWithinAThreadAndDistinctAcrossThreads) {
  std::uint64_t mine = CurrentThreadId();
  EXPECT_NE(mine, 0u);
  EXPECT_EQ(CurrentThreadId(), mine);
  std::uint64_t other = 0;
  std::thread([&] { other = CurrentThreadId(); }).join();
  EXPECT_NE(other, 0u);
  EXPECT_NE(other, mine);
}

}  // namespace
}  // namespace platform
