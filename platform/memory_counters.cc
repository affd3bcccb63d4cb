#include "platform/memory_counters.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/internal/system_heap.h"

namespace platform {
namespace {

// Plain zero-initialised atomics: counting must work before any constructor has run, since
// allocations can happen during static initialisation.
std::atomic<std::uint64_t> g_peak_bytes_in_use{0};
std::atomic<std::uint64_t> g_allocations_at_peak{0};
std::atomic<std::uint64_t> g_bytes_allocated{0};
std::atomic<std::uint64_t> g_allocations{0};
std::atomic<std::uint64_t> g_bytes_freed{0};
std::atomic<std::uint64_t> g_frees{0};

void AddTo(std::atomic<std::uint64_t>& counter, std::uint64_t amount) {
  std::uint64_t seen = counter.load(std::memory_order_relaxed);
  while (!counter.compare_exchange_weak(seen, seen + amount, std::memory_order_relaxed)) {
  }
}

void CountAllocation(std::uint64_t size) {
  AddTo(g_bytes_allocated, size);
  AddTo(g_allocations, 1);
  // Blocks that other code allocated can be freed through us, so freed bytes may exceed the
  // allocated ones; the signed difference keeps such a stray free from posing as a huge peak.
  auto in_use = static_cast<std::int64_t>(g_bytes_allocated.load(std::memory_order_relaxed) -
                                          g_bytes_freed.load(std::memory_order_relaxed));
  if (in_use <= 0) return;
  std::uint64_t peak = g_peak_bytes_in_use.load(std::memory_order_relaxed);
  while (static_cast<std::uint64_t>(in_use) > peak) {
    if (g_peak_bytes_in_use.compare_exchange_weak(peak, static_cast<std::uint64_t>(in_use),
                                                  std::memory_order_relaxed)) {
      g_allocations_at_peak.store(
          g_allocations.load(std::memory_order_relaxed) - g_frees.load(std::memory_order_relaxed),
          std::memory_order_relaxed);
      break;
    }
  }
}

void CountFree(std::uint64_t size) {
  AddTo(g_bytes_freed, size);
  AddTo(g_frees, 1);
}

}  // namespace

void* Allocate(std::size_t bytes) {
  void* block = std::malloc(bytes);
  if (block != nullptr) CountAllocation(internal::HeapBlockSize(block));
  return block;
}

void* AllocateAligned(std::size_t bytes, std::size_t alignment) {
  if (alignment < sizeof(void*)) alignment = sizeof(void*);
  void* block = internal::AllocateAlignedHeapBlock(bytes == 0 ? 1 : bytes, alignment);
  if (block == nullptr) return nullptr;
  CountAllocation(internal::AlignedHeapBlockSize(block, alignment));
  return block;
}

void FreeAligned(void* block, std::size_t alignment) {
  if (block == nullptr) return;
  if (alignment < sizeof(void*)) alignment = sizeof(void*);
  CountFree(internal::AlignedHeapBlockSize(block, alignment));
  internal::FreeAlignedHeapBlock(block);
}

void Free(void* block) {
  if (block == nullptr) return;
  CountFree(internal::HeapBlockSize(block));
  std::free(block);
}

void* Reallocate(void* block, std::size_t bytes) {
  if (block == nullptr) return Allocate(bytes);
  std::uint64_t old_size = internal::HeapBlockSize(block);
  void* moved = std::realloc(block, bytes);
  // realloc(p, 0) may free p and return nullptr; the block is then gone all the same.
  if (moved == nullptr) {
    if (bytes == 0) CountFree(old_size);
    return nullptr;
  }
  CountFree(old_size);
  CountAllocation(internal::HeapBlockSize(moved));
  return moved;
}

char* DuplicateText(const char* text) {
  if (text == nullptr) return nullptr;
  std::size_t length = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(Allocate(length));
  if (copy != nullptr) std::memcpy(copy, text, length);
  return copy;
}

std::size_t UsableSize(const void* block) {
  return block == nullptr ? 0 : internal::HeapBlockSize(const_cast<void*>(block));
}

MemoryCounters ReadMemoryCounters() {
  MemoryCounters counters;
  counters.peak_bytes_in_use = g_peak_bytes_in_use.load();
  counters.allocations_at_peak = g_allocations_at_peak.load();
  counters.bytes_allocated = g_bytes_allocated.load();
  counters.allocations = g_allocations.load();
  counters.bytes_freed = g_bytes_freed.load();
  counters.frees = g_frees.load();
  return counters;
}

}  // namespace platform
