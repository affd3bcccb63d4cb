// The small system services: UUIDs, clocks, the random device and thread ids.
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "platform/local_time.h"
#include "platform/monotonic_clock.h"
#include "platform/random_device.h"
#include "platform/thread_id.h"
#include "platform/uuid.h"

namespace platform {
namespace {

// The C runtime's time zone comes from TZ on both systems; only the names of the calls differ.
void SetTimeZone(const char* zone) {
#if defined(_WIN32)
  _putenv_s("TZ", zone != nullptr ? zone : "");
  _tzset();
#else
  if (zone != nullptr) {
    setenv("TZ", zone, 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
#endif
}

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

TEST(LocalTime, SplitsAMomentIntoCalendarFieldsOfTheProcessTimeZone) {
  // The test owns the process's time zone while it runs; put back what was there.
  const char* previous = getenv("TZ");
  const std::string saved = previous ? previous : "";
  struct Row {
    const char* zone;
    std::int64_t seconds;
    std::int32_t nanoseconds;
    LocalTime expected;
  };
  const Row rows[] = {
      {"UTC0", 1769903998, 250'000'000, {2026, 1, 31, 23, 59, 58, 250}},
      {"UTC0", 951782400, 999'999'999, {2000, 2, 29, 0, 0, 0, 999}},
      // Two hours east of UTC: the same moment is already the next day.
      {"XST-2", 1769903998, 0, {2026, 2, 1, 1, 59, 58, 0}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.zone);
    SetTimeZone(row.zone);
    LocalTime got = LocalTimeAt(row.seconds, row.nanoseconds);
    EXPECT_EQ(got.year, row.expected.year);
    EXPECT_EQ(got.month, row.expected.month);
    EXPECT_EQ(got.day, row.expected.day);
    EXPECT_EQ(got.hour, row.expected.hour);
    EXPECT_EQ(got.minute, row.expected.minute);
    EXPECT_EQ(got.second, row.expected.second);
    EXPECT_EQ(got.millisecond, row.expected.millisecond);
  }
  SetTimeZone(previous != nullptr ? saved.c_str() : nullptr);
}

TEST(RandomDevice, GivesValuesSpreadOverTheWholeRangeThatDoNotRepeatAsASequence) {
  std::vector<std::uint32_t> first;
  std::vector<std::uint32_t> second;
  int high = 0;
  int odd = 0;
  for (int i = 0; i < 1000; ++i) {
    first.push_back(RandomDeviceValue());
    second.push_back(RandomDeviceValue());
    high += first.back() >> 31;
    odd += first.back() & 1;
  }
  EXPECT_NE(first, second);
  // A stuck bit or a source confined to half the range falls far outside these bounds; a fair
  // source leaves them with a chance below one in a billion.
  EXPECT_GT(high, 400);
  EXPECT_LT(high, 600);
  EXPECT_GT(odd, 400);
  EXPECT_LT(odd, 600);
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
