// Command execution: runs the code store against the tape.
#pragma once

#include "interpreter/loader.h"
#include "interpreter/tape.h"

namespace corvid {

/// Runs the eleven commands. "." writes the current cell in decimal with
/// PutStdout; "," reads a line with GetStdinLine and stores the code of its
/// first character (255 for an empty line).
class Executor {
 public:
  static constexpr Int kInitialHead = 36;

  /// `head` is where the head starts; runs begin at kInitialHead.
  Executor(const CodeStore& code, Tape& tape, Int head = kInitialHead) noexcept;

  /// Runs from the first command until the end of the code, or until "@"
  /// finds no ")" after it.
  void Run();

  /// The head's cell position.
  Int Head() const noexcept { return head_; }

 private:
  /// Moves codeIndex_ onto the ")" after it; false when there is none.
  bool SearchForward();
  /// Moves codeIndex_ back onto the "(" before it, or to index 0.
  void SearchBackward();
  bool InCode(Int index) const noexcept { return index >= 0 && Long{index} < length_; }

  const std::uint8_t* code_;
  Long length_;
  Tape& tape_;
  Int head_;
  Int codeIndex_ = 0;
};

/// Adds with 32-bit wrap-around.
inline Int WrappingAdd(Int a, Int b) noexcept {
  return static_cast<Int>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

}  // namespace corvid
