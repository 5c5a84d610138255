#include "interpreter/internal/loader.h"

#include <gtest/gtest.h>

#include <random>

#include "interpreter/internal/executor.h"
#include "interpreter/internal/program_dump.h"
#include "interpreter/modules.h"
#include "runtime/legacy_string.h"
#include "support/test_support.h"

namespace corvid {
namespace {

using testing::TempDir;

// The loader's table must take the decisions the one-character search of
// the command set takes, for every code unit.
TEST(Loader, CommandTableAgreesWithSearchingTheCommandSet) {
  Ref<String> set = String::FromNarrowZ(kCommandSet);
  for (Int unit = 0; unit <= 0xFFFF; ++unit) {
    bool found = FindText(set, CodeToString(unit), 1) != 0;
    ASSERT_EQ(IsCommand(static_cast<char16_t>(unit)), found) << unit;
  }
}

TEST(Loader, KeepsCommandsInFileOrderAsBytes) {
  StartProgramModule();
  TempDir dir;
  auto path = dir.Write("code.txt", "+ + +\r\n.\nx<y>z()@#%,-");
  CodeStore store;
  ASSERT_TRUE(LoadProgram(FromBytes(path.string()), store));
  EXPECT_EQ(std::string(store.commands.begin(), store.commands.end()), "+++.<>()@#%,-");
  EXPECT_EQ(store.Length(), 13);
}

// A plain file is read in blocks, a stream with a protocol line by line:
// both keep the command bytes of the whole file, wherever they stand against
// the blocks, and whatever line ends, zero bytes and carriage returns stand
// around them.
TEST(Loader, BlocksAndLinesKeepTheSameCommands) {
  StartProgramModule();
  TempDir dir;
  std::mt19937 random(5);
  // Sizes around the blocks the loader reads, mostly commentary (a third
  // commands, or few enough that 32 bytes often hold just one) or mostly
  // code (nearly all, so that 32 bytes often miss just one).
  for (auto [size, percent] : {std::pair{0, 33}, {1, 33}, {15, 33}, {16, 33}, {17, 33}, {100000, 33},
                               {262143, 33}, {262144, 33}, {262145, 33}, {300000, 33}, {300000, 3}, {300000, 99}}) {
    std::string bytes(static_cast<std::size_t>(size), '\0');
    for (char& b : bytes) {
      const char* other = "\0\n\r";
      b = static_cast<int>(random() % 100) < percent ? "<>+-.,()@#%"[random() % 11]
          : random() % 2                            ? other[random() % 3]
                                                     : static_cast<char>(random());
    }
    std::string commands;
    for (char b : bytes)
      if (IsCommand(static_cast<unsigned char>(b))) commands += b;
    auto path = dir.Write("code.txt", bytes);
    for (std::string prefix : {"", "latin1::"}) {
      CodeStore store;
      ASSERT_TRUE(LoadProgram(FromBytes(prefix + path.string()), store));
      EXPECT_EQ(std::string(store.commands.begin(), store.commands.end()), commands) << prefix << size << " " << percent;
    }
  }
}

// The code translates as it loads, in blocks of what a few bytes of the
// file hold: commentary at any place in a program, and blocks ending
// anywhere, inside a run, a clear idiom, a "#" pair or a loop head, give the
// program the commands alone give. (Longer than the translator's lookahead,
// so that it stops short of the end of a block.)
TEST(Loader, TranslationDoesNotDependOnBlocksOrCommentary) {
  StartProgramModule();
  TempDir dir;
  const std::string code = std::string(70, '+') + "(-#@%)-(+#@%)>>#+<<#(+++(>++<#-<-->-#@%)>#.,<" +
                           std::string(30, '>') + "@+++)+(-#@%)" + std::string(20, '-') + "(-#@%)%.";
  CodeStore whole;
  whole.commands.assign(code.begin(), code.end());
  const std::string expected = DumpProgram(Translate(whole));
  for (std::size_t at = 0; at <= code.size(); ++at) {
    const std::string text = code.substr(0, at) + " x\r\n" + code.substr(at);
    auto path = dir.Write("code.txt", text);
    for (std::string prefix : {"", "latin1::"}) {
      Translator translator;
      ASSERT_TRUE(LoadProgram(FromBytes(prefix + path.string()), translator, at % 4 + 1));
      ASSERT_EQ(DumpProgram(translator.Finish()), expected) << prefix << "commentary at " << at;
    }
  }
}

// A run of "." is one op, but where the segment fills up, the run is cut
// as it would be one "." at a time, whichever block holds its end: here the
// first "." fills a segment of guarded changes, and the rest begin another.
TEST(Loader, ARunOfOutputsIsCutWhereItsSegmentFillsUp) {
  StartProgramModule();
  TempDir dir;
  std::string code;
  for (int k = 1; k < (1 << 15); ++k) code += "#+";
  code += std::string(200, '.') + "+" + std::string(100, '.');
  CodeStore whole;
  whole.commands.assign(code.begin(), code.end());
  const std::string expected = DumpProgram(Translate(whole));
  auto path = dir.Write("code.txt", code);
  for (std::size_t block : {1, 7, 100}) {
    Translator translator;
    ASSERT_TRUE(LoadProgram(FromBytes(path.string()), translator, block));
    ASSERT_EQ(DumpProgram(translator.Finish()), expected) << "blocks of " << block;
  }
}

TEST(Loader, NothingOpensNothingLoads) {
  StartProgramModule();
  TempDir dir;
  CodeStore store;
  store.commands.push_back('+');
  EXPECT_FALSE(LoadProgram(FromBytes((dir.Path() / "absent").string()), store));
  EXPECT_EQ(store.Length(), 0);
  EXPECT_FALSE(LoadProgram("nosuchprotocol::x"_s, store));
}

// Moving the head past either end of the 32-bit range wraps around; the
// tape is not touched, so nothing grows.
TEST(Executor, HeadWrapsAtTheEndsOfItsRange) {
  CodeStore store;
  store.commands = {'>', '>'};
  Tape tape;
  StandardPort port;
  Executor right(store, tape, port, INT32_MAX);
  right.Run();
  EXPECT_EQ(right.Head(), INT32_MIN + 1);
  store.commands = {'<'};
  Executor left(store, tape, port, INT32_MIN);
  left.Run();
  EXPECT_EQ(left.Head(), INT32_MAX);
  EXPECT_EQ(tape.Extent(), 64);
  EXPECT_EQ(tape.Origin(), 0);
}

}  // namespace
}  // namespace corvid
