// The small system services: UUIDs, clocks, local time, the random device, thread ids, debugger
// output, the executable's name, page reservation and the recursive lock.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
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

TEST(Uuid, IsARandomVersion4UuidThatDiffersEachTime) {
  // A version or variant bit left random shows in one of 64 uuids but for a chance of 2^-64.
  std::set<UuidBytes> seen;
  for (int i = 0; i < 64; ++i) {
    UuidBytes uuid{};
    ASSERT_EQ(GenerateUuid(uuid), 0);
    seen.insert(uuid);
    EXPECT_EQ((uuid[6] >> 4) * 10 + (uuid[8] >> 6), 42);  // version 4, variant "10"
  }
  EXPECT_EQ(seen.size(), 64u);
}

TEST(MonotonicClock, CountsNanosecondsOfTheSteadyClockAndNeverGoesBackwards) {
  // The standard steady clock reads the same system counter; a millisecond allows for rounding.
  const auto steady = [] { return std::chrono::steady_clock::now().time_since_epoch().count(); };
  std::int64_t previous = MonotonicNanoseconds();
  for (int i = 0; i < 1000; ++i) {
    const std::int64_t before = steady(), ours = MonotonicNanoseconds(), after = steady();
    ASSERT_TRUE(previous <= ours && before - 1'000'000 <= ours && ours <= after + 1'000'000)
        << previous << " " << before << " " << ours << " " << after;
    previous = ours;
  }
}

std::string Text(const LocalTime& t) {
  char text[64];
  std::snprintf(text, sizeof text, "%d-%d-%d %d:%d:%d.%d", t.year, t.month, t.day, t.hour, t.minute,
                t.second, t.millisecond);
  return text;
}

TEST(LocalTime, SplitsAMomentIntoCalendarFieldsOfTheProcessTimeZone) {
  // The C runtime's time zone comes from TZ on both systems; only the names of the calls differ.
  const auto set_zone = [](const char* zone) {
#if defined(_WIN32)
    _putenv_s("TZ", zone != nullptr ? zone : "");
    _tzset();
#else
    zone != nullptr ? setenv("TZ", zone, 1) : unsetenv("TZ");
    tzset();
#endif
  };
  const char* previous = getenv("TZ");
  const std::string saved = previous ? previous : "";
  const std::tuple<const char*, std::int64_t, std::int32_t, const char*> rows[] = {
      {"UTC0", 1769903998, 250'000'000, "2026-1-31 23:59:58.250"},
      {"UTC0", 951782400, 999'999'999, "2000-2-29 0:0:0.999"},
      // Two hours east of UTC: the same moment is already the next day.
      {"XST-2", 1769903998, 0, "2026-2-1 1:59:58.0"},
  };
  for (const auto& [zone, seconds, nanoseconds, expected] : rows) {
    set_zone(zone);
    EXPECT_EQ(Text(LocalTimeAt(seconds, nanoseconds)), expected) << zone;
  }
  set_zone(previous != nullptr ? saved.c_str() : nullptr);
}

#if !defined(_WIN32)
// Windows asks the system for the local time each time, from a clock coarser than the standard
// one and in the system's time zone rather than the C runtime's.
TEST(LocalTime, TheCurrentTimeIsTheClocksInEachSecondItIsAskedIn) {
  // Asked in two seconds one after the other (the second of the two waits for the clock to move
  // on), each answer is the conversion of the second it was asked in.
  const auto seconds = [] {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
  };
  std::int64_t last = -1;
  for (int asked = 0; asked < 2;) {
    const std::int64_t before = seconds();
    LocalTime now = CurrentLocalTime();
    if (before == last || seconds() != before) continue;  // the same second again, or a new one
    now.millisecond = 0;
    EXPECT_EQ(Text(now), Text(LocalTimeAt(before, 0)));
    last = before;
    ++asked;
  }
}
#endif

TEST(RandomDevice, GivesValuesSpreadOverTheWholeRangeThatDoNotRepeatAsASequence) {
  std::vector<std::uint32_t> first, second;
  int high = 0, odd = 0;
  for (int i = 0; i < 1000; ++i) {
    first.push_back(RandomDeviceValue());
    second.push_back(RandomDeviceValue());
    high += first.back() >> 31;
    odd += first.back() & 1;
  }
  EXPECT_NE(first, second);
  // A stuck bit or a source confined to half the range falls far outside these bounds; a fair
  // source leaves them with a chance below one in a billion.
  EXPECT_TRUE(high > 400 && high < 600 && odd > 400 && odd < 600) << high << " " << odd;
}

TEST(ThreadId, IsStableWithinAThreadAndDistinctAcrossThreads) {
  const std::uint64_t mine = CurrentThreadId();
  std::uint64_t other = 0;
  std::thread([&] { other = CurrentThreadId(); }).join();
  EXPECT_EQ(CurrentThreadId(), mine);
  EXPECT_TRUE(mine != 0 && other != 0 && other != mine) << mine << " " << other;
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

TEST(ExecutableName, IsTheRunningProgramsFileNameWhatFollowsThePathsLastSeparator) {
  std::vector<std::pair<std::string, std::string>> rows = {
      {"/usr/bin/host", "host"}, {"host", "host"}, {"/a/b/", ""}, {"", ""}};
#if defined(_WIN32)
  EXPECT_EQ(ExecutableFileName(), "platform_test.exe");
  // Either separator on Windows; a drive letter is not one.
  rows.insert(rows.end(), {{"C:\\Program Files\\Client\\client.exe", "client.exe"},
                           {"C:\\Client/bin\\client.exe", "client.exe"},
                           {"C:\\Client\\bin/client.exe", "client.exe"},
                           {"C:client.exe", "C:client.exe"}});
#else
  EXPECT_EQ(ExecutableFileName(), "platform_test");
  rows.push_back({"/opt/odd\\name", "odd\\name"});  // a Linux name may hold one
#endif
  for (const auto& [path, name] : rows) EXPECT_EQ(FileNameOfPath(path), name) << path;
}

TEST(PageReservation, GivesZeroedWritableBlocksAlignedTo64KiBOfWholeGranulesOnly) {
  for (std::size_t bytes : {65536u, 3 * 65536u, 16 * 65536u}) {
    auto* block = static_cast<unsigned char*>(ReservePages(bytes));
    ASSERT_NE(block, nullptr) << bytes;
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 65536, 0u);
    EXPECT_EQ(block[0] + block[bytes - 1], 0);
    std::memset(block, 0xA5, bytes);
    ReleasePages(block, bytes);
  }
  for (std::size_t bytes : {0u, 4096u, 65536u + 1}) EXPECT_EQ(ReservePages(bytes), nullptr);
  ReleasePages(nullptr, 65536);  // harmless
}

TEST(RecursiveLock, ItsHolderMayTakeItAgainWhileOtherThreadsWaitForEveryLevel) {
  RecursiveLock lock;
  const auto other_thread_gets_it = [&lock] {
    bool got_it = false;
    std::thread([&] {
      got_it = lock.try_lock();
      if (got_it) lock.unlock();
    }).join();
    return got_it;
  };
  lock.lock();
  ASSERT_TRUE(lock.try_lock());  // a target that logs while writing
  EXPECT_FALSE(other_thread_gets_it());
  lock.unlock();
  EXPECT_FALSE(other_thread_gets_it());  // one level released: still held
  lock.unlock();
  EXPECT_TRUE(other_thread_gets_it());
  // Counts stay exact under contention.
  int count = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        std::lock_guard<RecursiveLock> hold(lock), again(lock);
        ++count;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(count, 40000);
}

}  // namespace
}  // namespace platform
