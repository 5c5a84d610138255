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

// A code file name arrives as UTF-8, each byte that is not UTF-8 carried
// as it is, and the console writes it back as the bytes it was typed as.
TEST(Console, NamesAreAnnouncedAsTheyWereTyped) {
#ifdef _WIN32
  GTEST_SKIP() << "names are bytes on POSIX only";
#else
  const struct {
    std::string leaf;
    bool exists;
  } cases[] = {
      {"pr\xC3\xB6g.txt", true},       // UTF-8
      {"\xF0\x9F\x98\x80.txt", true},  // a character beyond 16 bits
      {"caf\xE9.txt", true},          // Latin-1, no UTF-8
      {"\xE2\x82.txt", true},         // a character cut short
      {"\xFF", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Hex(c.leaf, " "));
    TempDir dir;
    const std::string path = (dir.Path() / c.leaf).string();
    if (c.exists) dir.Write(c.leaf, "+.");
    auto result = RunProcess({TapeBinary(), path}, "\n");
    EXPECT_EQ(result.out, c.exists ? Transcript(path, "1") : "Could not load " + path + "\r\n>");
  }
#endif
}

// On Windows a name arrives as the 16-bit units of the command line, beyond
// Latin-1 too, and the console writes it as UTF-8.
TEST(Console, WideNamesAreAnnouncedAsUtf8) {
#ifndef _WIN32
  GTEST_SKIP() << "names are 16-bit on Windows only";
#else
  struct Case {
    std::u16string leaf;
    bool exists;
    std::string shown;  // the leaf as the console writes it
  };
  const Case cases[] = {
      {u"caf\u00e9.txt", true, "caf\xC3\xA9.txt"},
      {u"\u00ff", false, "\xC3\xBF"},
      {u"\u043a\u043e\u0434.txt", true, "\xD0\xBA\xD0\xBE\xD0\xB4.txt"},
      {u"\u65e5\u672c.txt", true, "\xE6\x97\xA5\xE6\x9C\xAC.txt"},
      {u"\u20ac.txt", true, "\xE2\x82\xAC.txt"},
      {u"\u20ac\u0141", false, "\xE2\x82\xAC\xC5\x81"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    if (c.exists) std::ofstream(dir.Path() / testing::PathOf(c.leaf), std::ios::binary) << "+.";
    auto result = RunProcess({std::filesystem::path(TapeBinary()).u16string(), dir.Path().u16string() + u"/" + c.leaf},
                             "\n");
    const std::string shown = dir.Path().string() + "/" + c.shown;
    EXPECT_EQ(result.out, c.exists ? Transcript(shown, "1") : "Could not load " + shown + "\r\n>") << c.shown;
  }
#endif
}

}  // namespace
}  // namespace corvid
