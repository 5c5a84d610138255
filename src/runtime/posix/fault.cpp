// Fault signals, requests to end, the exit watchdog and broken pipes for
// the POSIX half.
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "runtime/internal/platform.h"
#include "runtime/posix/signals.h"

namespace corvid::platform {

namespace posix {

namespace {

FaultKind SegvFault(bool stackOverflow) {
  return stackOverflow ? FaultKind::StackOverflow : FaultKind::AccessViolation;
}

FaultKind BusFault(int code) {
  return code == BUS_ADRALN ? FaultKind::DatatypeMisalignment : FaultKind::InPageError;
}

FaultKind ArithmeticFault(int code) {
  switch (code) {
    case FPE_INTDIV: return FaultKind::IntegerDivideByZero;
    case FPE_INTOVF: return FaultKind::IntegerOverflow;
    case FPE_FLTDIV: return FaultKind::FloatDivideByZero;
    case FPE_FLTOVF: return FaultKind::FloatOverflow;
    case FPE_FLTUND: return FaultKind::FloatUnderflow;
    case FPE_FLTRES: return FaultKind::FloatInexactResult;
    case FPE_FLTINV: return FaultKind::FloatInvalidOperation;
    case FPE_FLTSUB: return FaultKind::ArrayBoundsExceeded;
    default: return FaultKind::Unknown;
  }
}

FaultKind IllegalFault(int code) {
  return code == ILL_PRVOPC || code == ILL_PRVREG ? FaultKind::PrivilegedInstruction
                                                  : FaultKind::IllegalInstruction;
}

FaultKind TrapFault(int code) {
  // A breakpoint instruction arrives with the kernel's own code on some
  // machines, so everything but a trace step is a breakpoint.
  return code == TRAP_TRACE ? FaultKind::SingleStep : FaultKind::Breakpoint;
}

}  // namespace

FaultKind FaultOfSignal(int signal, int code, bool stackOverflow) {
  switch (signal) {
    case SIGSEGV: return SegvFault(stackOverflow);
    case SIGBUS: return BusFault(code);
    case SIGFPE: return ArithmeticFault(code);
    case SIGILL: return IllegalFault(code);
    case SIGTRAP: return TrapFault(code);
    default: return FaultKind::Unknown;
  }
}

}  // namespace posix

namespace {

FaultHandler faultHandler = nullptr;
std::uintptr_t stackLow = 0;
std::uintptr_t stackHigh = 0;
// How far below the stack's lowest page a fault still counts as running off
// its end: a frame can skip that much before it touches memory.
constexpr std::uintptr_t kStackEdgeReach = 1u << 20;
constexpr std::size_t kAlternateStackSize = 256 * 1024;

void RecordStackBounds() {
#ifdef __linux__
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return;
  void* base = nullptr;
  std::size_t size = 0;
  if (pthread_attr_getstack(&attributes, &base, &size) == 0) {
    stackLow = reinterpret_cast<std::uintptr_t>(base);
    stackHigh = stackLow + size;
  }
  pthread_attr_destroy(&attributes);
#endif
  // Elsewhere the bounds stay unknown, and a stack overflow is reported as
  // the access violation it also is.
}

// Mapped memory rather than the heap: a handler for a fault inside the
// allocator must not share its memory, and a guard page below turns an
// overrun of this stack into a fault rather than a silent overwrite.
bool SetAlternateStack() {
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  void* base = mmap(nullptr, kAlternateStackSize + page, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) return false;
  mprotect(base, page, PROT_NONE);
  stack_t stack{};
  stack.ss_sp = static_cast<char*>(base) + page;
  stack.ss_size = kAlternateStackSize;
  return sigaltstack(&stack, nullptr) == 0;
}

bool NearStackEdge(std::uintptr_t address) {
  return stackHigh != 0 && address < stackHigh && address + kStackEdgeReach >= stackLow;
}

// The signal's default action, now: the process ends as the signal says.
void TakeDefaultAction(int signal) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  raise(signal);
}

void OnFaultSignal(int signal, siginfo_t* info, void*) {
  // Only the kernel's own reports (si_code > 0) come from this process's
  // instructions. A signal that a process sent (kill, sigqueue, tgkill:
  // si_code <= 0) is no fault of ours, and reporting it as one would end
  // with success a process that was killed.
  if (info->si_code <= 0) {
    TakeDefaultAction(signal);
    return;
  }
  auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  faultHandler(posix::FaultOfSignal(signal, info->si_code, signal == SIGSEGV && NearStackEdge(address)));
}

// In a sanitizer build the sanitizer's report of a bad memory access is the
// one worth having: it names the access, where it happened and the memory
// it hit, and fails the run. Only the faults it does not explain come here.
#ifdef CORVID_SANITIZED
constexpr int kFaultSignals[] = {SIGFPE, SIGILL, SIGTRAP};
#else
constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP};
#endif

EndRequestHandler endRequestHandler = nullptr;
volatile sig_atomic_t endRequested = 0;
constexpr int kEndRequestSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Entered again for a second request while the first one's handler still
// runs (its writes held up by a reader that does not read, say): that one
// ends the process at once, so a request to end never goes unheard.
void OnEndRequest(int signal) {
  if (!endRequested) {
    endRequested = 1;
    endRequestHandler();
  }
  TakeDefaultAction(signal);
}

volatile sig_atomic_t watchdogStatus = 0;
void OnWatchdog(int) { _exit(watchdogStatus); }

}  // namespace

bool InstallFaultHandler(FaultHandler handler) {
  static bool stackSet = false;
  if (!stackSet) {
    RecordStackBounds();
    stackSet = SetAlternateStack();
  }
  faultHandler = handler;
  struct sigaction action {};
  action.sa_sigaction = OnFaultSignal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  bool all = stackSet;
  for (int signal : kFaultSignals) {
    if (sigaction(signal, &action, nullptr) != 0) all = false;
  }
  return all;
}

bool InstallEndRequestHandler(EndRequestHandler handler) {
  endRequestHandler = handler;
  struct sigaction action {};
  action.sa_handler = OnEndRequest;
  action.sa_flags = SA_NODEFER;
  sigemptyset(&action.sa_mask);
  bool all = true;
  for (int signal : kEndRequestSignals) {
    struct sigaction before {};
    if (sigaction(signal, nullptr, &before) != 0) {
      all = false;
      continue;
    }
    // Whoever started us with the signal ignored meant us to go on.
    if (before.sa_handler == SIG_IGN) continue;
    if (sigaction(signal, &action, nullptr) != 0) all = false;
  }
  return all;
}

void ShowFaultBox(const char*, const char*) noexcept {}

void ArmExitWatchdog(unsigned seconds, int status) noexcept {
  watchdogStatus = status;
  struct sigaction action {};
  action.sa_handler = OnWatchdog;
  sigemptyset(&action.sa_mask);
  sigaction(SIGALRM, &action, nullptr);
  sigset_t alarmOnly;
  sigemptyset(&alarmOnly);
  sigaddset(&alarmOnly, SIGALRM);
  sigprocmask(SIG_UNBLOCK, &alarmOnly, nullptr);
  alarm(seconds);
}

void IgnoreBrokenPipe() {
  struct sigaction action {};
  action.sa_handler = SIG_IGN;
  sigemptyset(&action.sa_mask);
  sigaction(SIGPIPE, &action, nullptr);
}

}  // namespace corvid::platform
