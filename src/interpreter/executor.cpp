#include "interpreter/internal/executor.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <system_error>
#include <utility>

#include "interpreter/internal/commands.h"
#include "interpreter/internal/opcodes.inc"
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

}  // namespace

StandardPort::StandardPort() : terminal_(StdoutIsTerminal()), quietSince_(ElapsedMillis()) {}

void StandardPort::Write(const char* text, std::size_t length) {
  WriteStdout(reinterpret_cast<const std::uint8_t*>(text), length);
  if (terminal_) FlushStdout();
}

Int StandardPort::ReadFirstCode() { return GetStdinFirstCode(); }

bool StandardPort::Tick() {
  Int now = ElapsedMillis();
  Int waited = static_cast<Int>(static_cast<std::uint32_t>(now) - static_cast<std::uint32_t>(quietSince_));
  if (StdoutPending() && waited >= kFlushMillis) FlushStdout();
  if (!StdoutPending()) quietSince_ = now;
  return true;
}

Executor::Executor(Program program, Tape& tape, CommandPort& port, Int head)
    : program_(std::move(program)), view_(ViewOf(program_)), tape_(tape), port_(port), head_(head) {
  loopScratch_.day.fill(-1);
}

void Executor::Adopt(Program program) {
  program_ = std::move(program);
  view_ = ViewOf(program_);
}

bool Executor::GrowScratch(std::uint32_t cells, bool quiet) {
  try {
    loopScratch_.base.resize(cells);
    loopScratch_.step.resize(cells);
    loopScratch_.link.resize(cells);
    return true;
  } catch (const std::bad_alloc&) {
    if (!quiet) throw;
    return false;
  }
}

bool Executor::TryReach(Long low, Long high) noexcept {
  try {
    tape_.Reach(low, high);
    return true;
  } catch (...) {
    // Run meets the failure again, where it can report it.
    return false;
  }
}

void Executor::WriteCell(std::uint8_t value, Int times) {
  const Digits& digits = kDigits[value];
  if (times == 1) {
    port_.Write(digits.text, digits.length);
    return;
  }
  char buffer[192];
  std::size_t used = 0;
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

// Each cell of the body follows its own course: a guard tests and changes
// only its own cell, and the head is back at the counter when the iteration
// ends. A cell changes by its step in every iteration in which none of its
// guards fires, so the iteration in which one first fires, and the one after
// which the counter reads 0, follow from the cell's value alone. The run
// goes from one such iteration to the next, working out only the cells whose
// guards fire there. Those iterations all lie within 256 of the next one to
// run, so the cells wait in a calendar of 256 days. A cell that a firing
// brings back to the value it had before is caught in a loop of its own: it
// fires alike in every iteration from then on and keeps that value.
class Executor::LoopRun {
 public:
  LoopRun(const ProgramView& program, const LoopShape& shape, LoopScratch& scratch)
      : cells_(program.loopCells + shape.cellsBegin),
        guards_(program.loopGuards + shape.guardsBegin),
        ends_(program.loopGuardEnds + shape.endsBegin),
        count_(shape.cells),
        guarded_(shape.guarded),
        counter_(shape.counter),
        base_(scratch.base.data()),
        step_(scratch.step.data()),
        link_(scratch.link.data()),
        day_(scratch.day) {}

  /// Runs the loop from its start for at most `rounds` days, the head's
  /// cell at `head`; adds the work done to `work`.
  LoopEnd Run(std::uint8_t* head, Long rounds, Long& work);

 private:
  static constexpr std::uint32_t kNone = 0xFFFFFFFF;

  std::uint32_t FirstGuard(std::uint32_t c) const { return c == 0 ? 0u : std::uint32_t{ends_[c - 1]}; }
  /// The cell `c` at the start of iteration `t`.
  std::uint8_t Value(std::uint32_t c, std::uint32_t t) const {
    return static_cast<std::uint8_t>(base_[c] + t * step_[c]);
  }
  /// Puts the cell `c` on the day of its first firing from iteration `t` on.
  void Schedule(std::uint32_t c, std::uint32_t t);
  /// The first iteration from `t` on with cells to fire, or kNone.
  std::uint32_t NextDay(std::uint32_t t) const;
  /// The first iteration from `t` on at whose end the counter reads 0, or
  /// kNone.
  std::uint32_t LastIteration(std::uint32_t t) const {
    Int j = FirstZero(Value(counter_, t + 1), step_[counter_]);
    return j == kNever ? kNone : t + static_cast<std::uint32_t>(j);
  }
  /// Iteration `t` for the cells on its day; whether the counter was one.
  bool FireDay(std::uint32_t t, Long& work);
  /// Stores every cell's value at the start of iteration `t` and empties
  /// the calendar.
  void Finish(std::uint8_t* head, std::uint32_t t);

  const LoopCell* cells_;
  const LoopGuard* guards_;
  const std::uint16_t* ends_;
  const std::uint32_t count_, guarded_, counter_;
  std::uint8_t* base_;   // value before iteration 0, as firings changed it
  std::uint8_t* step_;   // change per iteration: the cell's, or 0 once caught
  std::int32_t* link_;   // the next cell on the same day
  std::array<std::int32_t, 256>& day_;  // first cell per day, -1 for none
  std::array<std::uint64_t, 4> busy_{};  // the days with cells
};

void Executor::LoopRun::Schedule(std::uint32_t c, std::uint32_t t) {
  std::uint32_t first = kNone;
  std::uint8_t v = Value(c, t);
  for (std::uint32_t g = FirstGuard(c); g < ends_[c]; ++g) {
    Int j = FirstZero(static_cast<std::uint8_t>(v + guards_[g].before), step_[c]);
    if (j != kNever) first = std::min(first, t + static_cast<std::uint32_t>(j));
  }
  if (first == kNone) return;
  std::uint32_t d = first & 255;
  link_[c] = day_[d];
  day_[d] = static_cast<std::int32_t>(c);
  busy_[d >> 6] |= std::uint64_t{1} << (d & 63);
}

std::uint32_t Executor::LoopRun::NextDay(std::uint32_t t) const {
  std::uint32_t from = t & 255;
  for (std::uint32_t k = 0; k <= 4; ++k) {
    std::uint32_t w = ((from >> 6) + k) & 3;
    std::uint64_t bits = busy_[w];
    if (k == 0) bits &= ~std::uint64_t{0} << (from & 63);
    if (k == 4) bits &= (std::uint64_t{1} << (from & 63)) - 1;
    if (bits) return t + (((w << 6) + static_cast<std::uint32_t>(std::countr_zero(bits)) - from) & 255);
  }
  return kNone;
}

bool Executor::LoopRun::FireDay(std::uint32_t t, Long& work) {
  bool counterFired = false;
  std::uint32_t d = t & 255;
  std::int32_t c = day_[d];
  day_[d] = -1;
  busy_[d >> 6] &= ~(std::uint64_t{1} << (d & 63));
  for (; c >= 0;) {
    std::uint32_t cell = static_cast<std::uint32_t>(c);
    c = link_[cell];
    // Iteration `t` for this cell: guards in body order, each seeing the
    // changes of those that fired before it.
    std::uint8_t v = Value(cell, t), extra = 0;
    for (std::uint32_t g = FirstGuard(cell); g < ends_[cell]; ++g)
      if (static_cast<std::uint8_t>(v + guards_[g].before + extra) == 0)
        extra = static_cast<std::uint8_t>(extra + guards_[g].change);
    if (static_cast<std::uint8_t>(step_[cell] + extra) == 0) {
      base_[cell] = v;  // caught: the same value for good
      step_[cell] = 0;
    } else {
      base_[cell] = static_cast<std::uint8_t>(base_[cell] + extra);
      Schedule(cell, t + 1);
    }
    counterFired = counterFired || cell == counter_;
    work += ends_[cell] - FirstGuard(cell) + 1;
  }
  return counterFired;
}

void Executor::LoopRun::Finish(std::uint8_t* head, std::uint32_t t) {
  for (std::uint32_t c = 0; c < count_; ++c) head[cells_[c].off] = Value(c, t);
  for (std::uint32_t w = 0; w < 4; ++w)
    for (std::uint64_t bits = busy_[w]; bits; bits &= bits - 1)
      day_[(w << 6) + static_cast<std::uint32_t>(std::countr_zero(bits))] = -1;
}

Executor::LoopEnd Executor::LoopRun::Run(std::uint8_t* head, Long rounds, Long& work) {
  for (std::uint32_t c = 0; c < count_; ++c) {
    base_[c] = head[cells_[c].off];
    step_[c] = cells_[c].step;
  }
  for (std::uint32_t c = 0; c < guarded_; ++c) Schedule(c, 0);
  work += guarded_ + 1;
  std::uint32_t last = LastIteration(0);
  std::uint32_t done = 0;  // iterations run
  for (Long round = 0; round < rounds; ++round) {
    std::uint32_t firing = NextDay(done);
    std::uint32_t next = std::min(firing, last);
    if (next == kNone) return LoopEnd::Never;
    bool counterFired = firing == next && FireDay(next, work);
    done = next + 1;
    if (next == last || counterFired) {
      if (Value(counter_, done) == 0) {
        Finish(head, done);
        return LoopEnd::Done;
      }
      last = LastIteration(done);
    }
  }
  Finish(head, done);
  return LoopEnd::Later;
}

Executor::LoopEnd Executor::RunLoop(const LoopShape& shape, std::uint8_t* head, Long& work) {
  // Rounds before the run may tick: each takes at most 256 iterations, so
  // the iteration count stays far from wrapping.
  const Long rounds = std::min<Long>(tickInterval_, 1024);
  return LoopRun(view_, shape, loopScratch_).Run(head, rounds, work);
}

bool Executor::Spend(Long& ticks, Long weight) {
  if ((ticks -= weight) >= 0) return true;
  ticks = tickInterval_;
  return Tick();
}

// The ops of a segment are exact wherever the head stands: its cells lie
// less than 2^13 apart, so at wrapped positions they stay distinct cells,
// and each cell it touches is one that an op reads or writes. Only the
// stretch of tape they stand on may be split between both ends of the
// head's range, so each cell goes through the tape on its own.
std::uint32_t Executor::RunSegmentWrapped(std::uint32_t reach, Long& ticks) {
  const Op* const ops = view_.ops;
  auto position = [this](std::int32_t off) { return Long{WrappingAdd(head_, off)}; };
  auto read = [&](std::int32_t off, std::uint8_t add) {
    return static_cast<std::uint8_t>(tape_.Read(position(off)) + add);
  };
  auto write = [&](std::int32_t off, std::uint8_t value) { tape_.Write(position(off), value); };
  // A jump, when `taken`, ends the segment at its target.
  auto land = [&](const Op& op, bool taken, std::uint32_t next) -> std::uint32_t {
    if (!taken) return next;
    return Spend(ticks, 1) ? op.y : kStopped;
  };
  for (std::uint32_t i = reach + 1;; ++i) {
    const Op& op = ops[i];
    switch (op.code) {
      case OpCode::Add: write(op.off, read(op.off, op.a)); break;
      case OpCode::AddRow:
        for (std::int32_t k = 0; k < op.x; ++k) {
          // A 0 in a row stands for a cell the segment need not touch.
          std::uint8_t add = view_.rows[op.y + static_cast<std::uint32_t>(k)];
          if (add) write(op.off + k, read(op.off + k, add));
        }
        break;
      case OpCode::CondAdd: {
        std::uint8_t v = read(op.off, op.a);
        write(op.off, static_cast<std::uint8_t>(v + (v == 0 ? op.b : 0)));
        break;
      }
      case OpCode::Output:
      case OpCode::OutputIfZero: {
        std::uint8_t v = read(op.off, op.a);
        write(op.off, v);
        if (op.code == OpCode::Output) WriteCell(v, op.x);
        else if (v == 0) WriteCell(0, 1);
        break;
      }
      case OpCode::Input: write(op.off, static_cast<std::uint8_t>(port_.ReadFirstCode())); break;
      case OpCode::InputIfZero: {
        std::uint8_t v = read(op.off, op.a);
        write(op.off, v == 0 ? static_cast<std::uint8_t>(port_.ReadFirstCode()) : v);
        break;
      }
      case OpCode::Move: head_ = WrappingAdd(head_, op.x); return i + 1;
      case OpCode::Jump: head_ = WrappingAdd(head_, op.x); return land(op, true, i + 1);
      case OpCode::CondMove:
      case OpCode::JumpIfZero:
      case OpCode::JumpIfNonZero: {
        head_ = WrappingAdd(head_, op.x);
        std::uint8_t v = read(0, op.a);
        write(0, v);
        if (op.code == OpCode::JumpIfZero) return land(op, v == 0, i + 1);
        if (op.code == OpCode::JumpIfNonZero) return land(op, v != 0, i + 1);
        if (v == 0) head_ = WrappingAdd(head_, static_cast<std::int16_t>(op.b));
        return i + 1;
      }
      case OpCode::Reach:
      case OpCode::Loop:
      case OpCode::Clear:
      case OpCode::End: return i;  // the segment ended without a jump or move
    }
  }
}

Executor::LoopEnd Executor::RunLoopWrapped(const LoopShape& shape, Long& work) {
  const LoopCell* cells = view_.loopCells + shape.cellsBegin;
  wrappedCells_.resize(static_cast<std::size_t>(shape.high - shape.low + 1));
  std::uint8_t* head = wrappedCells_.data() - shape.low;
  for (std::uint32_t c = 0; c < shape.cells; ++c)
    head[cells[c].off] = static_cast<std::uint8_t>(tape_.Read(Long{WrappingAdd(head_, cells[c].off)}));
  LoopEnd end = RunLoop(shape, head, work);
  for (std::uint32_t c = 0; c < shape.cells; ++c) tape_.Write(Long{WrappingAdd(head_, cells[c].off)}, head[cells[c].off]);
  return end;
}

// Dispatch through a table of label addresses where the compiler has them
// (a GNU extension that ISO C++ lacks, hence the pragma): each op jumps
// straight to the next op's code, and the branch predictor sees one
// indirect jump per op rather than one shared by all. Elsewhere, or built
// with CORVID_PORTABLE, a switch does the same work in ISO C++.
#if defined(__GNUC__) && !defined(CORVID_PORTABLE)
#define CORVID_COMPUTED_GOTO 1
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#endif

bool Executor::Run() {
  if (tickOwed_) {
    tickOwed_ = false;
    if (!Tick()) return false;
  }
  return Execute<false>(nullptr);
}

void Executor::RunAhead(ProgramFeed& feed) {
  if (!feed.Await(0, view_)) return;
  Execute<true>(&feed);
}

// Running ahead, every op is first checked to be final (`end` is where the
// final ones end); where one is not, the run waits for the translator at
// `await`. It stops at `pause`, where Run can go on as if it had not.
template <bool kAhead>
bool Executor::Execute(ProgramFeed* feed) {
#ifdef CORVID_COMPUTED_GOTO
#define CORVID_OPCODE_LABEL(name, operands) &&op_##name,
  static const void* const kDispatch[] = {CORVID_OPCODES(CORVID_OPCODE_LABEL)};
#undef CORVID_OPCODE_LABEL
#endif

  const Op* ops = view_.ops;
  const std::uint8_t* rows = view_.rows;
  const Op* pc = ops + pc_;
  const Op* end = ops + view_.final;
  Int head = head_;
  std::uint8_t* store = nullptr;  // the cell at position p is store[p + zero]
  Long zero = 0;
  Long at = 0;                    // index of the head's cell in store
  Long low = 0, high = 0;         // positions that exist: low .. high-1
  Long ticks = ticks_ < 0 ? tickInterval_ : ticks_;

#define CELL(off) store[at + (off)]
#ifdef CORVID_COMPUTED_GOTO
#define RUN_OP() goto* kDispatch[static_cast<std::uint8_t>(pc->code)]
#define DISPATCH()                      \
  do {                                  \
    if (kAhead && pc >= end) goto await; \
    RUN_OP();                           \
  } while (0)
#define OP(name) op_##name
#define OPS_BEGIN DISPATCH();
#define OPS_END
#else
#define RUN_OP() goto run_op
#define DISPATCH() goto dispatch
#define OP(name) case OpCode::name
#define OPS_BEGIN                        \
  dispatch:                              \
  if (kAhead && pc >= end) goto await;   \
  run_op:                                \
  switch (pc->code) {
#define OPS_END }
#endif
#define NEXT() \
  do {         \
    ++pc;      \
    DISPATCH(); \
  } while (0)
  // When every segment is to go command by command, no cell counts as
  // existing, so that every Reach takes its slow road.
#define REFRESH()                                        \
  do {                                                   \
    store = tape_.Storage();                             \
    zero = tape_.Zero();                                 \
    low = stepwise_ ? kHighestHead : -tape_.Origin();    \
    high = stepwise_ ? kLowestHead : tape_.Extent();     \
    at = Long{head} + zero;                              \
  } while (0)
#define MOVE(by)                     \
  do {                               \
    head = WrappingAdd(head, (by));  \
    at = Long{head} + zero;          \
  } while (0)
  // Running ahead, a tick that comes due is owed to Run, and the run
  // stops at the next op if it was asked to.
#define TICK(weight)                         \
  do {                                       \
    if ((ticks -= (weight)) < 0) {           \
      ticks = tickInterval_;                 \
      if (kAhead) {                          \
        tickOwed_ = true;                    \
        if (feed->Stopping()) end = ops;     \
      } else {                               \
        head_ = head;                        \
        if (!Tick()) goto stopped;           \
      }                                      \
    }                                        \
  } while (0)
#define REACH(first, last)                                                              \
  do {                                                                                  \
    if (kAhead) {                                                                       \
      if (!TryReach(Long{head} + (first), Long{head} + (last))) goto pause;             \
    } else {                                                                            \
      tape_.Reach(Long{head} + (first), Long{head} + (last));                           \
    }                                                                                   \
  } while (0)
  // Whether the cells from `first` to `last` (from the head) lie outside
  // the tape, and whether the head's range wraps around within them.
#define OUTSIDE(first, last) (Long{head} + (first) < low || Long{head} + (last) >= high)
#define WRAPS(first, last) \
  (Long{head} + (first) < kLowestHead || Long{head} + (last) > kHighestHead || stepwise_)

  REFRESH();
  OPS_BEGIN

OP(Reach):
  if (OUTSIDE(pc->off, pc->x)) [[unlikely]] {
    if (WRAPS(pc->off, pc->x)) {
      if (kAhead) goto pause;
      TICK(pc->b);
      head_ = head;
      std::uint32_t resume = RunSegmentWrapped(static_cast<std::uint32_t>(pc - ops), ticks);
      if (resume == kStopped) return false;
      head = head_;
      pc = ops + resume;
      REFRESH();
      DISPATCH();
    }
    REACH(pc->off, pc->x);
    REFRESH();
  }
  TICK(pc->b);
  NEXT();

OP(Add):
  CELL(pc->off) = static_cast<std::uint8_t>(CELL(pc->off) + pc->a);
  NEXT();

OP(AddRow): {
  std::uint8_t* cell = &CELL(pc->off);
  const std::uint8_t* add = rows + pc->y;
  for (Int k = 0; k < pc->x; ++k) cell[k] = static_cast<std::uint8_t>(cell[k] + add[k]);
  NEXT();
}

OP(CondAdd): {
  std::uint8_t v = static_cast<std::uint8_t>(CELL(pc->off) + pc->a);
  CELL(pc->off) = static_cast<std::uint8_t>(v + (v == 0 ? pc->b : 0));
  NEXT();
}

OP(Output): {
  if (kAhead) goto pause;
  std::uint8_t v = static_cast<std::uint8_t>(CELL(pc->off) + pc->a);
  CELL(pc->off) = v;
  head_ = head;
  WriteCell(v, pc->x);
  NEXT();
}

OP(OutputIfZero): {
  if (kAhead) goto pause;
  std::uint8_t v = static_cast<std::uint8_t>(CELL(pc->off) + pc->a);
  CELL(pc->off) = v;
  if (v == 0) {
    head_ = head;
    WriteCell(0, 1);
  }
  NEXT();
}

OP(Input):
  if (kAhead) goto pause;
  head_ = head;
  CELL(pc->off) = static_cast<std::uint8_t>(port_.ReadFirstCode());
  NEXT();

OP(InputIfZero): {
  if (kAhead) goto pause;
  std::uint8_t v = static_cast<std::uint8_t>(CELL(pc->off) + pc->a);
  if (v == 0) {
    head_ = head;
    v = static_cast<std::uint8_t>(port_.ReadFirstCode());
  }
  CELL(pc->off) = v;
  NEXT();
}

OP(Move):
  MOVE(pc->x);
  NEXT();

OP(CondMove): {
  MOVE(pc->x);
  std::uint8_t v = static_cast<std::uint8_t>(CELL(0) + pc->a);
  CELL(0) = v;
  MOVE(v == 0 ? static_cast<Int>(static_cast<std::int16_t>(pc->b)) : 0);
  NEXT();
}

OP(Jump):
  MOVE(pc->x);
  pc = ops + pc->y;
  TICK(1);
  DISPATCH();

OP(JumpIfZero): {
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

OP(JumpIfNonZero): {
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

OP(Loop): {
  const LoopShape& shape = view_.loops[static_cast<std::size_t>(pc->x)];
  if (shape.cells > loopScratch_.base.size()) [[unlikely]] {
    if (!GrowScratch(shape.cells, kAhead)) goto pause;
  }
  Long work = 1;
  LoopEnd ended;
  if (OUTSIDE(shape.low, shape.high) && WRAPS(shape.low, shape.high)) [[unlikely]] {
    if (kAhead) goto pause;
    head_ = head;
    ended = RunLoopWrapped(shape, work);
    REFRESH();
  } else {
    if (OUTSIDE(shape.low, shape.high)) {
      REACH(shape.low, shape.high);
      REFRESH();
    }
    ended = RunLoop(shape, store + at, work);
  }
  // A loop that never ends leaves the tape as it was: Run runs it again.
  if (kAhead && ended == LoopEnd::Never) goto pause;
  TICK(work);
  if (ended == LoopEnd::Never) goto forever;
  if (ended == LoopEnd::Done) ++pc;
  DISPATCH();
}

OP(Clear):
  if (head < low || head >= high) {
    REACH(0, 0);
    REFRESH();
  }
  CELL(0) = 0;
  NEXT();

OP(End):
  if (kAhead) goto pause;
  pc_ = static_cast<std::uint32_t>(pc - ops);
  head_ = head;
  return true;
  OPS_END

forever:
  // The counter never reads 0 and no guard ever fires: the loop runs for
  // ever without anything to show for it.
  for (;;) TICK(tickInterval_);

stopped:
  pc_ = static_cast<std::uint32_t>(pc - ops);
  head_ = head;
  return false;

await:
  if (kAhead) {
    const auto index = static_cast<std::uint32_t>(pc - ops);
    if (feed->Await(index, view_)) {
      ops = view_.ops;
      rows = view_.rows;
      end = ops + view_.final;
      pc = ops + index;
      RUN_OP();
    }
  }

pause:
  pc_ = static_cast<std::uint32_t>(pc - ops);
  head_ = head;
  ticks_ = ticks;
  return false;

#undef CELL
#undef RUN_OP
#undef DISPATCH
#undef OP
#undef OPS_BEGIN
#undef OPS_END
#undef NEXT
#undef REFRESH
#undef MOVE
#undef TICK
#undef REACH
#undef OUTSIDE
#undef WRAPS
}

#ifdef CORVID_COMPUTED_GOTO
#pragma GCC diagnostic pop
#undef CORVID_COMPUTED_GOTO
#endif

AheadRun::AheadRun(Executor& executor, Translator& translator, std::uint32_t batch) : translator_(translator) {
  translator_.SetFeed(&feed_, batch);
  try {
    thread_ = std::thread([this, &executor] {
      executor.RunAhead(feed_);
      feed_.Leave();
    });
  } catch (const std::system_error&) {
    translator_.SetFeed(nullptr);  // no thread: the run waits for the load
  }
}

void AheadRun::Finish() noexcept {
  if (thread_.joinable()) {
    feed_.Stop();
    thread_.join();
  }
  translator_.SetFeed(nullptr);
}

}  // namespace corvid
