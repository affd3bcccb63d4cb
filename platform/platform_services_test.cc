// The small system services: UUIDs, clocks, local time, the random device, thread ids, debugger
// output, the executable's name, page reservation and the recursive lock.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "gtest/gtest.h"
#include "platform/debugger_output.h"
#include "platform/executable_name.h"
#include "platform/local_time.h"
#include "platform/monotonic_clock.h"
#include "platform/page_reservation.h"
#include "platform/random_device.h"
#include "platform/recursive_lock.h"
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
  // A version or variant bit left random shows in one of 64 uuids but for a chance of 2^-64.
  std::set<UuidBytes> seen;
  for (int i = 0; i < 64; ++i) {
    UuidBytes uuid{};
    ASSERT_EQ(GenerateUuid(uuid), 0);
    seen.insert(uuid);
    EXPECT_EQ(uuid[6] >> 4, 4);
    EXPECT_EQ(uuid[8] >> 6, 2);
  }
  EXPECT_EQ(seen.size(), 64u);
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
  auto fields = [](const LocalTime& t) {
    return std::tuple(t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond);
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.zone);
    SetTimeZone(row.zone);
    EXPECT_EQ(fields(LocalTimeAt(row.seconds, row.nanoseconds)), fields(row.expected));
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

TEST(DebuggerOutput, GoesOnlyToTheInstalledSink) {
  WriteDebuggerOutput("nobody listens\n");  // must be harmless without a sink
  std::vector<std::string> seen;
  EXPECT_FALSE(SetDebuggerSink([&](std::string_view text) { seen.emplace_back(text); }));
  WriteDebuggerOutput("first\n");
  WriteDebuggerOutput("second\n");
  EXPECT_TRUE(SetDebuggerSink({}));  // hands back the sink it removes
  WriteDebuggerOutput("after removal\n");
  EXPECT_EQ(seen, (std::vector<std::string>{"first\n", "second\n"}));
}

TEST(ExecutableName, IsTheRunningProgramsFileName) {
#if defined(_WIN32)
  EXPECT_EQ(ExecutableFileName(), "platform_test.exe");
#else
  EXPECT_EQ(ExecutableFileName(), "platform_test");
#endif
}

TEST(ExecutableName, KeepsWhatFollowsTheLastSeparator) {
  EXPECT_EQ(FileNameOfPath("/usr/bin/host"), "host");
  EXPECT_EQ(FileNameOfPath("host"), "host");
  EXPECT_EQ(FileNameOfPath("/a/b/"), "");
  EXPECT_EQ(FileNameOfPath(""), "");
#if defined(_WIN32)
  // Either separator on Windows; a drive letter is not one.
  EXPECT_EQ(FileNameOfPath("C:\\Program Files\\Client\\client.exe"), "client.exe");
  EXPECT_EQ(FileNameOfPath("C:\\Client/bin\\client.exe"), "client.exe");
  EXPECT_EQ(FileNameOfPath("C:\\Client\\bin/client.exe"), "client.exe");
  EXPECT_EQ(FileNameOfPath("C:client.exe"), "C:client.exe");
#else
  EXPECT_EQ(FileNameOfPath("/opt/odd\\name"), "odd\\name");  // a Linux name may hold one
#endif
}

TEST(PageReservation, GivesZeroedWritableBlocksAlignedTo64KiB) {
  for (std::size_t pages : {1u, 3u, 16u}) {
    SCOPED_TRACE(pages);
    std::size_t bytes = pages * 65536;
    auto* block = static_cast<unsigned char*>(ReservePages(bytes));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 65536, 0u);
    EXPECT_EQ(block[0], 0);
    EXPECT_EQ(block[bytes - 1], 0);
    std::memset(block, 0xA5, bytes);
    EXPECT_EQ(block[bytes / 2], 0xA5);
    ReleasePages(block, bytes);
  }
}

TEST(PageReservation, RefusesSizesThatAreNotWholeGranules) {
  EXPECT_EQ(ReservePages(0), nullptr);
  EXPECT_EQ(ReservePages(4096), nullptr);
  EXPECT_EQ(ReservePages(65536 + 1), nullptr);
  ReleasePages(nullptr, 65536);  // harmless
}

// Whether another thread can take the lock now.
bool OtherThreadGetsIt(RecursiveLock& lock) {
  bool got_it = false;
  std::thread([&] {
    got_it = lock.try_lock();
    if (got_it) lock.unlock();
  }).join();
  return got_it;
}

TEST(RecursiveLock, ItsHolderMayTakeItAgainWhileOtherThreadsWaitForEveryLevel) {
  RecursiveLock lock;
  lock.lock();
  ASSERT_TRUE(lock.try_lock());  // a target that logs while writing
  EXPECT_FALSE(OtherThreadGetsIt(lock));
  lock.unlock();
  EXPECT_FALSE(OtherThreadGetsIt(lock));  // one level released: still held
  lock.unlock();
  EXPECT_TRUE(OtherThreadGetsIt(lock));
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
