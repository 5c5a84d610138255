// Translation of the code store into the executor's program: jump targets
// resolved once, straight-line code merged per cell, recognised loops run
// whole.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include "interpreter/internal/loader.h"

namespace corvid {

/// The operations of a translated program, listed (with what their fields
/// mean) in opcodes.inc, the one table both the translator and the
/// executor's dispatch are built from.
enum class OpCode : std::uint8_t;

/// One operation; what the fields mean depends on `code` (see opcodes.inc).
struct Op {
  OpCode code;
  std::uint8_t a = 0;
  std::uint16_t b = 0;
  std::int32_t off = 0;
  std::int32_t x = 0;
  std::uint32_t y = 0;
};

/// A cell of a whole loop's body: it changes by `step` in an iteration in
/// which none of its guards fires. (A body is one segment, whose offsets
/// stay within a few thousand.)
struct LoopCell {
  std::int16_t off;
  std::uint8_t step;
};

/// A "#" in a whole loop's body and the "+" or "-" it guards, both on the
/// guard's cell: the test sees the cell's value at the start of the
/// iteration plus `before` plus the changes of the cell's guards that fired
/// before it in the same iteration; at 0 the cell changes by `change`.
struct LoopGuard {
  std::uint8_t before;
  std::uint8_t change;
};

/// A loop "( body # @ % )" whose body reads no input, writes nothing, jumps
/// nowhere and ends where it began, so that each cell it touches follows its
/// own course: whole runs of iterations are counted instead of run. The
/// counter is the cell under the head; the loop ends after the iteration at
/// whose end it reads 0.
/// The guards of the loop's cells stand in cell order, each cell's in body
/// order; guard ends [g] is where those of the g-th guarded cell end (a body
/// holds at most 2^15 ops, so they fit 16 bits).
struct LoopShape {
  std::int16_t low, high;     // cells the body touches, from the head
  std::uint16_t cells;        // how many it changes or guards
  std::uint16_t guarded;      // the cells with guards, which come first
  std::uint16_t counter;      // the counter's index among the cells
  std::uint32_t source;       // code index of the body's first command
  std::uint32_t cellsBegin;   // into Program::loopCells
  std::uint32_t guardsBegin;  // into Program::loopGuards
  std::uint32_t endsBegin;    // into Program::loopGuardEnds
};

/// Memory for a list of the program: from the system's allocator, except
/// that a list of a megabyte or more (one reserved from the code's size)
/// starts on a large-page boundary and asks for large pages, so that
/// filling it takes a fault per 2 MiB rather than per 4 KiB.
void* AllocateProgramList(std::size_t bytes);
void FreeProgramList(void* list, std::size_t bytes) noexcept;

/// A list of a program: the few things of a vector the translator and the
/// executor use, for plain items in memory from AllocateProgramList. Items
/// a list grows by are left unset, so that the translator can grow a list
/// by what it may need and write in place, and growing within the room
/// costs a compare. A list moves with its program and is never copied.
template <class T>
class ProgramList {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

 public:
  using value_type = T;

  ProgramList() = default;
  ProgramList(ProgramList&& other) noexcept
      : begin_(std::exchange(other.begin_, nullptr)),
        end_(std::exchange(other.end_, nullptr)),
        room_(std::exchange(other.room_, nullptr)) {}
  ProgramList& operator=(ProgramList&& other) noexcept {
    std::swap(begin_, other.begin_);
    std::swap(end_, other.end_);
    std::swap(room_, other.room_);
    return *this;
  }
  ~ProgramList() {
    if (begin_) FreeProgramList(begin_, capacity() * sizeof(T));
  }

  std::size_t size() const { return static_cast<std::size_t>(end_ - begin_); }
  std::size_t capacity() const { return static_cast<std::size_t>(room_ - begin_); }
  bool empty() const { return end_ == begin_; }
  T* data() { return begin_; }
  const T* data() const { return begin_; }
  T* begin() { return begin_; }
  T* end() { return end_; }
  const T* begin() const { return begin_; }
  const T* end() const { return end_; }
  T& operator[](std::size_t k) { return begin_[k]; }
  const T& operator[](std::size_t k) const { return begin_[k]; }
  T& back() { return end_[-1]; }

  void reserve(std::size_t count) {
    if (count > capacity()) Move(count);
  }
  void resize(std::size_t count) {
    if (count > capacity()) Move(std::max(count, 2 * capacity()));
    end_ = begin_ + count;
  }
  void push_back(const T& item) {
    if (end_ == room_) Move(std::max<std::size_t>(1, 2 * capacity()));
    *end_++ = item;
  }

 private:
  /// Moves the items to room for `count`.
  void Move(std::size_t count) {
    if (count > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    auto* room = static_cast<T*>(AllocateProgramList(count * sizeof(T)));
    const std::size_t items = size();
    if (begin_) {
      if (items) std::memcpy(room, begin_, items * sizeof(T));
      FreeProgramList(begin_, capacity() * sizeof(T));
    }
    begin_ = room;
    end_ = room + items;
    room_ = room + count;
  }

  T* begin_ = nullptr;
  T* end_ = nullptr;
  T* room_ = nullptr;
};

/// A translated code store. Running it is the same as running the commands
/// one by one: same output, same input read, same tape, same head. It holds
/// no command: where the head wraps around its 32-bit range, the executor
/// runs the ops themselves at wrapped positions. For that, every cell a
/// segment touches is one an op of the segment reads or writes (an Add of 0
/// where nothing else would), and every cell a whole loop's body touches is
/// one of its cells.
struct Program {
  ProgramList<Op> ops;
  ProgramList<std::uint8_t> rows;  // the changes of AddRow ops
  ProgramList<LoopShape> loops;
  ProgramList<LoopCell> loopCells;
  ProgramList<LoopGuard> loopGuards;
  ProgramList<std::uint16_t> loopGuardEnds;
};

/// While another thread reads a program's lists, a list that grows keeps
/// its old room (what that thread may still be reading) until the last
/// hold ends.
class ProgramListHold {
 public:
  ProgramListHold();
  ~ProgramListHold();
  ProgramListHold(const ProgramListHold&) = delete;
  ProgramListHold& operator=(const ProgramListHold&) = delete;
};

/// The part of a program under translation that is final: the ops below
/// `final`, and the rows, loops and loop cells they name. None of it
/// changes any more; only the lists' places may, as they grow.
struct ProgramView {
  const Op* ops = nullptr;
  const std::uint8_t* rows = nullptr;
  const LoopShape* loops = nullptr;
  const LoopCell* loopCells = nullptr;
  const LoopGuard* loopGuards = nullptr;
  const std::uint16_t* loopGuardEnds = nullptr;
  std::uint32_t final = 0;
};

/// All of `program`.
ProgramView ViewOf(const Program& program);

/// Room at the end of a list of the program, which the translator is about
/// to fill.
struct ListRoom {
  void* begin = nullptr;
  std::size_t bytes = 0;
};
using ProgramRooms = std::array<ListRoom, 6>;

/// Hands what a translator has made final so far to an executor running on
/// another thread, and tells that executor when to stop.
class ProgramFeed {
 public:
  /// The translator's side: `view` is final (and extends the one before);
  /// the lists will soon fill `rooms`, whose pages the executor's thread
  /// makes resident first, so that the translator does not wait on their
  /// faults.
  void Publish(const ProgramView& view, const ProgramRooms& rooms = {});
  /// The owner's side: the executor is to stop at its next chance.
  void Stop();
  bool Stopping() const noexcept { return stop_.load(std::memory_order_relaxed); }
  /// The executor's side: waits until the op at `index` is final, then
  /// gives the latest view; false (and no view) once Stop was asked.
  bool Await(std::uint32_t index, ProgramView& view);
  /// The executor's side: it runs ahead no more.
  void Leave();
  /// Waits until the executor has run all it can of what is final: it
  /// waits for more, or has left. (Tests use it to make the run ahead go as
  /// far as it can at every block.)
  void AwaitIdle();

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  ProgramView view_;
  ProgramRooms rooms_;
  std::atomic<bool> stop_{false};
  bool waiting_ = false;         // in Await, for the op at waitingFor_
  std::uint32_t waitingFor_ = 0;
  bool left_ = false;
};

/// Translates the commands as the loader hands them over, block by block, so
/// that nothing holds the whole command text: the program grows with its
/// ops, whatever the size of the code. The program does not depend on
/// where the blocks end.
class Translator final : public CommandSink {
 public:
  Translator();
  ~Translator() override;

  /// Reserves room for the program of that much code up front, so that
  /// the program's lists never move while they grow.
  void Expect(std::uint64_t bytes) override;
  std::size_t Take(const std::uint8_t* commands, std::size_t count, bool last) override;
  /// The program of all the commands taken, the last block taken to be the
  /// last. Once only.
  Program Finish();
  /// From now on, what is final goes to `feed` after a block that made at
  /// least `batch` more ops final (a load by lines hands over a block per
  /// line), and the whole program when it is finished.
  void SetFeed(ProgramFeed* feed, std::uint32_t batch = 1) noexcept {
    feed_ = feed;
    batch_ = batch;
  }

 private:
  class Walk;
  std::unique_ptr<Walk> walk_;
  ProgramFeed* feed_ = nullptr;
  std::uint32_t batch_ = 1;
  std::uint32_t published_ = 0;  // ops final at the last publication
};

/// Translates `code`, all of it in one block.
Program Translate(const CodeStore& code);

namespace detail {
constexpr std::array<std::uint8_t, 256> MakeInverses() {
  std::array<std::uint8_t, 256> inverse{};
  for (unsigned u = 1; u < 256; u += 2)
    for (unsigned v = 1; v < 256; v += 2)
      if (((u * v) & 0xFF) == 1) inverse[u] = static_cast<std::uint8_t>(v);
  return inverse;
}
/// Inverses of the odd numbers modulo 256.
inline constexpr std::array<std::uint8_t, 256> kInverse = MakeInverses();
}  // namespace detail

constexpr Int kNever = 1 << 16;

/// The smallest j >= 0 with (start + j * step) % 256 == 0, or kNever when
/// there is none. With step = 2^s * u (u odd) there is one exactly when 2^s
/// divides start; j is then -start / 2^s times the inverse of u, modulo
/// 2^(8-s). Free of branches: whole loops ask it for every guard.
inline Int FirstZero(std::uint8_t start, std::uint8_t step) {
  unsigned shift = static_cast<unsigned>(std::countr_zero(step | 0x100u));
  bool reached = (start & ((1u << shift) - 1)) == 0;
  unsigned j = ((((256u - start) & 0xFFu) >> shift) * detail::kInverse[step >> shift]) & (0xFFu >> shift);
  return reached ? static_cast<Int>(j) : kNever;
}

}  // namespace corvid
