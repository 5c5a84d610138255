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
/// Bytes transferred, fewer than `count` at the end of the data or on error.
std::size_t FileRead(File* file, void* buffer, std::size_t count);
std::size_t FileWrite(File* file, const void* buffer, std::size_t count);
/// One byte (0..255), or -1 at the end of the data or on error.
int FileReadByte(File* file);
/// The next byte (0..255) without consuming it, or -1 at the end of the
/// data or on error.
int FilePeekByte(File* file);
/// Position as the C library reports it; -1 when the stream has none.
long FileTell(File* file);
/// As the C library's fseek, fflush and fclose: 0 on success. After
/// FileClose the file is gone, whatever it returned.
int FileSeek(File* file, long offset, int origin);
int FileFlush(File* file);
int FileClose(File* file);

/// Reads one line, bytes appended to `out` without the terminator: it ends
/// after a line feed or a zero byte, or at the end of the data; carriage
/// returns are dropped wherever they stand. Returns the number of bytes
/// consumed (terminator and dropped bytes included) and sets `ended` when
/// the data ran out before a terminator.
std::size_t FileReadLine(File* file, std::vector<std::uint8_t>& out, bool& ended);

/// The process's standard input, output and error.
File* StdIn();
File* StdOut();
File* StdErr();
/// One chunk of a line from `file` as C fgets reads it; false at end of
/// input or on error, leaving `buffer` untouched.
bool FileGetLine(char* buffer, int size, File* file);

/// Full path of the running executable.
std::string ExecutablePath();
/// The current working directory; empty when it cannot be read.
std::string CurrentDirectory();
/// Changes the working directory; false when that fails.
bool ChangeDirectory(const char* path);

/// Normal process end: exit functions run, C streams are flushed. Asked
/// again while the end is under way (from an exit function, say), it flushes
/// the C streams and ends at once, since a second normal exit is undefined.
[[noreturn]] void ExitProcess(int status);
/// Marks the normal process end as begun, for ends that do not pass through
/// ExitProcess (returning from main).
void NoteExitStarted() noexcept;
/// True once the normal process end has begun. Async-signal-safe.
bool ExitInProgress() noexcept;
/// Ends the process at once: no exit functions, no flush of C streams.
/// Async-signal-safe.
[[noreturn]] void ExitImmediately(int status) noexcept;
/// Flushes every open C output stream.
void FlushAll();
/// Registers a function for the normal process end (last registered runs first).
bool AtExit(void (*function)());
/// Writes bytes to standard error without the C library; safe in a signal
/// handler.
void WriteStderrRaw(const char* bytes, std::size_t count);

/// A hardware fault as the signal reported it.
struct FaultSignal {
  int signal;          ///< SIGSEGV, SIGBUS, SIGFPE, SIGILL or SIGTRAP
  int code;            ///< the signal's si_code
  bool stackOverflow;  ///< a segmentation fault at the edge of the stack
};
using FaultHandler = void (*)(const FaultSignal& fault);

/// Sends the hardware fault signals (segmentation, bus, arithmetic, illegal
/// instruction, trap) of the whole process to `handler`. The handler runs on
/// an alternate stack of the calling thread, so that a stack overflow there
/// can still be reported, and is not deferred: a fault inside the handler
/// enters it again. The stack edge for `stackOverflow` is the calling
/// thread's. False when the signals could not be set.
/// Only faults the process's own instructions raise reach the handler: the
/// same signals sent by a process (kill, sigqueue, tgkill) take their
/// default action. In a sanitizer build (CORVID_SANITIZED) segmentation and
/// bus faults stay with the sanitizer, which reports them itself.
bool InstallFaultHandler(FaultHandler handler);
/// Ends the process with `status` after `seconds` unless it ended before.
/// Async-signal-safe.
void ArmExitWatchdog(unsigned seconds, int status) noexcept;
/// Writes to a closed pipe or socket fail with an error instead of ending
/// the process.
void IgnoreBrokenPipe();

/// A monotonic clock in milliseconds, from an unspecified start.
std::uint64_t MonotonicMillis();
/// Suspends the calling thread for `milliseconds`, resuming after signals.
void Sleep(std::uint32_t milliseconds);

/// Value of the environment variable; false when it is not set.
bool GetEnvironment(const char* name, std::string& value);
/// Sets the variable (the text is copied); false for a name that cannot be
/// one (empty or holding "=").
bool SetEnvironment(const char* name, const char* value);
/// Removes the variable; false for a name that cannot be one.
bool UnsetEnvironment(const char* name);

/// How a command run through the system shell ended.
struct CommandResult {
  bool started = false;  ///< false: `error` holds the error number
  int error = 0;
  bool exited = false;   ///< false: ended by a signal
  int status = 0;        ///< exit status when `exited`
};
/// Runs `commandLine` with the system shell, inheriting the standard handles,
/// environment and working directory, and waits for it.
CommandResult RunShellCommand(const char* commandLine);

/// Identifier of the calling thread, unique among the process's threads.
long CurrentThreadId();

}  // namespace corvid::platform
