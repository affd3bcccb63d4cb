#include "binding/internal/small_block_allocator.h"

#include <cstdlib>
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

SmallBlockAllocator::SmallBlockAllocator() {
  for (std::size_t c = 0; c < kSizeClassCount; ++c) {
    std::size_t slot_size = (c + 1) * kSizeClassStep;
    InitArea(built_in_areas_[c], built_in_ + c * kBuiltInAreaBytes, slot_size, kBuiltInAreaBytes);
    classes_[c].next_available = &built_in_areas_[c];
    classes_[c].next_page = nullptr;
  }
  for (std::size_t c = kSizeClassCount; c < kClassCount; ++c) {
    classes_[c].next_available = nullptr;
    classes_[c].next_page = nullptr;
  }
}

SmallBlockAllocator::~SmallBlockAllocator() {
  PageProvider& provider = PageProvider::Instance();
  for (SlotArea& size_class : classes_) {
    for (SlotArea* page = size_class.next_page; page != nullptr;) {
      SlotArea* next = page->next_page;
      provider.GivePage(page);
      page = next;
    }
  }
}

SlotArea* SmallBlockAllocator::AddPage(std::size_t size_class) {
  void* memory = PageProvider::Instance().TakePage();
  // Out of address space: nothing sensible is left to do for a tree under construction.
  if (memory == nullptr) std::abort();
  auto* page = new (memory) SlotArea;
  InitArea(*page, static_cast<std::byte*>(memory) + kPageHeaderBytes, SlotSizeOf(size_class),
           kPageBytes - kPageHeaderBytes);
  page->next_page = classes_[size_class].next_page;
  classes_[size_class].next_page = page;
  page->next_available = classes_[size_class].next_available;
  classes_[size_class].next_available = page;
  return page;
}

std::size_t SmallBlockAllocator::PageCount() const {
  std::size_t count = 0;
  for (const SlotArea& size_class : classes_) {
    for (const SlotArea* page = size_class.next_page; page != nullptr; page = page->next_page) {
      ++count;
    }
  }
  return count;
}

}  // namespace binding::internal
