#include "platform/internal/system_heap.h"

#include <malloc.h>

#include <cstdint>
#include <cstdlib>

namespace platform::internal {
namespace {

// The start of the heap block an aligned block was cut from, kept just in front of it.
void*& OriginOf(void* aligned) { return static_cast<void**>(aligned)[-1]; }

}  // namespace

std::size_t HeapBlockSize(void* block) { return _msize(block); }

// The system's C runtime (msvcrt.dll) has no size query for its own aligned blocks, so aligned
// blocks are cut from ordinary ones here, with the origin stored in front; their size is that
// of the whole heap block.
void* AllocateAlignedHeapBlock(std::size_t bytes, std::size_t alignment) {
  const std::size_t extra = alignment - 1 + sizeof(void*);
  if (bytes > SIZE_MAX - extra) return nullptr;
  void* origin = std::malloc(bytes + extra);
  if (origin == nullptr) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(origin) + sizeof(void*);
  void* aligned = reinterpret_cast<void*>((start + alignment - 1) & ~(alignment - 1));
  OriginOf(aligned) = origin;
  return aligned;
}

std::size_t AlignedHeapBlockSize(void* block, std::size_t) { return _msize(OriginOf(block)); }

void FreeAlignedHeapBlock(void* block) { std::free(OriginOf(block)); }

}  // namespace platform::internal
