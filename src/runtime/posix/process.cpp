// Start-up, the process's end, time, the environment and commands for the
// POSIX half.
#include <limits.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "runtime/internal/platform.h"
#include "runtime/posix/names.h"

#ifdef __linux__
#include <sys/syscall.h>
#endif

extern char** environ;

namespace corvid::platform {

using posix::DecodeName;
using posix::EncodeName;

void StartProcess() {}

bool WideCalls() { return false; }

std::vector<std::u16string> ProgramArguments(int argc, char** argv) {
  std::vector<std::u16string> args;
  for (int i = 0; i < argc; ++i) args.push_back(DecodeName(argv[i]));
  return args;
}

std::u16string ExecutablePath() {
#ifdef __linux__
  std::vector<char> buffer(PATH_MAX + 1);
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buffer.size())
      return DecodeName(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
    buffer.resize(buffer.size() * 2);
  }
#else
  // Without a way to ask the system, the name the program was started by
  // is the best there is; it stays empty when that is not a path.
  return {};
#endif
}

std::u16string CurrentDirectory() {
  std::vector<char> buffer(PATH_MAX + 1);
  if (!getcwd(buffer.data(), buffer.size())) return {};
  return DecodeName(buffer.data());
}

bool ChangeDirectory(std::u16string_view path) {
  auto name = EncodeName(path);
  return name && chdir(name->c_str()) == 0;
}

void ExitImmediately(int status) noexcept { _exit(status); }
void FlushAll() { std::fflush(nullptr); }

bool AtExit(void (*function)()) { return std::atexit(function) == 0; }

namespace {

// `advice` for the whole pages of `unit` bytes inside the range only: the
// pages around them belong to other memory too.
[[maybe_unused]] void AdviseWholePages(void* begin, std::size_t bytes, std::uintptr_t unit, int advice) noexcept {
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(begin);
  const std::uintptr_t first = (start + unit - 1) & ~(unit - 1);
  const std::uintptr_t end = (start + bytes) & ~(unit - 1);
  if (end > first) madvise(reinterpret_cast<void*>(first), end - first, advice);
}

}  // namespace

void AdviseLargePages(void* begin, std::size_t bytes) noexcept {
#ifdef MADV_HUGEPAGE
  AdviseWholePages(begin, bytes, std::uintptr_t{1} << 21, MADV_HUGEPAGE);
#else
  (void)begin;
  (void)bytes;
#endif
}

void PrefaultPages(void* begin, std::size_t bytes) noexcept {
#ifdef MADV_POPULATE_WRITE
  // Kernels before 5.14 refuse the advice: the writer takes its faults.
  static const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  AdviseWholePages(begin, bytes, page, MADV_POPULATE_WRITE);
#else
  (void)begin;
  (void)bytes;
#endif
}

std::uint64_t MonotonicMillis() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

std::uint32_t TimerMillis() { return static_cast<std::uint32_t>(MonotonicMillis()); }

void Sleep(std::uint32_t milliseconds) {
  timespec left{static_cast<time_t>(milliseconds / 1000u),
                static_cast<long>(milliseconds % 1000u) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

bool GetEnvironment(std::u16string_view name, std::u16string& value) {
  auto bytes = EncodeName(name);
  const char* found = bytes ? std::getenv(bytes->c_str()) : nullptr;
  if (!found) return false;
  value = DecodeName(found);
  return true;
}

bool SetEnvironment(std::u16string_view name, std::u16string_view value) {
  auto bytes = EncodeName(name);
  auto text = EncodeName(value);
  return bytes && text && setenv(bytes->c_str(), text->c_str(), 1) == 0;
}

bool UnsetEnvironment(std::u16string_view name) {
  auto bytes = EncodeName(name);
  return bytes && unsetenv(bytes->c_str()) == 0;
}

CommandResult RunCommand(std::u16string_view commandLine) {
  CommandResult result;
  auto command = EncodeName(commandLine);
  if (!command) {
    result.error = -1;
    return result;
  }
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
                  command->data(), nullptr};
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

long CurrentThreadId() {
#ifdef __linux__
  return static_cast<long>(syscall(SYS_gettid));
#else
  static std::atomic<long> issued{0};
  thread_local const long id = ++issued;
  return id;
#endif
}

}  // namespace corvid::platform
