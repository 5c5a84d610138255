// Translation of the code store into the executor's program: jump targets
// resolved once, straight-line code merged per cell, recognised loops run
// whole.
#pragma once

#include <cstdint>
#include <vector>

#include "interpreter/loader.h"

namespace corvid {

/// The operations of a translated program, the one table both the
/// translator and the executor's dispatch are built from. In the comments,
/// "cell" is the cell at `off` from the head, "here" the cell under the head
/// after `x` was added to the head, and "with a" means `a` is added to the
/// cell first, modulo 256.
#define CORVID_OPCODES(X)                                                                      \
  X(Reach)         /* cells off..x from the head exist; `b` weighs the segment for ticks */    \
  X(Add)           /* cell += a */                                                             \
  X(CondAdd)       /* with a, cell += b when it is 0: a "#" and the "+" or "-" it may skip */  \
  X(Output)        /* with a, the cell is written x times in decimal */                        \
  X(OutputIfZero)  /* with a, "0" is written when the cell is 0 */                             \
  X(Input)         /* cell = code of the first byte of an input line */                        \
  X(InputIfZero)   /* with a, Input when the cell is 0 */                                      \
  X(Move)          /* head += x */                                                             \
  X(CondMove)      /* head += x; with a, head += (int8)b when here is 0 */                     \
  X(Jump)          /* head += x; continue at op y */                                           \
  X(JumpIfZero)    /* head += x; with a, continue at op y when here is 0 */                    \
  X(JumpIfNonZero) /* head += x; with a, continue at op y when here is not 0 */                \
  X(Loop)          /* the loop x (a LoopShape) from its start; its body's ops follow */        \
  X(Clear)         /* here = 0: a loop that counts the cell down by an odd step */             \
  X(End)           /* the run ends */

enum class OpCode : std::uint8_t {
#define CORVID_OPCODE_ENUM(name) name,
  CORVID_OPCODES(CORVID_OPCODE_ENUM)
#undef CORVID_OPCODE_ENUM
};

/// One operation; what the fields mean depends on `code` (see above).
struct Op {
  OpCode code;
  std::uint8_t a = 0;
  std::uint16_t b = 0;
  std::int32_t off = 0;
  std::int32_t x = 0;
  std::uint32_t y = 0;
};

/// A cell a whole loop changes: `step` per iteration in which no "#" of the
/// body finds its cell at 0.
struct LoopCell {
  std::int32_t off;
  std::uint8_t step;
};

/// A "#" in a whole loop's body that guards a change of its own cell: in an
/// iteration where no guard has fired yet, it sees the cell's value at the
/// start of the iteration plus `before`; the cell changes by `step` per such
/// iteration.
struct LoopGuard {
  std::int32_t off;
  std::uint8_t before;
  std::uint8_t step;
};

/// A loop "( body # @ % )" whose body, from the op after its Loop op to the
/// JumpIfNonZero back to it, reads no input, writes nothing, jumps nowhere
/// and ends where it began, so that whole runs of iterations can be counted
/// instead of run. The counter is the cell under the head.
struct LoopShape {
  std::int32_t low, high;   // cells the body touches, from the head
  std::uint32_t source;     // code index of the body's first command
  std::uint32_t weight;     // ops of one iteration, for ticks
  std::uint8_t counterStep; // change of the counter per quiet iteration
  std::uint32_t cellsBegin, cellsEnd;    // into Program::loopCells
  std::uint32_t guardsBegin, guardsEnd;  // into Program::loopGuards
};

/// A translated code store. Running it is the same as running the commands
/// one by one: same output, same input read, same tape, same head.
struct Program {
  std::vector<Op> ops;
  std::vector<LoopShape> loops;
  std::vector<LoopCell> loopCells;
  std::vector<LoopGuard> loopGuards;
  /// Code index and op index of every place a jump can land, by code index.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> entries;
  /// The commands, for the rare stretch run one by one, and how many of them
  /// a run can reach (a code index past 2^31-1 ends the run).
  const std::uint8_t* code = nullptr;
  std::uint32_t length = 0;

  /// Op index of the code index `index`, which must be a jump target or the
  /// end of the code.
  std::uint32_t EntryAt(std::uint32_t index) const;
};

/// Translates `code`. The program refers to `code`, which must outlive it.
Program Translate(const CodeStore& code);

/// The smallest j >= 0 with (start + j * step) % 256 == 0, or kNever.
constexpr Int kNever = 1 << 16;
Int FirstZero(std::uint8_t start, std::uint8_t step);

}  // namespace corvid
