// The translating executor against the plain one-command-at-a-time one of
// the test support: random programs must write, read and leave the tape
// alike.
#include "interpreter/internal/executor.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "interpreter/internal/program_dump.h"
#include "runtime/app.h"
#include "support/plain_run.h"
#include "support/test_support.h"

namespace corvid {
namespace {

using Outcome = testing::PlainRun;
using testing::RunPlainly;
using testing::ScriptedPort;

Outcome Collect(bool finished, const ScriptedPort& port, const Executor& executor, Tape& tape) {
  Outcome o;
  o.finished = finished;
  o.output = port.output;
  o.head = executor.Head();
  o.origin = tape.Origin();
  o.extent = tape.Extent();
  for (Long p = -o.origin; p < o.extent; ++p) o.cells.push_back(static_cast<std::uint8_t>(tape.Read(p)));
  return o;
}

Outcome RunTranslated(const std::string& code, const std::vector<Int>& input, Int head, Long ticks,
                      bool stepwise = false) {
  CodeStore store;
  store.commands.assign(code.begin(), code.end());
  Tape tape;
  ScriptedPort port(input, ticks);
  Executor executor(store, tape, port, head);
  executor.SetTickInterval(1);
  executor.SetStepwise(stepwise);
  const bool finished = executor.Run();
  return Collect(finished, port, executor, tape);
}

// The same run begun on another thread while the translator gets the code
// `block` commands at a time, as the loader hands it over; unless the
// program runs for ever, it goes as far as it can into every block. Until
// the load ends, that run must not use the port at all.
Outcome RunAheadOfTranslation(const std::string& code, const std::vector<Int>& input, Int head, Long ticks,
                              std::size_t block, bool forever = false) {
  struct WatchedPort : ScriptedPort {
    using ScriptedPort::ScriptedPort;
    Int ReadFirstCode() override {
      ++uses;
      return ScriptedPort::ReadFirstCode();
    }
    bool Tick() override {
      ++uses;
      return ScriptedPort::Tick();
    }
    int uses = 0;
  };
  Tape tape;
  WatchedPort port(input, ticks);
  Translator translator;
  Executor executor(Program{}, tape, port, head);
  executor.SetTickInterval(1);
  {
    AheadRun ahead(executor, translator, 1);
    std::string held;
    for (std::size_t at = 0;;) {
      held.append(code, at, block);
      at = std::min(at + block, code.size());
      const bool last = at == code.size();
      held.erase(0, translator.Take(reinterpret_cast<const std::uint8_t*>(held.data()), held.size(), last));
      if (!forever) ahead.AwaitIdle();
      if (last) break;
    }
    Program program = translator.Finish();
    ahead.Finish();
    EXPECT_TRUE(port.output.empty() && port.uses == 0) << "before the load ended, code: " << code;
    executor.Adopt(std::move(program));
  }
  const bool finished = executor.Run();
  return Collect(finished, port, executor, tape);
}

// The translation of `code` handed over `block` commands at a time, each
// time with what the translator left of the block before.
std::string TranslatedInBlocks(const std::string& code, std::size_t block) {
  Translator translator;
  std::string held;
  for (std::size_t at = 0; at < code.size();) {
    held.append(code, at, block);
    at = std::min(at + block, code.size());
    const bool last = at == code.size();
    std::size_t took = translator.Take(reinterpret_cast<const std::uint8_t*>(held.data()), held.size(), last);
    EXPECT_TRUE(last ? took == held.size() : held.size() - took <= kCommandLookahead) << code;
    held.erase(0, took);
  }
  return DumpProgram(translator.Finish());
}

// Programs of a few shapes: any commands at all; loops "( body # @ % )" with
// guarded changes, output and input in their bodies; loops between long runs
// and far moves; and loops with a few commands changed, so that markers go
// missing and jumps land in odd places.
class ProgramMaker {
 public:
  explicit ProgramMaker(unsigned seed) : random_(seed) {}

  std::string Make() {
    std::string code;
    switch (Below(4)) {
      case 0:
        for (int k = Below(40) + 1; k > 0; --k) code += Any();
        break;
      case 1: code = Loops(); break;
      case 2:
        code = Far() + Loops() + Far() + ".";
        break;
      default:
        code = Loops();
        for (int k = Below(2) + 1; k > 0; --k) {
          std::size_t at = static_cast<std::size_t>(Below(static_cast<int>(code.size())));
          if (Below(2)) code.insert(at, 1, Any());
          else code[at] = Any();
        }
    }
    if (Below(8) == 0) code.insert(0, 1, Below(2) ? '%' : '#');
    return code;
  }

  std::vector<Int> Input() {
    std::vector<Int> lines;
    for (int k = Below(6); k > 0; --k) lines.push_back(Below(5) == 0 ? -1 : Below(256));
    return lines;
  }

 private:
  int Below(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }
  char Any() { return "<>+-.,()@#%#+-"[Below(14)]; }
  std::string Run(char c, int n) { return std::string(static_cast<std::size_t>(n), c); }
  std::string Moves(int by) { return Run(by > 0 ? '>' : '<', std::abs(by)); }

  // Long runs of changes and moves, far out and back, touching cells.
  std::string Far() {
    std::string code;
    for (int k = Below(4); k > 0; --k) {
      int by = (Below(2) ? 1 : -1) * (Below(3000) + 1);
      code += Moves(by) + Run(Below(2) ? '+' : '-', Below(400)) + (Below(2) ? "." : "") + Moves(-by / (Below(3) + 1));
    }
    return code;
  }

  std::string Loops() {
    std::string code;
    for (int loops = Below(3) + 1; loops > 0; --loops) {
      int shift = Below(7) - 3;
      code += Moves(shift) + Run(Below(2) ? '+' : '-', Below(6)) + '(';
      int pos = 0;
      // Now and then a body longer than the loader's lookahead, which the
      // translator sees whole in one block and not whole in small ones.
      for (int steps = Below(8) ? Below(12) + 1 : Below(40) + 25; steps > 0; --steps) {
        int move = Below(5) - 2;
        code += Moves(move);
        pos += move;
        if (pos == 0 && Below(4)) continue;  // mostly leave the counter to the tail
        if (Below(4) == 0) {
          code += '#';  // before a change mostly, before anything at all now and then
          if (Below(10) == 0) code += "<>.,#()@%"[Below(9)];
        }
        int r = Below(30);
        if (r == 0) code += '.';
        else if (r == 1) code += ',';
        else code += Run(Below(2) ? '+' : '-', Below(3) + 1);
      }
      if (Below(12)) code += Moves(-pos);  // most bodies end where they began
      // Counters that change by an even step or not at all may never read 0.
      static const char* const kTails[] = {"#@%", "--#@%", "+#@%", "---#@%", "-#@%", "-#@%", "-#@%", "-#@%"};
      code += std::string(kTails[Below(16) ? 2 + Below(6) : Below(2)]) + ')' + Moves(-shift);
      if (Below(3) == 0) code += '.';
      // Clears of one cell, with changes between them.
      if (Below(5) == 0)
        for (int clears = Below(4) + 1; clears > 0; --clears)
          code += Run(Below(2) ? '+' : '-', Below(3)) + (Below(2) ? "(-#@%)" : "(+#@%)");
    }
    return code;
  }

  std::mt19937 random_;
};

// A longer run, with other programs: CORVID_FUZZ_ROUNDS and CORVID_FUZZ_SEED.
Long FromEnvironment(const char* name, Long usual) {
  const char* env = std::getenv(name);
  return env ? std::atoll(env) : usual;
}

TEST(Executor, AgreesWithRunningCommandsOneByOne) {
  ProgramMaker maker(static_cast<unsigned>(FromEnvironment("CORVID_FUZZ_SEED", 20240613)));
#ifdef CORVID_SANITIZED
  constexpr Long kUsualRounds = 600;  // each step costs many times more there
#else
  constexpr Long kUsualRounds = 4000;
#endif
  const Long rounds = FromEnvironment("CORVID_FUZZ_ROUNDS", kUsualRounds);
  Long compared = 0;
  for (Long round = rounds; round > 0; --round) {
    std::string code = maker.Make();
    std::vector<Int> input = maker.Input();
    const Long budget = 20000;
    Outcome plain = RunPlainly(code, input, Executor::kInitialHead, budget);
    if (!plain.finished) continue;
    Outcome translated = RunTranslated(code, input, Executor::kInitialHead, budget + 100);
    ASSERT_EQ(translated, plain) << "code: " << code;
    // Where the blocks the loader hands over end changes nothing: runs,
    // clears, "#" pairs and loop heads split anywhere translate the same.
    CodeStore store;
    store.commands.assign(code.begin(), code.end());
    ASSERT_EQ(TranslatedInBlocks(code, static_cast<std::size_t>(round % 5 + 1)), DumpProgram(Translate(store)))
        << "code: " << code;
    // The road back from going command by command (taken where the head
    // wraps around) must land where the translated code goes on.
    if (round % 4 == 0) {
      Outcome stepwise = RunTranslated(code, input, Executor::kInitialHead, budget + 100, true);
      ASSERT_EQ(stepwise, plain) << "command by command, code: " << code;
    }
    // Begun while the code still loads, stopped wherever the load ends.
    if (round % 4 == 2) {
      Outcome ahead =
          RunAheadOfTranslation(code, input, Executor::kInitialHead, budget + 100, static_cast<std::size_t>(round % 7 + 1));
      ASSERT_EQ(ahead, plain) << "begun while loading, code: " << code;
    }
    ++compared;
  }
  EXPECT_GT(compared, rounds / 3);
}

// Places where translation takes shortcuts, each with a jump landing in
// the middle of one.
TEST(Executor, AgreesOnProgramsThatJumpIntoShortcuts) {
  struct Case {
    const char* code;
    std::vector<Int> input;
  };
  for (const Case& c : {
           Case{"+>++(-#@%)+(-#@%)<-#%<-#%.", {}},  // back into a run of clears
           Case{"#+#@%).", {}},                     // "#" before index 1, where "%" lands
           Case{"%+.", {}},                         // "%" first
           Case{"(+#@%", {}},                       // "@" with no ")" after it
           Case{",(.-#@%)", {3}},                   // a loop that writes
           Case{"+++(>+<-#@%)>.", {}},              // a whole loop
           Case{">>>+<<<+++(>#+<-#@%)+(>#-<-#@%)>>>-#%<<<.", {}},  // back into a whole loop
       }) {
    Outcome plain = RunPlainly(c.code, c.input, Executor::kInitialHead, 100000);
    ASSERT_TRUE(plain.finished) << c.code;
    EXPECT_EQ(RunTranslated(c.code, c.input, Executor::kInitialHead, 100000), plain) << c.code;
    EXPECT_EQ(RunTranslated(c.code, c.input, Executor::kInitialHead, 100000, true), plain) << c.code;
    EXPECT_EQ(RunAheadOfTranslation(c.code, c.input, Executor::kInitialHead, 100000, 1), plain) << c.code;
  }
}

TEST(Executor, FirstZeroAgreesWithCounting) {
  for (int start = 0; start < 256; ++start) {
    for (int step = 0; step < 256; ++step) {
      Int expected = kNever;
      for (Int j = 0; j < 256 && expected == kNever; ++j)
        if ((start + j * step) % 256 == 0) expected = j;
      ASSERT_EQ(FirstZero(static_cast<std::uint8_t>(start), static_cast<std::uint8_t>(step)), expected)
          << start << " " << step;
    }
  }
}

// Loops whose counter never reads 0 run for ever, however they are run,
// and tick all the while, so that the port can end them: also command by
// command, where a "%" that finds no "(" goes back to the second command,
// which is no jump target.
TEST(Executor, NeverEndingLoopsStayNeverEnding) {
  for (const char* code : {"+%", "+(++#@%)", "+(>+<--#@%)", "+(--#@%)", "+(>#+<--#@%)", "+(>%",
                           "+(>+#@%)", "++(-(#@%).", "++%"}) {
    for (bool stepwise : {false, true}) {
      Outcome o = RunTranslated(code, {}, Executor::kInitialHead, 100000, stepwise);
      EXPECT_FALSE(o.finished) << code << (stepwise ? " command by command" : "");
    }
    EXPECT_FALSE(RunAheadOfTranslation(code, {}, Executor::kInitialHead, 100000, 2, true).finished) << code;
  }
}

// A tape that reaches both ends of the 32-bit range holds 2^31 cells, more
// than a 32-bit process can address.
constexpr bool kTapeCanSpanTheRange = sizeof(void*) > 4;
constexpr char kTapeTooLarge[] = "a tape across the whole 32-bit range needs 2 GiB, beyond a 32-bit process";

// Where the head wraps around, the run goes command by command of itself;
// a loop there that never reaches a jump target still ticks.
TEST(Executor, ALoopWhereTheHeadWrapsAroundStillTicks) {
  if (!kTapeCanSpanTheRange) GTEST_SKIP() << kTapeTooLarge;
  CodeStore store;
  store.commands.assign({'<', '<', '+', '%'});
  Tape tape;
  ScriptedPort port({}, 1000);
  Executor executor(store, tape, port, INT32_MIN + 1);
  executor.SetTickInterval(1);
  EXPECT_FALSE(executor.Run());
}

// Cells the head reaches across an end of its 32-bit range are the ones at
// the other end.
TEST(Executor, PositionsWrapAroundWithTheHead) {
  if (!kTapeCanSpanTheRange) GTEST_SKIP() << kTapeTooLarge;
  struct Case {
    const char* code;
    Int head;
    Long changed;
  };
  for (const Case& c : {Case{"<<+.>>", INT32_MIN + 1, INT32_MAX}, Case{">>>+.<<<", INT32_MAX - 1, INT32_MIN + 1}}) {
    CodeStore store;
    store.commands.assign(c.code, c.code + std::strlen(c.code));
    Tape tape;
    ScriptedPort port({}, 100);
    Executor executor(store, tape, port, c.head);
    EXPECT_TRUE(executor.Run()) << c.code;
    EXPECT_EQ(port.output, "1") << c.code;
    EXPECT_EQ(executor.Head(), c.head) << c.code;
    EXPECT_EQ(tape.Origin(), std::max<Long>(0, -c.changed)) << c.code;
    EXPECT_EQ(tape.Extent(), std::max<Long>(64, c.changed + 1)) << c.code;
    EXPECT_EQ(tape.Read(c.changed), 1) << c.code;
  }
}

// On a terminal each number is seen as soon as it is written; elsewhere it
// waits in the buffer for the next flush. Each case runs in a child whose
// standard output is the descriptor under test.
TEST(StandardPort, NumbersReachATerminalAtOnce) {
#ifdef _WIN32
  // The terminal is a console of the child's own; the helper ends with 1
  // while the number still waits.
  const std::u16string helper = std::filesystem::path(testing::HelperBinary()).u16string();
  EXPECT_EQ(testing::RunInConsole({helper, u"port-pending"}), 0) << "console";
  EXPECT_EQ(testing::RunProcess({helper, u"port-pending"}).status, 1) << "pipe";
#else
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) GTEST_SKIP() << "no pseudo-terminal here";
  int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  struct Case {
    const char* name;
    int fd;
    bool pending;
  };
  for (const Case& c : {Case{"terminal", terminal, false}, Case{"pipe", pipeEnds[1], true}}) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (dup2(c.fd, 1) < 0) _exit(3);
      StandardPort port;
      port.Write("5\n", 2);
      _exit(StdoutPending() ? 1 : 0);  // _exit: no flush at the end
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << c.name;
    EXPECT_EQ(WEXITSTATUS(status), c.pending ? 1 : 0) << c.name;
  }
  for (int fd : {master, terminal, pipeEnds[0], pipeEnds[1]}) close(fd);
#endif
}

}  // namespace
}  // namespace corvid
