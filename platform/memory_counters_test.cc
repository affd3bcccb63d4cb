#include "platform/memory_counters.h"

#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "gtest/gtest.h"

namespace platform {
namespace {

// The counters are process-wide and only grow, so every test looks at differences.
MemoryCounters Difference(const MemoryCounters& after, const MemoryCounters& before) {
  return {after.peak_bytes_in_use - before.peak_bytes_in_use,
          after.allocations_at_peak - before.allocations_at_peak,
          after.bytes_allocated - before.bytes_allocated,
          after.allocations - before.allocations,
          after.bytes_freed - before.bytes_freed,
          after.frees - before.frees};
}

// Each operation's change to the counters: bytes and count allocated, then freed.
std::vector<std::uint64_t> Change(const MemoryCounters& before) {
  const MemoryCounters d = Difference(ReadMemoryCounters(), before);
  return {d.bytes_allocated, d.allocations, d.bytes_freed, d.frees};
}

TEST(MemoryCounters, CountUsableSizesOfAllocationsReallocationsAndFrees) {
  MemoryCounters before = ReadMemoryCounters();
  void* block = Allocate(100);
  ASSERT_NE(block, nullptr);
  const std::size_t size = UsableSize(block);
  EXPECT_GE(size, 100u);
  EXPECT_EQ(Change(before), (std::vector<std::uint64_t>{size, 1, 0, 0}));

  // A reallocation is a free and an allocation.
  before = ReadMemoryCounters();
  void* grown = Reallocate(block, 4000);
  ASSERT_NE(grown, nullptr);
  const std::size_t new_size = UsableSize(grown);
  EXPECT_EQ(Change(before), (std::vector<std::uint64_t>{new_size, 1, size, 1}));

  before = ReadMemoryCounters();
  Free(grown);
  Free(nullptr);  // not a free
  EXPECT_EQ(Change(before), (std::vector<std::uint64_t>{0, 0, new_size, 1}));

  before = ReadMemoryCounters();
  char* copy = DuplicateText("ulix-auth");
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, "ulix-auth");
  EXPECT_EQ(Change(before), (std::vector<std::uint64_t>{UsableSize(copy), 1, 0, 0}));
  Free(copy);
  EXPECT_EQ(DuplicateText(nullptr), nullptr);

  // A reallocation to nothing gives the block back, whichever way the C library answers it.
  void* doomed = Allocate(64);
  const std::size_t doomed_size = UsableSize(doomed);
  before = ReadMemoryCounters();
  void* left = Reallocate(doomed, 0);
  const std::vector<std::uint64_t> change = Change(before);
  EXPECT_EQ(change[2], doomed_size);
  EXPECT_EQ(change[3], 1u);
  Free(left);
}

TEST(MemoryCounters, PeakRecordsTheHighestUseAndTheBlocksOutstandingThen) {
  // Far above anything the other tests keep, so this sets a new peak.
  constexpr std::size_t kLarge = 64 << 20;
  std::vector<void*> blocks = {Allocate(kLarge), Allocate(kLarge)};
  MemoryCounters at_peak = ReadMemoryCounters();
  for (void* block : blocks) Free(block);
  Free(Allocate(16));  // below the peak: leaves it alone
  MemoryCounters after = ReadMemoryCounters();

  EXPECT_EQ(at_peak.peak_bytes_in_use, at_peak.bytes_allocated - at_peak.bytes_freed);
  EXPECT_EQ(at_peak.allocations_at_peak, at_peak.allocations - at_peak.frees);
  EXPECT_EQ(after.peak_bytes_in_use, at_peak.peak_bytes_in_use);
  EXPECT_EQ(after.allocations_at_peak, at_peak.allocations_at_peak);
}

TEST(MemoryCounters, AStrayFreeOfAForeignBlockNeverInflatesThePeak) {
  MemoryCounters before = ReadMemoryCounters();
  // Freed through the counters but allocated elsewhere: freed bytes now exceed allocated ones.
  for (int i = 0; i < 4; ++i) Free(std::malloc(1 << 20));
  Free(Allocate(32));
  EXPECT_EQ(ReadMemoryCounters().peak_bytes_in_use, before.peak_bytes_in_use);
}

TEST(MemoryCounters, CountEveryOperationFromConcurrentThreads) {
  MemoryCounters before = ReadMemoryCounters();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 1000; ++i) Free(Allocate(24 + i % 200));
    });
  }
  for (std::thread& thread : threads) thread.join();
  MemoryCounters change = Difference(ReadMemoryCounters(), before);
  EXPECT_EQ(change.allocations, 4000u);
  EXPECT_EQ(change.frees, 4000u);
  EXPECT_EQ(change.bytes_allocated, change.bytes_freed);
}

TEST(MemoryCounters, AlignedAllocationsHonourTheAlignmentAndBalanceWhenFreed) {
  for (std::size_t alignment :
       {std::size_t{1}, std::size_t{16}, std::size_t{256}, std::size_t{4096}}) {
    SCOPED_TRACE(alignment);
    MemoryCounters before = ReadMemoryCounters();
    void* block = AllocateAligned(100, alignment);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignment, 0u);
    std::memset(block, 0x5A, 100);  // the whole size asked for is usable
    FreeAligned(block, alignment);
    FreeAligned(nullptr, alignment);  // not a free
    MemoryCounters change = Difference(ReadMemoryCounters(), before);
    EXPECT_EQ(change.allocations, 1u);
    EXPECT_EQ(change.frees, 1u);
    EXPECT_GE(change.bytes_allocated, 100u);
    EXPECT_EQ(change.bytes_freed, change.bytes_allocated);
  }
}

}  // namespace
}  // namespace platform
