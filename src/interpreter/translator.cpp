#include "interpreter/internal/translator.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <type_traits>
#include <utility>

#if defined(__SSE2__) && !defined(CORVID_PORTABLE)
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && defined(__x86_64__) && !defined(CORVID_PORTABLE)
#include <immintrin.h>
#define CORVID_TRANSLATOR_AVX2 1
#endif

#include "interpreter/internal/commands.h"
#include "interpreter/internal/opcodes.inc"
#include "runtime/internal/platform.h"

// One forward walk over the commands makes the program, in three parts,
// each with the state it needs:
//
//   JumpTargets  where jumps land (the entries), found as the walk meets
//                the markers and jumps that make them;
//   Segment      straight-line code between two entries: moves become
//                offsets and changes merge per cell, behind one Reach of
//                the cells the segment touches;
//   LoopShaper   a segment that is a whole loop's body becomes one Loop op
//                (or a Clear), run by counting iterations instead of
//                running them.
//
// The Translator drives them command by command; the clear idiom, a loop's
// tail and a "#" with what it guards are the places where it looks a few
// commands ahead.

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
// byte and, above it, how often a command touched the cell since an op took
// it (each touch adds kTouch, and a carry out of the low byte may add one
// more). Segments are cut at this many commands so that the count cannot
// wrap round to 0.
constexpr std::uint32_t kTouch = 0x100;
constexpr std::uint32_t kMaxSegmentCommands = 1 << 22;
// Further from any offset than the window reaches.
constexpr std::int32_t kUntouched = 4 * kHalf;

// What each byte does to straight-line code, from the command table: the
// head's move, the change of the cell plus one touch, or that it needs a
// closer look. Bytes that are no command do nothing.
struct StraightLine {
  std::array<std::int8_t, 256> move{};
  std::array<std::uint32_t, 256> change{};
  std::array<bool, 256> other{};
  // Added to the head's offset, what a byte puts into the touched range:
  // 0 for a change, and for the rest a value far past either end.
  std::array<std::int32_t, 256> touchLow{}, touchHigh{};
};

constexpr StraightLine MakeStraightLine() {
  StraightLine t;
  for (unsigned c = 0; c < 256; ++c) {
    Command command = kCommands[c];
    switch (command.kind) {
      case CommandKind::None: break;
      case CommandKind::Move: t.move[c] = command.way; break;
      case CommandKind::Change: t.change[c] = kTouch + static_cast<std::uint8_t>(command.way); break;
      default: t.other[c] = true; break;
    }
    t.touchLow[c] = command.kind == CommandKind::Change ? 0 : kUntouched;
    t.touchHigh[c] = command.kind == CommandKind::Change ? 0 : -kUntouched;
  }
  return t;
}

constexpr StraightLine kStraightLine = MakeStraightLine();

// Loop bodies up to about this long are sized up and shaped in one go
// (QuickBody, LoopShaper::WalkBody); longer ones take the road command by
// command, which makes the same of them.
constexpr std::uint32_t kQuickBody = 1024;
constexpr std::uint32_t kQuickChunks = kQuickBody / 64;
constexpr std::uint32_t kNoBody = 0xFFFFFFFF;

// Four straight-line commands at once. The four ("+", "-", "<", ">") differ
// in bits 1 and 4 of their codes, so four of them in a row make an 8-bit
// index (two bits each, the first command lowest) into a table of what they
// do together: the head's move, and the changes of the two cells at most
// that they touch, from where the head stood before them. A group that
// touches fewer cells adds 0 to cells past the window's end instead, so
// that no test is needed.
constexpr std::int32_t kNowhere = 2 * kHalf;  // from the head, past any cell

struct Four {
  std::uint32_t change[2];  // added to the window's cells, touches and all
  std::ptrdiff_t at[2];     // from where the head stood
  std::ptrdiff_t move;
  std::int32_t touchLow, touchHigh;  // the cells touched, or kUntouched and -kUntouched
};

constexpr unsigned FourCode(std::uint8_t c) { return (c >> 1 & 1u) | (c >> 3 & 2u); }

// The first `count` of the four commands of `index` together; the cells
// they do not touch are `nowhere` and eight past it (two cells apart, so
// that the two additions need not wait on each other).
constexpr Four GroupOf(unsigned count, unsigned index, std::int32_t nowhere) {
  std::array<std::uint8_t, 4> byCode{};
  for (char c : {'+', '-', '<', '>'}) byCode[FourCode(static_cast<std::uint8_t>(c))] = static_cast<std::uint8_t>(c);
  Four four{{0, 0}, {nowhere, nowhere + 8}, 0, kUntouched, -kUntouched};
  int cells = 0;
  for (unsigned k = 0; k < count; ++k) {
    std::uint8_t c = byCode[index >> (2 * k) & 3];
    four.move += kStraightLine.move[c];
    if (!kStraightLine.change[c]) continue;
    if (cells == 0 || four.at[cells - 1] != four.move) four.at[cells++] = four.move;
    four.change[cells - 1] += kStraightLine.change[c];
    four.touchLow = std::min(four.touchLow, static_cast<std::int32_t>(four.move));
    four.touchHigh = std::max(four.touchHigh, static_cast<std::int32_t>(four.move));
  }
  return four;
}

constexpr std::array<Four, 256> MakeFours() {
  std::array<Four, 256> table{};
  for (unsigned index = 0; index < 256; ++index) table[index] = GroupOf(4, index, kNowhere);
  return table;
}

constexpr std::array<Four, 256> kFours = MakeFours();
static_assert(FourCode('+') != FourCode('-') && FourCode('-') != FourCode('<') && FourCode('<') != FourCode('>') &&
              FourCode('+') != FourCode('<') && FourCode('+') != FourCode('>') && FourCode('-') != FourCode('>'));

// The codes of the commands at `code`, which must be straight-line ones, a
// byte each: bits 1 and 4 of each command moved to bits 0 and 1. A 32-bit
// word holds four, a 64-bit one eight.
template <class Word>
inline Word CodesAt(const std::uint8_t* code) {
  Word word = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&word, code, sizeof word);
  } else {
    for (int k = static_cast<int>(sizeof word) - 1; k >= 0; --k) word = static_cast<Word>(word << 8 | code[k]);
  }
  return (word >> 1 & static_cast<Word>(0x0101010101010101u)) | (word >> 3 & static_cast<Word>(0x0202020202020202u));
}

// Four codes gathered into a table index by one multiplication.
inline unsigned IndexOfCodes(std::uint32_t codes) { return (codes * 0x01041040u) >> 24; }

// The table indices of the eight commands at `code`.
inline void FourIndices(const std::uint8_t* code, unsigned& first, unsigned& second) {
  const auto codes = CodesAt<std::uint64_t>(code);
  first = IndexOfCodes(static_cast<std::uint32_t>(codes));
  second = IndexOfCodes(static_cast<std::uint32_t>(codes >> 32));
}

// The table index of the four commands at `code`.
inline unsigned FourIndex(const std::uint8_t* code) { return IndexOfCodes(CodesAt<std::uint32_t>(code)); }

// Groups as in kFours for a loop's body walked in one go
// (LoopShaper::WalkBody), with groups of the first zero to three commands
// of four too (at kBodyGroup[count] plus their bits of the index), so that
// a run's last commands take one lookup as well, and without the touched
// range, which the walk finds from where the head went. Cells a group does
// not touch are kBodyNowhere and past it: they get 0, which changes nothing
// even where a cell of the body lies. Eight bytes an entry, so that the
// index scales in the address.
struct BodyFour {
  std::int8_t at[2];
  std::int8_t move;
  std::uint16_t change[2];
};
static_assert(sizeof(BodyFour) == 8);

constexpr std::int32_t kBodyNowhere = 64;
constexpr std::array<unsigned, 4> kBodyGroup = {340, 256, 260, 276};
static_assert(kBodyGroup[1] == 256 && kBodyGroup[2] == kBodyGroup[1] + 4 && kBodyGroup[3] == kBodyGroup[2] + 16 &&
              kBodyGroup[0] == kBodyGroup[3] + 64);

constexpr std::array<BodyFour, 341> MakeBodyFours() {
  std::array<BodyFour, 341> table{};
  for (unsigned count = 0; count <= 4; ++count) {
    const unsigned first = count == 4 ? 0 : kBodyGroup[count];
    for (unsigned index = 0; index < (1u << 2 * count); ++index) {
      const Four four = GroupOf(count, index, kBodyNowhere);
      table[first + index] = {{static_cast<std::int8_t>(four.at[0]), static_cast<std::int8_t>(four.at[1])},
                              static_cast<std::int8_t>(four.move),
                              {static_cast<std::uint16_t>(four.change[0]), static_cast<std::uint16_t>(four.change[1])}};
    }
  }
  return table;
}

constexpr std::array<BodyFour, 341> kBodyFours = MakeBodyFours();

// A run of moves and changes is measured kWindow commands at a time: how
// many of them lead the window. A run between two "#" is about twenty
// commands, so one look mostly finds its end.
constexpr unsigned kWindow = 32;

#if defined(__SSE2__) && !defined(CORVID_PORTABLE)
// Sixteen compares at a time, and one bit per command (x86's SSE2, which
// every x86-64 machine and the 32-bit Windows build have).
inline unsigned StraightPrefix(const std::uint8_t* code) {
  std::uint32_t straight = 0;
  for (unsigned half = 0; half < 2; ++half) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(code + 16 * half));
    const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('+')), _mm_cmpeq_epi8(v, _mm_set1_epi8('-'))),
                                     _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('<')), _mm_cmpeq_epi8(v, _mm_set1_epi8('>'))));
    straight |= static_cast<std::uint32_t>(_mm_movemask_epi8(hit)) << (16 * half);
  }
  return static_cast<unsigned>(std::countr_one(straight));
}
#else
// One by one, where x86's vector instructions are not at hand (and in the
// ISO C++ build).
inline unsigned StraightPrefix(const std::uint8_t* code) {
  unsigned n = 0;
  while (n < kWindow && !kStraightLine.other[code[n]] && (kStraightLine.move[code[n]] || kStraightLine.change[code[n]])) ++n;
  return n;
}
#endif

// What 64 commands are, a bit per command: moves, changes and "#". A loop's
// body is sized up from these before it is walked.
struct CommandBits {
  std::uint64_t move = 0, change = 0, skip = 0;
};

// One by one: the last commands of a block (bits past `count` stay 0), and
// everywhere where x86's vector instructions are not at hand.
inline CommandBits ClassifyEach(const std::uint8_t* code, unsigned count) {
  CommandBits bits;
  for (unsigned k = 0; k < count; ++k) {
    const Command command = kCommands[code[k]];
    const std::uint64_t bit = std::uint64_t{1} << k;
    if (command.kind == CommandKind::Move) bits.move |= bit;
    if (command.kind == CommandKind::Change) bits.change |= bit;
    if (command.kind == CommandKind::Skip) bits.skip |= bit;
  }
  return bits;
}

#if defined(__SSE2__) && !defined(CORVID_PORTABLE)
inline CommandBits Classify64(const std::uint8_t* code) {
  CommandBits bits;
  for (unsigned part = 0; part < 4; ++part) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(code + 16 * part));
    auto bitsOf = [&](__m128i hit) { return static_cast<std::uint64_t>(_mm_movemask_epi8(hit)) << (16 * part); };
    // "<" and ">" differ in bit 1 alone, which no other command has clear
    // where they have it set.
    bits.move |= bitsOf(_mm_cmpeq_epi8(_mm_or_si128(v, _mm_set1_epi8(2)), _mm_set1_epi8('>')));
    bits.change |= bitsOf(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('+')), _mm_cmpeq_epi8(v, _mm_set1_epi8('-'))));
    bits.skip |= bitsOf(_mm_cmpeq_epi8(v, _mm_set1_epi8('#')));
  }
  return bits;
}
#else
inline CommandBits Classify64(const std::uint8_t* code) { return ClassifyEach(code, 64); }
#endif

#ifdef CORVID_TRANSLATOR_AVX2
// Thirty-two compares at a time, where the machine has AVX2.
__attribute__((target("avx2"))) inline CommandBits Classify64Avx2(const std::uint8_t* code) {
  std::uint32_t move[2], change[2], skip[2];
  for (unsigned part = 0; part < 2; ++part) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(code + 32 * part));
    move[part] = static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_or_si256(v, _mm256_set1_epi8(2)), _mm256_set1_epi8('>'))));
    change[part] = static_cast<std::uint32_t>(_mm256_movemask_epi8(
        _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('+')), _mm256_cmpeq_epi8(v, _mm256_set1_epi8('-')))));
    skip[part] = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('#'))));
  }
  auto join = [](const std::uint32_t (&halves)[2]) { return std::uint64_t{halves[1]} << 32 | halves[0]; };
  return {join(move), join(change), join(skip)};
}
#endif

bool IsKind(std::uint8_t c, CommandKind kind) { return kCommands[c].kind == kind; }
bool IsBackMarker(std::uint8_t c) { return IsCommand(c, CommandKind::Marker, -1); }
bool IsForwardMarker(std::uint8_t c) { return IsCommand(c, CommandKind::Marker, +1); }
bool IsForwardJump(std::uint8_t c) { return IsCommand(c, CommandKind::Jump, +1); }
bool IsBackJump(std::uint8_t c) { return IsCommand(c, CommandKind::Jump, -1); }

// The length of a loop's body at `code` that a whole loop may be made of:
// moves, changes and "#" each before a change, up to the "# @ % )" that
// ends it, all within the `count` commands at hand and kQuickBody; kNoBody
// for any other. (Whether the head ends where it began is for the walk over
// the body to tell.) The "#" of its guarded changes are marked in `marks`,
// a bit each, 64 to a word. `classify64` sorts 64 commands at a time; the
// whole is forced inline so that the AVX2 one goes inline in QuickBodyAvx2
// too (a function built without AVX2 may not take it in).
template <CommandBits (*classify64)(const std::uint8_t*)>
[[gnu::always_inline]] inline std::uint32_t QuickBodyBy(const std::uint8_t* code, std::uint32_t count,
                                                    std::uint64_t (&marks)[kQuickChunks]) {
  for (std::uint32_t base = 0; base < count && base < kQuickBody; base += 64) {
    const std::uint32_t here = std::min<std::uint32_t>(64, count - base);
    const CommandBits bits = here == 64 ? classify64(code + base) : ClassifyEach(code + base, here);
    // A "#" in the last place guards a change that comes first in the next 64.
    const std::uint64_t changeNext = here == 64 && base + 64 < count && IsKind(code[base + 64], CommandKind::Change);
    const std::uint64_t guard = bits.skip & (bits.change >> 1 | changeNext << 63);
    const std::uint64_t taken = bits.move | bits.change | guard | guard << 1;
    const auto length = static_cast<unsigned>(std::countr_one(taken));
    if (length == 64) {
      marks[base / 64] = guard;
      continue;
    }
    marks[base / 64] = guard & ((std::uint64_t{1} << length) - 1);
    const std::uint32_t end = base + length;
    const bool tail = end + 4 <= count && IsKind(code[end], CommandKind::Skip) && IsForwardJump(code[end + 1]) &&
                      IsBackJump(code[end + 2]) && IsForwardMarker(code[end + 3]);
    return tail && end < kQuickBody ? end : kNoBody;
  }
  return kNoBody;
}

inline std::uint32_t QuickBody(const std::uint8_t* code, std::uint32_t count, std::uint64_t (&marks)[kQuickChunks]) {
  return QuickBodyBy<Classify64>(code, count, marks);
}

#ifdef CORVID_TRANSLATOR_AVX2
// The same, where the machine has AVX2 (asked once per translator).
__attribute__((target("avx2"))) std::uint32_t QuickBodyAvx2(const std::uint8_t* code, std::uint32_t count,
                                                             std::uint64_t (&marks)[kQuickChunks]) {
  return QuickBodyBy<Classify64Avx2>(code, count, marks);
}
#endif

// Where the walk over a loop's body gets the table index of the four
// commands at a place: from the commands themselves, or from a list made
// before, an index per place.
struct IndexFromCodes {
  const std::uint8_t* code;
  void Pair(std::uint32_t at, unsigned& first, unsigned& second) const { FourIndices(code + at, first, second); }
  unsigned One(std::uint32_t at) const { return FourIndex(code + at); }
};

struct IndexFromList {
  const std::uint8_t* indices;
  void Pair(std::uint32_t at, unsigned& first, unsigned& second) const {
    first = indices[at];
    second = indices[at + 4];
  }
  unsigned One(std::uint32_t at) const { return indices[at]; }
};

#ifdef CORVID_TRANSLATOR_AVX2
// Per low four bits of "+", "-", "<" and ">" (which differ there), the
// command's code moved to its place in the index of a group of four
// commands, the k-th command at k; each table twice, once per 16-byte lane.
struct CodePlaces {
  std::array<std::array<std::uint8_t, 32>, 4> place{};
};

constexpr CodePlaces MakeCodePlaces() {
  CodePlaces t;
  for (unsigned k = 0; k < 4; ++k) {
    for (char c : {'+', '-', '<', '>'}) {
      const auto code = static_cast<std::uint8_t>(c);
      t.place[k][code & 15] = t.place[k][16 + (code & 15)] = static_cast<std::uint8_t>(FourCode(code) << 2 * k);
    }
  }
  return t;
}

constexpr CodePlaces kCodePlaces = MakeCodePlaces();
static_assert(('+' & 15) != ('-' & 15) && ('+' & 15) != ('<' & 15) && ('+' & 15) != ('>' & 15) &&
              ('-' & 15) != ('<' & 15) && ('-' & 15) != ('>' & 15) && ('<' & 15) != ('>' & 15));

// The table index of the four commands at each place of a body of `length`
// commands that QuickBody sized up, and at its end (where the walk masks
// them all off), from the `count` commands at hand: 32 places a step, four
// lookups by the low four bits, one per command of the group. Room for 32
// more indices must follow.
__attribute__((target("avx2"))) void IndexBodyAvx2(const std::uint8_t* code, std::uint32_t length, std::uint32_t count,
                                                    std::uint8_t* indices) {
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  std::uint32_t at = 0;
  for (; at < length && at + 35 <= count; at += 32) {
    __m256i index = _mm256_setzero_si256();
    for (unsigned k = 0; k < 4; ++k) {
      const __m256i place = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kCodePlaces.place[k].data()));
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(code + at + k));
      index = _mm256_or_si256(index, _mm256_shuffle_epi8(place, _mm256_and_si256(v, nibble)));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(indices + at), index);
  }
  for (; at <= length; ++at) indices[at] = static_cast<std::uint8_t>(FourIndex(code + at));
}
#endif

Op MakeOp(OpCode code, std::int32_t off = 0, std::uint8_t a = 0) {
  Op op{code};
  op.off = off;
  op.a = a;
  return op;
}

// Where jumps land, known as the walk goes: after a ")" that a jump made
// from an "@" before it finds (an "@" taken into a whole loop or a fused
// loop tail makes no jump), after every "(" (whether a "%" finds it or not:
// a block boundary too many costs little), at index 1 (where a "%" that
// finds no "(" resumes), and, when a "#" stands just before one of these,
// two after the "#" (where a skip from it lands). Each such place starts a
// block of ops; jumps are pointed at blocks as these become known. Only the
// ops are kept: nothing maps code indices to ops once the walk is past them.
class JumpTargets {
 public:
  explicit JumpTargets(Program& program) : program_(program) {}

  /// The next code index a jump may land on; kNoEntry when none is known.
  std::uint32_t Next() const { return next_; }
  /// Whether a skip from a "#" makes the entry after the next one.
  bool SkipPending() const { return skipNext_ != kNoEntry; }
  /// Where a "%" at `i` goes back to.
  std::uint32_t BackTarget(std::uint32_t i) const { return i == 0 ? 1 : lastOpen_ + 1; }

  /// The marker at `i`, which may make the next entry.
  void Mark(std::uint32_t i, std::uint8_t c);
  /// The block for the entry at `i` begins with op `op`: jumps waiting for
  /// it point there, and the entry after it becomes the next one.
  void BeginBlock(std::uint32_t i, std::uint32_t op);
  /// A skip from the "#" just before the next entry lands at `i`.
  void SkipTo(std::uint32_t i) { skipNext_ = i; }
  /// A "(" at `i` whose block is the same as the last one's: a clear idiom
  /// merged into the one before it.
  void MergeBackMarker(std::uint32_t i) { lastOpen_ = i; }

  /// Points the jump op `op` at the entry `target`: one already made (a "%"
  /// goes back to just after the last "(", or to index 1) when it lies
  /// before `source`, or one to come.
  void PointJump(std::uint32_t op, std::uint32_t target, std::uint32_t source);
  /// The "@" op `op` waits for the next ")".
  void SeekForwardMarker(std::uint32_t op) { seeking_.push_back(op); }
  /// Jumps still waiting end the run at op `end`.
  void Finish(std::uint32_t end);
  /// The first op, of the `end` made, that is a jump still waiting.
  std::uint32_t FirstWaiting(std::uint32_t end) const;

 private:
  struct Fixup {
    std::uint32_t op;
    std::uint32_t target;  // code index
  };

  Program& program_;
  std::vector<Fixup> ahead_;            // jumps to entries still to come
  std::vector<std::uint32_t> seeking_;  // "@" jumps waiting for the next ")"
  // Op indices of the entries a "%" can go back to: after the last "(",
  // and at index 1.
  std::uint32_t openOp_ = 0, firstOp_ = 0;
  std::uint32_t next_ = 1;
  std::uint32_t skipNext_ = kNoEntry;  // the entry after next_, from a "#" before it
  std::uint32_t lastOpen_ = 0;         // last "(" so far, 0 when none (the same for "%")
};

void JumpTargets::Mark(std::uint32_t i, std::uint8_t c) {
  if (IsBackMarker(c)) {
    lastOpen_ = i;
    next_ = i + 1;
  } else if (IsForwardMarker(c) && !seeking_.empty()) {
    for (std::uint32_t op : seeking_) ahead_.push_back({op, i + 1});
    seeking_.clear();
    next_ = i + 1;
  }
}

void JumpTargets::BeginBlock(std::uint32_t i, std::uint32_t op) {
  if (i == lastOpen_ + 1) openOp_ = op;
  if (i == 1) firstOp_ = op;
  for (std::size_t k = 0; k < ahead_.size();) {
    if (ahead_[k].target == i) {
      program_.ops[ahead_[k].op].y = op;
      ahead_[k] = ahead_.back();
      ahead_.pop_back();
    } else {
      ++k;
    }
  }
  next_ = skipNext_;
  skipNext_ = kNoEntry;
}

void JumpTargets::PointJump(std::uint32_t op, std::uint32_t target, std::uint32_t source) {
  if (target == lastOpen_ + 1 && target < source && lastOpen_ > 0) {
    program_.ops[op].y = openOp_;
  } else if (target == 1 && target < source) {
    program_.ops[op].y = firstOp_;
  } else {
    ahead_.push_back({op, target});
  }
}

std::uint32_t JumpTargets::FirstWaiting(std::uint32_t end) const {
  // seeking_ is in the order the ops were made; ahead_ is short.
  if (!seeking_.empty()) end = std::min(end, seeking_.front());
  for (const Fixup& f : ahead_) end = std::min(end, f.op);
  return end;
}

void JumpTargets::Finish(std::uint32_t end) {
  // Jumps to the end of the code, or to a ")" that never comes, end the run.
  for (std::uint32_t op : seeking_) program_.ops[op].y = end;
  for (const Fixup& f : ahead_) program_.ops[f.op].y = end;
}

// The open segment: straight-line code on one head position, its base. The
// head's moves become offsets from the base; the changes of a cell wait in
// a window around the base, merged, until the segment closes; other ops
// (output, input, guarded changes) wait in order. Closing emits one Reach
// of every cell the segment touches, its ops, then its pending changes.
class Segment {
 public:
  Segment() : window_(kWindowCells, 0) {}

  std::int32_t Offset() const { return off_; }
  std::uint32_t Source() const { return source_; }
  std::uint32_t Block() const { return block_; }
  /// Whether the segment started at the entry it belongs to, and holds
  /// nothing but changes and guarded changes: the shape a loop body needs.
  bool StartsBlock() const { return blockStart_; }
  bool Pure() const { return pure_; }
  const std::vector<Op>& Ops() const { return ops_; }
  std::vector<Op>& Ops() { return ops_; }
  bool Full() const { return ops_.size() >= kMaxSegmentOps; }
  /// The cells touched, from the base; none while Low() > High().
  std::int32_t Low() const { return low_; }
  std::int32_t High() const { return high_; }

  /// Starts a block at the entry `i`.
  void BeginBlock(std::uint32_t i) {
    blockStart_ = true;
    block_ = i;
    source_ = i;
  }
  /// The next segment's first command is at `i`.
  void StartAt(std::uint32_t i) {
    pure_ = true;
    blockStart_ = false;
    source_ = i;
  }

  /// Takes moves, changes and guarded changes from the `stop` commands at
  /// `code` (where no jump lands), up to another command, a move that would
  /// leave the window or a full segment. Returns how many it took.
  std::uint32_t Stretch(const std::uint8_t* code, std::uint32_t stop);
  void Touch(std::int32_t off) {
    low_ = std::min(low_, off);
    high_ = std::max(high_, off);
  }
  /// A "#" reads the cell under the head. Unless an op that the command it
  /// guards makes takes the cell, an Add of 0 will touch it.
  void Read() {
    Touch(off_);
    Cell(off_) += kTouch;
  }
  bool Accessed() const { return low_ <= high_; }
  /// Whether nothing at all waits: no op, no move, no touch, no change.
  bool Empty() const { return ops_.empty() && off_ == 0 && !Accessed(); }
  /// Forgets that the cell under the head was touched, when it is all the
  /// segment touched and nothing else waits: a Clear makes it exist itself.
  void ForgetLoneTouch() {
    if (ops_.empty() && low_ == off_ && high_ == off_) {
      low_ = kHalf;
      high_ = -kHalf;
    }
  }

  /// The pending change of the cell at `off`.
  std::uint8_t Change(std::int32_t off) { return static_cast<std::uint8_t>(Cell(off)); }
  /// Whether commands touched the cell at `off` since an op last took it.
  bool Touched(std::int32_t off) { return Cell(off) >= kTouch; }
  void AddChange(std::int32_t off, std::uint8_t delta) {
    Cell(off) = (Cell(off) & ~std::uint32_t{0xFF}) | static_cast<std::uint8_t>(Cell(off) + delta);
  }
  /// The pending change of the cell at `off`, taken by an op that reads or
  /// writes the cell, and so stands for the touches before it too.
  std::uint8_t TakeChange(std::int32_t off) {
    std::uint8_t delta = Change(off);
    Cell(off) = 0;
    return delta;
  }

  /// "." and "," on the cell under the head, the pending change first.
  /// Output takes `count` "." in a row, as many as one op can write, and
  /// returns how many it took (one at least).
  std::uint32_t Output(std::uint32_t count = 1);
  void Input(bool ifZero);
  /// An op other than a change, after the changes of its cell.
  void Push(const Op& op, bool pure) {
    pure_ = pure_ && pure;
    ops_.push_back(op);
  }
  /// A "#" and the "+" or "-" (going `way`) it guards, on the cell under
  /// the head.
  void GuardedChange(int way) {
    Touch(off_);
    Op op = MakeOp(OpCode::CondAdd, off_, TakeChange(off_));
    op.b = static_cast<std::uint8_t>(way);
    ops_.push_back(op);
  }

  /// Ends the segment with `end` (when `hasEnd`); the next one starts at
  /// code index `nextSource`.
  void Close(Program& program, const Op& end, bool hasEnd, std::uint32_t nextSource);
  /// Ends the segment with `end`, a test of the cell under the head, which
  /// takes that cell's pending change.
  void CloseWithTest(Program& program, Op end, std::uint32_t nextSource) {
    Touch(off_);
    end.a = TakeChange(off_);
    end.x = off_;
    Close(program, end, true, nextSource);
  }
  /// Forgets the segment's ops and cells; the pending changes must have
  /// been taken.
  void Reset();

 private:
  // The window holds the cells -kHalf-kMargin .. kHalf+kMargin-1 and, past
  // them, the cells a group of four commands adds 0 to (kNowhere on).
  static constexpr std::int32_t kMargin = 16;
  static constexpr std::size_t kWindowCells = 4 * kHalf + 2 * kMargin + 16;
  std::uint32_t* Window() { return window_.data() + kHalf + kMargin; }
  std::uint32_t& Cell(std::int32_t off) { return Window()[off]; }
  /// The pending changes, at the end of `ops`; returns the bytes of rows made.
  std::size_t EmitChanges(Program& program);

  std::vector<Op> ops_;             // ops other than the changes, in order
  std::vector<std::uint32_t> window_;  // per offset: pending change and touches
  std::int32_t off_ = 0;
  std::int32_t low_ = kHalf, high_ = -kHalf;
  bool pure_ = true;
  bool blockStart_ = true;
  std::uint32_t block_ = 0;   // code index of the block's entry
  std::uint32_t source_ = 0;  // code index of the segment's first command
};

// Free of branches that depend on which of the four commands comes: runs
// of them go four at a time through the table, and one by one where they
// end (a change adds to the window cell under the head, a move adds nothing
// to the next one). A "#" and the change it guards, the commonest other
// command, are taken where a run ends without leaving the loop over runs.
std::uint32_t Segment::Stretch(const std::uint8_t* code, std::uint32_t stop) {
  std::uint32_t i = 0;
  std::ptrdiff_t head = off_;
  std::int32_t low = low_, high = high_;
  std::uint32_t* window = Window();
  auto apply = [&](unsigned index) {
    const Four& four = kFours[index];
    window[head + four.at[0]] += four.change[0];
    window[head + four.at[1]] += four.change[1];
    low = std::min(low, static_cast<std::int32_t>(head) + four.touchLow);
    high = std::max(high, static_cast<std::int32_t>(head) + four.touchHigh);
    head += four.move;
  };
  auto one = [&](std::uint8_t c) {
    head += kStraightLine.move[c];
    window[head] += kStraightLine.change[c];
    low = std::min(low, static_cast<std::int32_t>(head) + kStraightLine.touchLow[c]);
    high = std::max(high, static_cast<std::int32_t>(head) + kStraightLine.touchHigh[c]);
  };
  // A "#" at `at` and the change after it stay in the stretch (no entry
  // lies between, for `stop` comes before any); false for another command.
  auto guard = [&](std::uint32_t at) {
    if (!IsKind(code[at], CommandKind::Skip) || at + 1 >= stop || !IsKind(code[at + 1], CommandKind::Change) || Full())
      return false;
    const std::int32_t off = static_cast<std::int32_t>(head);
    low = std::min(low, off);
    high = std::max(high, off);
    Op op = MakeOp(OpCode::CondAdd, off, TakeChange(off));
    op.b = static_cast<std::uint8_t>(kCommands[code[at + 1]].way);
    ops_.push_back(op);
    return true;
  };
  for (;;) {
    // The head moves one cell per command at most, so for this many
    // commands it cannot leave the window.
    const std::uint32_t room = static_cast<std::uint32_t>(kHalf - 1 - std::abs(head));
    const std::uint32_t safe = stop - i > room ? i + room : stop;
    if (safe == i) break;
    bool blocked = false;  // by another command
    while (i + kWindow <= safe) {
      const unsigned straight = StraightPrefix(code + i);
      const std::uint32_t end = i + (straight & ~3u);
      for (; i + 8 <= end; i += 8) {
        unsigned first, second;
        FourIndices(code + i, first, second);
        apply(first);
        apply(second);
      }
      if (i < end) {
        unsigned first, second;
        FourIndices(code + i, first, second);
        apply(first);
        i += 4;
      }
      for (unsigned k = straight & 3u; k; --k) one(code[i++]);
      if (straight == kWindow) continue;
      if (!guard(i)) {
        blocked = true;
        break;
      }
      i += 2;
    }
    if (blocked) break;
    for (; i < safe; ++i) {
      const std::uint8_t c = code[i];
      if (kStraightLine.other[c]) break;
      one(c);
    }
    if (i == stop) break;
    if (i < safe) {
      if (!guard(i)) break;
      i += 2;
    }
  }
  off_ = static_cast<std::int32_t>(head);
  low_ = low;
  high_ = high;
  return i;
}

std::uint32_t Segment::Output(std::uint32_t count) {
  constexpr std::int32_t kMostOutputs = 1 << 30;
  Touch(off_);
  pure_ = false;
  std::uint8_t before = TakeChange(off_);
  if (before != 0 || ops_.empty() || ops_.back().code != OpCode::Output || ops_.back().off != off_ ||
      ops_.back().x >= kMostOutputs) {
    Op op = MakeOp(OpCode::Output, off_, before);
    op.x = 0;
    ops_.push_back(op);
    if (Full()) count = 1;  // the next "." begins a segment of its own
  }
  // The cell does not change between the "." of a run: it is written as
  // often by the same op, until the op has as many as it may.
  Op& op = ops_.back();
  const std::uint32_t took = std::min(count, static_cast<std::uint32_t>(kMostOutputs - op.x));
  op.x += static_cast<std::int32_t>(took);
  return took;
}

void Segment::Input(bool ifZero) {
  Touch(off_);
  pure_ = false;
  std::uint8_t before = TakeChange(off_);
  ops_.push_back(ifZero ? MakeOp(OpCode::InputIfZero, off_, before) : MakeOp(OpCode::Input, off_));
}

// One Add per changed cell, or, where changed cells stand close together,
// one AddRow for a row of them (a byte per cell instead of an op, and one
// pass over them). A touched cell whose changes come to 0 gets an Add of 0
// of its own, which only a run where the head wraps around needs: a row's
// 0 stands for a cell nothing touched.
std::size_t Segment::EmitChanges(Program& program) {
  constexpr std::int32_t kGap = 8;  // unchanged cells a row may span
  constexpr int kRowChanges = 4;    // changed cells a row must hold
  std::size_t rowBytes = 0;
  for (std::int32_t off = low_; off <= high_; ++off) {
    if (Change(off) == 0) {
      if (Touched(off)) program.ops.push_back(MakeOp(OpCode::Add, off, TakeChange(off)));
      continue;
    }
    std::int32_t end = off;
    int changes = 0;
    for (std::int32_t k = off; k <= high_ && k - end <= kGap; ++k) {
      if (Change(k)) {
        end = k;
        ++changes;
      }
    }
    if (changes >= kRowChanges) {
      Op row = MakeOp(OpCode::AddRow, off);
      row.x = end - off + 1;
      row.y = static_cast<std::uint32_t>(program.rows.size());
      for (std::int32_t k = off; k <= end; ++k) {
        if (Touched(k) && Change(k) == 0) program.ops.push_back(MakeOp(OpCode::Add, k, TakeChange(k)));
        program.rows.push_back(TakeChange(k));
      }
      program.ops.push_back(row);
      rowBytes += static_cast<std::size_t>(row.x);
    } else {
      for (std::int32_t k = off; k <= end; ++k)
        if (Touched(k) || Change(k)) program.ops.push_back(MakeOp(OpCode::Add, k, TakeChange(k)));
    }
    off = end;
  }
  return rowBytes;
}

void Segment::Reset() {
  ops_.clear();
  off_ = 0;
  low_ = kHalf;
  high_ = -kHalf;
  pure_ = true;
  blockStart_ = false;
}

void Segment::Close(Program& program, const Op& end, bool hasEnd, std::uint32_t nextSource) {
  ProgramList<Op>& ops = program.ops;
  if (Accessed()) {  // else there are neither ops nor changes
    std::size_t reach = ops.size();
    Op op = MakeOp(OpCode::Reach, low_);
    op.x = high_;
    op.y = source_;
    ops.push_back(op);
    if (!ops_.empty()) {
      const std::size_t at = ops.size();
      ops.resize(at + ops_.size());
      std::copy(ops_.begin(), ops_.end(), ops.begin() + at);
    }
    std::size_t rowBytes = EmitChanges(program);
    ops[reach].b = static_cast<std::uint16_t>(std::min<std::size_t>(ops.size() - reach + rowBytes / 16, kMaxWeight));
    Reset();
  } else {
    off_ = 0;
    pure_ = true;
    blockStart_ = false;
  }
  if (hasEnd) ops.push_back(end);
  source_ = nextSource;
}

// A segment that started at a loop's entry, on the cell under the head, and
// returns the head there, holding only changes and guarded changes, is the
// body of a whole loop: each cell it touches follows a course of its own.
// So is a body that QuickBody sized up, which is walked without a segment.
// Either way the body's cells and guards are gathered in one form, from
// which Shape makes the loop.
class LoopShaper {
 public:
  /// Emits the segment as a whole loop (with `tailAdd`, the change of the
  /// counter just before the loop's "#"), or as a Clear when all it does is
  /// count that cell to 0 by an odd step; the segment is reset.
  void Emit(Segment& segment, std::uint8_t tailAdd, Program& program);
  /// Walks the body of `length` commands at `code` that QuickBody sized up
  /// (with the "#" of its guarded changes at `marks`, and the table index
  /// of the four commands at each place from `indices`); true when it ends
  /// where it began, when Shape is to follow, for the loop whose entry is
  /// the code index `source`. It makes what Emit makes of the segment of
  /// the same body.
  template <class Indices>
  bool WalkBody(const std::uint8_t* code, std::uint32_t length, const std::uint64_t (&marks)[kQuickChunks],
                const Indices& indices);
  void Shape(std::uint32_t source, Program& program);

 private:
  // The body gathered: each cell's changes (low byte) and touches as in a
  // segment's window, and kGuardedCell once a guard sees it; the guards in
  // body order, each with what its cell's changes came to before it; the
  // touched cells, from low to high. Then, for Shape: the guarded cells'
  // places among the loop's cells, plus one (0 for the others), and per
  // guarded cell its offset and where its guards go.
  //
  // A walked body's head strays no further than the body is long (the
  // walk tells only at its end whether it came back), and the cells nothing
  // touches lie past kBodyNowhere from there; a segment's stay within kHalf.
  static constexpr std::uint32_t kGuardedCell = 0x80000000u;
  static constexpr std::int32_t kBodyHalf = std::max(kQuickBody + kBodyNowhere, std::uint32_t{kHalf}) + 16;
  static constexpr std::size_t kMostGuards = kMaxSegmentOps;
  struct BodyGuard {
    std::int16_t off;
    LoopGuard guard;
  };
  std::vector<std::uint32_t> cells_ = std::vector<std::uint32_t>(2 * kBodyHalf, 0);
  std::uint32_t guardCount_ = 0;
  std::int32_t low_ = 0, high_ = 0;
  std::vector<std::uint16_t> slots_ = std::vector<std::uint16_t>(2 * kBodyHalf, 0);
  // Left unset, so that only the room loops use becomes resident.
  std::unique_ptr<BodyGuard[]> guards_ = std::make_unique_for_overwrite<BodyGuard[]>(kMostGuards);
  std::unique_ptr<std::int16_t[]> guardedOffs_ = std::make_unique_for_overwrite<std::int16_t[]>(kMostGuards);
  std::unique_ptr<std::uint32_t[]> guardPlaces_ = std::make_unique_for_overwrite<std::uint32_t[]>(kMostGuards);
};

// The segment's guards took its cells' changes as they came; gathered, each
// guard sees the sum of its cell's changes before it instead, and each cell
// holds all its changes, what its guards took and what was left.
void LoopShaper::Emit(Segment& segment, std::uint8_t tailAdd, Program& program) {
  std::uint32_t* const window = cells_.data() + kBodyHalf;
  segment.AddChange(0, tailAdd);
  std::uint32_t guardCount = 0;
  for (const Op& op : segment.Ops()) {
    window[op.off] += op.a;
    guards_[guardCount++] = {static_cast<std::int16_t>(op.off),
                             {static_cast<std::uint8_t>(window[op.off]), static_cast<std::uint8_t>(op.b)}};
    window[op.off] |= kGuardedCell;
  }
  low_ = segment.Low();
  high_ = segment.High();
  for (std::int32_t off = low_; off <= high_; ++off) {
    const std::uint32_t left = segment.Touched(off) || segment.Change(off) ? kTouch + segment.TakeChange(off) : 0;
    window[off] += left;
  }
  guardCount_ = guardCount;
  Shape(segment.Block(), program);
  segment.Reset();
}

template <class Indices>
bool LoopShaper::WalkBody(const std::uint8_t* code, std::uint32_t length, const std::uint64_t (&marks)[kQuickChunks],
                          const Indices& indices) {
  std::uint32_t* const window = cells_.data() + kBodyHalf;
  BodyGuard* const bodyGuards = guards_.get();
  // Where the head stood, at most eight commands apart.
  std::ptrdiff_t head = 0, lowest = 0, highest = 0;
  auto mark = [&] {
    lowest = std::min(lowest, head);
    highest = std::max(highest, head);
  };
  auto group = [&](unsigned entry) {
    const BodyFour& four = kBodyFours[entry];
    std::uint32_t* const cell = window + head;
    cell[four.at[0]] += four.change[0];
    cell[four.at[1]] += four.change[1];
    head += four.move;
  };
  // Reading four commands past a run's end stays within the body and the
  // "# @ % )" after it.
  auto run = [&](std::uint32_t at, std::uint32_t count) {
    for (; count >= 8; count -= 8, at += 8) {
      unsigned first, second;
      indices.Pair(at, first, second);
      group(first);
      group(second);
      mark();
    }
    if (count >= 4) {
      group(indices.One(at));
      count -= 4;
      at += 4;
    }
    group(kBodyGroup[count] + (indices.One(at) & ((1u << 2 * count) - 1)));
    mark();
  };
  std::uint32_t guardCount = 0, at = 0;
  for (std::uint32_t chunk = 0; chunk * 64 < length; ++chunk) {
    for (std::uint64_t m = marks[chunk]; m; m &= m - 1) {
      const std::uint32_t skip = chunk * 64 + static_cast<std::uint32_t>(std::countr_zero(m));
      run(at, skip - at);
      bodyGuards[guardCount++] = {static_cast<std::int16_t>(head),
                                  {static_cast<std::uint8_t>(window[head]), static_cast<std::uint8_t>(kCommands[code[skip + 1]].way)}};
      window[head] |= kGuardedCell;
      at = skip + 2;
    }
  }
  run(at, length - at);
  // Eight commands touch no cell more than three past where the head stood
  // before and after them (going there and back, with a change between);
  // the touched ones (changed or guarded) are not 0.
  auto low = static_cast<std::int32_t>(lowest) - 3, high = static_cast<std::int32_t>(highest) + 3;
  if (head != 0) {
    std::fill(window + low, window + high + 1, 0u);
    return false;
  }
  while (low < 0 && window[low] == 0) ++low;
  while (high > 0 && window[high] == 0) --high;
  guardCount_ = guardCount;
  low_ = low;
  high_ = high;
  return true;
}

// The loop gathered: the guarded cells in the order of their first guards,
// each with its guards' places, then the others from low to high, the
// counter among them even when the body leaves it as it was; or a Clear,
// when all the body does is count the counter to 0 by an odd step. The
// lists grow by all the room they may need first (no more cells than the
// body touches, plus one, for each is written before it is counted), are
// written in place, then trimmed; the gathered cells are cleared on the way.
void LoopShaper::Shape(std::uint32_t source, Program& program) {
  std::uint32_t* const window = cells_.data() + kBodyHalf;
  const std::int32_t low = low_, high = high_;
  const std::uint32_t guardCount = guardCount_;
  if (guardCount == 0 && low == 0 && high == 0 && (window[0] & 1)) {
    window[0] = 0;
    program.ops.push_back(MakeOp(OpCode::Clear));
    return;
  }
  std::uint16_t* const slot = slots_.data() + kBodyHalf;
  const BodyGuard* const bodyGuards = guards_.get();
  std::int16_t* const guardedOffs = guardedOffs_.get();
  std::uint32_t* const places = guardPlaces_.get();
  std::uint16_t guarded = 0;
  for (std::uint32_t k = 0; k < guardCount; ++k) {
    std::uint16_t& s = slot[bodyGuards[k].off];
    if (s == 0) {
      s = ++guarded;
      guardedOffs[guarded - 1] = bodyGuards[k].off;
      places[guarded - 1] = 0;
    }
    ++places[s - 1];
  }

  ProgramList<LoopCell>& cells = program.loopCells;
  ProgramList<LoopGuard>& guards = program.loopGuards;
  ProgramList<std::uint16_t>& ends = program.loopGuardEnds;
  LoopShape shape{};
  shape.low = static_cast<std::int16_t>(low);
  shape.high = static_cast<std::int16_t>(high);
  shape.guarded = guarded;
  shape.source = source;
  shape.cellsBegin = static_cast<std::uint32_t>(cells.size());
  shape.guardsBegin = static_cast<std::uint32_t>(guards.size());
  shape.endsBegin = static_cast<std::uint32_t>(ends.size());
  cells.resize(shape.cellsBegin + static_cast<std::size_t>(high - low + 2));
  guards.resize(shape.guardsBegin + std::size_t{guardCount});
  ends.resize(shape.endsBegin + std::size_t{guarded});
  LoopCell* const out = cells.data() + shape.cellsBegin;
  LoopGuard* const guardOut = guards.data() + shape.guardsBegin;
  std::uint16_t* const endOut = ends.data() + shape.endsBegin;

  std::uint32_t placed = 0;
  std::uint16_t n = 0;
  bool counterPlaced = false;
  for (; n < guarded; ++n) {
    const std::int16_t off = guardedOffs[n];
    out[n] = {off, static_cast<std::uint8_t>(window[off])};
    if (off == 0) {
      shape.counter = n;
      counterPlaced = true;
    }
    const std::uint32_t count = places[n];
    places[n] = placed;
    placed += count;
    endOut[n] = static_cast<std::uint16_t>(placed);
  }
  if (guarded == guardCount) {
    // A guard per guarded cell: they stand in body order already.
    for (std::uint32_t k = 0; k < guardCount; ++k) guardOut[k] = bodyGuards[k].guard;
  } else {
    for (std::uint32_t k = 0; k < guardCount; ++k) guardOut[places[slot[bodyGuards[k].off] - 1]++] = bodyGuards[k].guard;
  }
  for (std::uint16_t c = 0; c < guarded; ++c) slot[guardedOffs[c]] = 0;

  // A cell that the body touches but leaves as it was stays a cell of the
  // loop, so that a run where the head wraps around makes it exist: a
  // touched cell that is not guarded is neither 0 nor marked. The counter
  // is a cell even when the body leaves it as it was.
  LoopCell* next = out + n;
  auto keep = [&](std::int32_t from, std::int32_t to) {
    for (std::int32_t off = from; off < to; ++off) {
      const std::uint32_t pending = window[off];
      window[off] = 0;
      *next = {static_cast<std::int16_t>(off), static_cast<std::uint8_t>(pending)};
      next += pending - 1 < kGuardedCell - 1;
    }
  };
  keep(low, 0);
  if (!counterPlaced) {
    shape.counter = static_cast<std::uint16_t>(next - out);
    *next++ = {0, static_cast<std::uint8_t>(window[0])};
  }
  window[0] = 0;
  keep(1, high + 1);
  shape.cells = static_cast<std::uint16_t>(next - out);
  cells.resize(shape.cellsBegin + shape.cells);

  Op loop = MakeOp(OpCode::Loop);
  loop.x = static_cast<std::int32_t>(program.loops.size());
  program.loops.push_back(shape);
  program.ops.push_back(loop);
}

}  // namespace

// The driver: the walk over the commands, handing each to the part it
// concerns. The commands come block by block; the walk goes as far into a
// block as it can without looking past its end, and what it leaves (less
// than kCommandLookahead commands) comes again at the front of the next
// block. Every decision at a command looks at most kCommandLookahead - 1
// commands ahead, so where the blocks end changes nothing.
class Translator::Walk {
 public:
  Walk() : targets_(program_) {}

  void Reserve(std::uint64_t bytes);
  std::size_t Take(const std::uint8_t* commands, std::size_t count, bool last);
  /// What is final so far: the ops up to the first jump that still waits
  /// for its target.
  ProgramView View() const {
    ProgramView view = ViewOf(program_);
    view.final = targets_.FirstWaiting(view.final);
    return view;
  }
  /// The room each list will fill next, guessed from how much it grew
  /// since the last call: twice that, past what was handed out before.
  ProgramRooms NextRooms();
  Program Finish();

 private:
  std::uint32_t OpCount() const { return static_cast<std::uint32_t>(program_.ops.size()); }
  /// The command at code index `i`, which must lie in the block at hand.
  std::uint8_t At(std::uint32_t i) const { return block_[i - base_]; }
  void Advance(std::uint32_t limit);
  void BeginBlock(std::uint32_t i);
  void CloseFallThrough(std::uint32_t nextSource);
  void CloseWithJump(std::int32_t move, std::uint32_t nextSource);
  std::uint32_t TranslateOther(std::uint32_t i);
  std::uint32_t OutputRun(std::uint32_t i);
  std::uint32_t TranslateSkip(std::uint32_t i);
  void TranslateGuarded(std::uint32_t i, std::uint8_t c);
  bool ClearAt(std::uint32_t i) const;
  std::uint32_t ClearIdiom(std::uint32_t i);
  std::uint32_t MergeClear(std::uint32_t i);
  void LoopTail(std::uint32_t i, std::uint32_t target);
  std::uint32_t QuickLoop(std::uint32_t i);
  std::uint32_t QuickLoopMade(std::uint32_t from, std::uint32_t length);

  Program program_;
  // Per list: where its room was, how far it was filled and how far handed
  // out as room, in bytes from its start, at the last NextRooms.
  struct RoomMark {
    const void* list = nullptr;
    std::size_t filled = 0, handed = 0;
  };
  std::array<RoomMark, 6> marks_{};
  JumpTargets targets_;
  Segment segment_;
  LoopShaper shaper_;
  // The block at hand: the commands from code index base_ to end_, which is
  // the end of the code when final_.
  const std::uint8_t* block_ = nullptr;
  std::uint32_t base_ = 0, end_ = 0;
  bool final_ = false;
  std::uint32_t next_ = 0;  // code index of the next command to walk
  bool dead_ = false;       // after an unconditional jump, until the next entry
  bool clears_ = false;     // just after a clear, which the next one may join
#ifdef CORVID_TRANSLATOR_AVX2
  const bool avx2_ = __builtin_cpu_supports("avx2");
#endif
};

void Translator::Walk::BeginBlock(std::uint32_t i) {
  if (!dead_) CloseFallThrough(i);
  targets_.BeginBlock(i, OpCount());
  dead_ = false;
  segment_.BeginBlock(i);
}

void Translator::Walk::CloseFallThrough(std::uint32_t nextSource) {
  if (segment_.Empty()) {
    // Nothing to emit: the common case between two entries close together.
    segment_.StartAt(nextSource);
    return;
  }
  Op move = MakeOp(OpCode::Move);
  move.x = segment_.Offset();
  segment_.Close(program_, move, segment_.Offset() != 0, nextSource);
}

void Translator::Walk::CloseWithJump(std::int32_t move, std::uint32_t nextSource) {
  Op jump = MakeOp(OpCode::Jump);
  jump.x = move;
  segment_.Close(program_, jump, true, nextSource);
  dead_ = true;
}

// Whether "( - # @ % )" or "( + # @ % )" stands from i.
bool Translator::Walk::ClearAt(std::uint32_t i) const {
  return i + 5 < end_ && IsBackMarker(At(i)) && IsKind(At(i + 1), CommandKind::Change) &&
         IsKind(At(i + 2), CommandKind::Skip) && IsForwardJump(At(i + 3)) && IsBackJump(At(i + 4)) &&
         IsForwardMarker(At(i + 5));
}

// The clear idiom from the "(" at i: a Clear at the entry after the "(", as
// the general road below would make it, only sooner, for the idiom is
// common. Returns the index of the last command it took.
std::uint32_t Translator::Walk::ClearIdiom(std::uint32_t i) {
  if (!ClearAt(i) || targets_.SkipPending()) return i;
  // A change of the cell just before is dead too, and the Clear makes the
  // cell exist itself.
  segment_.TakeChange(segment_.Offset());
  segment_.ForgetLoneTouch();
  BeginBlock(i + 1);
  program_.ops.push_back(MakeOp(OpCode::Clear));
  segment_.StartAt(segment_.Source());
  const std::uint32_t last = i + 5;  // the ")"
  targets_.Mark(last, At(last));
  segment_.StartAt(last + 1);
  clears_ = true;
  return last;
}

// More clears of the same cell with nothing but changes between them are
// the same Clear: whichever of their entries a jump lands on, the cell ends
// at 0 there, and the changes between are stored over. At `i`, just after a
// clear, takes the next one into it when no jump lands at `i` and no more
// than kClearGap changes come first. Returns where the walk goes on.
std::uint32_t Translator::Walk::MergeClear(std::uint32_t i) {
  constexpr std::uint32_t kClearGap = kCommandLookahead / 2;
  static_assert(kClearGap + 6 < kCommandLookahead);
  clears_ = false;
  if (targets_.Next() != kNoEntry) return i;
  std::uint32_t next = i;
  while (next < end_ && next - i < kClearGap && IsKind(At(next), CommandKind::Change)) ++next;
  if (!ClearAt(next)) return i;
  targets_.MergeBackMarker(next);  // its entry is the same Clear
  segment_.StartAt(next + 6);
  clears_ = true;
  return next + 6;
}

// "# @ % )": the "#" keeps the "@" from leaving while the cell is not 0, and
// the "%" goes back; at 0 the run goes on after the ")".
void Translator::Walk::LoopTail(std::uint32_t i, std::uint32_t target) {
  segment_.Touch(segment_.Offset());
  if (segment_.StartsBlock() && target == segment_.Block() && segment_.Offset() == 0 && segment_.Pure()) {
    shaper_.Emit(segment_, segment_.TakeChange(0), program_);
    segment_.StartAt(i + 4);
    return;
  }
  segment_.CloseWithTest(program_, MakeOp(OpCode::JumpIfNonZero), i + 4);
  targets_.PointJump(OpCount() - 1, target, segment_.Source());
}

// The loop whose "(" is at `i`, when QuickBody can size its body up: the
// whole loop (or Clear) that the road command by command would make, in one
// go. Returns the index of the last command it took (the loop's ")"), or
// `i` when it took none.
std::uint32_t Translator::Walk::QuickLoop(std::uint32_t i) {
  const std::uint32_t from = i + 1;
  if (targets_.SkipPending() || from >= end_) return i;
  std::uint64_t marks[kQuickChunks];
  const std::uint8_t* body = block_ + (from - base_);
#ifdef CORVID_TRANSLATOR_AVX2
  if (avx2_) {
    const std::uint32_t length = QuickBodyAvx2(body, end_ - from, marks);
    if (length == kNoBody) return i;
    std::uint8_t indices[kQuickBody + 32];
    IndexBodyAvx2(body, length, end_ - from, indices);
    return shaper_.WalkBody(body, length, marks, IndexFromList{indices}) ? QuickLoopMade(from, length) : i;
  }
#endif
  const std::uint32_t length = QuickBody(body, end_ - from, marks);
  if (length == kNoBody) return i;
  return shaper_.WalkBody(body, length, marks, IndexFromCodes{body}) ? QuickLoopMade(from, length) : i;
}

// The loop whose body of `length` commands from `from` was walked whole:
// shaped in place of its commands. Returns the index of its ")".
std::uint32_t Translator::Walk::QuickLoopMade(std::uint32_t from, std::uint32_t length) {
  BeginBlock(from);
  shaper_.Shape(from, program_);
  const std::uint32_t close = from + length + 3;  // the ")" of "# @ % )"
  segment_.StartAt(close + 1);
  targets_.Mark(close, At(close));
  return close;
}

// The command at `i`, which a "#" before it guards.
void Translator::Walk::TranslateGuarded(std::uint32_t i, std::uint8_t c) {
  const std::int32_t off = segment_.Offset();
  Command command = CommandOf(c);
  switch (command.kind) {
    case CommandKind::Change: segment_.GuardedChange(command.way); break;
    case CommandKind::Marker: targets_.Mark(i, c); break;
    case CommandKind::Move: {
      Op op = MakeOp(OpCode::CondMove);
      op.b = static_cast<std::uint16_t>(command.way);
      segment_.CloseWithTest(program_, op, i + 1);
      break;
    }
    case CommandKind::Output: segment_.Push(MakeOp(OpCode::OutputIfZero, off, segment_.TakeChange(off)), false); break;
    case CommandKind::Input: segment_.Input(true); break;
    case CommandKind::Jump:
      if (command.way < 0) {
        std::uint32_t target = targets_.BackTarget(i);
        segment_.CloseWithTest(program_, MakeOp(OpCode::JumpIfZero), i + 1);
        targets_.PointJump(OpCount() - 1, target, segment_.Source());
      } else {
        segment_.CloseWithTest(program_, MakeOp(OpCode::JumpIfZero), i + 1);
        targets_.SeekForwardMarker(OpCount() - 1);
      }
      break;
    case CommandKind::Skip:
    case CommandKind::None: break;  // "#" (skipped or run, it sets nothing) or no command at all
  }
}

// The "#" at i and, unless an entry follows it, the command it guards.
// Returns the index of the last command it took.
std::uint32_t Translator::Walk::TranslateSkip(std::uint32_t i) {
  segment_.Read();
  if (i + 1 >= end_) return i;
  if (i + 1 == targets_.Next()) {
    segment_.CloseWithTest(program_, MakeOp(OpCode::JumpIfNonZero), i + 1);
    targets_.PointJump(OpCount() - 1, i + 2, segment_.Source());
    targets_.SkipTo(i + 2);
    return i;
  }
  if (IsForwardJump(At(i + 1)) && i + 3 < end_ && IsBackJump(At(i + 2)) && IsForwardMarker(At(i + 3))) {
    LoopTail(i, targets_.BackTarget(i + 2));
    return i + 2;
  }
  TranslateGuarded(i + 1, At(i + 1));
  return i + 1;
}

// The "." at i and those right after it where no jump lands: a program of
// mostly commentary may be little else. Returns the index of the last
// command it took.
std::uint32_t Translator::Walk::OutputRun(std::uint32_t i) {
  const std::uint32_t stop = std::min(end_, targets_.Next());
  std::uint32_t last = i;
  while (last + 1 < stop && At(last + 1) == At(i)) ++last;
  return i + segment_.Output(last - i + 1) - 1;
}

// The command at i, one that is neither a move nor a change. Returns the
// index of the last command it took.
std::uint32_t Translator::Walk::TranslateOther(std::uint32_t i) {
  const std::uint8_t c = At(i);
  // The commonest: a "#" and the change it guards, within a segment.
  if (IsKind(c, CommandKind::Skip) && i + 1 < end_ && i + 1 != targets_.Next() && IsKind(At(i + 1), CommandKind::Change)) {
    segment_.GuardedChange(CommandOf(At(i + 1)).way);
    return i + 1;
  }
  switch (CommandOf(c).kind) {
    case CommandKind::Output: return OutputRun(i);
    case CommandKind::Input: segment_.Input(false); break;
    case CommandKind::Marker:
      targets_.Mark(i, c);
      if (IsBackMarker(c)) {
        const std::uint32_t last = ClearIdiom(i);
        return last != i ? last : QuickLoop(i);
      }
      break;
    case CommandKind::Jump:
      if (IsForwardJump(c)) {
        CloseWithJump(segment_.Offset(), i + 1);
        targets_.SeekForwardMarker(OpCount() - 1);
      } else {
        std::uint32_t target = targets_.BackTarget(i);
        CloseWithJump(segment_.Offset(), i + 1);
        targets_.PointJump(OpCount() - 1, target, segment_.Source());
      }
      break;
    case CommandKind::Skip: return TranslateSkip(i);
    default: break;
  }
  return i;
}

// Walks from next_ up to `limit`.
void Translator::Walk::Advance(std::uint32_t limit) {
  std::uint32_t i = next_;
  while (i < limit) {
    if (clears_) {
      i = MergeClear(i);
      continue;
    }
    if (i == targets_.Next()) BeginBlock(i);
    if (dead_) {
      targets_.Mark(i, At(i));  // nothing here runs, but the markers count
      ++i;
      continue;
    }
    if (!kStraightLine.other[At(i)]) {
      const std::uint32_t stop = std::min({targets_.Next(), limit, segment_.Source() + kMaxSegmentCommands});
      i += segment_.Stretch(block_ + (i - base_), stop - i);
      if (i >= limit || i == targets_.Next()) continue;
    }
    if (!kStraightLine.other[At(i)] || segment_.Full()) {
      CloseFallThrough(i);  // out of the window, or a long segment: a fresh one
      continue;
    }
    i = TranslateOther(i) + 1;
  }
  next_ = i;
}

namespace {

// A list this long is reserved from the code's size, for a program of a
// few hundred kilobytes or more: one large page more or less hardly shows.
constexpr std::size_t kLargeList = std::size_t{1} << 20;
constexpr std::size_t kLargePage = std::size_t{1} << 21;

}  // namespace

namespace {

// The room that lists left while a hold lasted, freed when the last hold
// ends.
struct HeldRoom {
  std::mutex lock;
  int holds = 0;
  std::vector<std::pair<void*, std::size_t>> kept;
};

HeldRoom& Held() {
  static HeldRoom held;
  return held;
}

void FreeNow(void* list, std::size_t bytes) noexcept {
  if (bytes < kLargeList) {
    ::operator delete(list);
  } else {
    ::operator delete(list, std::align_val_t{kLargePage});
  }
}

}  // namespace

ProgramListHold::ProgramListHold() {
  std::lock_guard<std::mutex> guard(Held().lock);
  ++Held().holds;
}

ProgramListHold::~ProgramListHold() {
  std::vector<std::pair<void*, std::size_t>> kept;
  {
    std::lock_guard<std::mutex> guard(Held().lock);
    if (--Held().holds == 0) kept.swap(Held().kept);
  }
  for (const auto& [list, bytes] : kept) FreeNow(list, bytes);
}

void* AllocateProgramList(std::size_t bytes) {
  if (bytes < kLargeList) return ::operator new(bytes);
  void* list = ::operator new(bytes, std::align_val_t{kLargePage});
  // Not the first large page: the first block of code fills only the start
  // of it, and the whole page would be cleared at its first write, before
  // a thread running ahead can take that fault (see ProgramFeed).
  if (bytes > kLargePage) platform::AdviseLargePages(static_cast<char*>(list) + kLargePage, bytes - kLargePage);
  return list;
}

void FreeProgramList(void* list, std::size_t bytes) noexcept {
  {
    std::lock_guard<std::mutex> guard(Held().lock);
    if (Held().holds > 0) {
      try {
        Held().kept.emplace_back(list, bytes);
        return;
      } catch (const std::bad_alloc&) {
        // Nowhere to note it: kept for good, which only costs memory.
        return;
      }
    }
  }
  FreeNow(list, bytes);
}

ProgramView ViewOf(const Program& program) {
  return {program.ops.data(),       program.rows.data(),       program.loops.data(),
          program.loopCells.data(), program.loopGuards.data(), program.loopGuardEnds.data(),
          static_cast<std::uint32_t>(program.ops.size())};
}

void ProgramFeed::Publish(const ProgramView& view, const ProgramRooms& rooms) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    view_ = view;
    rooms_ = rooms;
  }
  changed_.notify_all();
}

void ProgramFeed::Stop() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stop_.store(true, std::memory_order_relaxed);
  }
  changed_.notify_all();
}

bool ProgramFeed::Await(std::uint32_t index, ProgramView& view) {
  std::unique_lock<std::mutex> guard(lock_);
  auto ready = [&] { return Stopping() || index < view_.final; };
  if (!ready()) {
    waiting_ = true;
    waitingFor_ = index;
    changed_.notify_all();
    changed_.wait(guard, ready);
    waiting_ = false;
  }
  if (Stopping()) return false;
  view = view_;
  ProgramRooms rooms = rooms_;
  rooms_ = {};
  guard.unlock();
  for (const ListRoom& room : rooms) platform::PrefaultPages(room.begin, room.bytes);
  return true;
}

void ProgramFeed::Leave() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    left_ = true;
  }
  changed_.notify_all();
}

void ProgramFeed::AwaitIdle() {
  std::unique_lock<std::mutex> guard(lock_);
  changed_.wait(guard, [&] { return left_ || (waiting_ && waitingFor_ >= view_.final); });
}

// Room for what the densest common programs make of `bytes` bytes of code:
// reserved, not touched, so it costs address space only (and is capped so
// that a 32-bit process keeps most of its own). A list that needs more
// still grows.
void Translator::Walk::Reserve(std::uint64_t bytes) {
  constexpr std::uint64_t kMostCode = sizeof(void*) >= 8 ? std::uint64_t{1} << 26 : std::uint64_t{1} << 22;
  const auto code = static_cast<std::size_t>(std::min(bytes, kMostCode));
  try {
    program_.ops.reserve(code / 4);
    program_.rows.reserve(code / 4);
    program_.loops.reserve(code / 32);
    program_.loopCells.reserve(code / 8);
    program_.loopGuards.reserve(code / 16);
    program_.loopGuardEnds.reserve(code / 16);
  } catch (const std::bad_alloc&) {
    // Only a hint: the lists grow as they must.
  }
}

ProgramRooms Translator::Walk::NextRooms() {
  ProgramRooms rooms;
  std::size_t k = 0;
  auto next = [&](auto& list) {
    using Item = typename std::remove_reference_t<decltype(list)>::value_type;
    RoomMark& mark = marks_[k];
    auto* begin = reinterpret_cast<std::uint8_t*>(list.data());
    if (mark.list != begin) mark = {begin, 0, 0};  // a list that moved starts afresh
    const std::size_t filled = list.size() * sizeof(Item), capacity = list.capacity() * sizeof(Item);
    const std::size_t want = std::min(capacity, filled + 2 * (filled - std::min(filled, mark.filled)));
    const std::size_t from = std::max(filled, mark.handed);
    if (want > from) rooms[k] = {begin + from, want - from};
    mark.filled = filled;
    mark.handed = std::max(mark.handed, want);
    ++k;
  };
  next(program_.ops);
  next(program_.rows);
  next(program_.loops);
  next(program_.loopCells);
  next(program_.loopGuards);
  next(program_.loopGuardEnds);
  return rooms;
}

std::size_t Translator::Walk::Take(const std::uint8_t* commands, std::size_t count, bool last) {
  if (final_) return count;  // past the commands a run can reach
  block_ = commands;
  base_ = next_;
  // A code index past 2^31-1 wraps negative and ends the run, so no run
  // sees more commands than this; the rest are taken and dropped.
  const std::size_t reachable = static_cast<std::size_t>(kReachable - base_);
  final_ = last || count >= reachable;
  end_ = base_ + static_cast<std::uint32_t>(std::min(count, reachable));
  if (final_) {
    Advance(end_);
    return count;
  }
  if (end_ - base_ > kCommandLookahead) Advance(end_ - kCommandLookahead);
  return next_ - base_;
}

Program Translator::Walk::Finish() {
  if (!final_) Take(nullptr, 0, true);
  if (!dead_) CloseFallThrough(end_);
  std::uint32_t end = OpCount();
  program_.ops.push_back(MakeOp(OpCode::End));
  targets_.Finish(end);
  return std::move(program_);
}

Translator::Translator() : walk_(std::make_unique<Walk>()) {}
Translator::~Translator() = default;

void Translator::Expect(std::uint64_t bytes) { walk_->Reserve(bytes); }

std::size_t Translator::Take(const std::uint8_t* commands, std::size_t count, bool last) {
  const std::size_t took = walk_->Take(commands, count, last);
  if (feed_) {
    const ProgramView view = walk_->View();
    if (view.final - published_ >= batch_ || (last && view.final > published_)) {
      feed_->Publish(view, walk_->NextRooms());
      published_ = view.final;
    }
  }
  return took;
}

Program Translator::Finish() {
  Program program = walk_->Finish();
  // Moving the lists keeps their places, so the view stays good.
  if (feed_) feed_->Publish(ViewOf(program));
  return program;
}

Program Translate(const CodeStore& code) {
  Translator translator;
  translator.Take(code.commands.data(), code.commands.size(), true);
  return translator.Finish();
}

}  // namespace corvid
