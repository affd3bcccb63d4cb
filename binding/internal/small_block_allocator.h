// Size-class allocator for the small payload blocks of one value tree (vectors, maps, enum pairs,
// short interned strings).
#ifndef BINDING_INTERNAL_SMALL_BLOCK_ALLOCATOR_H_
#define BINDING_INTERNAL_SMALL_BLOCK_ALLOCATOR_H_

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "binding/internal/page_provider.h"

namespace binding::internal {

inline constexpr std::size_t kSizeClassStep = 4;
inline constexpr std::size_t kSizeClassCount = 18;
inline constexpr std::size_t kLargestSmallBlock = kSizeClassStep * kSizeClassCount;  // 72
inline constexpr std::size_t kBuiltInAreaBytes = 144;
// Element arrays of collections and structures outgrow the small classes quickly; four classes of
// 128 to 1024 bytes keep them on the tree's pages too instead of the general heap.
inline constexpr std::size_t kMediumClassCount = 4;
inline constexpr std::size_t kSmallestMediumBlock = 128;
inline constexpr std::size_t kLargestPooledBlock = kSmallestMediumBlock << (kMediumClassCount - 1);
inline constexpr std::size_t kClassCount = kSizeClassCount + kMediumClassCount;

// A run of equal slots: a class's built-in area or one page. Free slots are chained through
// 16-bit slot indices stored in the slots themselves; slots never handed out lie past `bump`.
struct SlotArea {
  SlotArea* next_available;  // areas of the class with a free slot
  SlotArea* next_page;       // every page of the allocator, to give them back
  std::byte* slots;
  std::uint16_t slot_size;
  std::uint16_t capacity;
  std::uint16_t bump;
  std::uint16_t free_head;
  std::uint16_t used;
  bool available;
};

// Blocks of 1 to 72 bytes in 18 classes of 4-byte steps, and of 73 to 1024 bytes in four
// power-of-two classes. Each small class starts with a 144-byte area inside the allocator, set up
// when the class is first used (a small tree touches few classes); every class then takes
// 4096-byte pages from the process-wide PageProvider; a freed block returns to the area holding it
// (for a page, found by rounding its address down to 4096). Blocks are aligned to 8 bytes when
// their class size is a multiple of 8. Not thread-safe: one tree, one thread at a time. Pages go
// back to the provider, all at once, when the allocator is destroyed or DetachPages is called.
class SmallBlockAllocator {
 public:
  SmallBlockAllocator() = default;
  SmallBlockAllocator(const SmallBlockAllocator&) = delete;
  SmallBlockAllocator& operator=(const SmallBlockAllocator&) = delete;
  ~SmallBlockAllocator();

  // `bytes` is 1 to kLargestPooledBlock. Never returns nullptr: an exhausted system is fatal.
  void* Allocate(std::size_t bytes) {
    SlotArea*& available = available_[ClassOf(bytes)];
    SlotArea* area = available;
    if (area == nullptr) area = AddArea(ClassOf(bytes));
    std::byte* slot;
    if (area->free_head != kNoSlot) {
      slot = area->slots + static_cast<std::size_t>(area->free_head) * area->slot_size;
      std::memcpy(&area->free_head, slot, sizeof(std::uint16_t));
    } else {
      slot = area->slots + static_cast<std::size_t>(area->bump++) * area->slot_size;
    }
    ++area->used;
    if (area->free_head == kNoSlot && area->bump == area->capacity) {
      available = area->next_available;
      area->available = false;
    }
    return slot;
  }

  // `bytes` must be the size the block was allocated with.
  void Free(void* block, std::size_t bytes) {
    std::size_t size_class = ClassOf(bytes);
    auto* slot = static_cast<std::byte*>(block);
    SlotArea* area;
    if (slot >= built_in_ && slot < built_in_ + sizeof(built_in_)) {
      area = &built_in_areas_[size_class];
    } else {
      area = reinterpret_cast<SlotArea*>(reinterpret_cast<std::uintptr_t>(block) &
                                         ~static_cast<std::uintptr_t>(kPageMask));
    }
    auto index = static_cast<std::uint16_t>((slot - area->slots) / area->slot_size);
    std::memcpy(slot, &area->free_head, sizeof(std::uint16_t));
    area->free_head = index;
    --area->used;
    if (!area->available) {
      area->available = true;
      area->next_available = available_[size_class];
      available_[size_class] = area;
    }
  }

  // Pages currently held (tests and statistics).
  std::size_t PageCount() const;

  // Gives up every page, linked for PageProvider::GivePages; the blocks on them are gone. Lets the
  // owner hand them back in one step with pages of its own.
  PageChain DetachPages();

 private:
  static constexpr std::uint16_t kNoSlot = 0xFFFF;
  static constexpr std::size_t kPageMask = 4096 - 1;

  static std::size_t ClassOf(std::size_t bytes) {
    if (bytes <= kLargestSmallBlock) return (bytes - 1) / kSizeClassStep;
    return kSizeClassCount + static_cast<std::size_t>(std::bit_width(bytes - 1)) -
           static_cast<std::size_t>(std::bit_width(kSmallestMediumBlock - 1));
  }
  static std::size_t SlotSizeOf(std::size_t size_class) {
    return size_class < kSizeClassCount ? (size_class + 1) * kSizeClassStep
                                        : kSmallestMediumBlock << (size_class - kSizeClassCount);
  }
  // An area with room for the class: its built-in one on first use, then a new page.
  SlotArea* AddArea(std::size_t size_class);

  // The head of each class's chain of areas with room.
  SlotArea* available_[kClassCount] = {};
  SlotArea* pages_ = nullptr;  // every page taken, chained through next_page
  // Bit c: small class c has not used its built-in area yet.
  std::uint32_t built_in_unused_ = (std::uint32_t{1} << kSizeClassCount) - 1;
  SlotArea built_in_areas_[kSizeClassCount];
  alignas(8) std::byte built_in_[kSizeClassCount * kBuiltInAreaBytes];
};

}  // namespace binding::internal

#endif  // BINDING_INTERNAL_SMALL_BLOCK_ALLOCATOR_H_
