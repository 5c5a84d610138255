#include "interpreter/internal/program_dump.h"

#include <array>
#include <cstdio>

#include "interpreter/internal/opcodes.inc"

namespace corvid {

namespace {

struct OpInfo {
  const char* name;
  unsigned operands;
};

constexpr OpInfo kOps[] = {
#define CORVID_OPCODE_INFO(name, operands) {#name, operands},
    CORVID_OPCODES(CORVID_OPCODE_INFO)
#undef CORVID_OPCODE_INFO
};

const OpInfo& InfoOf(OpCode code) { return kOps[static_cast<std::size_t>(code)]; }

void Append(std::string& out, const char* format, auto... values) {
  char text[96];
  std::snprintf(text, sizeof text, format, values...);
  out += text;
}

void AppendOp(std::string& out, const Program& program, std::size_t index) {
  const Op& op = program.ops[index];
  const OpInfo& info = InfoOf(op.code);
  Append(out, "%5zu  %-13s", index, info.name);
  if (info.operands & kOff) Append(out, " off=%d", static_cast<int>(op.off));
  if (info.operands & kA) Append(out, " a=%u", static_cast<unsigned>(op.a));
  if (info.operands & kB) Append(out, " b=%u", static_cast<unsigned>(op.b));
  if (info.operands & kX) Append(out, " x=%d", static_cast<int>(op.x));
  if (info.operands & kY) Append(out, " y=%u", static_cast<unsigned>(op.y));
  if (op.code == OpCode::AddRow) {
    out += " [";
    for (std::int32_t k = 0; k < op.x; ++k)
      Append(out, k ? " %u" : "%u", static_cast<unsigned>(program.rows[op.y + static_cast<std::uint32_t>(k)]));
    out += "]";
  }
  out += "\n";
}

// A loop's shape: its reach, its counter, and each cell with its step and
// the guards on it (value seen before, change when it fires).
void AppendLoop(std::string& out, const Program& program, const LoopShape& shape) {
  Append(out, "         cells %d..%d from code %u, counter %u\n", static_cast<int>(shape.low),
         static_cast<int>(shape.high), static_cast<unsigned>(shape.source), static_cast<unsigned>(shape.counter));
  std::uint32_t guard = 0;
  for (std::uint32_t c = 0; c < shape.cells; ++c) {
    const LoopCell& cell = program.loopCells[shape.cellsBegin + c];
    Append(out, "         cell %d step %u", static_cast<int>(cell.off), static_cast<unsigned>(cell.step));
    if (c < shape.guarded) {
      std::uint32_t end = program.loopGuardEnds[shape.endsBegin + c];
      for (; guard < end; ++guard) {
        const LoopGuard& g = program.loopGuards[shape.guardsBegin + guard];
        Append(out, " guard(%u,%u)", static_cast<unsigned>(g.before), static_cast<unsigned>(g.change));
      }
    }
    out += "\n";
  }
}

}  // namespace

const char* OpName(OpCode code) { return InfoOf(code).name; }

std::string DumpProgram(const Program& program) {
  std::string out;
  for (std::size_t i = 0; i < program.ops.size(); ++i) {
    AppendOp(out, program, i);
    const Op& op = program.ops[i];
    if (op.code == OpCode::Loop) AppendLoop(out, program, program.loops[static_cast<std::size_t>(op.x)]);
  }
  return out;
}

}  // namespace corvid
