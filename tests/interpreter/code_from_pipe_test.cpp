#include <gtest/gtest.h>

#include <string>

#include "tape_runner.h"

namespace corvid {
namespace {

using testing::RunProcess;
using testing::TapeBinary;
using testing::TempDir;
using testing::Transcript;

#ifdef _WIN32
constexpr char kNoStdinName[] = "Windows has no file name for standard input (/dev/stdin)";
#endif

// The code arrives on standard input, so the final prompt then finds the
// input at its end.
TEST(CodeFromPipe, StandardInputServesAsTheCodeFile) {
#ifdef _WIN32
  GTEST_SKIP() << kNoStdinName;
#endif
  std::string code = std::string(3000, ' ') + "+++.-.";  // more than one load buffer
  auto result = RunProcess({TapeBinary(), "/dev/stdin"}, code);
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.out, Transcript("/dev/stdin", "32"));
  EXPECT_EQ(result.err, "Error reading from stream");
  EXPECT_EQ(result.status, testing::kUncaughtStatus);
}

TEST(CodeFromPipe, EmptyStandardInputRunsNothing) {
#ifdef _WIN32
  GTEST_SKIP() << kNoStdinName;
#endif
  auto result = RunProcess({TapeBinary(), "/dev/stdin"}, "");
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.out, Transcript("/dev/stdin", ""));
  EXPECT_EQ(result.status, testing::kUncaughtStatus);
}

// A FIFO on POSIX, a named pipe on Windows.
TEST(CodeFromPipe, NamedPipeServesAsTheCodeFile) {
  TempDir dir;
  testing::FedPipe pipe(dir, "++++.\n(comment)+.\n");
  auto result = RunProcess({TapeBinary(), pipe.Name()}, "\n");
  ASSERT_FALSE(result.timedOut);
  EXPECT_EQ(result.out, Transcript(pipe.Name(), "45"));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
}

}  // namespace
}  // namespace corvid
