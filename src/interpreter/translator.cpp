#include "interpreter/translator.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstdlib>

#include "interpreter/opcodes.inc"

namespace corvid {

namespace {

// A code index past 2^31-1 wraps negative and ends the run, so no run sees
// more commands than this.
constexpr std::uint64_t kReachable = std::uint64_t{1} << 31;
// The offsets of one segment stay within kHalf of its base: the head moving
// further starts a new segment.
constexpr std::int32_t kHalf = 1 << 12;
// Segments holding this many ops besides their changes are cut, so that
// their tick weight stays close (and a loop's guards fit 16 bits).
constexpr std::size_t kMaxSegmentOps = 1 << 15;
static_assert(kHalf < (1 << 15) && kMaxSegmentOps < (1 << 16));
constexpr std::uint16_t kMaxWeight = 0xFFFF;
constexpr std::uint32_t kNoEntry = 0xFFFFFFFF;
// A segment's window cell holds the pending change of its cell in the low
// byte and, above it, how often a change touched the cell (each touch adds
// kTouch, and a carry out of the low byte may add one more). Segments are
// cut at this many commands so that the count cannot wrap round to 0.
constexpr std::uint32_t kTouch = 0x100;
constexpr std::uint32_t kMaxSegmentCommands = 1 << 22;
constexpr std::size_t kReserveLimit = std::size_t{1} << 24;

// What each command byte does to straight-line code: the head move, the
// change of the cell, or, for the rest, that it needs a closer look. Bytes
// that are no command do nothing.
struct CommandTable {
  std::array<std::int8_t, 256> move{};
  std::array<std::uint32_t, 256> change{};  // the change, plus one touch (see Win)
  std::array<bool, 256> other{};
};

constexpr CommandTable MakeCommandTable() {
  CommandTable t;
  t.move['>'] = 1;
  t.move['<'] = -1;
  t.change['+'] = kTouch + 1;
  t.change['-'] = kTouch + 255;
  for (unsigned char c : {'.', ',', '(', ')', '@', '#', '%'}) t.other[c] = true;
  return t;
}

constexpr CommandTable kCommands = MakeCommandTable();

Op MakeOp(OpCode code, std::int32_t off = 0, std::uint8_t a = 0) {
  Op op{code};
  op.off = off;
  op.a = a;
  return op;
}

class Translator {
 public:
  explicit Translator(const CodeStore& store)
      : code_(store.commands.data()),
        n_(static_cast<std::uint32_t>(std::min<std::uint64_t>(store.commands.size(), kReachable))),
        win_(2 * kHalf, 0),
        sums_(2 * kHalf, 0),
        guards_(2 * kHalf, 0) {
    program_.code = code_;
    program_.length = n_;
  }

  Program Run();

 private:
  struct Fixup {
    std::uint32_t op;
    std::uint32_t target;  // code index
  };

  bool IsEntry(std::uint32_t i) const { return i == entry_; }
  void StartBlock(std::uint32_t i);

  std::uint32_t BackTarget(std::uint32_t i) const { return i == 0 ? 1 : lastOpen_ + 1; }
  void Bookkeep(std::uint32_t i);
  std::uint32_t Stretch(std::uint32_t i, std::uint32_t stop);
  std::uint32_t Other(std::uint32_t i);
  std::uint32_t Guard(std::uint32_t i);

  std::uint32_t& Win(std::int32_t off) { return win_[static_cast<std::size_t>(off + kHalf)]; }
  std::uint8_t Delta(std::int32_t off) { return static_cast<std::uint8_t>(Win(off)); }
  void AddDelta(std::int32_t off, std::uint8_t delta) {
    Win(off) = (Win(off) & ~std::uint32_t{0xFF}) | static_cast<std::uint8_t>(Win(off) + delta);
  }
  void Touch(std::int32_t off) {
    low_ = std::min(low_, off);
    high_ = std::max(high_, off);
  }
  bool Accessed() const { return low_ <= high_; }
  std::uint8_t Take(std::int32_t off) {
    std::uint8_t delta = Delta(off);
    Win(off) &= ~std::uint32_t{0xFF};
    return delta;
  }
  void Settle();
  void Output();
  void Input(bool ifZero);

  std::size_t FlushPending(std::vector<Op>& ops);
  void Close(const Op& end, bool hasEnd, std::uint32_t nextSource);
  void CloseWithTest(Op end, std::uint32_t nextSource) {
    Touch(off_);
    end.a = Take(off_);
    end.x = off_;
    Close(end, true, nextSource);
  }
  void CloseFallThrough(std::uint32_t nextSource) {
    if (seg_.empty() && off_ == 0 && headLow_ == 0 && headHigh_ == 0 && !Accessed() && Win(0) < kTouch) {
      // Nothing to emit: the common case between two entries close together.
      pure_ = true;
      blockStart_ = false;
      source_ = nextSource;
      return;
    }
    Op move = MakeOp(OpCode::Move);
    move.x = off_;
    Close(move, off_ != 0, nextSource);
  }
  void ResetSegment();
  bool ClearAt(std::uint32_t i) const;
  std::uint32_t ClearIdiom(std::uint32_t i);
  void LoopTail(std::uint32_t i, std::uint32_t target);
  void WholeLoop(std::uint8_t tailAdd);
  void JumpTo(std::uint32_t target);
  void Seek() { seeking_.push_back(static_cast<std::uint32_t>(program_.ops.size() - 1)); }
  void Taken(std::uint32_t target, std::uint32_t op);

  const std::uint8_t* code_;
  std::uint32_t n_;
  Program program_;
  std::vector<Fixup> ahead_;            // jumps to entries still to come
  std::vector<std::uint32_t> seeking_;  // "@" jumps waiting for the next ")"
  // Op indices of the entries a "%" can go back to: after the last "(",
  // and at index 1; whether a jump went there yet.
  std::uint32_t openOp_ = 0, firstOp_ = 0;
  bool openTaken_ = false, firstTaken_ = false;

  // The next place a jump may land, and the one after it when a "#" stands
  // just before that one (a skip from the "#" lands there).
  std::uint32_t entry_ = 1;
  std::uint32_t skipEntry_ = kNoEntry;
  std::uint32_t lastOpen_ = 0;  // last "(" so far, 0 when none (the same for "%")
  bool dead_ = false;           // after an unconditional jump, until the next entry

  // The open segment: straight-line code on one head position, its base.
  std::vector<Op> seg_;                // ops other than the changes, in order
  std::vector<std::uint32_t> win_;     // change not yet emitted and touches, per offset + kHalf
  std::vector<std::uint8_t> sums_;     // scratch of the same shape, for loops
  std::vector<std::uint32_t> guards_;  // the same
  std::int32_t off_ = 0;
  std::int32_t low_ = kHalf, high_ = -kHalf;  // cells touched; none while low_ > high_
  std::int32_t headLow_ = 0, headHigh_ = 0;  // where the head went since the last Settle
  bool pure_ = true;        // nothing but changes and guarded changes so far
  bool blockStart_ = true;  // the segment starts at an entry
  std::uint32_t block_ = 0;   // code index of the block's entry
  std::uint32_t source_ = 0;  // code index of the segment's first command
};

// Where jumps can land, known as the translation goes: after a ")" that a
// jump made from an "@" before it finds (an "@" taken into a whole loop or
// a fused loop tail makes no jump), after every "(" (whether a "%" finds it
// or not: a block boundary too many costs little), at index 1 (where a "%"
// that finds no "(" resumes), and, when a "#" stands just before one of
// these, two after the "#" (where a skip from it lands).
void Translator::StartBlock(std::uint32_t i) {
  if (!dead_) CloseFallThrough(i);
  const std::uint32_t op = static_cast<std::uint32_t>(program_.ops.size());
  if (i == lastOpen_ + 1) {
    openOp_ = op;
    openTaken_ = false;
  }
  if (i == 1) firstOp_ = op;
  bool taken = false;
  for (std::size_t k = 0; k < ahead_.size();) {
    if (ahead_[k].target == i) {
      program_.ops[ahead_[k].op].y = op;
      ahead_[k] = ahead_.back();
      ahead_.pop_back();
      taken = true;
    } else {
      ++k;
    }
  }
  if (taken) Taken(i, op);
  dead_ = false;
  blockStart_ = true;
  block_ = i;
  source_ = i;
  entry_ = skipEntry_;
  skipEntry_ = kNoEntry;
}

void Translator::Bookkeep(std::uint32_t i) {
  if (code_[i] == '(') {
    lastOpen_ = i;
    entry_ = i + 1;
  } else if (code_[i] == ')' && !seeking_.empty()) {
    for (std::uint32_t op : seeking_) ahead_.push_back({op, i + 1});
    seeking_.clear();
    entry_ = i + 1;
  }
}

// Points the jump just emitted at the entry `target`: one already made (a
// "%" goes back to just after the last "(", or to index 1), or one to come.
// Entries that jumps reach are listed for runs that go command by command.
void Translator::JumpTo(std::uint32_t target) {
  const std::uint32_t op = static_cast<std::uint32_t>(program_.ops.size() - 1);
  if (target == lastOpen_ + 1 && target < source_ && lastOpen_ > 0) {
    program_.ops[op].y = openOp_;
    Taken(target, openOp_);
  } else if (target == 1 && target < source_) {
    program_.ops[op].y = firstOp_;
    Taken(target, firstOp_);
  } else {
    ahead_.push_back({op, target});
  }
}

// Lists the entry at code index `target`, op `op` (once, where that is
// cheap to know).
void Translator::Taken(std::uint32_t target, std::uint32_t op) {
  bool* once = target == 1 ? &firstTaken_ : target == lastOpen_ + 1 ? &openTaken_ : nullptr;
  if (once && *once) return;
  if (once) *once = true;
  program_.entries.push_back({target, op});
}

// Moves and changes from i on, up to `stop`, another command, or a move that
// would leave the segment's window. Returns where it stopped. Free of
// branches that depend on which of the four commands comes: a change adds
// to the window cell under the head, a move adds nothing to the next one.
std::uint32_t Translator::Stretch(std::uint32_t i, std::uint32_t stop) {
  std::int32_t off = off_, low = headLow_, high = headHigh_;
  std::uint32_t* win = win_.data() + kHalf;
  for (;;) {
    // The head moves one cell per command at most, so for this many
    // commands it cannot leave the window.
    const std::uint32_t room = static_cast<std::uint32_t>(kHalf - 1 - std::abs(off));
    const std::uint32_t safe = stop - i > room ? i + room : stop;
    if (safe == i) break;
    for (; i < safe; ++i) {
      const std::uint8_t c = code_[i];
      if (kCommands.other[c]) goto done;
      off += kCommands.move[c];
      win[off] += kCommands.change[c];
      low = std::min(low, off);
      high = std::max(high, off);
    }
    if (i == stop) break;
  }
done:
  off_ = off;
  headLow_ = low;
  headHigh_ = high;
  return i;
}

// The cells the head went to since the last call that a change touched
// join the touched range; their changes stay pending.
void Translator::Settle() {
  for (std::int32_t off = headLow_; off <= headHigh_; ++off) {
    if (Win(off) >= kTouch) {
      Touch(off);
      Win(off) &= 0xFF;
    }
  }
  headLow_ = headHigh_ = off_;
}

void Translator::Output() {
  Touch(off_);
  pure_ = false;
  std::uint8_t before = Take(off_);
  if (before == 0 && !seg_.empty() && seg_.back().code == OpCode::Output && seg_.back().off == off_ &&
      seg_.back().x < (1 << 30)) {
    ++seg_.back().x;
    return;
  }
  Op op = MakeOp(OpCode::Output, off_, before);
  op.x = 1;
  seg_.push_back(op);
}

void Translator::Input(bool ifZero) {
  Touch(off_);
  pure_ = false;
  std::uint8_t before = Take(off_);
  seg_.push_back(ifZero ? MakeOp(OpCode::InputIfZero, off_, before) : MakeOp(OpCode::Input, off_));
}

// The pending changes, as Adds at the end of `ops`.
// The pending changes, at the end of `ops`: one Add per changed cell, or,
// where changed cells stand close together, one AddRow for a row of them (a
// byte per cell instead of an op, and one pass over them). Returns the
// bytes of rows made, for the segment's weight.
std::size_t Translator::FlushPending(std::vector<Op>& ops) {
  constexpr std::int32_t kGap = 8;       // unchanged cells a row may span
  constexpr int kRowChanges = 4;         // changed cells a row must hold
  std::size_t rowBytes = 0;
  for (std::int32_t off = low_; off <= high_; ++off) {
    if (Delta(off) == 0) continue;
    std::int32_t end = off;
    int changes = 0;
    for (std::int32_t k = off; k <= high_ && k - end <= kGap; ++k) {
      if (Delta(k)) {
        end = k;
        ++changes;
      }
    }
    if (changes >= kRowChanges) {
      Op row = MakeOp(OpCode::AddRow, off);
      row.x = end - off + 1;
      row.y = static_cast<std::uint32_t>(program_.rows.size());
      for (std::int32_t k = off; k <= end; ++k) program_.rows.push_back(Take(k));
      ops.push_back(row);
      rowBytes += static_cast<std::size_t>(row.x);
    } else {
      for (std::int32_t k = off; k <= end; ++k)
        if (std::uint8_t delta = Take(k)) ops.push_back(MakeOp(OpCode::Add, k, delta));
    }
    off = end;
  }
  return rowBytes;
}

void Translator::ResetSegment() {
  seg_.clear();
  off_ = 0;
  low_ = kHalf;
  high_ = -kHalf;
  headLow_ = headHigh_ = 0;
  pure_ = true;
  blockStart_ = false;
}

// Ends the open segment with `end` (when `hasEnd`): one Reach of every cell
// it touches, its ops, its pending changes, then `end`.
void Translator::Close(const Op& end, bool hasEnd, std::uint32_t nextSource) {
  std::vector<Op>& ops = program_.ops;
  Settle();
  if (Accessed()) {  // else there are neither ops nor changes
    std::size_t reach = ops.size();
    Op op = MakeOp(OpCode::Reach, low_);
    op.x = high_;
    op.y = source_;
    ops.push_back(op);
    if (!seg_.empty()) ops.insert(ops.end(), seg_.begin(), seg_.end());
    std::size_t rowBytes = FlushPending(ops);
    ops[reach].b = static_cast<std::uint16_t>(std::min<std::size_t>(ops.size() - reach + rowBytes / 16, kMaxWeight));
    ResetSegment();
  } else {
    off_ = 0;
    headLow_ = headHigh_ = 0;
    pure_ = true;
    blockStart_ = false;
  }
  if (hasEnd) ops.push_back(end);
  source_ = nextSource;
}

// Whether "( - # @ % )" or "( + # @ % )" stands from i.
bool Translator::ClearAt(std::uint32_t i) const {
  return i + 5 < n_ && code_[i] == '(' && (code_[i + 1] == '-' || code_[i + 1] == '+') && code_[i + 2] == '#' &&
         code_[i + 3] == '@' && code_[i + 4] == '%' && code_[i + 5] == ')';
}

// The clear idiom from the "(" at i: a Clear at the entry after the "(", as
// the general road below would make it, only sooner, for the idiom is
// common. More clears of the same cell with nothing but changes between
// them are the same Clear: whichever of their entries a jump lands on, the
// cell ends at 0 there, and the changes between are stored over. Returns
// the index of the last command it took.
std::uint32_t Translator::ClearIdiom(std::uint32_t i) {
  if (!ClearAt(i) || skipEntry_ != kNoEntry) return i;
  // A change of the cell just before is dead too, and the Clear makes the
  // cell exist itself.
  Take(off_);
  Settle();
  if (seg_.empty() && low_ == off_ && high_ == off_) {
    low_ = kHalf;
    high_ = -kHalf;
  }
  StartBlock(i + 1);
  program_.ops.push_back(MakeOp(OpCode::Clear));
  blockStart_ = false;
  std::uint32_t last = i + 5;  // the ")" of the last clear taken
  Bookkeep(last);
  while (entry_ == kNoEntry) {  // no jump lands after the ")"
    std::uint32_t next = last + 1;
    while (next < n_ && (code_[next] == '+' || code_[next] == '-')) ++next;
    if (!ClearAt(next)) break;
    lastOpen_ = next;  // its entry is the same Clear
    openTaken_ = false;
    last = next + 5;
  }
  source_ = last + 1;
  return last;
}

// "# @ % )": the "#" keeps the "@" from leaving while the cell is not 0, and
// the "%" goes back; at 0 the run goes on after the ")".
void Translator::LoopTail(std::uint32_t i, std::uint32_t target) {
  Touch(off_);
  Settle();
  if (blockStart_ && target == block_ && off_ == 0 && pure_) {
    WholeLoop(Take(0));
    source_ = i + 4;
    return;
  }
  CloseWithTest(MakeOp(OpCode::JumpIfNonZero), i + 4);
  JumpTo(target);
}

// The open segment, which started at the loop's entry, is the body of a loop
// on the cell under the head and returns to it; it holds only changes and
// guarded changes. Emits it as a whole loop, or as a Clear when all it does
// is count that cell to 0 by an odd step.
void Translator::WholeLoop(std::uint8_t tailAdd) {
  LoopShape shape{};
  shape.low = static_cast<std::int16_t>(low_);
  shape.high = static_cast<std::int16_t>(high_);
  shape.source = block_;
  // What each guard sees in an iteration in which none has fired: the
  // changes of its cell before it. The guards' ops are not emitted, so they
  // keep it in place of their change.
  std::uint8_t* sums = sums_.data() + kHalf;
  std::uint32_t* place = guards_.data() + kHalf;
  for (Op& op : seg_) {
    sums[op.off] = static_cast<std::uint8_t>(sums[op.off] + op.a);
    op.a = sums[op.off];
    ++place[op.off];
  }
  AddDelta(0, tailAdd);
  // The cells: those with guards first, each with its guards' places in
  // the loop's list, then the others that change, and the counter.
  std::vector<LoopCell>& cells = program_.loopCells;
  std::vector<LoopGuard>& guards = program_.loopGuards;
  shape.cellsBegin = static_cast<std::uint32_t>(cells.size());
  shape.guardsBegin = static_cast<std::uint32_t>(guards.size());
  shape.endsBegin = static_cast<std::uint32_t>(program_.loopGuardEnds.size());
  // place[off] counts the cell's guards, then (marked) gives the next place
  // for one of them.
  constexpr std::uint32_t kPlaced = 0x80000000u;
  std::uint32_t placed = 0;
  for (const Op& op : seg_) {
    std::uint32_t& at = place[op.off];
    if (at & kPlaced) continue;
    if (op.off == 0) shape.counter = static_cast<std::uint16_t>(cells.size() - shape.cellsBegin);
    cells.push_back({static_cast<std::int16_t>(op.off), static_cast<std::uint8_t>(sums[op.off] + Delta(op.off))});
    placed += at;
    program_.loopGuardEnds.push_back(static_cast<std::uint16_t>(placed));
    at = (placed - at) | kPlaced;
  }
  shape.guarded = static_cast<std::uint16_t>(cells.size() - shape.cellsBegin);
  guards.resize(guards.size() + placed);
  for (const Op& op : seg_) guards[shape.guardsBegin + (place[op.off]++ & ~kPlaced)] = {op.a, static_cast<std::uint8_t>(op.b)};
  for (std::int32_t off = low_; off <= high_; ++off) {
    std::uint8_t step = static_cast<std::uint8_t>(sums[off] + Take(off));
    if (!place[off] && (step || off == 0)) {
      if (off == 0) shape.counter = static_cast<std::uint16_t>(cells.size() - shape.cellsBegin);
      cells.push_back({static_cast<std::int16_t>(off), step});
    }
    sums[off] = 0;
    place[off] = 0;
  }
  shape.cells = static_cast<std::uint16_t>(cells.size() - shape.cellsBegin);

  if (placed == 0 && low_ == 0 && high_ == 0 && (cells[shape.cellsBegin].step & 1)) {
    cells.resize(shape.cellsBegin);  // no guards: no guard ends either
    program_.ops.push_back(MakeOp(OpCode::Clear));
  } else {
    Op loop = MakeOp(OpCode::Loop);
    loop.x = static_cast<std::int32_t>(program_.loops.size());
    program_.loops.push_back(shape);
    // Nothing jumps here, but a run that goes command by command through the
    // loop comes back to it, and should not stay slow.
    Taken(block_, static_cast<std::uint32_t>(program_.ops.size()));
    program_.ops.push_back(loop);
  }
  ResetSegment();
}

// The "#" at i and, unless an entry follows it, the command it guards.
// Returns the index of the last command it took.
std::uint32_t Translator::Guard(std::uint32_t i) {
  Touch(off_);
  if (i + 1 >= n_) return i;
  if (IsEntry(i + 1)) {
    CloseWithTest(MakeOp(OpCode::JumpIfNonZero), i + 1);
    JumpTo(i + 2);
    skipEntry_ = i + 2;
    return i;
  }
  std::uint32_t next = i + 1;
  switch (code_[next]) {
    case '+':
    case '-': {
      Op op = MakeOp(OpCode::CondAdd, off_, Take(off_));
      op.b = code_[next] == '+' ? 1 : 255;
      seg_.push_back(op);
      break;
    }
    case '(':
    case ')':
      Bookkeep(next);
      break;
    case '<':
    case '>': {
      Op op = MakeOp(OpCode::CondMove);
      op.b = code_[next] == '>' ? 1 : 0xFFFF;
      CloseWithTest(op, i + 2);
      break;
    }
    case '.':
      pure_ = false;
      seg_.push_back(MakeOp(OpCode::OutputIfZero, off_, Take(off_)));
      break;
    case ',':
      Input(true);
      break;
    case '%': {
      std::uint32_t target = BackTarget(next);
      CloseWithTest(MakeOp(OpCode::JumpIfZero), i + 2);
      JumpTo(target);
      break;
    }
    case '@':
      if (i + 3 < n_ && code_[i + 2] == '%' && code_[i + 3] == ')') {
        LoopTail(i, BackTarget(i + 2));
        return i + 2;
      }
      CloseWithTest(MakeOp(OpCode::JumpIfZero), i + 2);
      Seek();
      break;
    default:
      break;  // "#" (skipped or run, it sets nothing) or no command at all
  }
  return next;
}

// The command at i, one that is neither a move nor a change. Returns the
// index of the last command it took.
std::uint32_t Translator::Other(std::uint32_t i) {
  switch (code_[i]) {
    case '.': Output(); break;
    case ',': Input(false); break;
    case '(':
      Bookkeep(i);
      return ClearIdiom(i);
    case ')': Bookkeep(i); break;
    case '@': {
      Op jump = MakeOp(OpCode::Jump);
      jump.x = off_;
      Close(jump, true, i + 1);
      Seek();
      dead_ = true;
      break;
    }
    case '%': {
      std::uint32_t target = BackTarget(i);
      Op jump = MakeOp(OpCode::Jump);
      jump.x = off_;
      Close(jump, true, i + 1);
      JumpTo(target);
      dead_ = true;
      break;
    }
    case '#': return Guard(i);
    default: break;
  }
  return i;
}

Program Translator::Run() {
  // Room for as many ops and entries as programs usually make from this
  // many commands, reserved at once rather than grown: the pages of it that
  // are not used are never touched, and those that are, only once.
  std::size_t most = std::min<std::size_t>(n_, kReserveLimit);
  program_.ops.reserve(most / 2 + 16);
  program_.rows.reserve(most / 2);
  program_.loopCells.reserve(most / 8);
  program_.loopGuards.reserve(most / 8);
  program_.loopGuardEnds.reserve(most / 8);
  for (std::uint32_t i = 0; i < n_;) {
    if (i == entry_) StartBlock(i);
    if (dead_) {
      Bookkeep(i++);  // nothing here runs, but the markers count
      continue;
    }
    i = Stretch(i, std::min({entry_, n_, source_ + kMaxSegmentCommands}));
    if (i >= n_ || i == entry_) continue;
    if (!kCommands.other[code_[i]] || seg_.size() >= kMaxSegmentOps) {
      CloseFallThrough(i);  // out of the window, or a long segment: a fresh one
      continue;
    }
    i = Other(i) + 1;
  }
  if (!dead_) CloseFallThrough(n_);
  std::uint32_t end = static_cast<std::uint32_t>(program_.ops.size());
  program_.ops.push_back(MakeOp(OpCode::End));
  // Jumps to the end of the code, or to a ")" that never comes, end the run.
  for (std::uint32_t op : seeking_) program_.ops[op].y = end;
  for (const Fixup& f : ahead_) program_.ops[f.op].y = end;
  if (!std::is_sorted(program_.entries.begin(), program_.entries.end()))
    std::sort(program_.entries.begin(), program_.entries.end());
  program_.entries.push_back({n_, end});
  return std::move(program_);
}

}  // namespace

std::uint32_t Program::EntryAt(std::uint32_t index) const {
  auto it = std::lower_bound(entries.begin(), entries.end(), std::make_pair(index, std::uint32_t{0}));
  assert(it != entries.end() && it->first == index);
  return it->second;
}

Program Translate(const CodeStore& code) { return Translator(code).Run(); }

}  // namespace corvid
