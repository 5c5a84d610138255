// Every program in examples/ runs to its expected output.
#include <gtest/gtest.h>

#include <filesystem>

#include "tape_runner.h"

namespace corvid {
namespace {

using testing::ReadFileBytes;
using testing::RunProcess;
using testing::SourceDir;
using testing::TapeBinary;
using testing::Transcript;

TEST(Examples, ProduceTheirExpectedOutput) {
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(SourceDir() / "examples")) {
    auto expected = entry.path();
    if (expected.extension() != ".expected") continue;
    auto program = expected;
    program.replace_extension(expected.stem() == "code" ? ".txt" : ".tape");
    auto input = expected;
    input.replace_extension(".input");
    std::string lines = std::filesystem::exists(input) ? ReadFileBytes(input) : "";
    auto result = RunProcess({TapeBinary(), program.string()}, lines + "\n");
    EXPECT_EQ(result.out, Transcript(program.string(), ReadFileBytes(expected))) << program;
    EXPECT_EQ(result.status, 0) << program;
    ++checked;
  }
  EXPECT_GE(checked, 4);
}

}  // namespace
}  // namespace corvid
