// Start-up, the process's end, time, the environment and commands for the
// Win32 half.
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <mmsystem.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

#include "runtime/internal/platform.h"
#include "runtime/win32/names.h"

// The C runtime expands wildcards in the command line's arguments for the
// 8-bit argument vector, as the design's runtime does; MinGW leaves that off
// unless the program asks for it here.
extern "C" {
int _dowildcard = -1;
}

namespace {

// The C runtime's own splitting of the 16-bit command line, with the same
// wildcard expansion as the 8-bit one; MinGW's headers do not declare it.
struct StartupInfo {
  int newMode;
};
extern "C" int __cdecl __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env, int expandWildcards,
                                      StartupInfo* info);

}  // namespace

namespace corvid::platform {

using win32::ByName;
using win32::FromNarrow;
using win32::FromWide;

namespace {

// The 16-bit arguments, split and expanded at start: the runtime's
// splitting expands wildcards against the working directory of the moment,
// which must be the one the program was started in, as for the 8-bit ones.
std::vector<std::u16string> wideArguments;
bool wideArgumentsRead = false;

void ReadWideArguments() {
  int count = 0;
  wchar_t** wide = nullptr;
  wchar_t** environment = nullptr;
  StartupInfo info{0};
  if (__wgetmainargs(&count, &wide, &environment, 1, &info) != 0 || !wide) return;
  for (int i = 0; i < count; ++i) wideArguments.push_back(FromWide(wide[i]));
  wideArgumentsRead = true;
}

}  // namespace

void StartProcess() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  bool known = GetVersionExA(&version) != 0;
#pragma GCC diagnostic pop
  win32::SetWideMode(known && version.dwPlatformId == VER_PLATFORM_WIN32_NT);
  if (win32::WideMode()) ReadWideArguments();
  // Bytes in and out as they are: in text mode the C runtime would turn
  // the console's own CR LF into CR CR LF, and end input at a 0x1A byte.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

bool WideCalls() { return win32::WideMode(); }

std::vector<std::u16string> ProgramArguments(int argc, char** argv) {
  // From the 16-bit command line: an argument outside the user's code page
  // would arrive in `argv` as "?" and name no file.
  if (win32::WideMode() && wideArgumentsRead) return wideArguments;
  std::vector<std::u16string> args;
  for (int i = 0; i < argc; ++i) args.push_back(FromNarrow(argv[i]));
  return args;
}

std::u16string ExecutablePath() {
  for (DWORD size = MAX_PATH + 1;; size *= 2) {
    if (win32::WideMode()) {
      std::wstring buffer(size, L'\0');
      DWORD n = GetModuleFileNameW(nullptr, buffer.data(), size);
      if (n == 0) return {};
      if (n < size) return FromWide(std::wstring_view(buffer.data(), n));
    } else {
      std::string buffer(size, '\0');
      DWORD n = GetModuleFileNameA(nullptr, buffer.data(), size);
      if (n == 0) return {};
      if (n < size) return FromNarrow(std::string_view(buffer.data(), n));
    }
    if (size > 32768) return {};
  }
}

std::u16string CurrentDirectory() {
  if (win32::WideMode()) {
    wchar_t* path = _wgetcwd(nullptr, 0);
    if (!path) return {};
    std::u16string result = FromWide(path);
    std::free(path);
    return result;
  }
  char* path = _getcwd(nullptr, 0);
  if (!path) return {};
  std::u16string result = FromNarrow(path);
  std::free(path);
  return result;
}

bool ChangeDirectory(std::u16string_view path) {
  return ByName(path, false, [](const wchar_t* name) { return _wchdir(name) == 0; },
                [](const char* name) { return _chdir(name) == 0; });
}


// TerminateProcess, not the C runtime's _exit: after a fault the loader's
// lock may be held, and the detach calls of an ordinary exit would wait on
// it for ever.
void ExitImmediately(int status) noexcept {
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
  for (;;) {
  }
}

void FlushAll() { std::fflush(nullptr); }

bool AtExit(void (*function)()) { return std::atexit(function) == 0; }

// Large pages on Windows need a privilege a console program does not hold.
void AdviseLargePages(void*, std::size_t) noexcept {}

// Windows has no call that commits pages ahead of their first write without
// touching them, and a touch from another thread would race the writer.
void PrefaultPages(void*, std::size_t) noexcept {}

std::uint64_t MonotonicMillis() { return GetTickCount64(); }
std::uint32_t TimerMillis() { return timeGetTime(); }
void Sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

namespace {

bool IsVariableName(std::u16string_view name) {
  return !name.empty() && name.find(u'=') == std::u16string_view::npos;
}

// The runtime library's environment update takes "NAME=VALUE"; an empty
// value removes the variable.
bool PutSetting(std::u16string_view name, std::u16string_view value) {
  if (!IsVariableName(name)) return false;
  std::u16string setting(name);
  setting += u'=';
  setting += value;
  return ByName(setting, false, [](const wchar_t* text) { return _wputenv(text) == 0; },
                [](const char* text) { return _putenv(text) == 0; });
}

}  // namespace

bool GetEnvironment(std::u16string_view name, std::u16string& value) {
  if (!IsVariableName(name)) return false;
  return ByName(
      name, false,
      [&](const wchar_t* text) {
        const wchar_t* found = _wgetenv(text);
        if (found) value = FromWide(found);
        return found != nullptr;
      },
      [&](const char* text) {
        const char* found = std::getenv(text);
        if (found) value = FromNarrow(found);
        return found != nullptr;
      });
}

bool SetEnvironment(std::u16string_view name, std::u16string_view value) {
  return !value.empty() && PutSetting(name, value);
}

bool UnsetEnvironment(std::u16string_view name) { return PutSetting(name, u""); }

CommandResult RunCommand(std::u16string_view commandLine) {
  CommandResult result;
  PROCESS_INFORMATION process{};
  bool created = false;
  DWORD flags = CREATE_DEFAULT_ERROR_MODE;
  if (win32::WideMode()) {
    auto text = win32::WideName(commandLine);
    if (!text) {
      result.error = -1;
      return result;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    created = CreateProcessW(nullptr, text->data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr, &startup,
                             &process) != 0;
  } else {
    auto text = win32::NarrowName(commandLine);
    if (!text) {
      result.error = -1;
      return result;
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    created = CreateProcessA(nullptr, text->data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr, &startup,
                             &process) != 0;
  }
  if (!created) {
    result.error = static_cast<int>(GetLastError());
    return result;
  }
  result.started = true;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  if (GetExitCodeProcess(process.hProcess, &code)) {
    result.exited = true;
    result.status = static_cast<int>(code);
  }
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return result;
}

long CurrentThreadId() { return static_cast<long>(GetCurrentThreadId()); }

}  // namespace corvid::platform
