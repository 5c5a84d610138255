// How the Win32 half reads an exception code: the platform's fault for
// each of its published codes.
#pragma once

#include <cstdint>

#include "runtime/internal/platform.h"

namespace corvid::platform::win32 {

/// The fault an exception `code` names; a code outside the table is
/// Unknown.
FaultKind FaultOfException(std::uint32_t code);

}  // namespace corvid::platform::win32
