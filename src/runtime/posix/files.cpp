// C streams, standard input and output, and raw writes for the POSIX half.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "runtime/internal/platform.h"
#include "runtime/posix/names.h"

namespace corvid::platform {

File* FileOpen(std::u16string_view path, const char* mode) {
  auto name = posix::EncodeName(path);
  if (!name) return nullptr;
  File* file = std::fopen(name->c_str(), mode);
  if (!file) return nullptr;
  struct stat status;
  if (fstat(fileno(file), &status) == 0 && S_ISDIR(status.st_mode)) {
    std::fclose(file);
    return nullptr;
  }
  return file;
}

int FileReadByte(File* file) {
  int c = getc_unlocked(file);
  return c == EOF ? -1 : c;
}

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

bool IsTerminal(File* file) { return file && isatty(fileno(file)) == 1; }

namespace {

void WriteRaw(int fd, const char* bytes, std::size_t count) noexcept {
  while (count > 0) {
    ssize_t n = write(fd, bytes, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
}

}  // namespace

void WriteStdoutRaw(const char* bytes, std::size_t count) noexcept { WriteRaw(STDOUT_FILENO, bytes, count); }
void WriteStderrRaw(const char* bytes, std::size_t count) noexcept { WriteRaw(STDERR_FILENO, bytes, count); }

}  // namespace corvid::platform
