#include "interpreter/console.h"

#include <gtest/gtest.h>

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

// Arguments arrive byte for byte, and the console writes each unit as
// UTF-8: the byte E9 of a file name comes out as C3 A9.
TEST(Console, MessagesAreWrittenAsUtf8) {
  TempDir dir;
  auto path = dir.Write("caf\xE9.txt", "+.");
  auto result = RunProcess({TapeBinary(), path.string()}, "\n");
  std::string shown = (dir.Path() / "caf\xC3\xA9.txt").string();
  EXPECT_EQ(result.out, Transcript(shown, "1"));

  auto missing = RunProcess({TapeBinary(), (dir.Path() / "\xFF").string()}, "\n");
  EXPECT_EQ(missing.out, "Could not load " + (dir.Path() / "\xC3\xBF").string() + "\r\n>");
}

}  // namespace
}  // namespace corvid
