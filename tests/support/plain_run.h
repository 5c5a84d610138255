// The language carried out one command at a time, the way the run outline
// states it, and a port with scripted input: the yardstick that the tests
// and the interpreter's fuzz target hold the translating executor against.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "interpreter/internal/executor.h"
#include "interpreter/internal/tape.h"

namespace corvid::testing {

/// What a run did: its output, where the head ended and the whole tape,
/// cells -origin .. extent-1, laid out as Tape reports them.
struct PlainRun {
  bool finished = false;  // false: the step budget ran out first
  std::string output;
  Int head = 0;
  Long origin = 0, extent = 0;
  std::vector<std::uint8_t> cells;

  bool operator==(const PlainRun&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const PlainRun& run) {
  os << (run.finished ? "finished" : "stopped") << " output=\"" << run.output << "\" head=" << run.head
     << " cells " << -run.origin << ".." << run.extent - 1 << ":";
  for (std::size_t k = 0; k < run.cells.size() && k < 400; ++k)
    if (run.cells[k]) os << " [" << static_cast<Long>(k) - run.origin << "]=" << int{run.cells[k]};
  return os;
}

/// Runs `code` from `head` for at most `budget` commands; `input` gives the
/// codes "," reads, and -1 (stored as 255) once it runs out.
inline PlainRun RunPlainly(const std::string& code, const std::vector<Int>& input, Int head, Long budget) {
  PlainRun o;
  o.head = head;
  o.extent = Tape::kInitialCells;
  o.cells.assign(static_cast<std::size_t>(o.extent), 0);
  // The tape grows exactly to each cell a command uses.
  auto cell = [&o](Long p) -> std::uint8_t& {
    if (p < -o.origin) {
      o.cells.insert(o.cells.begin(), static_cast<std::size_t>(-p - o.origin), 0);
      o.origin = -p;
    }
    if (p >= o.extent) {
      o.cells.resize(static_cast<std::size_t>(p + 1 + o.origin), 0);
      o.extent = p + 1;
    }
    return o.cells[static_cast<std::size_t>(p + o.origin)];
  };
  const Long length = static_cast<Long>(code.size());
  std::size_t nextInput = 0;
  bool skip = false;
  for (Int i = 0; i >= 0 && i < length; i = WrappingAdd(i, 1)) {
    if (budget-- == 0) return o;
    if (skip) {
      skip = false;
      continue;
    }
    switch (code[static_cast<std::size_t>(i)]) {
      case '+': ++cell(o.head); break;
      case '-': --cell(o.head); break;
      case '.': o.output += std::to_string(cell(o.head)); break;
      case ',': cell(o.head) = static_cast<std::uint8_t>(nextInput < input.size() ? input[nextInput++] : -1); break;
      case '<': o.head = WrappingAdd(o.head, -1); break;
      case '>': o.head = WrappingAdd(o.head, 1); break;
      case '#': skip = cell(o.head) != 0; break;
      case '@':
        do ++i;
        while (i < length && code[static_cast<std::size_t>(i)] != ')');
        if (i >= length) i = -2;  // no ")": the run ends
        break;
      case '%':
        while (i > 0) {
          --i;
          if (i == 0 || code[static_cast<std::size_t>(i)] == '(') break;
        }
        break;
      default: break;
    }
  }
  o.finished = true;
  return o;
}

/// A port that reads from a list, collects what is written and lets the
/// run tick `ticks` times before it stops it.
class ScriptedPort : public CommandPort {
 public:
  ScriptedPort(std::vector<Int> input, Long ticks) : input_(std::move(input)), ticks_(ticks) {}
  void Write(const char* text, std::size_t length) override { output.append(text, length); }
  Int ReadFirstCode() override { return next_ < input_.size() ? input_[next_++] : -1; }
  bool Tick() override { return --ticks_ >= 0; }
  std::string output;

 private:
  std::vector<Int> input_;
  std::size_t next_ = 0;
  Long ticks_;
};

}  // namespace corvid::testing
