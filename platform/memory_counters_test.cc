#include "platform/memory_counters.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"

namespace platform {
namespace {

// The counters are process-wide and only grow, so every test looks at changes since `before`:
// "<bytes allocated> <allocations> <bytes freed> <frees>"; the counters of now go to `now`.
std::string Change(const MemoryCounters& before, MemoryCounters* now = nullptr) {
  const MemoryCounters after = ReadMemoryCounters();
  const std::string change = std::to_string(after.bytes_allocated - before.bytes_allocated) + " " +
                             std::to_string(after.allocations - before.allocations) + " " +
                             std::to_string(after.bytes_freed - before.bytes_freed) + " " +
                             std::to_string(after.frees - before.frees);
  if (now != nullptr) *now = after;
  return change;
}

TEST(MemoryCounters, CountUsableSizesOfAllocationsReallocationsAndFrees) {
  MemoryCounters before = ReadMemoryCounters();
  void* block = Allocate(100);
  const std::size_t size = UsableSize(block);
  EXPECT_GE(size, 100u);
  EXPECT_EQ(Change(before, &before), std::to_string(size) + " 1 0 0");
  // A reallocation is a free and an allocation.
  void* grown = Reallocate(block, 4000);
  const std::size_t new_size = UsableSize(grown);
  EXPECT_EQ(Change(before, &before),
            std::to_string(new_size) + " 1 " + std::to_string(size) + " 1");
  Free(grown);
  Free(nullptr);  // not a free
  EXPECT_EQ(Change(before, &before), "0 0 " + std::to_string(new_size) + " 1");
  char* copy = DuplicateText("ulix-auth");
  EXPECT_STREQ(copy, "ulix-auth");
  EXPECT_EQ(Change(before), std::to_string(UsableSize(copy)) + " 1 0 0");
  Free(copy);
  EXPECT_EQ(DuplicateText(nullptr), nullptr);

  // A reallocation to nothing gives the block back, whichever way the C library answers it.
  void* doomed = Allocate(64);
  const std::size_t doomed_size = UsableSize(doomed);
  before = ReadMemoryCounters();
  void* left = Reallocate(doomed, 0);
  const std::string change = Change(before);
  EXPECT_TRUE(change.ends_with(" " + std::to_string(doomed_size) + " 1")) << change;
  Free(left);
}

TEST(MemoryCounters, PeakRecordsTheHighestUseAndTheBlocksOutstandingThenNeverAStrayFree) {
  // Far above anything the other tests keep, so this sets a new peak.
  constexpr std::size_t kLarge = 64 << 20;
  std::vector<void*> blocks = {Allocate(kLarge), Allocate(kLarge)};
  const MemoryCounters at_peak = ReadMemoryCounters();
  for (void* block : blocks) Free(block);
  Free(Allocate(16));  // below the peak: leaves it alone
  // Freed through the counters but allocated elsewhere: freed bytes now exceed allocated ones.
  for (int i = 0; i < 4; ++i) Free(std::malloc(1 << 20));
  Free(Allocate(32));
  const MemoryCounters after = ReadMemoryCounters();
  EXPECT_EQ(at_peak.peak_bytes_in_use, at_peak.bytes_allocated - at_peak.bytes_freed);
  EXPECT_EQ(at_peak.allocations_at_peak, at_peak.allocations - at_peak.frees);
  EXPECT_EQ(after.peak_bytes_in_use, at_peak.peak_bytes_in_use);
  EXPECT_EQ(after.allocations_at_peak, at_peak.allocations_at_peak);
}

TEST(MemoryCounters, CountEveryOperationFromConcurrentThreadsAndAlignedBlocksBalance) {
  MemoryCounters before = ReadMemoryCounters();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 1000; ++i) Free(Allocate(24 + i % 200));
    });
  }
  for (std::thread& thread : threads) thread.join();
  const std::string bytes =
      std::to_string(ReadMemoryCounters().bytes_allocated - before.bytes_allocated);
  EXPECT_EQ(Change(before), bytes + " 4000 " + bytes + " 4000");
  for (std::size_t alignment : {1u, 16u, 256u, 4096u}) {
    before = ReadMemoryCounters();
    void* block = AllocateAligned(100, alignment);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignment, 0u);
    std::memset(block, 0x5A, 100);  // the whole size asked for is usable
    const std::uint64_t bytes = ReadMemoryCounters().bytes_allocated - before.bytes_allocated;
    FreeAligned(block, alignment);
    FreeAligned(nullptr, alignment);  // not a free
    EXPECT_GE(bytes, 100u);
    EXPECT_EQ(Change(before), std::to_string(bytes) + " 1 " + std::to_string(bytes) + " 1");
  }
}

}  // namespace
}  // namespace platform
