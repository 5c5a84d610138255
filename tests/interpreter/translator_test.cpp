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
