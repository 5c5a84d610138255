// The platform layer: the only place that calls the operating system and
// the C library's I/O. Everything above speaks to the system through here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace corvid::platform {

/// An open C stream. Opaque to the rest of the system.
using File = std::FILE;

/// Opens `path` (8-bit text) with a C mode string. Gives null when the file
/// cannot be opened, and also for a directory: reads from one would only
/// fail later.
File* FileOpen(const char* path, const char* mode);
std::size_t FileRead(File* file, void* buffer, std::size_t count);
std::size_t FileWrite(File* file, const void* buffer, std::size_t count);
/// Position as the C library reports it; -1 when the stream has none.
long FileTell(File* file);
int FileSeek(File* file, long offset, int origin);
int FileFlush(File* file);
int FileClose(File* file);

/// Reads one line, bytes appended to `out` without the terminator: it ends
/// after a line feed or a zero byte, or at the end of the data; carriage
/// returns are dropped wherever they stand. Returns the number of bytes
/// consumed (terminator and dropped bytes included) and sets `ended` when
/// the data ran out before a terminator.
std::size_t FileReadLine(File* file, std::vector<std::uint8_t>& out, bool& ended);

File* StdIn();
File* StdOut();
File* StdErr();
/// One chunk of a line from `file` as C fgets reads it; false at end of
/// input or on error, leaving `buffer` untouched.
bool FileGetLine(char* buffer, int size, File* file);
/// Writes the zero-terminated text as C fputs does.
void FilePutText(const char* text, File* file);

/// Full path of the running executable.
std::string ExecutablePath();
/// The current working directory; empty when it cannot be read.
std::string CurrentDirectory();
/// Changes the working directory; false when that fails.
bool ChangeDirectory(const char* path);

/// Normal process end: exit functions run, C streams are flushed.
[[noreturn]] void ExitProcess(int status);
/// Registers a function for the normal process end (last registered runs first).
bool AtExit(void (*function)());
/// Writes bytes to standard error without the C library; safe in a signal
/// handler.
void WriteStderrRaw(const char* bytes, std::size_t count);

}  // namespace corvid::platform
