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
  MinimalStandardGenerator reduced(2147483647u);
  EXPECT_EQ(reduced.Next(), 48271u);
  MinimalStandardGenerator wrapped(2147483648u);
  EXPECT_EQ(wrapped.Next(), 48271u);
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

TEST(UniformUpTo, StaysWithinTheCapAndReachesBothEnds) {
  MinimalStandardGenerator generator(12345);
  bool saw_zero = false;
  bool saw_cap = false;
  for (int i = 0; i < 20000; ++i) {
    const std::int64_t drawn = UniformUpTo(generator, 3);
    ASSERT_GE(drawn, 0);
    ASSERT_LE(drawn, 3);
    saw_zero |= drawn == 0;
    saw_cap |= drawn == 3;
  }
  EXPECT_TRUE(saw_zero);
  EXPECT_TRUE(saw_cap);
  for (int i = 0; i < 20000; ++i) {
    ASSERT_LE(BackoffMilliseconds(1, 1000, 256000, generator), 2000);
  }
  EXPECT_EQ(UniformUpTo(generator, 0), 0);
}

TEST(UniformUnit, CombinesTwoDrawsIntoTheHalfOpenUnitInterval) {
  MinimalStandardGenerator generator(1);
  // Draws 48271 and 182605794: (48270 + 182605793 * 2147483646) / 2147483646^2.
  EXPECT_DOUBLE_EQ(UniformUnit(generator), 0.08503244871743366);
  for (int i = 0; i < 10000; ++i) {
    const double unit = UniformUnit(generator);
    ASSERT_GE(unit, 0.0);
    ASSERT_LT(unit, 1.0);
  }
}

TEST(RefreshDelaySeconds, SpreadsOverTheMinuteBeforeTheMarginAndFloorsShortLifetimes) {
  bool short_lifetime = true;
  // "expires_in" 3600 gives a refresh delay of 3570: refresh in [3510, 3570).
  EXPECT_DOUBLE_EQ(RefreshDelaySeconds(3570.0, 0.0, &short_lifetime), 3510.0);
  EXPECT_FALSE(short_lifetime);
  EXPECT_DOUBLE_EQ(RefreshDelaySeconds(3570.0, 0.5, &short_lifetime), 3540.0);
  EXPECT_LT(RefreshDelaySeconds(3570.0, 0.9999999, &short_lifetime), 3570.0);
  // A lifetime between 30 and 90 s leaves part of the window in the past: "at once" then.
  EXPECT_DOUBLE_EQ(RefreshDelaySeconds(0.0, 0.25, &short_lifetime), -45.0);
  EXPECT_FALSE(short_lifetime);

  const struct {
    double refresh_delay;
    double seconds;
  } short_rows[] = {
      {4294967266.0, 5.0},   // "expires_in" 0 or missing, wrapped in unsigned arithmetic
      {4294967276.0, 5.0},   // 10 s: half of it is 5
      {4294967295.0, 14.5},  // 29 s
      {-30.0, 5.0},          // the same lifetimes computed signed
      {-1.0, 14.5},
  };
  for (const auto& row : short_rows) {
    SCOPED_TRACE(std::to_string(row.refresh_delay));
    short_lifetime = false;
    EXPECT_DOUBLE_EQ(RefreshDelaySeconds(row.refresh_delay, 0.7, &short_lifetime), row.seconds);
    EXPECT_TRUE(short_lifetime);
  }
}

}  // namespace
}  // namespace ulix_auth
