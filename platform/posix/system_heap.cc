#include "platform/internal/system_heap.h"

#include <malloc.h>

#include <cstdlib>

namespace platform::internal {

std::size_t HeapBlockSize(void* block) { return malloc_usable_size(block); }

void* AllocateAlignedHeapBlock(std::size_t bytes, std::size_t alignment) {
  void* block = nullptr;
  if (posix_memalign(&block, alignment, bytes) != 0) return nullptr;
  return block;
}

// glibc keeps aligned blocks in the ordinary heap.
std::size_t AlignedHeapBlockSize(void* block, std::size_t) { return malloc_usable_size(block); }

void FreeAlignedHeapBlock(void* block) { std::free(block); }

}  // namespace platform::internal
