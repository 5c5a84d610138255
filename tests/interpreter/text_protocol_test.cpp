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
  const char* name;
  Int encoding;
};

void PrintTo(const Protocol& param, std::ostream* out) { *out << param.name; }

class TextProtocolRun : public ::testing::TestWithParam<Protocol> {};

TEST_P(TextProtocolRun, CodeFileIsDecodedWithItsProtocol) {
  TempDir dir;
  const std::string code = testing::Encode(kProgram, GetParam().encoding);
  const std::string name = GetParam().name + ("::" + dir.Write("code.txt", code).string());
  auto run = RunProcess({TapeBinary(), name}, "\n");
  EXPECT_EQ(run.out, Transcript(name, "34"));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
}

INSTANTIATE_TEST_SUITE_P(AllEncodings, TextProtocolRun,
                         ::testing::Values(Protocol{"latin1", TTextStream::LATIN1}, Protocol{"utf8", TTextStream::UTF8},
                                           Protocol{"utf16be", TTextStream::UTF16BE},
                                           Protocol{"utf16le", TTextStream::UTF16LE}),
                         [](const auto& info) { return std::string(info.param.name); });

// The error comes while the code loads, before the run is announced.
TEST(TextProtocolFailures, TextCutInsideACharacterEndsTheRunWithAReadError) {
  TempDir dir;
  const std::string names[] = {"utf8::" + dir.Write("cut.txt", "+++.\xE2\x82").string(),
                               "utf16le::" + dir.Write("odd.txt", std::string("+\0.", 3)).string()};
  for (const auto& name : names) {
    auto run = RunProcess({TapeBinary(), name}, "\n");
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "Error reading from stream");
    EXPECT_EQ(run.status, 255);
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
