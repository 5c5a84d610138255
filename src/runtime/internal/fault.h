// The platform-fault report: hardware faults (bad memory access, division
// by zero, illegal instructions, stack overflow) end the process with the
// fault's name instead of dying silently.
#pragma once

#include "runtime/internal/platform.h"

namespace corvid {

/// The caption written above every fault name. The same on every system,
/// since the names below it are the Windows names of the faults: a user or
/// a script that looks for the report finds it whatever the system.
inline constexpr char kFaultCaption[] = "Windows exception";

/// The platform's name of `fault` ("EXCEPTION_ACCESS_VIOLATION" ...);
/// Unknown is "EXCEPTION_UNKNOWN". Never null.
const char* FaultName(platform::FaultKind fault);

/// Installs the fault report for the process; RunMain calls it before any
/// module starts. A fault then writes to standard error, with nothing but
/// async-signal-safe calls,
///
///   Windows exception\n
///   EXCEPTION_ACCESS_VIOLATION\n
///
/// (the caption, then the name, each on its own line), shows the name under
/// the caption in a message box on Windows (returning at once where there is
/// no desktop to show it on), calls DebugStopHook, and ends the process with
/// status 0. Platform faults never become error
/// objects; try blocks do not see them. A fault signal that another process
/// sent is not a fault: it takes its default action, and the process's end
/// shows the signal.
///
/// The end: after an ordinary fault the normal exit runs, so that end
/// functions run and C streams are flushed; a watchdog ends the process
/// anyway if that exit hangs (a fault inside a lock the exit needs). After a
/// stack overflow, a fault during the report or exit, or a fault while the
/// process was already ending, it ends at once without exit functions, since
/// running more code there is not sound.
///
/// The alternate stack is the calling thread's; the system runs on one
/// thread. In a sanitizer build bad memory accesses (segmentation and bus
/// faults) are left to the sanitizer's own report.
void InstallFaultReport();

}  // namespace corvid
