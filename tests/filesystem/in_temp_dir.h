// A test fixture that runs each test inside a fresh temporary working
// directory and puts the old working directory back afterwards.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/test_support.h"

namespace corvid::testing {

class InTempDir : public ::testing::Test {
 protected:
  InTempDir() : saved_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir_.Path());
  }
  ~InTempDir() override { std::filesystem::current_path(saved_); }

  /// The temporary directory as the runtime names it.
  std::u16string Here() const { return Units(Name(dir_.Path())); }

  TempDir dir_;

 private:
  std::filesystem::path saved_;
};

}  // namespace corvid::testing
