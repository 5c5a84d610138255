#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "support/encoding.h"
#include "tape_runner.h"

namespace corvid {
namespace {

using testing::RunProcess;
using testing::TapeBinary;
using testing::TempDir;
using testing::Transcript;

// A program that prints 3 and 4, with a comment in characters outside ASCII
// and a command after a line end in each encoding.
const char16_t kProgram[] = u"+++. \u00E9\u20AC comment\r\n+.";

struct Protocol {
  const char* label;
  const char* prefix;  // the protocols in front of the path
  Int encoding;        // how the code file is written
};

void PrintTo(const Protocol& param, std::ostream* out) { *out << param.prefix; }

class TextProtocolRun : public ::testing::TestWithParam<Protocol> {};

TEST_P(TextProtocolRun, CodeFileIsDecodedWithItsProtocol) {
  TempDir dir;
  const std::string code = testing::Encode(kProgram, GetParam().encoding);
  const std::string name = GetParam().prefix + dir.Write("code.txt", code).string();
  auto run = RunProcess({TapeBinary(), name}, "\n");
  EXPECT_EQ(run.out, Transcript(name, "34"));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
}

// A pipe has no position, so its bytes are gathered first; the protocols
// must still decode them as they would a file's. On POSIX the code is
// standard input, which the code then took whole, so the final prompt meets
// its end; Windows has no name for standard input, and the code comes
// through a named pipe.
TEST_P(TextProtocolRun, CodeFromAPipeIsDecodedTheSame) {
  const std::string code = testing::Encode(kProgram, GetParam().encoding);
#ifdef _WIN32
  TempDir dir;
  testing::FedPipe pipe(dir, code);
  const std::string name = GetParam().prefix + pipe.Name();
  auto run = RunProcess({TapeBinary(), name}, "\n");
  EXPECT_EQ(run.out, Transcript(name, "34"));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
#else
  const std::string name = GetParam().prefix + std::string("/dev/stdin");
  auto run = RunProcess({TapeBinary(), name}, code);
  EXPECT_EQ(run.out, Transcript(name, "34"));
  EXPECT_EQ(run.err, "Error reading from stream");
  EXPECT_EQ(run.status, testing::kUncaughtStatus);
#endif
}

INSTANTIATE_TEST_SUITE_P(
    EachProtocol, TextProtocolRun,
    ::testing::Values(Protocol{"latin1", "latin1::", TTextStream::LATIN1},
                      Protocol{"utf8", "utf8::", TTextStream::UTF8},
                      Protocol{"utf16be", "utf16be::", TTextStream::UTF16BE},
                      Protocol{"utf16le", "utf16le::", TTextStream::UTF16LE},
                      Protocol{"bigendian", "bigendian::", TTextStream::LATIN1},
                      Protocol{"utf8_over_littleendian", "utf8::littleendian::", TTextStream::UTF8},
                      Protocol{"utf16be_over_bigendian", "utf16be::bigendian::", TTextStream::UTF16BE}),
    [](const auto& info) { return std::string(info.param.label); });

// The error comes while the code loads, before the run is announced.
TEST(TextProtocolFailures, TextCutInsideACharacterEndsTheRunWithAReadError) {
  TempDir dir;
  const std::string names[] = {"utf8::" + dir.Write("cut.txt", "+++.\xE2\x82").string(),
                               "utf16le::" + dir.Write("odd.txt", std::string("+\0.", 3)).string()};
  for (const auto& name : names) {
    auto run = RunProcess({TapeBinary(), name}, "\n");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "Error reading from stream");
    EXPECT_EQ(run.status, testing::kUncaughtStatus);
  }
}

TEST(TextProtocolFailures, ByteOrderMarkIsNotACommand) {
  TempDir dir;
  const std::string name = "utf8::" + dir.Write("bom.txt", "\xEF\xBB\xBF+.").string();
  auto run = RunProcess({TapeBinary(), name}, "\n");
  EXPECT_EQ(run.out, Transcript(name, "1"));
}

}  // namespace
}  // namespace corvid
