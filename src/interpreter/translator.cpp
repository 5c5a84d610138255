#include "interpreter/translator.h"

#include <algorithm>
#include <array>
#include <cassert>

namespace corvid {

namespace {

// A code index past 2^31-1 wraps negative and ends the run, so no run sees
// more commands than this.
constexpr std::uint64_t kReachable = std::uint64_t{1} << 31;
// Segments are cut at this many ops so that their tick weight fits an Op.
constexpr std::size_t kMaxSegmentOps = 0xFFFF;
// How far the cells one segment touches may spread before it is cut.
constexpr std::int64_t kMaxWindow = std::int64_t{1} << 16;

constexpr std::int32_t WrapOffset(std::int32_t off, std::int32_t by) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(off) + static_cast<std::uint32_t>(by));
}

// Inverses of the odd numbers modulo 256.
constexpr std::array<std::uint8_t, 256> MakeInverses() {
  std::array<std::uint8_t, 256> inverse{};
  for (unsigned u = 1; u < 256; u += 2)
    for (unsigned v = 1; v < 256; v += 2)
      if (((u * v) & 0xFF) == 1) inverse[u] = static_cast<std::uint8_t>(v);
  return inverse;
}
constexpr std::array<std::uint8_t, 256> kInverse = MakeInverses();

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
        entry_(n_ / 64 + 2, 0) {
    program_.code = code_;
    program_.length = n_;
  }

  Program Run();

 private:
  struct Pending {
    std::int32_t off;
    std::uint8_t delta;
  };
  struct Fixup {
    std::uint32_t op;
    std::uint32_t target;  // code index
  };

  bool IsEntry(std::uint32_t i) const { return (entry_[i >> 6] >> (i & 63)) & 1; }
  void MarkEntry(std::uint32_t i) {
    if (i < n_) entry_[i >> 6] |= std::uint64_t{1} << (i & 63);
  }
  void MarkEntries();

  std::uint32_t BackTarget(std::uint32_t i) const { return i == 0 ? 1 : lastOpen_ + 1; }
  void Bookkeep(std::uint32_t i);
  std::uint32_t Guard(std::uint32_t i);

  void Touch(std::int32_t off) {
    if (!accessed_) {
      low_ = high_ = off;
      accessed_ = true;
    } else {
      low_ = std::min(low_, off);
      high_ = std::max(high_, off);
    }
  }
  Pending* Slot(std::int32_t off);
  void Change(std::uint8_t delta) {
    Touch(off_);
    Pending* p = Slot(off_);
    p->delta = static_cast<std::uint8_t>(p->delta + delta);
  }
  std::uint8_t Take(std::int32_t off);
  void Output();
  void Input(bool ifZero);
  void Push(const Op& op) { seg_.push_back(op); }

  void FlushPending();
  void Close(Op end, bool hasEnd, std::uint32_t nextSource);
  void CloseWithTest(Op end, std::uint32_t nextSource) {
    Touch(off_);
    end.a = Take(off_);
    end.x = off_;
    Close(end, true, nextSource);
  }
  void CloseFallThrough(std::uint32_t nextSource) {
    Op move = MakeOp(OpCode::Move);
    move.x = off_;
    Close(move, off_ != 0, nextSource);
  }
  // A segment can end anywhere: the changes so far are emitted and the
  // head moved, and the next one starts afresh at the command `index_`.
  bool SplitDue() const {
    if (seg_.size() + pending_.size() + 4 >= kMaxSegmentOps) return true;
    if (!accessed_) return false;
    return std::int64_t{std::max(high_, off_)} - std::min(low_, off_) >= kMaxWindow;
  }
  void LoopTail(std::uint32_t i, std::uint32_t target);
  void WholeLoop(std::uint8_t tailAdd);
  void JumpTo(std::uint32_t target) { fixups_.push_back({static_cast<std::uint32_t>(program_.ops.size() - 1), target}); }

  const std::uint8_t* code_;
  std::uint32_t n_;
  std::vector<std::uint64_t> entry_;
  Program program_;
  std::vector<Fixup> fixups_;
  std::vector<std::uint32_t> forward_;  // ops waiting for the next ")"

  std::uint32_t index_ = 0;     // command being translated
  std::uint32_t lastOpen_ = 0;  // last "(" so far, 0 when none (the same for "%")
  bool dead_ = false;           // after an unconditional jump, until the next entry

  // The open segment: straight-line code on one head position, its base.
  std::vector<Op> seg_;
  std::vector<Pending> pending_;     // cells with changes not yet emitted, first touch first
  std::vector<std::int32_t> slot_;   // index into pending_ per offset, -1 for none
  std::int64_t windowLow_ = 0;
  std::int32_t off_ = 0;
  std::int32_t low_ = 0, high_ = 0;
  bool accessed_ = false;
  bool pure_ = true;        // only Add and CondAdd so far
  bool blockStart_ = true;  // the segment starts at an entry
  std::uint32_t block_ = 0;   // code index of the block's entry
  std::uint32_t source_ = 0;  // code index of the segment's first command
};

// Where jumps can land: after the ")" an "@" finds, after the "(" a "%"
// finds (index 1 when the search reaches the start), and, when a "#" stands
// just before an entry, two after it (where a skip from it lands).
void Translator::MarkEntries() {
  bool percent = false;  // a "%" whose "(" is still to be found
  std::uint32_t nextClose = n_;
  for (std::uint32_t i = n_; i-- > 0;) {
    switch (code_[i]) {
      case ')': nextClose = i; break;
      case '@': MarkEntry(nextClose + 1); break;
      case '%': percent = true; break;
      case '(':
        // The search never looks at index 0, but it resumes at 1 either way.
        if (percent) MarkEntry(i + 1);
        percent = false;
        break;
      default: break;
    }
  }
  if (percent) MarkEntry(1);
  for (std::uint32_t i = 0; i + 1 < n_ && code_[i] == '#' && IsEntry(i + 1); ++i) MarkEntry(i + 2);
}

void Translator::Bookkeep(std::uint32_t i) {
  if (code_[i] == '(') {
    lastOpen_ = i;
  } else if (code_[i] == ')') {
    for (std::uint32_t op : forward_) fixups_.push_back({op, i + 1});
    forward_.clear();
  }
}

Translator::Pending* Translator::Slot(std::int32_t off) {
  std::int64_t at = std::int64_t{off} - windowLow_;
  if (at < 0 || at >= static_cast<std::int64_t>(slot_.size())) {
    std::int64_t low = std::min<std::int64_t>(windowLow_, off);
    std::int64_t high = std::max<std::int64_t>(windowLow_ + static_cast<std::int64_t>(slot_.size()), std::int64_t{off} + 1);
    // Room on both sides, so that a walk costs amortised constant time.
    std::int64_t span = std::max<std::int64_t>(64, 2 * (high - low));
    std::int64_t newLow = low - (span - (high - low)) / 2;
    std::vector<std::int32_t> slots(static_cast<std::size_t>(span), -1);
    for (std::size_t k = 0; k < pending_.size(); ++k)
      slots[static_cast<std::size_t>(pending_[k].off - newLow)] = static_cast<std::int32_t>(k);
    slot_ = std::move(slots);
    windowLow_ = newLow;
    at = std::int64_t{off} - windowLow_;
  }
  std::int32_t& s = slot_[static_cast<std::size_t>(at)];
  if (s < 0) {
    s = static_cast<std::int32_t>(pending_.size());
    pending_.push_back({off, 0});
  }
  return &pending_[static_cast<std::size_t>(s)];
}

std::uint8_t Translator::Take(std::int32_t off) {
  std::int64_t at = std::int64_t{off} - windowLow_;
  if (at < 0 || at >= static_cast<std::int64_t>(slot_.size())) return 0;
  std::int32_t s = slot_[static_cast<std::size_t>(at)];
  if (s < 0) return 0;
  std::uint8_t delta = pending_[static_cast<std::size_t>(s)].delta;
  pending_[static_cast<std::size_t>(s)].delta = 0;
  return delta;
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
  Push(op);
}

void Translator::Input(bool ifZero) {
  Touch(off_);
  pure_ = false;
  std::uint8_t before = Take(off_);
  Push(ifZero ? MakeOp(OpCode::InputIfZero, off_, before) : MakeOp(OpCode::Input, off_));
}

void Translator::FlushPending() {
  for (const Pending& p : pending_) {
    if (p.delta) seg_.push_back(MakeOp(OpCode::Add, p.off, p.delta));
    slot_[static_cast<std::size_t>(p.off - windowLow_)] = -1;
  }
  pending_.clear();
  // The next segment's offsets start again at 0.
  windowLow_ = -static_cast<std::int64_t>(slot_.size() / 2);
}

// Ends the open segment with `end` (when `hasEnd`): its pending changes,
// then its ops behind one Reach of every cell it touches.
void Translator::Close(Op end, bool hasEnd, std::uint32_t nextSource) {
  FlushPending();
  if (accessed_) {
    Op reach = MakeOp(OpCode::Reach, low_);
    reach.x = high_;
    reach.b = static_cast<std::uint16_t>(std::min<std::size_t>(seg_.size() + 1, kMaxSegmentOps));
    reach.y = source_;
    program_.ops.push_back(reach);
  }
  program_.ops.insert(program_.ops.end(), seg_.begin(), seg_.end());
  if (hasEnd) program_.ops.push_back(end);
  seg_.clear();
  off_ = 0;
  accessed_ = false;
  pure_ = true;
  blockStart_ = false;
  source_ = nextSource;
}

// "# @ % )": the "#" keeps the "@" from leaving while the cell is not 0, and
// the "%" goes back; at 0 the run goes on after the ")".
void Translator::LoopTail(std::uint32_t i, std::uint32_t target) {
  Touch(off_);
  if (blockStart_ && target == block_ && off_ == 0 && pure_) {
    WholeLoop(Take(0));
    return;
  }
  CloseWithTest(MakeOp(OpCode::JumpIfNonZero), i + 4);
  JumpTo(target);
}

// The open segment, which started at the loop's entry, is the body of a loop
// on the cell under the head and returns to it; it holds only changes. Emits
// it as a whole loop, or as a Clear when all it does is count that cell to 0
// by an odd step.
void Translator::WholeLoop(std::uint8_t tailAdd) {
  FlushPending();
  // Per cell in body order: the changes, and what each guard sees in an
  // iteration in which no guard has fired.
  struct Item {
    std::int32_t off;
    std::uint32_t order;
    std::uint8_t a;
    bool guard;
  };
  std::vector<Item> items;
  items.reserve(seg_.size() + 1);
  for (std::uint32_t k = 0; k < seg_.size(); ++k)
    items.push_back({seg_[k].off, k, seg_[k].a, seg_[k].code == OpCode::CondAdd});
  items.push_back({0, static_cast<std::uint32_t>(seg_.size()), tailAdd, false});
  std::sort(items.begin(), items.end(), [](const Item& p, const Item& q) {
    return p.off != q.off ? p.off < q.off : p.order < q.order;
  });
  LoopShape shape{};
  shape.low = low_;
  shape.high = high_;
  shape.source = block_;
  shape.weight = static_cast<std::uint32_t>(seg_.size() + 1);
  shape.cellsBegin = static_cast<std::uint32_t>(program_.loopCells.size());
  shape.guardsBegin = static_cast<std::uint32_t>(program_.loopGuards.size());
  for (std::size_t k = 0; k < items.size();) {
    std::size_t groupEnd = k;
    std::size_t firstGuard = program_.loopGuards.size();
    std::uint8_t sum = 0;
    for (; groupEnd < items.size() && items[groupEnd].off == items[k].off; ++groupEnd) {
      sum = static_cast<std::uint8_t>(sum + items[groupEnd].a);
      if (items[groupEnd].guard) program_.loopGuards.push_back({items[k].off, sum, 0});
    }
    for (std::size_t g = firstGuard; g < program_.loopGuards.size(); ++g) program_.loopGuards[g].step = sum;
    if (sum) program_.loopCells.push_back({items[k].off, sum});
    if (items[k].off == 0) shape.counterStep = sum;
    k = groupEnd;
  }
  shape.cellsEnd = static_cast<std::uint32_t>(program_.loopCells.size());
  shape.guardsEnd = static_cast<std::uint32_t>(program_.loopGuards.size());
  if (shape.guardsBegin == shape.guardsEnd && low_ == 0 && high_ == 0 && (shape.counterStep & 1)) {
    program_.loopCells.resize(shape.cellsBegin);
    program_.ops.push_back(MakeOp(OpCode::Clear));
  } else {
    Op loop = MakeOp(OpCode::Loop);
    loop.x = static_cast<std::int32_t>(program_.loops.size());
    std::uint32_t start = static_cast<std::uint32_t>(program_.ops.size());
    loop.y = start + static_cast<std::uint32_t>(seg_.size()) + 2;
    program_.loops.push_back(shape);
    program_.ops.push_back(loop);
    program_.ops.insert(program_.ops.end(), seg_.begin(), seg_.end());
    Op back = MakeOp(OpCode::JumpIfNonZero, 0, tailAdd);
    back.y = start;
    program_.ops.push_back(back);
  }
  seg_.clear();
  accessed_ = false;
  pure_ = true;
  blockStart_ = false;
}

// The "#" at i and, unless an entry follows it, the command it guards.
// Returns the index of the last command it took.
std::uint32_t Translator::Guard(std::uint32_t i) {
  Touch(off_);
  if (i + 1 >= n_) return i;
  if (IsEntry(i + 1)) {
    CloseWithTest(MakeOp(OpCode::JumpIfNonZero), i + 1);
    JumpTo(i + 2);
    return i;
  }
  std::uint32_t next = i + 1;
  switch (code_[next]) {
    case '+':
    case '-': {
      Op op = MakeOp(OpCode::CondAdd, off_, Take(off_));
      op.b = code_[next] == '+' ? 1 : 255;
      Push(op);
      break;
    }
    case '(':
    case ')':
      Bookkeep(next);
      break;
    case '#':
      break;  // skipped or run, the second "#" sets nothing
    case '<':
    case '>': {
      Op op = MakeOp(OpCode::CondMove);
      op.b = code_[next] == '>' ? 1 : 0xFFFF;
      CloseWithTest(op, i + 2);
      break;
    }
    case '.': {
      pure_ = false;
      Push(MakeOp(OpCode::OutputIfZero, off_, Take(off_)));
      break;
    }
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
      forward_.push_back(static_cast<std::uint32_t>(program_.ops.size() - 1));
      break;
    default:
      break;
  }
  return next;
}

Program Translator::Run() {
  MarkEntries();
  for (index_ = 0; index_ < n_; ++index_) {
    std::uint32_t i = index_;
    if (IsEntry(i)) {
      if (!dead_) CloseFallThrough(i);
      program_.entries.push_back({i, static_cast<std::uint32_t>(program_.ops.size())});
      dead_ = false;
      blockStart_ = true;
      block_ = i;
      source_ = i;
    }
    if (dead_) {
      Bookkeep(i);
      continue;
    }
    if (SplitDue()) CloseFallThrough(i);
    switch (code_[i]) {
      case '+': Change(1); break;
      case '-': Change(255); break;
      case '>': off_ = WrapOffset(off_, 1); break;
      case '<': off_ = WrapOffset(off_, -1); break;
      case '.': Output(); break;
      case ',': Input(false); break;
      case '(':
      case ')': Bookkeep(i); break;
      case '@': {
        Op jump = MakeOp(OpCode::Jump);
        jump.x = off_;
        Close(jump, true, i + 1);
        forward_.push_back(static_cast<std::uint32_t>(program_.ops.size() - 1));
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
      case '#': index_ = Guard(i); break;
      default: break;
    }
  }
  if (!dead_) CloseFallThrough(n_);
  std::uint32_t end = static_cast<std::uint32_t>(program_.ops.size());
  program_.ops.push_back(MakeOp(OpCode::End));
  program_.entries.push_back({n_, end});
  for (std::uint32_t op : forward_) program_.ops[op].y = end;  // no ")" follows: the run ends
  for (const Fixup& f : fixups_) program_.ops[f.op].y = f.target >= n_ ? end : program_.EntryAt(f.target);
  return std::move(program_);
}

}  // namespace

std::uint32_t Program::EntryAt(std::uint32_t index) const {
  auto it = std::lower_bound(entries.begin(), entries.end(), std::make_pair(index, std::uint32_t{0}));
  assert(it != entries.end() && it->first == index);
  return it->second;
}

Program Translate(const CodeStore& code) { return Translator(code).Run(); }

Int FirstZero(std::uint8_t start, std::uint8_t step) {
  if (start == 0) return 0;
  if (step == 0) return kNever;
  int shift = __builtin_ctz(step);
  if (start & ((1u << shift) - 1)) return kNever;
  unsigned need = static_cast<std::uint8_t>(-start) >> shift;
  return static_cast<Int>((need * kInverse[step >> shift]) & (0xFFu >> shift));
}

}  // namespace corvid
