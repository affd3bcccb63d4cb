// The C runtime's heap as the counting functions need it: the usable size of a block, and
// over-aligned blocks, which Windows keeps apart from ordinary ones.
#ifndef PLATFORM_INTERNAL_SYSTEM_HEAP_H_
#define PLATFORM_INTERNAL_SYSTEM_HEAP_H_

#include <cstddef>

namespace platform::internal {

// The usable size of a block from malloc or realloc; `block` is not nullptr.
std::size_t HeapBlockSize(void* block);

// A block aligned to `alignment` (a power of two, at least the size of a pointer), nullptr on
// failure. Give it back with FreeAlignedHeapBlock and the same alignment.
void* AllocateAlignedHeapBlock(std::size_t bytes, std::size_t alignment);
std::size_t AlignedHeapBlockSize(void* block, std::size_t alignment);
void FreeAlignedHeapBlock(void* block);

}  // namespace platform::internal

#endif  // PLATFORM_INTERNAL_SYSTEM_HEAP_H_
