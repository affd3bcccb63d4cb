#include "binding/internal/small_block_allocator.h"

#include <cstdint>
#include <set>
#include <vector>

#include "binding/internal/page_provider.h"
#include "gtest/gtest.h"

namespace binding::internal {
namespace {

std::uintptr_t PageOf(const void* block) {
  return reinterpret_cast<std::uintptr_t>(block) & ~std::uintptr_t{4095};
}

TEST(SmallBlockAllocator, ServesTheBuiltInAreaBeforeTakingPages) {
  SmallBlockAllocator allocator;
  std::vector<void*> blocks;
  for (int i = 0; i < 2; ++i) blocks.push_back(allocator.Allocate(72));  // 144 / 72
  for (int i = 0; i < 36; ++i) blocks.push_back(allocator.Allocate(4));  // 144 / 4
  EXPECT_EQ(allocator.PageCount(), 0u);
  blocks.push_back(allocator.Allocate(72));
  EXPECT_EQ(allocator.PageCount(), 1u);
  blocks.push_back(allocator.Allocate(3));  // rounds up to the 4-byte class
  EXPECT_EQ(allocator.PageCount(), 2u);
}

TEST(SmallBlockAllocator, HandsOutDistinctAlignedBlocksAcrossPages) {
  SmallBlockAllocator allocator;
  std::set<std::uintptr_t> addresses;
  std::set<std::uintptr_t> pages;
  for (int i = 0; i < 1000; ++i) {
    void* block = allocator.Allocate(24);
    ASSERT_EQ(reinterpret_cast<std::uintptr_t>(block) % 8, 0u);
    addresses.insert(reinterpret_cast<std::uintptr_t>(block));
    // The built-in area lives inside the allocator, wherever the stack put
    // it (it may straddle a page boundary), so only the taken pages count.
    if (i >= 6) pages.insert(PageOf(block));
  }
  EXPECT_EQ(addresses.size(), 1000u);
  // 6 blocks in the built-in area, then 169 per page behind the page header.
  EXPECT_EQ(allocator.PageCount(), 6u);
  EXPECT_EQ(pages.size(), 6u);
}

TEST(SmallBlockAllocator, ReusesFreedBlocksFirstAndLastInFirstOut) {
  SmallBlockAllocator allocator;
  std::vector<void*> blocks;
  for (int i = 0; i < 400; ++i) blocks.push_back(allocator.Allocate(16));
  ASSERT_EQ(allocator.PageCount(), 2u);
  // A block of a full page, then one of the built-in area, then several of one page.
  allocator.Free(blocks[20], 16);
  EXPECT_EQ(allocator.Allocate(16), blocks[20]);
  allocator.Free(blocks[3], 16);
  EXPECT_EQ(allocator.Allocate(16), blocks[3]);
  for (int i : {250, 251, 252}) allocator.Free(blocks[i], 16);
  for (int i : {252, 251, 250}) EXPECT_EQ(allocator.Allocate(16), blocks[i]);
  EXPECT_EQ(allocator.PageCount(), 2u);
}

TEST(SmallBlockAllocator, KeepsElementArraysUpTo1024BytesOnItsPages) {
  SmallBlockAllocator allocator;
  std::vector<void*> blocks;
  for (int i = 0; i < 4; ++i) blocks.push_back(allocator.Allocate(1000));
  EXPECT_EQ(allocator.PageCount(), 2u);  // three 1024-byte slots fit a page
  EXPECT_EQ(PageOf(blocks[0]), PageOf(blocks[2]));
  EXPECT_NE(PageOf(blocks[0]), PageOf(blocks[3]));
  allocator.Free(blocks[1], 1000);
  EXPECT_EQ(allocator.Allocate(1024), blocks[1]);
  void* medium = allocator.Allocate(73);  // the 128-byte class
  allocator.Free(medium, 73);
  EXPECT_EQ(allocator.Allocate(128), medium);
  EXPECT_EQ(allocator.PageCount(), 3u);
}

TEST(PageProvider, KeepsPagesOfDestroyedAllocatorsForTheNextOne) {
  PageProvider& provider = PageProvider::Instance();
  std::set<std::uintptr_t> first_pages;
  {
    SmallBlockAllocator allocator;
    for (int i = 0; i < 3000; ++i) first_pages.insert(PageOf(allocator.Allocate(8)));
  }
  std::size_t reserved = provider.ReservedPageCount();
  std::size_t spare = provider.SparePageCount();
  EXPECT_GE(spare, first_pages.size() - 1);
  {
    SmallBlockAllocator allocator;
    void* block = nullptr;
    for (int i = 0; i < 100; ++i) block = allocator.Allocate(8);
    EXPECT_EQ(first_pages.count(PageOf(block)), 1u);
    EXPECT_EQ(provider.SparePageCount(), spare - 1);
  }
  EXPECT_EQ(provider.ReservedPageCount(), reserved);
  EXPECT_EQ(reserved % 16, 0u);
}

}  // namespace
}  // namespace binding::internal
