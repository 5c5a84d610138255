#include "runtime/platform.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

extern char** environ;

namespace corvid::platform {

File* FileOpen(const char* path, const char* mode) {
  File* file = std::fopen(path, mode);
  if (!file) return nullptr;
  struct stat status;
  if (fstat(fileno(file), &status) == 0 && S_ISDIR(status.st_mode)) {
    std::fclose(file);
    return nullptr;
  }
  return file;
}

std::size_t FileRead(File* file, void* buffer, std::size_t count) {
  return std::fread(buffer, 1, count, file);
}

std::size_t FileWrite(File* file, const void* buffer, std::size_t count) {
  return std::fwrite(buffer, 1, count, file);
}

int FileReadByte(File* file) {
  int c = std::getc(file);
  return c == EOF ? -1 : c;
}

int FilePeekByte(File* file) {
  int c = std::getc(file);
  if (c == EOF) return -1;
  std::ungetc(c, file);
  return c;
}

long FileTell(File* file) { return std::ftell(file); }
int FileSeek(File* file, long offset, int origin) { return std::fseek(file, offset, origin); }
int FileFlush(File* file) { return std::fflush(file); }
int FileClose(File* file) { return std::fclose(file); }

std::size_t FileReadLine(File* file, std::vector<std::uint8_t>& out, bool& ended) {
  std::size_t consumed = 0;
  ended = false;
  flockfile(file);
  for (;;) {
    int c = getc_unlocked(file);
    if (c == EOF) {
      ended = true;
      break;
    }
    ++consumed;
    if (c == '\n' || c == 0) break;
    if (c != '\r') out.push_back(static_cast<std::uint8_t>(c));
  }
  funlockfile(file);
  return consumed;
}

File* StdIn() { return stdin; }
File* StdOut() { return stdout; }
File* StdErr() { return stderr; }

bool FileGetLine(char* buffer, int size, File* file) {
  return std::fgets(buffer, size, file) != nullptr;
}

std::string ExecutablePath() {
  std::vector<char> buffer(PATH_MAX + 1);
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<std::size_t>(n));
    buffer.resize(buffer.size() * 2);
  }
}

std::string CurrentDirectory() {
  std::vector<char> buffer(PATH_MAX + 1);
  if (!getcwd(buffer.data(), buffer.size())) return {};
  return std::string(buffer.data());
}

bool ChangeDirectory(const char* path) { return chdir(path) == 0; }

namespace {

std::atomic<bool> exiting{false};
static_assert(std::atomic<bool>::is_always_lock_free, "read from signal handlers");

}  // namespace

void ExitProcess(int status) {
  if (exiting.exchange(true)) {
    FlushAll();
    ExitImmediately(status);
  }
  std::exit(status);
}

void NoteExitStarted() noexcept { exiting.store(true); }
bool ExitInProgress() noexcept { return exiting.load(); }
void ExitImmediately(int status) noexcept { _exit(status); }
void FlushAll() { std::fflush(nullptr); }

bool AtExit(void (*function)()) { return std::atexit(function) == 0; }

void WriteStderrRaw(const char* bytes, std::size_t count) {
  while (count > 0) {
    ssize_t n = write(STDERR_FILENO, bytes, count);
    if (n <= 0) return;
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
}

namespace {

FaultHandler faultHandler = nullptr;
std::uintptr_t stackLow = 0;
std::uintptr_t stackHigh = 0;
// How far below the stack's lowest page a fault still counts as running off
// its end: a frame can skip that much before it touches memory.
constexpr std::uintptr_t kStackEdgeReach = 1u << 20;
constexpr std::size_t kAlternateStackSize = 256 * 1024;

void RecordStackBounds() {
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return;
  void* base = nullptr;
  std::size_t size = 0;
  if (pthread_attr_getstack(&attributes, &base, &size) == 0) {
    stackLow = reinterpret_cast<std::uintptr_t>(base);
    stackHigh = stackLow + size;
  }
  pthread_attr_destroy(&attributes);
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
  FaultSignal fault{signal, info->si_code, signal == SIGSEGV && NearStackEdge(address)};
  faultHandler(fault);
}

// In a sanitizer build the sanitizer's report of a bad memory access is the
// one worth having: it names the access, where it happened and the memory
// it hit, and fails the run. Only the faults it does not explain come here.
#ifdef CORVID_SANITIZED
constexpr int kFaultSignals[] = {SIGFPE, SIGILL, SIGTRAP};
#else
constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP};
#endif

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

std::uint64_t MonotonicMillis() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

void Sleep(std::uint32_t milliseconds) {
  timespec left{static_cast<time_t>(milliseconds / 1000u),
                static_cast<long>(milliseconds % 1000u) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

bool GetEnvironment(const char* name, std::string& value) {
  const char* found = std::getenv(name);
  if (!found) return false;
  value = found;
  return true;
}

bool SetEnvironment(const char* name, const char* value) { return setenv(name, value, 1) == 0; }
bool UnsetEnvironment(const char* name) { return unsetenv(name) == 0; }

CommandResult RunShellCommand(const char* commandLine) {
  CommandResult result;
  // The child starts with the signal dispositions a fresh process expects;
  // a broken pipe the runtime ignores would otherwise stay ignored there.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults, none;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>("--"),
                  const_cast<char*>(commandLine), nullptr};
  pid_t child = 0;
  int error = posix_spawn(&child, "/bin/sh", nullptr, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) {
    result.error = error;
    return result;
  }
  result.started = true;
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return result;
  }
  if (WIFEXITED(status)) {
    result.exited = true;
    result.status = WEXITSTATUS(status);
  }
  return result;
}

long CurrentThreadId() { return static_cast<long>(gettid()); }

}  // namespace corvid::platform
