// Program loading: the code file's command characters, in file order.
#pragma once

#include <cstdint>
#include <vector>

#include "interpreter/internal/commands.h"
#include "runtime/string.h"

namespace corvid {

/// The kept commands: the low byte of each command character, which for the
/// commands is its ASCII code.
struct CodeStore {
  std::vector<std::uint8_t> commands;

  /// Number of kept commands.
  Long Length() const noexcept { return static_cast<Long>(commands.size()); }
};

/// Opens `codeFile` for reading through the stream layer, reads it line by
/// line until its end and keeps the command characters. False (and `store`
/// left empty) when no stream opens; stream errors pass to the caller.
bool LoadProgram(const Ref<String>& codeFile, CodeStore& store);

}  // namespace corvid
