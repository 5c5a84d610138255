// Application services: start-up values, the directory rules, standard
// input lines, end functions, the clock, the environment and commands.
#include "runtime/app.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "runtime/module.h"
#include "support/test_support.h"

namespace corvid {
namespace {

std::string Bytes(const Ref<String>& s) { return ToBytes(s); }

TEST(DirectoryPart, Rules) {
  EXPECT_EQ(Bytes(DirectoryPart("D:/games/tool/run.exe"_s)), "D:/games/tool");
  EXPECT_EQ(Bytes(DirectoryPart("D:/run.exe"_s)), "D:/");
  EXPECT_EQ(Bytes(DirectoryPart("/usr/bin/tape"_s)), "/usr/bin");
  EXPECT_EQ(Bytes(DirectoryPart("/tape"_s)), "");  // separator at index 0
  EXPECT_EQ(Bytes(DirectoryPart("tape"_s)), "");   // no separator
  EXPECT_EQ(Bytes(DirectoryPart(""_s)), "");
  EXPECT_EQ(Bytes(DirectoryPart(nullptr)), "");
  EXPECT_EQ(Bytes(DirectoryPart("a//b"_s)), "a/");
}

// ---- Start-up, watched in a child ------------------------------------------

std::string StartValue(const std::string& shown, const std::string& label) {
  std::string all;
  for (std::size_t at = 0; (at = shown.find(label + "=", at)) != std::string::npos;) {
    if (at > 0 && shown[at - 1] != '\n') {
      ++at;
      continue;
    }
    std::size_t begin = at + label.size() + 1;
    std::size_t end = shown.find('\n', begin);
    if (!all.empty()) all += "|";
    all += shown.substr(begin, end - begin);
    at = end;
  }
  return all;
}

// The path with every backslash turned into "/", as the start-up values
// show paths.
std::string Slashed(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

TEST(StartUp, ValuesAndWorkingDirectory) {
  testing::TempDir launch;
  const std::string helper = testing::HelperBinary();
  const std::string helperDir = std::filesystem::path(helper).parent_path().string();
  auto result = testing::RunProcess({helper, "show-start", "two words", "caf\xe9", ""}, "", 20,
                                    launch.Path().string());
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(StartValue(result.out, "start"), Slashed(std::filesystem::canonical(launch.Path()).string()));
  EXPECT_EQ(StartValue(result.out, "file"), Slashed(helper));
  EXPECT_EQ(StartValue(result.out, "dir"), Slashed(helperDir));
  EXPECT_EQ(StartValue(result.out, "cwd"), helperDir);
  EXPECT_EQ(StartValue(result.out, "title"), "Corvid Application");
  // Arguments byte for byte, the empty one included.
  EXPECT_EQ(StartValue(result.out, "arg"), helper + "|show-start|two words|caf\xe9|");
  EXPECT_EQ(StartValue(result.out, "main"), "1");
#ifdef _WIN32
  EXPECT_EQ(StartValue(result.out, "wide"), "1");  // Windows NT and its heirs, Wine too
#else
  EXPECT_EQ(StartValue(result.out, "wide"), "0");
#endif
}

// With wide calls the arguments come from the 16-bit command line, with
// wildcards expanded in the directory the program was started from (not
// the one it moves to): every unit arrives, beyond Latin-1 too.
TEST(StartUp, ArgumentsFromTheWideCommandLine) {
#ifndef _WIN32
  GTEST_SKIP() << "POSIX hands over arguments as bytes, and its shells expand wildcards";
#else
  testing::TempDir launch;
  for (const char* name : {"a.txt", "b.txt", "c.dat"}) launch.Write(name, "");
  std::filesystem::create_directory(launch.Path() / "d.txt");
  const struct {
    std::u16string typed;
    std::string shown;  // each argument in UTF-8, sorted, "|" between
  } cases[] = {
      {u"*.txt", "a.txt|b.txt|d.txt"},
      {u"?.dat", "c.dat"},
      {u"*.none", "*.none"},
      {u"\u043a\u043e\u0434.txt", "\xD0\xBA\xD0\xBE\xD0\xB4.txt"},
      {u"\u65e5\u672c \u20ac", "\xE6\x97\xA5\xE6\x9C\xAC \xE2\x82\xAC"},
  };
  const std::u16string helper = std::filesystem::path(testing::HelperBinary()).u16string();
  for (const auto& c : cases) {
    auto result = testing::RunProcess({helper, u"show-start", c.typed}, "", 20, launch.Path().u16string());
    ASSERT_EQ(result.status, 0) << result.err;
    std::string all = StartValue(result.out, "utf8");
    std::vector<std::string> args;
    for (std::size_t at = 0, bar; at <= all.size(); at = bar + 1) {
      bar = std::min(all.find('|', at), all.size());
      args.push_back(all.substr(at, bar - at));
    }
    ASSERT_GE(args.size(), 2u) << all;
    std::sort(args.begin() + 2, args.end());
    std::string shown;
    for (std::size_t i = 2; i < args.size(); ++i) shown += (i > 2 ? "|" : "") + args[i];
    EXPECT_EQ(shown, c.shown) << all;
  }
#endif
}

TEST(StartUp, BackslashInTheDirectoryStillReachesIt) {
#ifdef _WIN32
  GTEST_SKIP() << "a backslash separates names on Windows, so no directory name holds one";
#endif
  testing::TempDir place;
  auto dir = place.Path() / "odd\\name";
  std::filesystem::create_directory(dir);
  auto copy = dir / "helper";
  std::filesystem::copy_file(testing::HelperBinary(), copy);
  std::filesystem::permissions(copy, std::filesystem::perms::owner_exec,
                               std::filesystem::perm_options::add);
  auto result = testing::RunProcess({copy.string(), "show-start"});
  ASSERT_EQ(result.status, 0) << result.err;
  const std::string real = std::filesystem::canonical(dir).string();
  std::string shown = real;
  for (char& c : shown) {
    if (c == '\\') c = '/';
  }
  EXPECT_EQ(StartValue(result.out, "dir"), shown);
  EXPECT_EQ(StartValue(result.out, "cwd"), real);
}

TEST(StartUp, OnlyTheStartingThreadIsMain) {
  int other = -1;
  std::thread([&] { other = IsMainThread(); }).join();
  EXPECT_EQ(other, 0);
}

// ---- Standard output and input ---------------------------------------------

TEST(PutStdout, WritesTheLowByteOfEveryUnit) {
  auto result = testing::RunHelper("put-units");
  EXPECT_EQ(result.out, std::string("a\0bA[end]", 9));
}

std::string ReadLines(const std::string& input, int count) {
  auto result = testing::RunProcess({testing::HelperBinary(), "read-lines", std::to_string(count)},
                                    input);
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.status, 0) << result.err;
  return result.out.substr(0, result.out.size() - 5);  // less "[end]"
}

TEST(GetStdinLine, TrailingWhiteSpaceAndLineEnds) {
  EXPECT_EQ(ReadLines("A\n", 1), "[A]");
  EXPECT_EQ(ReadLines("x\r\n", 1), "[x]");
  EXPECT_EQ(ReadLines(" \n", 1), "[]");
  EXPECT_EQ(ReadLines("a \n", 1), "[a]");
  EXPECT_EQ(ReadLines("ab  \n", 1), "[ab ]");
  EXPECT_EQ(ReadLines("\n\nq\n", 3), "[][][q]");
  EXPECT_EQ(ReadLines("\xc3\xa9\n", 1), "[\xc3\xa9]");
}

TEST(GetStdinLine, LongLinesArriveWhole) {
  for (std::size_t length : {300, 255, 254}) {
    const std::string letters(length, 'k');
    EXPECT_EQ(ReadLines(letters + "\nz\n", 2), "[" + letters + "][z]");
  }
}

TEST(GetStdinLine, EndOfInputGivesWhatWasCollected) {
  EXPECT_EQ(ReadLines("", 2), "[][]");
  EXPECT_EQ(ReadLines("abc", 3), "[abc][][]");
  EXPECT_EQ(ReadLines(std::string(600, 'r'), 2), "[" + std::string(600, 'r') + "][]");
}

// "," reads a line's first code without keeping the line: the same code,
// and the same line ends, as the first unit of the line GetStdinLine gives
// (-1 for an empty one), however long the line and wherever C stdio's
// chunks end.
TEST(GetStdinFirstCode, AgreesWithTheWholeLine) {
  for (const std::string& input :
       {std::string("A\n \nx\r\n\n"), std::string("\xc3\xa9\n\t\r\n"), std::string("a\0b\nc\n", 6),
        std::string(254, 'k') + " \n" + std::string(255, 'j') + "\n" + std::string(300, 'm') + "\nz",
        std::string(600, 'r'), std::string()}) {
    auto lines = testing::RunProcess({testing::HelperBinary(), "read-lines", "6"}, input);
    auto codes = testing::RunProcess({testing::HelperBinary(), "read-first-codes", "6"}, input);
    ASSERT_EQ(codes.status, 0) << codes.err;
    const std::string shown = lines.out.substr(0, lines.out.size() - 5);  // less "[end]"
    std::string expected;
    for (std::size_t open = shown.find('['); open != std::string::npos; open = shown.find('[', open + 1)) {
      std::size_t close = shown.find(']', open);
      expected += "[" + std::to_string(close == open + 1 ? -1 : static_cast<unsigned char>(shown[open + 1])) + "]";
      open = close;
    }
    EXPECT_EQ(codes.out, expected + "[end]") << input.size();
  }
}

// ---- End of the process ----------------------------------------------------

TEST(AtEnd, LastRegisteredRunsFirst) {
  auto result = testing::RunHelper("end-order");
  EXPECT_EQ(result.out, "[second][first][end]");
  EXPECT_EQ(result.status, 0);
}

// ---- Clock and sleep ---------------------------------------------------------

TEST(Clock, SleepAdvancesTheClock) {
  const Int before = ElapsedMillis();
  SleepMillis(30);
  // Unsigned difference: the clock may wrap between the two readings.
  const auto passed = static_cast<std::uint32_t>(ElapsedMillis()) - static_cast<std::uint32_t>(before);
  EXPECT_GE(passed, 30u);
}

TEST(Clock, NegativeAndZeroSleepsReturn) {
  SleepMillis(-5);
  SleepMillis(INT32_MIN);
  SleepMillis(0);
}

// ---- Environment -------------------------------------------------------------

TEST(Environment, SetReadAndRemove) {
  EXPECT_EQ(PutEnv(Concat("CORVID_TEST_VAR="_s, FromBytes("v\xe9 1"))), 0);
  // The setting was a temporary string; the variable outlives it.
  EXPECT_EQ(Bytes(GetEnv("CORVID_TEST_VAR"_s)), "v\xe9 1");
  EXPECT_EQ(PutEnv("CORVID_TEST_VAR=a=b"_s), 0);
  EXPECT_EQ(Bytes(GetEnv("CORVID_TEST_VAR"_s)), "a=b");
  EXPECT_EQ(PutEnv("CORVID_TEST_VAR="_s), 0);
  EXPECT_EQ(GetEnv("CORVID_TEST_VAR"_s), String::Empty());
  EXPECT_EQ(getenv("CORVID_TEST_VAR"), nullptr);
}

TEST(Environment, MalformedSettingsChangeNothing) {
  EXPECT_EQ(PutEnv("CORVID_NO_EQUALS"_s), -1);
  EXPECT_EQ(PutEnv("=value"_s), -1);
  EXPECT_EQ(PutEnv(nullptr), -1);
  EXPECT_EQ(PutEnv(String::FromWideSpan(u"CORVID_Z\0=1", 11)), -1);
  EXPECT_EQ(getenv("CORVID_Z"), nullptr);
  EXPECT_EQ(GetEnv("CORVID_SURELY_NOT_SET_42"_s), String::Empty());
  EXPECT_EQ(GetEnv(""_s), String::Empty());
}

// ---- Commands ------------------------------------------------------------------

// On POSIX a command line goes to the shell; on Windows it starts a
// program, here the command interpreter, and a program that is not there
// gives the system's error number (2, file not found).
TEST(RunCommand, ExitCodes) {
  const std::pair<Ref<String>, Int> cases[] = {
#ifdef _WIN32
      {"cmd /c exit 0"_s, 0},
      {"cmd /c exit 3"_s, 3},
      {"cmd /c exit 255"_s, 255},
      {"cmd /c exit 256"_s, 256},
      {"cmd /c exit -1"_s, -1},
      {"corvid-no-such-command-anywhere"_s, 2},
      {String::FromWideSpan(u"cmd /c exit 0\0 4", 17), -1},
#else
      {"true"_s, 0},
      {"exit 3"_s, 3},
      {"exit 255"_s, 255},
      {"kill -KILL $$"_s, -1},
      {"corvid-no-such-command-anywhere 2>/dev/null"_s, 127},
      {String::FromWideSpan(u"true\0; exit 4", 13), -1},
#endif
  };
  for (const auto& [command, status] : cases) EXPECT_EQ(RunCommand(command), status) << ToBytes(command);
}

TEST(RunCommand, SeesTheEnvironmentAndWorkingDirectory) {
  ASSERT_EQ(PutEnv("CORVID_CMD_VAR=42"_s), 0);
  const Ref<String> here = testing::Name(std::filesystem::current_path());
#ifdef _WIN32
  EXPECT_EQ(RunCommand("cmd /c if \"%CORVID_CMD_VAR%\"==\"42\" (exit 0) else (exit 1)"_s), 0);
  EXPECT_EQ(RunCommand(Concat(Concat("cmd /c if /i \"%CD%\"==\""_s, here), "\" (exit 0) else (exit 1)"_s)), 0);
#else
  EXPECT_EQ(RunCommand("test \"$CORVID_CMD_VAR\" = 42"_s), 0);
  EXPECT_EQ(RunCommand(Concat("test \"$PWD\" = "_s, here)), 0);
#endif
  PutEnv("CORVID_CMD_VAR="_s);
}

TEST(RunCommand, ChildGetsDefaultBrokenPipe) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no broken-pipe signal to pass on or ignore";
#endif
  StartStdlibModule();  // ignores broken pipes in this process
  // With the default disposition the shell dies of the signal; had it
  // inherited the ignored one, it would go on and exit 0.
  EXPECT_EQ(RunCommand("kill -PIPE $$; exit 0"_s), -1);
}

TEST(StdlibModule, BrokenPipeIsAnErrorNotAnEnd) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no broken-pipe signal: a write to a closed pipe always fails with an error";
#else
  StartStdlibModule();
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  close(ends[0]);
  errno = 0;
  EXPECT_EQ(write(ends[1], "x", 1), -1);
  EXPECT_EQ(errno, EPIPE);
  close(ends[1]);
#endif
}

}  // namespace
}  // namespace corvid
