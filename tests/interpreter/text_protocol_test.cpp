#include <gtest/gtest.h>

#include <string>

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

std::string Encode(const std::string& proto) {
  std::string bytes;
  for (const char16_t* p = kProgram; *p; ++p) {
    unsigned u = *p;
    if (proto == "latin1") {
      bytes += static_cast<char>(u & 0xFF);
    } else if (proto == "utf8") {
      if (u < 0x80) {
        bytes += static_cast<char>(u);
      } else if (u < 0x800) {
        bytes += static_cast<char>(0xC0 | u >> 6);
        bytes += static_cast<char>(0x80 | (u & 0x3F));
      } else {
        bytes += static_cast<char>(0xE0 | u >> 12);
        bytes += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        bytes += static_cast<char>(0x80 | (u & 0x3F));
      }
    } else if (proto == "utf16be") {
      bytes += static_cast<char>(u >> 8);
      bytes += static_cast<char>(u & 0xFF);
    } else {
      bytes += static_cast<char>(u & 0xFF);
      bytes += static_cast<char>(u >> 8);
    }
  }
  return bytes;
}

class TextProtocolRun : public ::testing::TestWithParam<std::string> {};

TEST_P(TextProtocolRun, CodeFileIsDecodedWithItsProtocol) {
  TempDir dir;
  const std::string proto = GetParam();
  const std::string name = proto + "::" + dir.Write("code.txt", Encode(proto)).string();
  auto run = RunProcess({TapeBinary(), name}, "\n");
  EXPECT_EQ(run.out, Transcript(name, "34"));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
}

INSTANTIATE_TEST_SUITE_P(AllEncodings, TextProtocolRun,
                         ::testing::Values("latin1", "utf8", "utf16be", "utf16le"));

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
