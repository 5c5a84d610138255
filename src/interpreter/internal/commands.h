// The eleven commands of the tape language: the one table from which the
// loader's filter, the translator and the one-command-at-a-time runner all
// take what a command character means. Internal to the interpreter.
#pragma once

#include <array>
#include <cstdint>

namespace corvid {

/// Each entry is X(character, kind, way) with what the command does. `way`
/// is the direction of a move, a change, a jump or the jump a marker
/// receives: +1 right, up or forward, -1 left, down or back.
#define CORVID_COMMANDS(X)                                                                  \
  X('<', Move, -1)   /* the head one cell left */                                           \
  X('>', Move, +1)   /* the head one cell right */                                          \
  X('+', Change, +1) /* the cell up by 1, 255 becoming 0 */                                 \
  X('-', Change, -1) /* the cell down by 1, 0 becoming 255 */                               \
  X('.', Output, 0)  /* the cell written in decimal */                                      \
  X(',', Input, 0)   /* the cell set to the code of an input line's first character */     \
  X('(', Marker, -1) /* nothing; a back jump lands after the one before it */              \
  X(')', Marker, +1) /* nothing; a forward jump lands after the one after it */            \
  X('@', Jump, +1)   /* on after the next ")"; with none, the run ends */                   \
  X('%', Jump, -1)   /* back to after the previous "("; with none, to the second command */ \
  X('#', Skip, 0)    /* the next command skipped when the cell is not 0 */

/// What a byte of code is. Every byte that is no command is None:
/// commentary, which the loader drops.
enum class CommandKind : std::uint8_t { None, Move, Change, Output, Input, Marker, Jump, Skip };

struct Command {
  CommandKind kind = CommandKind::None;
  std::int8_t way = 0;
};

namespace detail {
constexpr std::array<Command, 256> MakeCommands() {
  std::array<Command, 256> table{};
#define CORVID_COMMAND_ENTRY(c, kind, way) table[static_cast<unsigned char>(c)] = {CommandKind::kind, way};
  CORVID_COMMANDS(CORVID_COMMAND_ENTRY)
#undef CORVID_COMMAND_ENTRY
  return table;
}
}  // namespace detail

/// Every byte's meaning.
inline constexpr std::array<Command, 256> kCommands = detail::MakeCommands();

/// The command characters, in table order, as a zero-terminated string.
inline constexpr char kCommandSet[] = {
#define CORVID_COMMAND_CHAR(c, kind, way) c,
    CORVID_COMMANDS(CORVID_COMMAND_CHAR)
#undef CORVID_COMMAND_CHAR
        0};

/// The meaning of the code byte `c`.
constexpr Command CommandOf(std::uint8_t c) { return kCommands[c]; }
/// Whether `c` is the command of `kind` going `way`.
constexpr bool IsCommand(std::uint8_t c, CommandKind kind, int way) {
  return kCommands[c].kind == kind && kCommands[c].way == way;
}
/// Whether the character `unit` is a command at all.
constexpr bool IsCommand(char16_t unit) { return unit < 256 && kCommands[unit].kind != CommandKind::None; }

/// The character of the command of `kind` going `way`.
constexpr char CommandChar(CommandKind kind, int way) {
  for (const char* c = kCommandSet; *c; ++c)
    if (IsCommand(static_cast<std::uint8_t>(*c), kind, way)) return *c;
  return 0;
}

}  // namespace corvid
