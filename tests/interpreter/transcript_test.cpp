// Whole transcripts of the interpreter: standard output byte for byte,
// standard error and the exit status.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <future>
#include <utility>

#include "tape_runner.h"

namespace corvid {
namespace {

using testing::RunProcess;
using testing::TapeBinary;
using testing::TempDir;
using testing::Transcript;

// Everything but the eleven command characters is comment, byte by byte,
// whatever the line ends or the bytes.
TEST(Transcript, CodeFilesKeepOnlyTheirCommandBytes) {
  TempDir dir;
  const std::pair<std::string, std::string> cases[] = {
      {"+++ .", "3"},
      {"Count [up] 3 times: + + +\r\n print it: .\r\nno newline at the end +.", "34"},
      {std::string("\xFF+\0+\x80\r+\n\x2B\xC3.", 11), "4"},
      {"", ""},
      {"just words\nand more words\n", ""}};
  for (const auto& [code, output] : cases) {
    auto path = dir.Write("code.txt", code);
    auto result = RunProcess({TapeBinary(), path.string()}, "\n");
    EXPECT_EQ(result.out, Transcript(path.string(), output)) << code;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
  }
}

TEST(Transcript, FilesThatDoNotOpenAreReportedByName) {
  TempDir dir;
  for (const std::string& name : {(dir.Path() / "missing.txt").string(), dir.Path().string(),
                                  std::string(), std::string("nosuchproto::x")}) {
    auto result = RunProcess({TapeBinary(), name}, "\n");
    EXPECT_EQ(result.out, "Could not load " + name + "\r\n>") << name;
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
  }
}

TEST(Transcript, OnlyTheFirstArgumentCounts) {
  TempDir dir;
  auto first = dir.Write("first.txt", "+.");
  auto second = dir.Write("second.txt", "++.");
  auto result = RunProcess({TapeBinary(), first.string(), second.string(), "x"}, "\n");
  EXPECT_EQ(result.out, Transcript(first.string(), "1"));
}

TEST(Transcript, EndOfInputAtTheFinalPromptIsAnUncaughtReadError) {
  TempDir dir;
  auto path = dir.Write("p.txt", "+.");
  auto result = RunProcess({TapeBinary(), path.string()}, "");
  EXPECT_EQ(result.out, Transcript(path.string(), "1"));
  EXPECT_EQ(result.err, "Error reading from stream");
  EXPECT_EQ(result.status, testing::kUncaughtStatus);

  auto missing = RunProcess({TapeBinary(), (dir.Path() / "none").string()}, "");
  EXPECT_EQ(missing.err, "Error reading from stream");
  EXPECT_EQ(missing.status, testing::kUncaughtStatus);
}

TEST(Transcript, FinalPromptTakesOneWholeLineInAnyCoding) {
  TempDir dir;
  auto path = dir.Write("p.txt", "");
  for (const std::string& input : {std::string("\n"), std::string("anything at all\r\n"),
                                   std::string("\xC3\xA9\n"), std::string("a\0b\n", 4)}) {
    auto result = RunProcess({TapeBinary(), path.string()}, input);
    EXPECT_EQ(result.status, 0);
  }
}

// Relative names, the default "code.txt" among them, resolve beside the
// executable, whatever the directory it was started from.
TEST(Transcript, RelativeNamesResolveBesideTheExecutable) {
  TempDir home, elsewhere;
  auto binary = home.Path() / std::filesystem::path(TapeBinary()).filename();
  std::filesystem::copy_file(TapeBinary(), binary);
  home.Write("code.txt", "++.");
  home.Write("other.txt", "+++.");
  elsewhere.Write("code.txt", "+.");

  auto byDefault = RunProcess({binary.string()}, "\n", 20, elsewhere.Path().string());
  EXPECT_EQ(byDefault.out, Transcript("code.txt", "2"));
  auto named = RunProcess({binary.string(), "other.txt"}, "\n", 20, elsewhere.Path().string());
  EXPECT_EQ(named.out, Transcript("other.txt", "3"));
}

TEST(Transcript, BundledDemoRunsWithoutArguments) {
  auto result = RunProcess({TapeBinary()}, "\n");
  EXPECT_EQ(result.out, Transcript("code.txt", "3210"));
  EXPECT_EQ(result.status, 0);
}

// Files under /proc report the size 0 yet hold a text: with or without a
// text protocol over one, the loader reads it all, comes to an end, and the
// program runs. The text is the system's, so only the frame is known.
TEST(Transcript, CodeFileWhoseSizeReadsZeroLoadsAndRuns) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no files whose size reads 0 while they hold text (/proc)";
#endif
  for (std::string name : {"/proc/version", "utf8::/proc/version"}) {
    auto run = RunProcess({TapeBinary(), name}, std::string(64, '\n'), 10);
    ASSERT_FALSE(run.timedOut) << name;
    EXPECT_EQ(run.out.rfind("Executing " + name + "\r\n\r\n", 0), 0u) << name;
    EXPECT_TRUE(run.out.ends_with("\r\n\r\nExecution complete.\r\n>")) << name;
    EXPECT_EQ(run.status, 0) << name;
  }
}

// Output that cannot be written is not success: however standard output
// fails, the run ends at once as a rejected console write does. The program
// prints forever, so a run that ignored the failure would never end.
TEST(Transcript, OutputThatCannotBeWrittenEndsTheRunWithAWriteError) {
  TempDir dir;
  auto path = dir.Write("endless.txt", "+ ( . % )");
#ifdef _WIN32
  // Windows has no device that refuses writes; a pipe nobody reads and a
  // missing handle fail them.
  for (auto output : {testing::ChildOutput::Unread, testing::ChildOutput::Missing}) {
    auto run = testing::RunProcess({std::filesystem::path(TapeBinary()).u16string(), path.u16string()}, output,
                                   "\n", 10);
    ASSERT_FALSE(run.timedOut) << static_cast<int>(output);
    EXPECT_EQ(run.err, "Error writing to stream") << static_cast<int>(output);
    EXPECT_EQ(run.status, testing::kUncaughtStatus) << static_cast<int>(output);
  }
  return;
#endif
  const char* shells[] = {
      "\"$0\" \"$1\" >/dev/full; echo \" $?\" >&2",
      "{ \"$0\" \"$1\"; echo \" $?\" >&2; } | head -c 1 >/dev/null",
      "\"$0\" \"$1\" >&-; echo \" $?\" >&2",
  };
  for (const char* shell : shells) {
    auto run = RunProcess({"/bin/sh", "-c", shell, TapeBinary(), path.string()}, "\n", 10);
    ASSERT_FALSE(run.timedOut) << shell;
    EXPECT_EQ(run.err, "Error writing to stream 255\n") << shell;
    EXPECT_EQ(run.status, 0) << shell;
  }
}

TEST(Transcript, RunningOutOfMemoryEndsWithAMessage) {
#if defined(_WIN32)
  // No limit to set: a 32-bit process runs out of its 2 GiB of address
  // space on its own, in seconds; the two runs go side by side.
  TempDir dir;
  const std::string right = dir.Write("right.txt", "( > + % )").string();
  const std::string left = dir.Write("left.txt", "( < + % )").string();
  auto leftRun = std::async(std::launch::async, [&] { return RunProcess({TapeBinary(), left}, "", 100); });
  auto rightRun = RunProcess({TapeBinary(), right}, "", 100);
  for (const auto& [code, run] : {std::pair{right, rightRun}, std::pair{left, leftRun.get()}}) {
    ASSERT_FALSE(run.timedOut) << code;
    EXPECT_EQ(run.err, "Out of memory\n") << code;
    EXPECT_EQ(run.status, testing::kUncaughtStatus) << code;
  }
#elif defined(CORVID_SANITIZED)
  GTEST_SKIP() << "the sanitizers reserve address space that a memory limit would cut";
#else
  TempDir dir;
  // The head walks on forever, touching one new cell per step, to either
  // side of the tape.
  for (const char* code : {"( > + % )", "( < + % )"}) {
    auto path = dir.Write("grow.txt", code);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      rlimit limit{256u << 20, 256u << 20};
      setrlimit(RLIMIT_AS, &limit);
      execl("/bin/sh", "sh", "-c", "exec \"$0\" \"$1\" </dev/null >/dev/null 2>\"$2\"",
            TapeBinary().c_str(), path.c_str(), (dir.Path() / "err.txt").c_str(), nullptr);
      _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << code;
    EXPECT_EQ(WEXITSTATUS(status), 255) << code;
    EXPECT_EQ(testing::ReadFileBytes(dir.Path() / "err.txt"), "Out of memory\n") << code;
  }
#endif
}

}  // namespace
}  // namespace corvid
