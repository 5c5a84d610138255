// Data blocks embedded in a program, registered by name so that streams can
// open them ("incbin::" names).
#pragma once

#include <cstdint>

#include "runtime/object.h"
#include "runtime/string.h"

namespace corvid {

/// Where a registered block lies. `address` is null when no block has the name.
struct IncbinBlock {
  const std::uint8_t* address = nullptr;
  Int size = 0;
};

/// Registers `size` bytes at `address` under `name` (matched exactly, case
/// counting). The memory must stay valid and unchanged for the rest of the
/// run. Returns 1 for a new name and 0 when the name is already present:
/// the first registration wins. A null address or a negative size raises a
/// runtime error, since lookups could not tell such a block from a missing one.
Int AddIncbin(const Ref<String>& name, const void* address, Int size);

/// The block registered under exactly `name`, or {null, 0}.
IncbinBlock FindIncbin(const Ref<String>& name);

}  // namespace corvid
