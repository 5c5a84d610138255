#include "runtime/internal/fault.h"

#include <atomic>
#include <cstring>

#include "runtime/app.h"
#include "runtime/error.h"
#include "runtime/internal/platform.h"

namespace corvid {

namespace {

// Long enough for exit functions and stream flushes; short enough that a
// hung exit does not look like a hung program.
constexpr unsigned kExitWatchdogSeconds = 3;

void WriteLine(const char* text) {
  platform::WriteStderrRaw(text, std::strlen(text));
  platform::WriteStderrRaw("\n", 1);
}

std::atomic<bool> reporting{false};

void OnFault(platform::FaultKind fault) {
  // A fault while reporting or exiting: the state is past saving.
  if (reporting.exchange(true)) platform::ExitImmediately(0);
  FlushStdoutInFault();  // what the program wrote stands before the report
  // Standard error first: the box waits for a user, and a console user or
  // a log must have the report even when nobody is there to close it.
  WriteLine(kFaultCaption);
  WriteLine(FaultName(fault));
  platform::ShowFaultBox(kFaultCaption, FaultName(fault));
  DebugStopHook();
  bool overflow = fault == platform::FaultKind::StackOverflow;
  if (overflow || platform::ExitInProgress()) platform::ExitImmediately(0);
  platform::ArmExitWatchdog(kExitWatchdogSeconds, 0);
  platform::ExitProcess(0);
}

}  // namespace

const char* FaultName(platform::FaultKind fault) {
  using platform::FaultKind;
  switch (fault) {
    case FaultKind::AccessViolation: return "EXCEPTION_ACCESS_VIOLATION";
    case FaultKind::DatatypeMisalignment: return "EXCEPTION_DATATYPE_MISALIGNMENT";
    case FaultKind::Breakpoint: return "EXCEPTION_BREAKPOINT";
    case FaultKind::SingleStep: return "EXCEPTION_SINGLE_STEP";
    case FaultKind::InPageError: return "EXCEPTION_IN_PAGE_ERROR";
    case FaultKind::IllegalInstruction: return "EXCEPTION_ILLEGAL_INSTRUCTION";
    case FaultKind::PrivilegedInstruction: return "EXCEPTION_PRIV_INSTRUCTION";
    case FaultKind::NoncontinuableException: return "EXCEPTION_NONCONTINUABLE_EXCEPTION";
    case FaultKind::InvalidDisposition: return "EXCEPTION_INVALID_DISPOSITION";
    case FaultKind::ArrayBoundsExceeded: return "EXCEPTION_ARRAY_BOUNDS_EXCEEDED";
    case FaultKind::FloatDenormalOperand: return "EXCEPTION_FLT_DENORMAL_OPERAND";
    case FaultKind::FloatDivideByZero: return "EXCEPTION_FLT_DIVIDE_BY_ZERO";
    case FaultKind::FloatInexactResult: return "EXCEPTION_FLT_INEXACT_RESULT";
    case FaultKind::FloatInvalidOperation: return "EXCEPTION_FLT_INVALID_OPERATION";
    case FaultKind::FloatOverflow: return "EXCEPTION_FLT_OVERFLOW";
    case FaultKind::FloatStackCheck: return "EXCEPTION_FLT_STACK_CHECK";
    case FaultKind::FloatUnderflow: return "EXCEPTION_FLT_UNDERFLOW";
    case FaultKind::IntegerDivideByZero: return "EXCEPTION_INT_DIVIDE_BY_ZERO";
    case FaultKind::IntegerOverflow: return "EXCEPTION_INT_OVERFLOW";
    case FaultKind::StackOverflow: return "EXCEPTION_STACK_OVERFLOW";
    case FaultKind::Unknown: break;
  }
  return "EXCEPTION_UNKNOWN";
}

void InstallFaultReport() { platform::InstallFaultHandler(OnFault); }

}  // namespace corvid
