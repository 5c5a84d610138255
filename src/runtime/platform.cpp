// The platform layer's calls that read the same on every system: the C
// streams' plain reads and writes, and the order of an ending process.
#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "runtime/internal/platform.h"

namespace corvid::platform {

std::size_t FileRead(File* file, void* buffer, std::size_t count) {
  return std::fread(buffer, 1, count, file);
}

std::size_t FileWrite(File* file, const void* buffer, std::size_t count) {
  return std::fwrite(buffer, 1, count, file);
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

File* StdIn() { return stdin; }
File* StdOut() { return stdout; }
File* StdErr() { return stderr; }

bool FileGetLine(char* buffer, int size, File* file) {
  return std::fgets(buffer, size, file) != nullptr;
}

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

}  // namespace corvid::platform
