#include "runtime/fault.h"

#include <signal.h>

#include <atomic>
#include <cstring>

#include "runtime/app.h"
#include "runtime/error.h"
#include "runtime/platform.h"

namespace corvid {

namespace {

// Long enough for exit functions and stream flushes; short enough that a
// hung exit does not look like a hung program.
constexpr unsigned kExitWatchdogSeconds = 3;

const char* SegvName(bool stackOverflow) {
  return stackOverflow ? "EXCEPTION_STACK_OVERFLOW" : "EXCEPTION_ACCESS_VIOLATION";
}

const char* BusName(int code) {
  return code == BUS_ADRALN ? "EXCEPTION_DATATYPE_MISALIGNMENT" : "EXCEPTION_IN_PAGE_ERROR";
}

const char* ArithmeticName(int code) {
  switch (code) {
    case FPE_INTDIV: return "EXCEPTION_INT_DIVIDE_BY_ZERO";
    case FPE_INTOVF: return "EXCEPTION_INT_OVERFLOW";
    case FPE_FLTDIV: return "EXCEPTION_FLT_DIVIDE_BY_ZERO";
    case FPE_FLTOVF: return "EXCEPTION_FLT_OVERFLOW";
    case FPE_FLTUND: return "EXCEPTION_FLT_UNDERFLOW";
    case FPE_FLTRES: return "EXCEPTION_FLT_INEXACT_RESULT";
    case FPE_FLTINV: return "EXCEPTION_FLT_INVALID_OPERATION";
    case FPE_FLTSUB: return "EXCEPTION_ARRAY_BOUNDS_EXCEEDED";
    default: return "EXCEPTION_UNKNOWN";
  }
}

const char* IllegalName(int code) {
  return code == ILL_PRVOPC || code == ILL_PRVREG ? "EXCEPTION_PRIV_INSTRUCTION"
                                                  : "EXCEPTION_ILLEGAL_INSTRUCTION";
}

const char* TrapName(int code) {
  // A breakpoint instruction arrives with the kernel's own code on some
  // machines, so everything but a trace step is a breakpoint.
  return code == TRAP_TRACE ? "EXCEPTION_SINGLE_STEP" : "EXCEPTION_BREAKPOINT";
}

void WriteLine(const char* text) {
  platform::WriteStderrRaw(text, std::strlen(text));
  platform::WriteStderrRaw("\n", 1);
}

std::atomic<bool> reporting{false};

void OnFault(const platform::FaultSignal& fault) {
  // A fault while reporting or exiting: the state is past saving.
  if (reporting.exchange(true)) platform::ExitImmediately(0);
  FlushStdoutInFault();  // what the program wrote stands before the report
  WriteLine(kFaultCaption);
  WriteLine(FaultName(fault.signal, fault.code, fault.stackOverflow));
  DebugStopHook();
  if (fault.stackOverflow || platform::ExitInProgress()) platform::ExitImmediately(0);
  platform::ArmExitWatchdog(kExitWatchdogSeconds, 0);
  platform::ExitProcess(0);
}

}  // namespace

const char* FaultName(int signal, int code, bool stackOverflow) {
  switch (signal) {
    case SIGSEGV: return SegvName(stackOverflow);
    case SIGBUS: return BusName(code);
    case SIGFPE: return ArithmeticName(code);
    case SIGILL: return IllegalName(code);
    case SIGTRAP: return TrapName(code);
    default: return "EXCEPTION_UNKNOWN";
  }
}

void InstallFaultReport() { platform::InstallFaultHandler(OnFault); }

}  // namespace corvid
