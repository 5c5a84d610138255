// Command execution: runs a translated program against the tape.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

#include "interpreter/internal/loader.h"
#include "interpreter/internal/tape.h"
#include "interpreter/internal/translator.h"

namespace corvid {

/// Where "." writes and "," reads, and what hears the executor's ticks.
class CommandPort {
 public:
  virtual ~CommandPort() = default;
  /// The decimal text of cells that "." wrote, in command order.
  virtual void Write(const char* text, std::size_t length) = 0;
  /// The code of the first character of the next input line, -1 for an
  /// empty line.
  virtual Int ReadFirstCode() = 0;
  /// Called now and then while a run goes on: whenever about a tick
  /// interval of work has been done (see Executor::SetTickInterval), each
  /// jump counting, so that a run that never ends still ticks. False ends
  /// the run where it stands.
  virtual bool Tick() { return true; }
};

/// Standard output and input. What "." writes waits in standard output's
/// buffer (WriteStdout) until a read of input, the end of the run, or a
/// tick some time after it came, so that a program that goes on running
/// shows it within 100 ms; on a terminal each number is flushed at once.
/// "," reads with GetStdinFirstCode, which keeps nothing of the line but
/// its first byte.
class StandardPort : public CommandPort {
 public:
  /// How long written output may wait while the run goes on.
  static constexpr Int kFlushMillis = 50;

  StandardPort();
  void Write(const char* text, std::size_t length) override;
  Int ReadFirstCode() override;
  bool Tick() override;

 private:
  bool terminal_;
  Int quietSince_;  // last time nothing waited, or of the last flush
};

/// Runs the eleven commands. "." writes the current cell in decimal; ","
/// reads a line and stores the code of its first character (255 for an
/// empty line). It runs a translated program (see Translator).
class Executor {
 public:
  static constexpr Int kInitialHead = 36;
  static constexpr Long kDefaultTickInterval = Long{1} << 18;

  /// `head` is where the head starts; runs begin at kInitialHead.
  Executor(Program program, Tape& tape, CommandPort& port, Int head = kInitialHead);
  /// Translates `code` first.
  Executor(const CodeStore& code, Tape& tape, CommandPort& port, Int head = kInitialHead)
      : Executor(Translate(code), tape, port, head) {}

  /// Runs from the first command until the end of the code, or until "@"
  /// finds no ")" after it: true. False when the port's Tick ended the run
  /// before (the tape and head are then those of some moment of the run).
  /// After RunAhead, goes on from where that stopped.
  bool Run();

  /// Runs the ops that `feed` makes final as they come, on the thread that
  /// calls it, doing nothing that shows: it stops before the first op that
  /// writes, reads input, ends the run or needs the head's range to wrap
  /// around, before one that fails, and soon after the feed's Stop (its
  /// port ticks are owed to Run, which makes one of them). The executor's
  /// program must be empty; give it the whole one with Adopt before Run.
  void RunAhead(ProgramFeed& feed);
  /// The program whose ops RunAhead ran (moved, so that its lists keep
  /// their places).
  void Adopt(Program program);

  /// The head's cell position.
  Int Head() const noexcept { return head_; }

  /// Roughly how many operations run between two calls of the port's Tick.
  void SetTickInterval(Long interval) noexcept { tickInterval_ = interval < 1 ? 1 : interval; }

  /// For tests: every segment and whole loop that touches cells runs as
  /// where the head wraps around, cell by cell through the tape.
  void SetStepwise(bool on) noexcept { stepwise_ = on; }

 private:
  enum class LoopEnd { Done, Later, Never };
  /// Runs from op pc_; the feed is null for Run, and given for RunAhead.
  template <bool kAhead>
  bool Execute(ProgramFeed* feed);
  /// Makes loop scratch for `cells` cells; false when there is no memory
  /// for it and `quiet`, else bad_alloc.
  bool GrowScratch(std::uint32_t cells, bool quiet);
  /// tape_.Reach, false where it fails.
  bool TryReach(Long low, Long high) noexcept;
  /// Runs the segment that begins with the Reach op `reach` op by op, each
  /// cell read and written through the tape at its position as the head's
  /// 32-bit range wraps around it, up to and with the op that ends the
  /// segment; gives back the op to go on with, or kStopped when the port's
  /// Tick ended the run. For segments across an end of the head's range.
  std::uint32_t RunSegmentWrapped(std::uint32_t reach, Long& ticks);
  /// RunLoop for a whole loop across an end of the head's range: over a
  /// copy of its cells, read from and written back to their positions.
  LoopEnd RunLoopWrapped(const LoopShape& shape, Long& work);
  static constexpr std::uint32_t kStopped = UINT32_MAX;
  /// The port's Tick; false when the run is to end.
  bool Tick();
  /// Counts `weight` off `ticks`, ticking when they run out; false when the
  /// run is to end.
  bool Spend(Long& ticks, Long weight);
  /// Runs the whole loop `shape` from its start, the head's cell at `head`:
  /// Done when it ended, Never when it never will, Later when it stopped
  /// after a while (between two iterations) to let the run tick. Adds the
  /// work it did to `work`.
  LoopEnd RunLoop(const LoopShape& shape, std::uint8_t* head, Long& work);
  class LoopRun;
  /// What a whole loop's run works in, per cell of the largest loop, kept
  /// from one run to the next.
  struct LoopScratch {
    std::vector<std::uint8_t> base;
    std::vector<std::uint8_t> step;
    std::vector<std::int32_t> link;
    std::array<std::int32_t, 256> day;
  };
  void WriteCell(std::uint8_t value, Int times);

  Program program_;
  ProgramView view_;
  LoopScratch loopScratch_;
  std::uint32_t pc_ = 0;    // the op to go on with
  Long ticks_ = -1;         // work until the next tick; -1 before the run starts
  bool tickOwed_ = false;   // a tick came due while running ahead
  std::vector<std::uint8_t> wrappedCells_;  // a whole loop's cells, for RunLoopWrapped
  Tape& tape_;
  CommandPort& port_;
  Int head_;
  Long tickInterval_ = kDefaultTickInterval;
  bool stepwise_ = false;
};

/// An executor running ahead, on a thread of its own, of the translator
/// that makes its program: while the code is still loading, it runs the
/// ops made final so far (see Executor::RunAhead). Nothing it does shows,
/// so a load that fails loses nothing; the whole run still writes and
/// reads in order, after the load.
class AheadRun {
 public:
  /// Ops made final between two wake-ups of the executor's thread.
  static constexpr std::uint32_t kBatch = 1 << 12;

  /// Starts running `executor` over what `translator` makes final, `batch`
  /// ops at a time at least. Where no thread starts, nothing runs ahead.
  AheadRun(Executor& executor, Translator& translator, std::uint32_t batch = kBatch);
  ~AheadRun() { Finish(); }
  AheadRun(const AheadRun&) = delete;
  AheadRun& operator=(const AheadRun&) = delete;

  /// Stops the executor and waits for it; the translator publishes no more.
  void Finish() noexcept;
  /// See ProgramFeed::AwaitIdle.
  void AwaitIdle() {
    if (thread_.joinable()) feed_.AwaitIdle();
  }

 private:
  Translator& translator_;
  ProgramListHold hold_;
  ProgramFeed feed_;
  std::thread thread_;
};

/// Adds with 32-bit wrap-around.
inline Int WrappingAdd(Int a, Int b) noexcept {
  return static_cast<Int>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

}  // namespace corvid
