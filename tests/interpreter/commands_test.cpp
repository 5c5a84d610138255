// The eleven commands, run through the interpreter as a process.
#include <gtest/gtest.h>

#include "tape_runner.h"

namespace corvid {
namespace {

using testing::ProgramOutput;
using testing::RunCode;
using testing::TempDir;

struct Case {
  const char* code;
  const char* input;
  const char* output;
};

void PrintTo(const Case& c, std::ostream* os) { *os << '"' << c.code << '"'; }

class Commands : public ::testing::TestWithParam<Case> {};

TEST_P(Commands, WriteWhatTheyShould) {
  TempDir dir;
  const Case& c = GetParam();
  // One more line for the final prompt.
  auto result = RunCode(dir, c.code, std::string(c.input) + "\n\n");
  EXPECT_EQ(ProgramOutput(dir, result), c.output);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

const std::string k256Plus = Repeat("+", 256) + ".";
const std::string kRight28 = Repeat(">", 28) + "+.";
const std::string kLeft37 = "+" + Repeat("<", 37) + "+." + Repeat(">", 37) + ".";

INSTANTIATE_TEST_SUITE_P(
    Table, Commands,
    ::testing::Values(Case{"+ + + .", "", "3"}, Case{"- .", "", "255"},
                      Case{k256Plus.c_str(), "", "0"}, Case{". .", "", "00"},
                      Case{", .", "A", "65"}, Case{", .", "", "255"},
                      Case{", .", "\xC3\xA9", "195"}, Case{"+ # + .", "", "1"},
                      Case{"+ # # + .", "", "2"}, Case{"# + .", "", "1"},
                      Case{"@ + ) .", "", "0"}, Case{"@ + +", "", ""},
                      Case{"+ + + ( - # @ % ) .", "", "0"}, Case{"% + .", "", "1"},
                      // A skipped jump does not jump; a skipped move does not move.
                      Case{"+ # @ + ) .", "", "2"}, Case{"+ # % + .", "", "2"},
                      Case{"+ # > .", "", "1"}, Case{"+ # < .", "", "1"},
                      // "#" as the last command ends the run quietly.
                      Case{"+ . #", "", "1"},
                      // The tape grows on access in both directions.
                      Case{kRight28.c_str(), "", "1"}, Case{kLeft37.c_str(), "", "11"},
                      Case{"< < < + . > > > .", "", "10"},
                      // Moving without access changes nothing.
                      Case{">>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>"
                           "<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<<+.",
                           "", "1"},
                      // Cells move with the head.
                      Case{"+ > + + < . > .", "", "12"},
                      // Line input: the first byte counts, the rest is dropped.
                      Case{", . , .", "xyz\nw", "120119"},
                      Case{", .", " ", "255"}, Case{", .", "a ", "97"}, Case{", .", "\t\r", "9"},
                      Case{", .", "\r", "255"},
                      // Standard input is read as bytes: 0x1A (the end of a
                      // text file to the C runtime in text mode) is one.
                      Case{", . , .", "\x1A\nB", "2666"}));

TEST(CommandsNeverEnding, BackwardSearchReachingTheStartLoopsForever) {
  for (const char* code : {"+ % .", "+ + ( - ( # @ % ) ."}) {
    TempDir dir;
    auto result = RunCode(dir, code, "\n", 0.5);
    EXPECT_TRUE(result.timedOut) << code;
    EXPECT_EQ(result.out, "Executing " + (dir.Path() / "code.tape").string() + "\r\n\r\n");
  }
}

// Output waits in a buffer, but never where someone could be waiting for
// it: before the program reads input, and while it runs on.
TEST(CommandsOutput, AppearsBeforeTheProgramWaitsForInput) {
  TempDir dir;
  std::string header = "Executing " + (dir.Path() / "code.tape").string() + "\r\n\r\n";
  auto result = RunCode(dir, "+ . , .", "A\n\n", 5, header + "1");
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(ProgramOutput(dir, result), "165");
}

TEST(CommandsOutput, AppearsWhileTheProgramRunsOn) {
  for (const char* code : {"+ . ( %", "+ . ( > + # @ % )"}) {
    TempDir dir;
    auto result = RunCode(dir, code, "\n", 1);
    EXPECT_TRUE(result.timedOut) << code;
    EXPECT_EQ(result.out, "Executing " + (dir.Path() / "code.tape").string() + "\r\n\r\n1") << code;
  }
}

TEST(CommandsInput, LongLinesAreJoinedAcrossChunks) {
  TempDir dir;
  // The second "," must see the line after the 300 letters, not their tail.
  auto result = RunCode(dir, ", . > , .", std::string(300, 'q') + "\nZ\n\n");
  EXPECT_EQ(ProgramOutput(dir, result), "11390");
}

TEST(CommandsInput, EndOfInputReadsAsAnEmptyLine) {
  TempDir dir;
  auto result = RunCode(dir, ", . , .", "");
  EXPECT_EQ(result.out, testing::Transcript((dir.Path() / "code.tape").string(), "255255"));
  EXPECT_EQ(result.err, "Error reading from stream");
  EXPECT_EQ(result.status, testing::kUncaughtStatus);
}

}  // namespace
}  // namespace corvid
