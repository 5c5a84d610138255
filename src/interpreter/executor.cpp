#include "interpreter/executor.h"

#include "runtime/app.h"

namespace corvid {

Executor::Executor(const CodeStore& code, Tape& tape, Int head) noexcept
    : code_(code.commands.data()), length_(code.Length()), tape_(tape), head_(head) {}

// An index that wrapped past 2^31-1 commands is negative and cannot address
// the store; the run treats it as the end of the code.
void Executor::Run() {
  bool skipNext = false;
  for (; InCode(codeIndex_); codeIndex_ = WrappingAdd(codeIndex_, 1)) {
    if (skipNext) {
      skipNext = false;
      continue;
    }
    switch (code_[codeIndex_]) {
      case '+':
        tape_.Write(head_, static_cast<std::uint8_t>(tape_.Read(head_) + 1));
        break;
      case '-':
        tape_.Write(head_, static_cast<std::uint8_t>(tape_.Read(head_) - 1));
        break;
      case '.':
        PutStdout(String::FormatInt(tape_.Read(head_)));
        break;
      case ',':
        tape_.Write(head_, static_cast<std::uint8_t>(FirstCode(GetStdinLine())));
        break;
      case '<':
        head_ = WrappingAdd(head_, -1);
        break;
      case '>':
        head_ = WrappingAdd(head_, 1);
        break;
      case '@':
        if (!SearchForward()) return;
        break;
      case '#':
        skipNext = tape_.Read(head_) != 0;
        break;
      case '%':
        SearchBackward();
        break;
      default:  // "(" and ")" are markers only
        break;
    }
  }
}

bool Executor::SearchForward() {
  for (;;) {
    codeIndex_ = WrappingAdd(codeIndex_, 1);
    if (!InCode(codeIndex_)) return false;
    if (code_[codeIndex_] == ')') return true;
  }
}

void Executor::SearchBackward() {
  while (codeIndex_ > 0) {
    --codeIndex_;
    if (codeIndex_ == 0 || code_[codeIndex_] == '(') return;
  }
}

}  // namespace corvid
