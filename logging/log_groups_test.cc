// Group registration changes process-wide state for good, so these tests have a program of
// their own, and the registrations happen in a single test.
#include "logging/log_groups.h"

#include <string>

#include "gtest/gtest.h"

namespace logging {
namespace {

TEST(LogGroups, NamesThePredefinedBitsAndMarksUnnamedOnes) {
  EXPECT_EQ(GroupNames(0x41), "DBG;NET");
  EXPECT_EQ(GroupNames(0xFF), "DBG;GEN;XTR;PRF;MEM;DSK;NET;TST");
  EXPECT_EQ(GroupNames(0), "");
  EXPECT_EQ(GroupNames(0x8000000000000001u), "DBG;???");
}

TEST(LogGroups, RegistersUnknownNamesAtTheNextBitUntilAllSixtyFourAreNamed) {
  EXPECT_EQ(GroupMask("DBG"), 1u);
  EXPECT_EQ(GroupMask("NETWORK"), 64u);
  EXPECT_EQ(GroupMask("AUTH"), 256u);
  EXPECT_EQ(GroupMask("AUT"), 256u);
  EXPECT_EQ(GroupMask("CFG"), 512u);
  EXPECT_EQ(GroupMask(""), 0u);
  EXPECT_EQ(GroupNames(256 | 512 | 1), "DBG;AUT;CFG");

  // Bits 10 to 63 are still free; once they are named, unknown names get no bit.
  std::uint64_t last = 0;
  for (int i = 10; i < 64; ++i) {
    std::string name = "G" + std::to_string(i);
    last = GroupMask(name);
  }
  EXPECT_EQ(last, 0x8000000000000000u);
  EXPECT_EQ(GroupMask("ONE"), 0u);
  EXPECT_EQ(GroupMask("ONE"), 0u);
  EXPECT_EQ(GroupMask("G63"), 0x8000000000000000u);
  EXPECT_EQ(GroupNames(0xC000000000000000u), "G62;G63");
}

}  // namespace
}  // namespace logging
