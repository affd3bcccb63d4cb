// Counting allocation functions for the plug-in's own heap, and the six counters the host reads
// as the plug-in's memory statistics.
#ifndef PLATFORM_MEMORY_COUNTERS_H_
#define PLATFORM_MEMORY_COUNTERS_H_

#include <cstddef>
#include <cstdint>

namespace platform {

// A snapshot of the counters. Each is read atomically on its own; the six together are not one
// consistent moment when other threads allocate meanwhile.
struct MemoryCounters {
  std::uint64_t peak_bytes_in_use = 0;
  std::uint64_t allocations_at_peak = 0;  // allocations outstanding when the peak was reached
  std::uint64_t bytes_allocated = 0;      // usable sizes of all blocks handed out
  std::uint64_t allocations = 0;
  std::uint64_t bytes_freed = 0;  // usable sizes of all blocks given back
  std::uint64_t frees = 0;
};

// malloc, free, realloc, strdup and malloc_usable_size with counting. Sizes are the usable sizes
// of the blocks, not the sizes asked for. Failures return nullptr and count nothing. Blocks from
// any of these functions but AllocateAligned may be given back with Free (or with free,
// uncounted). Any thread.
void* Allocate(std::size_t bytes);
// `alignment` is a power of two; for over-aligned operator new. The block goes back through
// FreeAligned with the same alignment: on Windows aligned blocks are not ordinary heap blocks.
void* AllocateAligned(std::size_t bytes, std::size_t alignment);
void FreeAligned(void* block, std::size_t alignment);
void Free(void* block);
// Counts a free of the old block and an allocation of the new one. When it fails, the old
// block stays valid and nothing is counted.
void* Reallocate(void* block, std::size_t bytes);
char* DuplicateText(const char* text);
std::size_t UsableSize(const void* block);

MemoryCounters ReadMemoryCounters();

}  // namespace platform

#endif  // PLATFORM_MEMORY_COUNTERS_H_
