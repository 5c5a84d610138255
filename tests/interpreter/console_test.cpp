#include "interpreter/console.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tape_runner.h"

namespace corvid {
namespace {

using testing::RunProcess;
using testing::TapeBinary;
using testing::TempDir;
using testing::Transcript;

TEST(Console, StandardIoHasNoPositionSoItNeverReachesEof) {
  auto io = MakeRef<TCStandardIO>();
  EXPECT_EQ(io->Pos(), -1);
  EXPECT_EQ(io->Size(), 0);
  EXPECT_FALSE(io->Eof());
  EXPECT_EQ(io->Seek(0), -1);
  EXPECT_EQ(io->Close(), 0);
  EXPECT_EQ(io->Read(nullptr, 0), 0);
}

TEST(Console, StartsOnceAsUtf8OverStandardIo) {
  StartConsoleModule();
  const Ref<TTextStream>& console = ConsoleStream();
  ASSERT_TRUE(console);
  EXPECT_EQ(console->Encoding(), TTextStream::UTF8);
  EXPECT_TRUE(CastTo<TCStandardIO>(console->Inner()));
  StartConsoleModule();
  EXPECT_EQ(ConsoleStream(), console);
}

// Names arrive unit for unit (on POSIX a byte each), and the console
// writes each unit as UTF-8: the unit E9 of a file name comes out as C3 A9.
// On Windows the units come from the 16-bit command line, beyond Latin-1
// too.
TEST(Console, MessagesAreWrittenAsUtf8) {
  struct Case {
    std::u16string leaf;
    bool exists;
    std::string shown;  // the leaf as the console writes it
  };
  std::vector<Case> cases = {
      {u"caf\u00e9.txt", true, "caf\xC3\xA9.txt"},
      {u"\u00ff", false, "\xC3\xBF"},
  };
#ifdef _WIN32
  for (const Case& wide : {Case{u"\u043a\u043e\u0434.txt", true, "\xD0\xBA\xD0\xBE\xD0\xB4.txt"},
                           Case{u"\u65e5\u672c.txt", true, "\xE6\x97\xA5\xE6\x9C\xAC.txt"},
                           Case{u"\u20ac.txt", true, "\xE2\x82\xAC.txt"},
                           Case{u"\u20ac\u0141", false, "\xE2\x82\xAC\xC5\x81"}})
    cases.push_back(wide);
#endif
  TempDir dir;
  for (const Case& c : cases) {
    if (c.exists) std::ofstream(dir.Path() / testing::PathOf(c.leaf), std::ios::binary) << "+.";
    auto result = RunProcess({std::filesystem::path(TapeBinary()).u16string(), dir.Path().u16string() + u"/" + c.leaf},
                             "\n");
    const std::string shown = dir.Path().string() + "/" + c.shown;
    EXPECT_EQ(result.out, c.exists ? Transcript(shown, "1") : "Could not load " + shown + "\r\n>") << c.shown;
  }
}

}  // namespace
}  // namespace corvid
