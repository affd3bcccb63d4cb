#include "binding/internal/small_block_allocator.h"

#include <new>

#include "binding/internal/page_provider.h"

namespace binding::internal {
namespace {

// Slots start behind the page's own header, on an 8-byte boundary.
constexpr std::size_t kPageHeaderBytes = (sizeof(SlotArea) + 7) & ~std::size_t{7};
static_assert(kPageHeaderBytes < kPageBytes);

void InitArea(SlotArea& area, std::byte* slots, std::size_t slot_size, std::size_t bytes) {
  area.next_available = nullptr;
  area.next_page = nullptr;
  area.slots = slots;
  area.slot_size = static_cast<std::uint16_t>(slot_size);
  area.capacity = static_cast<std::uint16_t>(bytes / slot_size);
  area.bump = 0;
  area.free_head = 0xFFFF;
  area.used = 0;
  area.available = true;
}

}  // namespace

SmallBlockAllocator::~SmallBlockAllocator() { PageProvider::Instance().GivePages(DetachPages()); }

PageChain SmallBlockAllocator::DetachPages() {
  PageChain chain;
  for (SlotArea* page = pages_; page != nullptr;) {
    SlotArea* next = page->next_page;
    chain.Push(page);
    page = next;
  }
  pages_ = nullptr;
  return chain;
}

SlotArea* SmallBlockAllocator::AddArea(std::size_t size_class) {
  SlotArea* area;
  const std::uint32_t bit = std::uint32_t{1} << size_class;
  if (size_class < kSizeClassCount && (built_in_unused_ & bit) != 0) {
    built_in_unused_ &= ~bit;
    area = &built_in_areas_[size_class];
    InitArea(*area, built_in_ + size_class * kBuiltInAreaBytes, SlotSizeOf(size_class),
             kBuiltInAreaBytes);
  } else {
    void* memory = PageProvider::Instance().TakePage();
    // Out of address space: the same failure as the general heap's (see the header).
    if (memory == nullptr) throw std::bad_alloc();
    area = new (memory) SlotArea;
    InitArea(*area, static_cast<std::byte*>(memory) + kPageHeaderBytes, SlotSizeOf(size_class),
             kPageBytes - kPageHeaderBytes);
    area->next_page = pages_;
    pages_ = area;
  }
  area->next_available = available_[size_class];
  available_[size_class] = area;
  return area;
}

std::size_t SmallBlockAllocator::PageCount() const {
  std::size_t count = 0;
  for (const SlotArea* page = pages_; page != nullptr; page = page->next_page) ++count;
  return count;
}

}  // namespace binding::internal
