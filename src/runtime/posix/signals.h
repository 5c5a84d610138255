// How the POSIX half reads a fault signal: the platform's fault for a
// signal number, its si_code, and whether it hit the edge of the stack.
#pragma once

#include "runtime/internal/platform.h"

namespace corvid::platform::posix {

/// The fault that `signal` with si_code `code` reports; a segmentation
/// fault at the edge of the stack is a stack overflow; a signal or code
/// outside the table is Unknown.
FaultKind FaultOfSignal(int signal, int code, bool stackOverflow);

}  // namespace corvid::platform::posix
