#include "interpreter/executor.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>

#include "runtime/app.h"

namespace corvid {

namespace {

struct Digits {
  char text[3];
  std::uint8_t length;
};

constexpr std::array<Digits, 256> MakeDigits() {
  std::array<Digits, 256> table{};
  for (int v = 0; v < 256; ++v) {
    Digits& d = table[static_cast<std::size_t>(v)];
    if (v >= 100) d.text[d.length++] = static_cast<char>('0' + v / 100);
    if (v >= 10) d.text[d.length++] = static_cast<char>('0' + v / 10 % 10);
    d.text[d.length++] = static_cast<char>('0' + v % 10);
  }
  return table;
}

constexpr std::array<Digits, 256> kDigits = MakeDigits();

constexpr Long kLowestHead = std::numeric_limits<Int>::min();
constexpr Long kHighestHead = std::numeric_limits<Int>::max();

bool IsEntry(const Program& program, std::uint32_t index) {
  auto it = std::lower_bound(program.entries.begin(), program.entries.end(),
                             std::make_pair(index, std::uint32_t{0}));
  return it != program.entries.end() && it->first == index;
}

}  // namespace

void StandardPort::Write(const char* text, std::size_t length) {
  PutStdout(FromBytes(std::string_view(text, length)));
}

Int StandardPort::ReadFirstCode() { return FirstCode(GetStdinLine()); }

Executor::Executor(const CodeStore& code, Tape& tape, CommandPort& port, Int head)
    : program_(Translate(code)), tape_(tape), port_(port), head_(head) {}

void Executor::WriteCell(std::uint8_t value, Int times) {
  char buffer[192];
  std::size_t used = 0;
  const Digits& digits = kDigits[value];
  for (; times > 0; --times) {
    if (used + sizeof digits.text > sizeof buffer) {
      port_.Write(buffer, used);
      used = 0;
    }
    std::memcpy(buffer + used, digits.text, sizeof digits.text);
    used += digits.length;
  }
  port_.Write(buffer, used);
}

bool Executor::Tick() { return port_.Tick(); }

// The commands one by one, as they stand in the code: no position is
// assumed free of wrap-around here.
std::uint32_t Executor::RunStepwise(std::uint32_t index) {
  const std::uint8_t* code = program_.code;
  const std::uint32_t length = program_.length;
  bool skip = false;
  for (std::uint32_t i = index;; ++i) {
    if (i >= length) return program_.EntryAt(length);
    if (i != index && !skip && IsEntry(program_, i)) return program_.EntryAt(i);
    if (skip) {
      skip = false;
      continue;
    }
    switch (code[i]) {
      case '+': tape_.Write(head_, static_cast<std::uint8_t>(tape_.Read(head_) + 1)); break;
      case '-': tape_.Write(head_, static_cast<std::uint8_t>(tape_.Read(head_) - 1)); break;
      case '.': WriteCell(static_cast<std::uint8_t>(tape_.Read(head_)), 1); break;
      case ',': tape_.Write(head_, static_cast<std::uint8_t>(port_.ReadFirstCode())); break;
      case '<': head_ = WrappingAdd(head_, -1); break;
      case '>': head_ = WrappingAdd(head_, 1); break;
      case '#': skip = tape_.Read(head_) != 0; break;
      case '@':
        do ++i;
        while (i < length && code[i] != ')');
        if (i >= length) return program_.EntryAt(length);
        break;
      case '%':
        while (i > 0) {
          --i;
          if (i == 0 || code[i] == '(') break;
        }
        break;
      default: break;
    }
  }
}

// Dispatch through a table of label addresses (a GNU extension that ISO C++
// lacks, hence the pragma): each op jumps straight to the next op's code.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"

bool Executor::Run() {
#define CORVID_OPCODE_LABEL(name) &&op_##name,
  static const void* const kDispatch[] = {CORVID_OPCODES(CORVID_OPCODE_LABEL)};
#undef CORVID_OPCODE_LABEL

  const Op* const ops = program_.ops.data();
  const Op* pc = ops;
  Int head = head_;
  std::uint8_t* store = nullptr;  // the cell at position p is store[p + zero]
  Long zero = 0;
  Long at = 0;                    // index of the head's cell in store
  Long low = 0, high = 0;         // positions that exist: low .. high-1
  Long ticks = tickInterval_;

#define CELL(off) store[at + (off)]
#define DISPATCH() goto* kDispatch[static_cast<std::uint8_t>(pc->code)]
#define NEXT() \
  do {         \
    ++pc;      \
    DISPATCH(); \
  } while (0)
#define REFRESH()                 \
  do {                            \
    store = tape_.Storage();      \
    zero = tape_.Zero();          \
    low = -tape_.Origin();        \
    high = tape_.Extent();        \
    at = Long{head} + zero;       \
  } while (0)
#define MOVE(by)                     \
  do {                               \
    head = WrappingAdd(head, (by));  \
    at = Long{head} + zero;          \
  } while (0)
#define TICK(weight)                     \
  do {                                   \
    if ((ticks -= (weight)) < 0) {       \
      ticks = tickInterval_;             \
      head_ = head;                      \
      if (!Tick()) goto stopped;         \
    }                                    \
  } while (0)
  // Runs the code index `source` command by command when the head would wrap
  // around within the cells from `first` to `last`.
#define REACH(first, last, source)                                 \
  do {                                                             \
    Long p0 = Long{head} + (first), p1 = Long{head} + (last);      \
    if (p0 < low || p1 >= high) [[unlikely]] {                     \
      if (p0 < kLowestHead || p1 > kHighestHead) {                 \
        TICK(1);                                                   \
        head_ = head;                                              \
        pc = ops + RunStepwise(source);                            \
        head = head_;                                              \
        REFRESH();                                                 \
        DISPATCH();                                                \
      }                                                            \
      tape_.Reach(p0, p1);                                         \
      REFRESH();                                                   \
    }                                                              \
  } while (0)

  REFRESH();
  DISPATCH();

op_Reach:
  REACH(pc->off, pc->x, pc->y);
  TICK(pc->b);
  NEXT();

op_Add:
  CELL(pc->off) = static_cast<std::uint8_t>(CELL(pc->off) + pc->a);
  NEXT();

op_CondAdd: {
  std::uint8_t v = static_cast<std::uint8_t>(CELL(pc->off) + pc->a);
  CELL(pc->off) = static_cast<std::uint8_t>(v + (v == 0 ? pc->b : 0));
  NEXT();
}

op_Output: {
  std::uint8_t v = static_cast<std::uint8_t>(CELL(pc->off) + pc->a);
  CELL(pc->off) = v;
  head_ = head;
  WriteCell(v, pc->x);
  NEXT();
}

op_OutputIfZero: {
  std::uint8_t v = static_cast<std::uint8_t>(CELL(pc->off) + pc->a);
  CELL(pc->off) = v;
  if (v == 0) {
    head_ = head;
    WriteCell(0, 1);
  }
  NEXT();
}

op_Input:
  head_ = head;
  CELL(pc->off) = static_cast<std::uint8_t>(port_.ReadFirstCode());
  NEXT();

op_InputIfZero: {
  std::uint8_t v = static_cast<std::uint8_t>(CELL(pc->off) + pc->a);
  if (v == 0) {
    head_ = head;
    v = static_cast<std::uint8_t>(port_.ReadFirstCode());
  }
  CELL(pc->off) = v;
  NEXT();
}

op_Move:
  MOVE(pc->x);
  NEXT();

op_CondMove: {
  MOVE(pc->x);
  std::uint8_t v = static_cast<std::uint8_t>(CELL(0) + pc->a);
  CELL(0) = v;
  MOVE(v == 0 ? static_cast<Int>(static_cast<std::int16_t>(pc->b)) : 0);
  NEXT();
}

op_Jump:
  MOVE(pc->x);
  pc = ops + pc->y;
  TICK(1);
  DISPATCH();

op_JumpIfZero: {
  MOVE(pc->x);
  std::uint8_t v = static_cast<std::uint8_t>(CELL(0) + pc->a);
  CELL(0) = v;
  if (v == 0) {
    pc = ops + pc->y;
    TICK(1);
    DISPATCH();
  }
  NEXT();
}

op_JumpIfNonZero: {
  MOVE(pc->x);
  std::uint8_t v = static_cast<std::uint8_t>(CELL(0) + pc->a);
  CELL(0) = v;
  if (v != 0) {
    pc = ops + pc->y;
    TICK(1);
    DISPATCH();
  }
  NEXT();
}

op_Loop: {
  const LoopShape& shape = program_.loops[static_cast<std::size_t>(pc->x)];
  TICK(shape.weight);
  REACH(shape.low, shape.high, shape.source);
  const LoopCell* cells = program_.loopCells.data();
  const LoopGuard* guards = program_.loopGuards.data();
  // Iterations until the counter reads 0 at the end of one, and iterations
  // before a guard first finds its cell at 0: all of them run alike.
  Int exit = FirstZero(static_cast<std::uint8_t>(CELL(0) + shape.counterStep), shape.counterStep);
  if (exit != kNever) ++exit;
  Int quiet = kNever;
  for (std::uint32_t g = shape.guardsBegin; g < shape.guardsEnd; ++g)
    quiet = std::min(quiet, FirstZero(static_cast<std::uint8_t>(CELL(guards[g].off) + guards[g].before),
                                      guards[g].step));
  if (quiet >= exit) {
    if (exit == kNever) goto forever;
    for (std::uint32_t c = shape.cellsBegin; c < shape.cellsEnd; ++c)
      CELL(cells[c].off) = static_cast<std::uint8_t>(CELL(cells[c].off) + exit * cells[c].step);
    pc = ops + pc->y;
    DISPATCH();
  }
  // The iterations before the first guard fires, then that one op by op.
  if (quiet > 0)
    for (std::uint32_t c = shape.cellsBegin; c < shape.cellsEnd; ++c)
      CELL(cells[c].off) = static_cast<std::uint8_t>(CELL(cells[c].off) + quiet * cells[c].step);
  NEXT();
}

op_Clear:
  if (head < low || head >= high) {
    tape_.Reach(head, head);
    REFRESH();
  }
  CELL(0) = 0;
  NEXT();

op_End:
  head_ = head;
  return true;

forever:
  // The counter never reads 0 and no guard ever fires: the loop runs for
  // ever without anything to show for it.
  for (;;) TICK(tickInterval_);

stopped:
  head_ = head;
  return false;

#undef CELL
#undef DISPATCH
#undef NEXT
#undef REFRESH
#undef MOVE
#undef TICK
#undef REACH
}

#pragma GCC diagnostic pop

}  // namespace corvid
