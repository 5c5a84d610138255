// Tests for the random-number generator: its states, the seed rules, the
// fractions it draws and the ranges built on them.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstdlib>
#include <set>

#include "runtime/random.h"

namespace corvid {
namespace {

TEST(Random, StartsFromTheSameStateInEveryProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(std::exit(GetRandomSeed() == 4660 ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

TEST(Random, FirstStatesAndFractions) {
  SetRandomSeed(4660);
  for (Int state : {224942860, 539475828, 650989866, 1951098782, 1446483090}) {
    RandomUnitFloat();
    EXPECT_EQ(GetRandomSeed(), state);
    EXPECT_EQ(GetRandomSeed(), state);  // reading does not step
  }
  SetRandomSeed(4660);
  EXPECT_EQ(RandomUnitFloat(), 0.837977409362793f);
  SetRandomSeed(4660);
  EXPECT_EQ(RandomUnitDouble(), 0.4189887270692887);
  EXPECT_EQ(GetRandomSeed(), 539475828);
  SetRandomSeed(4660);
  EXPECT_EQ(RandomInt(1, 6), 3);
  // The state before 0x0FFFFFFF gives the largest Float, still below 1.
  SetRandomSeed(216706952);
  EXPECT_EQ(RandomUnitFloat(), 268435440.0f / 268435456.0f);
}

TEST(Random, SeedRules) {
  struct Row {
    Int seed, state;
  } rows[] = {
      {0, 4660}, {2147483647, 4660}, {-1, 4660},     {INT32_MIN, 4660},
      {-2, 2147483646}, {1, 1},    {-2147483647, 1}, {12345, 12345},
  };
  for (const Row& row : rows) {
    SetRandomSeed(row.seed);
    EXPECT_EQ(GetRandomSeed(), row.state) << row.seed;
  }
}

TEST(Random, RangesInEitherOrderReachBothBounds) {
  struct Row {
    Int x, y, low, high;
  } rows[] = {{1, 10, 1, 10}, {10, 1, 1, 10}, {-3, -7, -7, -3}, {3, 3, 3, 3}};
  SetRandomSeed(99);
  for (const Row& row : rows) {
    std::set<Int> seen;
    for (int i = 0; i < 2000; ++i) seen.insert(RandomInt(row.x, row.y));
    EXPECT_EQ(*seen.begin(), row.low);
    EXPECT_EQ(*seen.rbegin(), row.high);
    EXPECT_EQ(seen.size(), static_cast<size_t>(row.high - row.low + 1));
  }
  // Bounds further apart than an Int can count.
  bool negative = false, positive = false;
  for (int i = 0; i < 100; ++i) {
    Int v = RandomInt(INT32_MAX, INT32_MIN);
    (v < 0 ? negative : positive) = true;
    EXPECT_GE(RandomInt(0, INT32_MAX), 0);
  }
  EXPECT_TRUE(negative && positive);

  // Equal bounds still take their two steps.
  SetRandomSeed(7);
  RandomUnitFloat();
  RandomUnitFloat();
  Int twoSteps = GetRandomSeed();
  SetRandomSeed(7);
  EXPECT_EQ(RandomInt(3, 3), 3);
  EXPECT_EQ(GetRandomSeed(), twoSteps);
  SetRandomSeed(7);
  EXPECT_EQ(RandomReal(5, 5), 5);
  EXPECT_EQ(GetRandomSeed(), twoSteps);

  // The upper bound is never drawn, not even where rounding would reach
  // it (1e16 + 2 is the next Double after 1e16).
  struct RealRow {
    Double x, y, low, high;
  } reals[] = {{2, -3, -3, 2}, {1e16, 1e16 + 2, 1e16, 1e16 + 2}, {-DBL_MAX, DBL_MAX, -DBL_MAX, DBL_MAX}};
  for (const RealRow& row : reals) {
    for (int i = 0; i < 2000; ++i) {
      Double r = RandomReal(row.x, row.y);
      EXPECT_TRUE(r >= row.low && r < row.high) << r;
    }
  }
  // Bounds whose distance a Double cannot hold still spread.
  negative = positive = false;
  for (int i = 0; i < 100; ++i) (RandomReal(DBL_MAX, -DBL_MAX) < 0 ? negative : positive) = true;
  EXPECT_TRUE(negative && positive);
  for (int i = 0; i < 2000; ++i) EXPECT_LT(RandomUnitFloat(), 1.0f);
}

}  // namespace
}  // namespace corvid
