#include "Plugins/zpk-be-ulix-auth/refresh_timing.h"

#include <cstdint>
#include <string>

#include "gtest/gtest.h"

namespace ulix_auth {
namespace {

TEST(MinimalStandardGenerator, FollowsTheKnownSequenceAndAvoidsTheZeroState) {
  // The 10 000th value of the sequence seeded with 1 is a published check value; its first two
  // are read by UniformUnit below.
  MinimalStandardGenerator check(1);
  std::uint32_t value = 0;
  for (int i = 0; i < 10000; ++i) value = check.Next();
  EXPECT_EQ(value, 399268537u);
  // Seeds are reduced modulo 2^31 - 1; one that reduces to 0 starts from 1.
  EXPECT_EQ(MinimalStandardGenerator(2147483647u).Next(), 48271u);
  EXPECT_EQ(MinimalStandardGenerator(2147483648u).Next(), 48271u);
}

TEST(BackoffCap, DoublesFromTwoSecondsUpTo256) {
  const struct {
    std::uint32_t attempt;
    std::int64_t cap;
  } rows[] = {{0, 1000},   {1, 2000},   {2, 4000},    {3, 8000},    {7, 128000},
              {8, 256000}, {9, 256000}, {31, 256000}, {32, 256000}, {4000000000u, 256000}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.attempt);
    EXPECT_EQ(BackoffCapMilliseconds(row.attempt, 1000, 256000), row.cap);
  }
  // Base and maximum below 1 count as 1; 2^31 times a large base must not overflow.
  EXPECT_EQ(BackoffCapMilliseconds(3, 0, 1000), 8);
  EXPECT_EQ(BackoffCapMilliseconds(3, 1000, -5), 1);
  // The product just below a maximum it does not divide stays the product.
  EXPECT_EQ(BackoffCapMilliseconds(1, 500, 1001), 1000);
  EXPECT_EQ(BackoffCapMilliseconds(40, 1, INT64_MAX), 2147483648);
  EXPECT_EQ(BackoffCapMilliseconds(31, INT64_MAX / 2, INT64_MAX), INT64_MAX);
}

TEST(UniformDraws, StayInTheirRangesAndReachBothEnds) {
  MinimalStandardGenerator generator(1);
  // Draws 48271 and 182605794: (48270 + 182605793 * 2147483646) / 2147483646^2.
  EXPECT_DOUBLE_EQ(UniformUnit(generator), 0.08503244871743366);
  bool saw_zero = false, saw_cap = false;
  for (int i = 0; i < 20000; ++i) {
    const std::int64_t drawn = UniformUpTo(generator, 3);
    ASSERT_TRUE(drawn >= 0 && drawn <= 3) << drawn;
    saw_zero |= drawn == 0;
    saw_cap |= drawn == 3;
    const double unit = UniformUnit(generator);
    ASSERT_TRUE(unit >= 0.0 && unit < 1.0) << unit;
    ASSERT_LE(BackoffMilliseconds(1, 1000, 256000, generator), 2000);
  }
  EXPECT_TRUE(saw_zero && saw_cap);
  EXPECT_EQ(UniformUpTo(generator, 0), 0);
}

TEST(RefreshDelaySeconds, SpreadsOverTheMinuteBeforeTheMarginAndFloorsShortLifetimes) {
  const struct {
    double refresh_delay, unit, seconds;
    bool short_lifetime;
  } rows[] = {
      // "expires_in" 3600 gives a refresh delay of 3570: refresh in [3510, 3570).
      {3570.0, 0.0, 3510.0, false},
      {3570.0, 0.9999999, 3569.999994, false},
      // A lifetime between 30 and 90 s leaves part of the window in the past: "at once" then.
      {0.0, 0.25, -45.0, false},
      // Below 30 s, wrapped in unsigned arithmetic (the scenarios reach those) or computed signed.
      {4294967295.0, 0.7, 14.5, true},  // 29 s
      {-30.0, 0.7, 5.0, true},
      {-1.0, 0.7, 14.5, true},
  };
  for (const auto& row : rows) {
    bool short_lifetime = !row.short_lifetime;
    EXPECT_NEAR(RefreshDelaySeconds(row.refresh_delay, row.unit, &short_lifetime), row.seconds,
                1e-6)
        << row.refresh_delay << " " << row.unit;
    EXPECT_EQ(short_lifetime, row.short_lifetime) << row.refresh_delay;
  }
}

}  // namespace
}  // namespace ulix_auth
