// The platform layer: the only place that calls the operating system and
// the C library's I/O. Everything above speaks to the system through here.
//
// One interface, two halves: posix/ serves it with POSIX calls (and Linux
// extras where there are any), win32/ with the C runtime and the Windows
// calls the design names. Names (paths, environment variables, command
// lines) cross the interface as 16-bit code units, as the rest of the system
// holds text; each half encodes them for its own calls and decodes what the
// system gives back: the Win32 half as 16-bit text for the wide calls, the
// POSIX half as UTF-8, with each byte that is no part of valid UTF-8 carried
// as an escape unit (NameByteOfUnit), so that every name the system gives
// spells the same file again. A name the system cannot take (one holding
// U+0000, which would end it early and so name another file, or a unit the
// encoding has no spelling for) fails the call as a missing name would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace corvid::platform {

/// Whether the system reads "\\" in a name as a separator (Windows) or as
/// an ordinary character (POSIX).
#ifdef _WIN32
inline constexpr bool kBackslashSeparates = true;
#else
inline constexpr bool kBackslashSeparates = false;
#endif

/// An open C stream. Opaque to the rest of the system.
using File = std::FILE;

/// Opens `path` with a C mode string ("rb", "wb", "r+b"). Gives null when
/// the file cannot be opened, and also for a directory: reads from one
/// would only fail later.
File* FileOpen(std::u16string_view path, const char* mode);
/// Bytes transferred, fewer than `count` at the end of the data or on error.
std::size_t FileRead(File* file, void* buffer, std::size_t count);
std::size_t FileWrite(File* file, const void* buffer, std::size_t count);
/// One byte (0..255), or -1 at the end of the data or on error. Without
/// the stream's lock, which would cost more than the read: a C stream
/// belongs to the one stream object that reads it.
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
/// True when `file` is open on a terminal (on Windows, a console: the
/// null device is a character device too, but no console).
bool IsTerminal(File* file);
/// Writes bytes to standard output and standard error without the C
/// library, ignoring errors. Async-signal-safe.
void WriteStdoutRaw(const char* bytes, std::size_t count) noexcept;
void WriteStderrRaw(const char* bytes, std::size_t count) noexcept;
/// The byte that `unit` carries when it is the escape of a byte of a name
/// that the system's encoding of names cannot read as text: on POSIX, where
/// names are UTF-8, U+DC80..U+DCFF for the bytes 0x80..0xFF. -1 for every
/// other unit, and always on Windows, where names are 16-bit text.
int NameByteOfUnit(char16_t unit) noexcept;

/// Start-up of the process's own platform state, once, before anything
/// else here is used: the choice of wide calls, and standard input, output
/// and error as byte streams (bytes written are the bytes that arrive, and
/// no byte value ends input early).
void StartProcess();
/// Whether names go to the system as 16-bit text ("wide calls"): chosen at
/// start from the platform version on Windows; off where the system's
/// calls take bytes.
bool WideCalls();
/// The program's arguments as the platform's start-up gave them, decoded as
/// names are; element 0 is the program name as typed. On Windows with wide
/// calls they come from the 16-bit command line, wildcards expanded as the
/// C runtime expands them for the 8-bit `argv`.
std::vector<std::u16string> ProgramArguments(int argc, char** argv);

/// Full path of the running executable; empty when the system cannot say.
std::u16string ExecutablePath();
/// The current working directory; empty when it cannot be read.
std::u16string CurrentDirectory();
/// Changes the working directory; false when that fails.
bool ChangeDirectory(std::u16string_view path);

/// The status of a process that ends through an uncaught error: -1, which
/// a parent on a system with 8-bit statuses sees as 255.
constexpr int kUncaughtErrorStatus = -1;

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

/// A hardware fault, as the system reported it, in the platform's own
/// vocabulary of faults.
enum class FaultKind {
  AccessViolation,
  DatatypeMisalignment,
  Breakpoint,
  SingleStep,
  InPageError,
  IllegalInstruction,
  PrivilegedInstruction,
  NoncontinuableException,
  InvalidDisposition,
  ArrayBoundsExceeded,
  FloatDenormalOperand,
  FloatDivideByZero,
  FloatInexactResult,
  FloatInvalidOperation,
  FloatOverflow,
  FloatStackCheck,
  FloatUnderflow,
  IntegerDivideByZero,
  IntegerOverflow,
  StackOverflow,
  Unknown,
};
using FaultHandler = void (*)(FaultKind fault);

/// Sends the hardware faults of the whole process to `handler`: on POSIX
/// the fault signals (segmentation, bus, arithmetic, illegal instruction,
/// trap), on Windows the unhandled-exception filter. The handler runs where
/// a stack overflow can still be reported (an alternate signal stack, or
/// the stack the system keeps in reserve) and may itself fault: it is
/// entered again. False when the faults could not be routed.
/// Only faults the process's own instructions raise reach the handler: on
/// POSIX the same signals sent by a process (kill, sigqueue, tgkill) take
/// their default action. In a sanitizer build (CORVID_SANITIZED)
/// segmentation and bus faults stay with the sanitizer, which reports them
/// itself.
bool InstallFaultHandler(FaultHandler handler);
/// Shows `text` under `caption` where a user at the machine sees it: a
/// modal message box owned by the active window on Windows, waiting for
/// the user. Returns at once where no box can be shown (no desktop), and
/// does nothing on POSIX, where standard error is that place already.
void ShowFaultBox(const char* caption, const char* text) noexcept;
/// Ends the process with `status` after `seconds` unless it ended before.
/// Async-signal-safe.
void ArmExitWatchdog(unsigned seconds, int status) noexcept;
/// Writes to a closed pipe or socket fail with an error instead of ending
/// the process.
void IgnoreBrokenPipe();

using EndRequestHandler = void (*)() noexcept;
/// Has `handler` run first when the process is asked from outside to end,
/// after which the request ends it as it would have: on POSIX the signals
/// SIGTERM, SIGINT and SIGHUP, then the signal's default action, so that
/// the parent sees the signal; on Windows the console's Ctrl+C, Ctrl+Break,
/// close, logoff and shutdown events, then the system's own end. The
/// handler runs inside a signal handler (on Windows on a thread of the
/// system's while the program's thread runs on): async-signal-safe calls
/// only. A signal that the process was started with ignored stays ignored
/// (nohup, a shell's background job). False when the requests could not be
/// routed.
bool InstallEndRequestHandler(EndRequestHandler handler);

/// Asks that the pages of [begin, begin + bytes), reserved and not yet
/// touched, be backed by large pages where the system offers them (2 MiB on
/// x86 Linux): far fewer faults for a long list about to be filled from its
/// front, at the cost of a footprint rounded up to a large page. Only a
/// hint, which changes nothing that is stored.
void AdviseLargePages(void* begin, std::size_t bytes) noexcept;

/// Makes the whole pages inside [begin, begin + bytes) resident and
/// writable now, as writes to them would, without changing what they hold:
/// another thread can take the faults of memory that one is about to fill.
/// Only a hint; where the system has no such call it does nothing.
void PrefaultPages(void* begin, std::size_t bytes) noexcept;

/// A monotonic clock in milliseconds, from an unspecified start.
std::uint64_t MonotonicMillis();
/// The platform's millisecond timer (the multimedia timer on Windows): from
/// about the system's start, wrapping at 32 bits.
std::uint32_t TimerMillis();
/// Suspends the calling thread for `milliseconds`, resuming after signals.
void Sleep(std::uint32_t milliseconds);

/// Value of the environment variable; false when it is not set.
bool GetEnvironment(std::u16string_view name, std::u16string& value);
/// Sets the variable (the text is copied); false for a name that cannot be
/// one (empty or holding "=").
bool SetEnvironment(std::u16string_view name, std::u16string_view value);
/// Removes the variable; false for a name that cannot be one.
bool UnsetEnvironment(std::u16string_view name);

/// How a command ended.
struct CommandResult {
  bool started = false;  ///< false: `error` holds the system's error number,
                         ///< or -1 for a command line the system cannot take
  int error = 0;
  bool exited = false;   ///< false: ended by a signal, or no exit code to read
  int status = 0;        ///< exit status when `exited`
};
/// Runs `commandLine` and waits for it, inheriting the standard handles,
/// environment and working directory: on Windows as the command line of a
/// new process (no shell), on POSIX through the system shell.
CommandResult RunCommand(std::u16string_view commandLine);

/// Identifier of the calling thread, unique among the process's threads.
long CurrentThreadId();

}  // namespace corvid::platform
