#include "platform/page_reservation.h"

#include <cstdint>
#include <cstring>

#include "gtest/gtest.h"

namespace platform {
namespace {

TEST(PageReservation, GivesZeroedWritableBlocksAlignedTo64KiB) {
  for (std::size_t pages : {1u, 3u, 16u}) {
    SCOPED_TRACE(pages);
    std::size_t bytes = pages * 65536;
    auto* block = static_cast<unsigned char*>(ReservePages(bytes));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 65536, 0u);
    EXPECT_EQ(block[0], 0);
    EXPECT_EQ(block[bytes - 1], 0);
    std::memset(block, 0xA5, bytes);
    EXPECT_EQ(block[bytes / 2], 0xA5);
    ReleasePages(block, bytes);
  }
}

TEST(PageReservation, RefusesSizesThatAreNotWholeGranules) {
  EXPECT_EQ(ReservePages(0), nullptr);
  EXPECT_EQ(ReservePages(4096), nullptr);
  EXPECT_EQ(ReservePages(65536 + 1), nullptr);
  ReleasePages(nullptr, 65536);  // harmless
}

}  // namespace
}  // namespace platform
