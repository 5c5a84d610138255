#include "runtime/platform.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

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

void FilePutText(const char* text, File* file) { std::fputs(text, file); }

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

void ExitProcess(int status) { std::exit(status); }

bool AtExit(void (*function)()) { return std::atexit(function) == 0; }

void WriteStderrRaw(const char* bytes, std::size_t count) {
  while (count > 0) {
    ssize_t n = write(STDERR_FILENO, bytes, count);
    if (n <= 0) return;
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
}

}  // namespace corvid::platform
