// The parts of the counting operator new that need <new>, kept apart from the operators
// themselves (see counting_new.cc for why).
#ifndef PLATFORM_INTERNAL_COUNTING_NEW_SUPPORT_H_
#define PLATFORM_INTERNAL_COUNTING_NEW_SUPPORT_H_

#include <cstddef>

namespace platform::internal {

// Counting allocation with operator new's contract: a size of 0 gets a unique block, a failure
// runs the new-handler and retries, and without a handler throws std::bad_alloc, or returns
// nullptr when `or_null` is set. `alignment` 0 means the default alignment.
void* AllocateForNew(std::size_t bytes, std::size_t alignment, bool or_null = false);

// Counting free; nullptr is ignored. Blocks of the aligned forms of new go back through the
// aligned free with their alignment.
void FreeForDelete(void* block) noexcept;
void FreeForAlignedDelete(void* block, std::size_t alignment) noexcept;

}  // namespace platform::internal

#endif  // PLATFORM_INTERNAL_COUNTING_NEW_SUPPORT_H_
