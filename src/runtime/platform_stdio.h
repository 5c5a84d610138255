// Standard output below the C library, for the runtime's own output buffer:
// whether it is a terminal, and a write that a fault report may make.
#pragma once

#include <cstddef>

#include "runtime/platform.h"

namespace corvid::platform {

/// True when `file` is open on a terminal.
bool IsTerminal(File* file);

/// Writes bytes to standard output without the C library, ignoring errors.
/// Async-signal-safe.
void WriteStdoutRaw(const char* bytes, std::size_t count) noexcept;

}  // namespace corvid::platform
