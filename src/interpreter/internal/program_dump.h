// A translated program as text, one op per line with its operands, the way
// a disassembler shows compiled code: for developers (tools/translate) and
// for golden tests of what the translator makes of a program. Internal to
// the interpreter.
#pragma once

#include <string>

#include "interpreter/internal/translator.h"

namespace corvid {

/// The name of `code` as the op list spells it ("Reach", "Add", ...).
const char* OpName(OpCode code);

/// `program` as text. Each op stands on a line of its own: its index, its
/// name and the operands it reads (name=value, in the order off, a, b, x,
/// y), with the bytes of an AddRow's row and the cells and guards of a
/// Loop's shape after it.
std::string DumpProgram(const Program& program);

}  // namespace corvid
