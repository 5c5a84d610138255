#include "interpreter/internal/tape.h"

#include <gtest/gtest.h>

#include <map>
#include <new>
#include <random>

namespace corvid {
namespace {

TEST(Tape, StartsWithSixtyFourZeroCells) {
  Tape tape;
  EXPECT_EQ(tape.Extent(), 64);
  EXPECT_EQ(tape.Origin(), 0);
  for (Long p = 0; p < 64; ++p) EXPECT_EQ(tape.Read(p), 0);
  EXPECT_EQ(tape.Extent(), 64);
}

TEST(Tape, GrowsRightJustToTheAccessedCell) {
  Tape tape;
  tape.Write(64, 1);
  EXPECT_EQ(tape.Extent(), 65);
  EXPECT_EQ(tape.Read(64), 1);
  EXPECT_EQ(tape.Read(70), 0);
  EXPECT_EQ(tape.Extent(), 71);
}

// A run that stopped at the failure (one running ahead of the load) meets
// it again later: the tape must still say which cells it has. (In a 32-bit
// process the size of this tape does not fit a size_t.)
TEST(Tape, StorageThatCannotGrowLeavesTheTapeAsItWas) {
#ifdef CORVID_SANITIZED
  GTEST_SKIP() << "the sanitizers stop the process at an allocation this large";
#else
  Tape tape;
  tape.Write(-3, 9);
  EXPECT_THROW(tape.Reach(-3, Long{1} << 60), std::bad_alloc);
  EXPECT_EQ(tape.Origin(), 3);
  EXPECT_EQ(tape.Extent(), 64);
  EXPECT_EQ(tape.Read(-3), 9);
#endif
}

TEST(Tape, GrowsLeftKeepingEveryCellInPlace) {
  Tape tape;
  tape.Write(0, 7);
  tape.Write(-1, 1);
  EXPECT_EQ(tape.Origin(), 1);
  EXPECT_EQ(tape.Read(0), 7);
  tape.Write(-4, 9);
  EXPECT_EQ(tape.Origin(), 4);
  EXPECT_EQ(tape.Read(-4), 9);
  EXPECT_EQ(tape.Read(-3), 0);
  EXPECT_EQ(tape.Read(-2), 0);
  EXPECT_EQ(tape.Read(-1), 1);
  EXPECT_EQ(tape.Read(0), 7);
  EXPECT_EQ(tape.Extent(), 64);
}

TEST(Tape, FarPositionsInBothDirections) {
  Tape tape;
  tape.Write(-(1 << 22), 5);
  tape.Write(1 << 20, 6);
  EXPECT_EQ(tape.Origin(), 1 << 22);
  EXPECT_EQ(tape.Extent(), (1 << 20) + 1);
  EXPECT_EQ(tape.Read(-(1 << 22)), 5);
  EXPECT_EQ(tape.Read(1 << 20), 6);
  EXPECT_EQ(tape.Read(0), 0);
}

// Every written cell keeps its value; every other cell reads 0, whatever
// order the tape grew in.
TEST(Tape, AgreesWithAMapUnderRandomWalks) {
  std::mt19937 random(7);
  Tape tape;
  std::map<Long, int> model;
  Long lowest = 0, highest = 63;
  Long pos = 36;
  for (int step = 0; step < 200000; ++step) {
    pos += static_cast<Long>(random() % 7) - 3;
    if (random() % 50 == 0) pos += static_cast<Long>(random() % 2001) - 1000;
    if (random() % 2) {
      auto value = static_cast<std::uint8_t>(random());
      tape.Write(pos, value);
      model[pos] = value;
    } else {
      auto it = model.find(pos);
      ASSERT_EQ(tape.Read(pos), it == model.end() ? 0 : it->second) << "at " << pos;
    }
    lowest = std::min(lowest, pos);
    highest = std::max(highest, pos);
    ASSERT_EQ(tape.Origin(), -lowest);
    ASSERT_EQ(tape.Extent(), highest + 1);
  }
  for (const auto& [p, value] : model) ASSERT_EQ(tape.Read(p), value);
}

}  // namespace
}  // namespace corvid
