// C streams, standard input and output, and raw writes for the Win32 half.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cstdio>

#include "runtime/internal/platform.h"
#include "runtime/win32/names.h"

namespace corvid::platform {

using win32::ByName;

namespace {

std::wstring WideText(const char* mode) { return std::wstring(mode, mode + std::char_traits<char>::length(mode)); }

}  // namespace

File* FileOpen(std::u16string_view path, const char* mode) {
  File* file = ByName<File*>(
      path, nullptr, [&](const wchar_t* name) { return _wfopen(name, WideText(mode).c_str()); },
      [&](const char* name) { return std::fopen(name, mode); });
  if (!file) return nullptr;
  struct _stat64 status;
  if (_fstat64(_fileno(file), &status) == 0 && (status.st_mode & _S_IFMT) == _S_IFDIR) {
    std::fclose(file);
    return nullptr;
  }
  return file;
}

int FileReadByte(File* file) {
  int c = _getc_nolock(file);
  return c == EOF ? -1 : c;
}

std::size_t FileReadLine(File* file, std::vector<std::uint8_t>& out, bool& ended) {
  std::size_t consumed = 0;
  ended = false;
  _lock_file(file);
  for (;;) {
    int c = _getc_nolock(file);
    if (c == EOF) {
      ended = true;
      break;
    }
    ++consumed;
    if (c == '\n' || c == 0) break;
    if (c != '\r') out.push_back(static_cast<std::uint8_t>(c));
  }
  _unlock_file(file);
  return consumed;
}

// The C runtime takes any character device for a terminal, the null device
// too; only a console answers GetConsoleMode.
bool IsTerminal(File* file) {
  if (!file) return false;
  auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

namespace {

void WriteRaw(DWORD which, const char* bytes, std::size_t count) noexcept {
  HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  while (count > 0) {
    DWORD written = 0;
    DWORD chunk = count > 65536 ? 65536 : static_cast<DWORD>(count);
    if (!WriteFile(handle, bytes, chunk, &written, nullptr) || written == 0) return;
    bytes += written;
    count -= written;
  }
}

}  // namespace

void WriteStdoutRaw(const char* bytes, std::size_t count) noexcept { WriteRaw(STD_OUTPUT_HANDLE, bytes, count); }
void WriteStderrRaw(const char* bytes, std::size_t count) noexcept { WriteRaw(STD_ERROR_HANDLE, bytes, count); }

}  // namespace corvid::platform
