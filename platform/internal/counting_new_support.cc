#include "platform/internal/counting_new_support.h"

#include <new>

#include "platform/memory_counters.h"

namespace platform::internal {

void* AllocateForNew(std::size_t bytes, std::size_t alignment, bool or_null) {
  if (bytes == 0) bytes = 1;
  for (;;) {
    void* block = alignment == 0 ? Allocate(bytes) : AllocateAligned(bytes, alignment);
    if (block != nullptr) return block;
    std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) {
      if (or_null) return nullptr;
      throw std::bad_alloc();
    }
    if (!or_null) {
      handler();
      continue;
    }
    // A handler may throw to give up; the nothrow forms turn that into nullptr.
    try {
      handler();
    } catch (...) {
      return nullptr;
    }
  }
}

void FreeForDelete(void* block) noexcept { Free(block); }

void FreeForAlignedDelete(void* block, std::size_t alignment) noexcept {
  FreeAligned(block, alignment);
}

}  // namespace platform::internal
