// The unhandled-exception filter, the console's requests to end, the fault
// box and the exit watchdog for the Win32 half.
#include <windows.h>

#include <utility>

#include "runtime/internal/platform.h"
#include "runtime/win32/exceptions.h"

namespace corvid::platform {

namespace win32 {

FaultKind FaultOfException(std::uint32_t code) {
  switch (code) {
    case 0x80000002u: return FaultKind::DatatypeMisalignment;
    case 0x80000003u: return FaultKind::Breakpoint;
    case 0x80000004u: return FaultKind::SingleStep;
    case 0xC0000005u: return FaultKind::AccessViolation;
    case 0xC0000006u: return FaultKind::InPageError;
    case 0xC000001Du: return FaultKind::IllegalInstruction;
    case 0xC0000025u: return FaultKind::NoncontinuableException;
    case 0xC0000026u: return FaultKind::InvalidDisposition;
    case 0xC000008Cu: return FaultKind::ArrayBoundsExceeded;
    case 0xC000008Du: return FaultKind::FloatDenormalOperand;
    case 0xC000008Eu: return FaultKind::FloatDivideByZero;
    case 0xC000008Fu: return FaultKind::FloatInexactResult;
    case 0xC0000090u: return FaultKind::FloatInvalidOperation;
    case 0xC0000091u: return FaultKind::FloatOverflow;
    case 0xC0000092u: return FaultKind::FloatStackCheck;
    case 0xC0000093u: return FaultKind::FloatUnderflow;
    case 0xC0000094u: return FaultKind::IntegerDivideByZero;
    case 0xC0000095u: return FaultKind::IntegerOverflow;
    case 0xC0000096u: return FaultKind::PrivilegedInstruction;
    case 0xC00000FDu: return FaultKind::StackOverflow;
    default: return FaultKind::Unknown;
  }
}

}  // namespace win32

namespace {

FaultHandler faultHandler = nullptr;

// Room the system keeps on the thread's stack for the filter after the
// stack has run out, so that an overflow can still be reported.
constexpr ULONG kStackReserveForReport = 64 * 1024;

constexpr SIZE_T kReportStackSize = 256 * 1024;

DWORD WINAPI ReportStackOverflow(void*) {
  faultHandler(FaultKind::StackOverflow);
  return 0;
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* info) {
  FaultKind fault = win32::FaultOfException(info->ExceptionRecord->ExceptionCode);
  // After a stack overflow the reserve the system keeps may not hold a
  // message box (under Wine it is one page), so the report runs on a
  // thread of its own with a stack of its own, and this one waits for the
  // end of the process.
  if (fault == FaultKind::StackOverflow) {
    if (HANDLE thread = CreateThread(nullptr, kReportStackSize, ReportStackOverflow, nullptr, 0, nullptr)) {
      WaitForSingleObject(thread, INFINITE);
      CloseHandle(thread);
    }
  }
  faultHandler(fault);
  // The handler ends the process; should it come back, the system's own
  // end for an unhandled exception follows.
  return EXCEPTION_CONTINUE_SEARCH;
}

EndRequestHandler endRequestHandler = nullptr;

// The system calls this on a thread of its own. Returning FALSE hands the
// event on to the system's default handler, which ends the process as it
// would have ended without us.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      endRequestHandler();
      break;
    default:
      break;
  }
  return FALSE;
}

DWORD WINAPI WatchdogThread(void* parameter) {
  auto* watch = static_cast<std::pair<DWORD, int>*>(parameter);
  ::Sleep(watch->first);
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(watch->second));
  return 0;
}

}  // namespace

bool InstallFaultHandler(FaultHandler handler) {
  faultHandler = handler;
  ULONG reserve = kStackReserveForReport;
  bool reserved = SetThreadStackGuarantee(&reserve) != 0;
  SetUnhandledExceptionFilter(OnUnhandledException);
  return reserved;
}

bool InstallEndRequestHandler(EndRequestHandler handler) {
  endRequestHandler = handler;
  return SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != 0;
}

void ShowFaultBox(const char* caption, const char* text) noexcept {
  MessageBoxA(GetActiveWindow(), text, caption, MB_OK);
}

void ArmExitWatchdog(unsigned seconds, int status) noexcept {
  static std::pair<DWORD, int> watch;
  watch = {seconds * 1000u, status};
  if (HANDLE thread = CreateThread(nullptr, 0, WatchdogThread, &watch, 0, nullptr)) CloseHandle(thread);
}

void IgnoreBrokenPipe() {}

}  // namespace corvid::platform
