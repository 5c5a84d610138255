// What the translator makes of a program, as the program dump shows it: a
// recognition the translator loses (a clear, a whole loop, a guarded change)
// fails here, not only in a benchmark.
#include "interpreter/internal/translator.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "interpreter/internal/program_dump.h"

namespace corvid {
namespace {

std::string Translated(const std::string& code) {
  CodeStore store;
  store.commands.assign(code.begin(), code.end());
  return DumpProgram(Translate(store));
}

// Handed over a command at a time: the walk then sees no further than the
// loader's lookahead, and takes a loop whose body is longer command by
// command instead of sizing it up whole.
std::string TranslatedOneByOne(const std::string& code) {
  Translator translator;
  std::string held;
  for (std::size_t at = 0; at < code.size(); ++at) {
    held += code[at];
    held.erase(0, translator.Take(reinterpret_cast<const std::uint8_t*>(held.data()), held.size(), at + 1 == code.size()));
  }
  return DumpProgram(translator.Finish());
}

struct Golden {
  const char* what;
  const char* code;
  const char* dump;
};

// Every program starts with a command of its own: index 1 is always an
// entry (a "%" that finds no "(" lands there), so the first command stands
// in a segment apart.
const Golden kGoldens[] = {
    {"the clear idiom is one Clear", "(-#@%)",
     "    0  Clear        \n"
     "    1  End          \n"},
    {"clears of one cell with changes between are one Clear", "(-#@%)++(+#@%).",
     "    0  Clear        \n"
     "    1  Reach         off=0 b=2 x=0 y=14\n"
     "    2  Output        off=0 a=0 x=1\n"
     "    3  End          \n"},
    {"a counted loop is one whole-loop op", "+++(>++<-#@%)",
     "    0  Reach         off=0 b=2 x=0 y=0\n"
     "    1  Add           off=0 a=1\n"
     "    2  Reach         off=0 b=2 x=0 y=1\n"
     "    3  Add           off=0 a=2\n"
     "    4  Loop          x=0\n"
     "         cells 0..1 from code 4, counter 0\n"
     "         cell 0 step 255\n"
     "         cell 1 step 2\n"
     "    5  End          \n"},
    {"a guarded change in a loop's body is a guard of its shape", "%+(>#+<-#@%)",
     "    0  Jump          x=0 y=1\n"
     "    1  Reach         off=0 b=2 x=0 y=1\n"
     "    2  Add           off=0 a=1\n"
     "    3  Loop          x=0\n"
     "         cells 0..1 from code 3, counter 1\n"
     "         cell 1 step 0 guard(0,1)\n"
     "         cell 0 step 255\n"
     "    4  End          \n"},
    {"a cell whose changes cancel out stays a cell of the loop", "+(>+<>-<-#@%)",
     "    0  Reach         off=0 b=2 x=0 y=0\n"
     "    1  Add           off=0 a=1\n"
     "    2  Loop          x=0\n"
     "         cells 0..1 from code 2, counter 0\n"
     "         cell 0 step 255\n"
     "         cell 1 step 0\n"
     "    3  End          \n"},
    {"\"#\" before \"+\" is the branch-free op", "+#-",
     "    0  Reach         off=0 b=2 x=0 y=0\n"
     "    1  Add           off=0 a=1\n"
     "    2  Reach         off=0 b=2 x=0 y=1\n"
     "    3  CondAdd       off=0 a=0 b=255\n"
     "    4  End          \n"},
    {"a loop that reads input stays a plain loop", "(,#@%)",
     "    0  Reach         off=0 b=2 x=0 y=1\n"
     "    1  Input         off=0\n"
     "    2  JumpIfNonZero a=0 x=0 y=0\n"
     "    3  End          \n"},
    {"a loop whose moves do not return stays a plain loop", "(>+#@%)",
     "    0  Reach         off=1 b=1 x=1 y=1\n"
     "    1  JumpIfNonZero a=1 x=1 y=0\n"
     "    2  End          \n"},
    {"outputs of one cell in a row are one op", "+..",
     "    0  Reach         off=0 b=2 x=0 y=0\n"
     "    1  Add           off=0 a=1\n"
     "    2  Reach         off=0 b=2 x=0 y=1\n"
     "    3  Output        off=0 a=0 x=2\n"
     "    4  End          \n"},
    {"changes of cells close together are one row", "++>+>+>+>+",
     "    0  Reach         off=0 b=2 x=0 y=0\n"
     "    1  Add           off=0 a=1\n"
     "    2  Reach         off=0 b=2 x=4 y=1\n"
     "    3  AddRow        off=0 x=5 y=0 [1 1 1 1 1]\n"
     "    4  Move          x=4\n"
     "    5  End          \n"},
};

TEST(Translation, Goldens) {
  for (const Golden& golden : kGoldens) EXPECT_EQ(Translated(golden.code), golden.dump) << golden.what;
}

// Loop bodies longer than the lookahead, each seen whole in one block and
// not whole a command at a time, translate alike.
TEST(Translation, LoopBodiesSeenWholeOrNotTranslateAlike) {
  auto repeat = [](const std::string& part, int times) {
    std::string out;
    for (int k = 0; k < times; ++k) out += part;
    return out;
  };
  const std::string bodies[] = {
      repeat(">+<>-<", 12),                             // a cell whose changes cancel out
      repeat(">>#+<#-<<#++>#-", 7) + "-",               // guards on both sides and on the counter
      repeat("<<<+++>>>", 9) + repeat(">#->>+<<<", 5),  // far left, then guarded right
      repeat(">+<", 21) + "#-+++",                      // a "#" last of 64 commands, its change first of the next
      repeat(">+<", 21) + "-",                          // "# @ % )" first of the next 64
      repeat(">+<", 21),                                // "# @ % )" from the last of 64 on
      repeat("+-", 40) + "-",                           // the counter alone, by an odd step: a Clear
      repeat(">+", 40),                                 // the head does not come back: no whole loop
      repeat(">#<", 30),                                // "#" before a move: no whole loop
      repeat("<<<+>>>+", 5) + repeat(">>>-<<<-", 5),    // cells three out and back within eight commands
  };
  for (const std::string& body : bodies) {
    const std::string code = "++(" + body + "#@%)>.";
    EXPECT_EQ(TranslatedOneByOne(code), Translated(code)) << code;
  }
}

// Room reserved from the size of the code changes nothing in the program,
// however large the size (past the cap too). A list with room for a
// megabyte or more starts on a large-page boundary, and goes back the way
// it was taken, which the sanitizer build checks.
TEST(Translation, RoomReservedFromTheCodeSizeChangesNothing) {
  const std::string code = "+++(>++<#-<-->-#@%)>.";
  for (std::uint64_t size : {std::uint64_t{0}, std::uint64_t{1} << 10, std::uint64_t{1} << 24, std::uint64_t{1} << 40}) {
    Translator translator;
    if (size) translator.Expect(size);
    translator.Take(reinterpret_cast<const std::uint8_t*>(code.data()), code.size(), true);
    const Program program = translator.Finish();
    EXPECT_EQ(DumpProgram(program), Translated(code)) << size;
    if (program.ops.capacity() * sizeof(Op) >= (std::size_t{1} << 20)) {
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(program.ops.data()) % (std::uintptr_t{1} << 21), 0u) << size;
    }
  }
}

}  // namespace
}  // namespace corvid
