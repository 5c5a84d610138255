// Application services: process start-up, program-wide values, direct
// standard I/O and the end of the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/array.h"
#include "runtime/object.h"
#include "runtime/string.h"

namespace corvid {

/// The process's main routine: installs the platform-fault report and the
/// flush of standard output on a request to end (FlushStdoutInFault), runs
/// the runtime start (StartApplication), starts the runtime module, then runs
/// `entry` and returns its result. An error that nothing caught goes to
/// UnhandledErrorHook, and so does a C++ library exception (as a
/// TRuntimeException with its text), here or wherever it would otherwise
/// end the process; running out of memory ends the process with a message
/// and status 255.
int RunMain(int argc, char** argv, int (*entry)());

/// The runtime start, in order: StartDir, ProgramFile, ProgramDir, change of
/// the working directory to the executable's directory (failure ignored),
/// ProgramTitle, ProgramArgs, the main thread's identity.
void StartApplication(int argc, char** argv);

/// Values recorded by StartApplication, "/" separators; the empty string
/// before it ran. The working directory at start.
const Ref<String>& StartDir();
/// The executable's full path.
const Ref<String>& ProgramFile();
/// The executable's directory (DirectoryPart of ProgramFile).
const Ref<String>& ProgramDir();
/// "Corvid Application".
const Ref<String>& ProgramTitle();
/// Element 0 is the program name as it arrived, then the arguments, decoded
/// as the system's names are: 16-bit text on Windows; UTF-8 on POSIX, where
/// each byte that is no part of valid UTF-8 arrives as the unit
/// U+DC00 + byte, which spells the same byte again when the name goes back
/// to the system.
const Ref<Array>& ProgramArgs();

/// Directory part of a path with "/" separators: empty when the last
/// separator is at index 0 or there is none; a separator right after ":"
/// stays ("D:/run.exe" gives "D:/").
Ref<String> DirectoryPart(const Ref<String>& path);

/// Whether names go to the system as 16-bit text. The system's calls take
/// bytes here, so it stays off.
bool WideCallMode();

/// Standard output, for everything that writes there (PutStdout, the
/// console). Output that cannot be written is not success: a write or flush
/// that fails (a full disk, a closed pipe, a closed handle) raises
/// TStreamWriteException, which the interpreter does not catch, so the run
/// ends with "Error writing to stream" and status 255. `WriteStdout` takes
/// all `count` bytes or raises.
void WriteStdout(const std::uint8_t* bytes, std::size_t count);
/// Flushes standard output; raises TStreamWriteException when that fails.
/// What WriteStdout took waits in a buffer until a flush, or until the
/// buffer is full; reading standard input (GetStdinLine), writing standard
/// error (PutStderr), the end of the process (EndProgram, the end functions,
/// an uncaught error) and a fault report flush it first.
void FlushStdout();
/// True while bytes that WriteStdout took wait for a flush.
bool StdoutPending();
/// True when standard output is a terminal, where a program's output should
/// appear as it is written.
bool StdoutIsTerminal();
/// FlushStdout for where the process ends anyway: a failure is ignored.
void FlushStdoutQuietly() noexcept;
/// The pending bytes out with async-signal-safe calls alone, errors
/// ignored: for the fault report, and for a request from outside to end
/// the process (SIGTERM, SIGINT, SIGHUP; Ctrl+C on Windows), after which
/// the request ends it as it would have, so that only SIGKILL can lose
/// output.
void FlushStdoutInFault() noexcept;
/// Low 8 bits of each unit to standard output, then a flush. Every unit is
/// written, a zero unit as a zero byte. Raises as WriteStdout and
/// FlushStdout do.
void PutStdout(const Ref<String>& text);
/// The same on standard error, after a flush of standard output whose
/// failure is ignored.
void PutStderr(const Ref<String>& text);
/// One line from standard input, each byte one unit, without its line feed
/// (and without one white-space byte before it). At end of input: what was
/// collected, the empty string when nothing was. Flushes standard output
/// first (and raises as FlushStdout does).
Ref<String> GetStdinLine();
/// FirstCode(GetStdinLine()) without the line: the first byte of the next
/// line of standard input, -1 for an empty line. The rest of the line is
/// read and dropped as it comes, so a line of any length takes no memory.
Int GetStdinFirstCode();
/// Normal end of the process with status 0: end functions run, C streams
/// are flushed. Standard output is flushed first, so that output it cannot
/// take raises TStreamWriteException instead of ending with success.
[[noreturn]] void EndProgram();

using EndFunction = void (*)();
/// Registers `function` for the normal end of the process; the last
/// registered runs first. An error that one of them raises and does not
/// catch is reported like any uncaught error (its text, status 255) and
/// ends the process at once, skipping the end functions still to run.
void AtEnd(EndFunction function);

/// A monotonic millisecond clock; it wraps around and may be negative.
Int ElapsedMillis();
/// Suspends the calling thread for `milliseconds`; a negative value returns
/// at once.
void SleepMillis(Int milliseconds);

/// Value of the environment variable, decoded as names are; the empty
/// string when it is not set.
Ref<String> GetEnv(const Ref<String>& name);
/// Applies a setting "NAME=VALUE"; "NAME=" removes the variable. The text is
/// copied. Returns 0, or -1 for a setting without "=" or with an empty or
/// impossible name (nothing changes then).
Int PutEnv(const Ref<String>& setting);

/// Runs the command line with the system shell, sharing the standard
/// handles (C output streams are flushed first so output keeps its order),
/// and waits for it. Returns its exit status, -1 when it did not exit
/// normally (a signal ended it) or when the text holds a zero unit (no
/// command line can), or the error number when it could not be started.
/// Raises nothing.
Int RunCommand(const Ref<String>& commandLine);

/// 1 on the thread that ran StartApplication, else 0 (also before it ran).
Int IsMainThread();

}  // namespace corvid
