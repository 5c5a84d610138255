// The order in which the library modules finish starting, seen from the
// program module.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "interpreter/modules.h"
#include "runtime/module.h"

namespace corvid {
namespace {

const std::vector<std::string> kStartOrder = {
    "runtime",          "standard-library bindings", "stream",        "bank",
    "bank stream",      "file system",               "math",          "random",
    "socket",           "RAM stream",                "byte-order stream", "socket stream",
    "HTTP stream",      "text stream",               "console",       "linked list",
    "basic",            "legacy string",             "program"};

// Runs in a process of its own (the test binary started again for this one
// test), so no other test has started a module before.
[[noreturn]] void StartAndCompare() {
  StartProgramModule();
  StartProgramModule();  // a second start adds nothing
  const auto& started = StartedModules();
  if (started == kStartOrder) std::exit(0);
  for (const auto& name : started) std::fprintf(stderr, "%s\n", name.c_str());
  std::exit(1);
}

TEST(ModuleStart, FinishesInImportOrder) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(StartAndCompare(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace corvid
