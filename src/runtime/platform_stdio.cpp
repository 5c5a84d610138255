#include "runtime/platform_stdio.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace corvid::platform {

bool IsTerminal(File* file) { return file && isatty(fileno(file)) == 1; }

void WriteStdoutRaw(const char* bytes, std::size_t count) noexcept {
  while (count > 0) {
    ssize_t n = write(STDOUT_FILENO, bytes, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
}

}  // namespace corvid::platform
