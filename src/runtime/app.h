// Application services: process start-up, program-wide values, direct
// standard I/O and the end of the process.
#pragma once

#include <vector>

#include "runtime/object.h"
#include "runtime/string.h"

namespace corvid {

/// The process's main routine: runs the runtime start (StartApplication),
/// then `entry`. An error that nothing caught goes to UnhandledErrorHook;
/// running out of memory ends the process with a message and status 255.
int RunMain(int argc, char** argv, int (*entry)());

/// The runtime start, in order: StartDir, ProgramFile, ProgramDir, change of
/// the working directory to ProgramDir (failure ignored), ProgramTitle,
/// ProgramArgs.
void StartApplication(int argc, char** argv);

const Ref<String>& StartDir();
const Ref<String>& ProgramFile();
const Ref<String>& ProgramDir();
const Ref<String>& ProgramTitle();
/// Element 0 is the program name as it arrived, then the arguments; each
/// byte of an argument becomes one code unit.
const std::vector<Ref<String>>& ProgramArgs();

/// Directory part of a path with "/" separators: empty when the last
/// separator is at index 0 or there is none; a separator right after ":"
/// stays ("D:/run.exe" gives "D:/").
Ref<String> DirectoryPart(const Ref<String>& path);

/// Low 8 bits of each unit to standard output, then a flush.
void PutStdout(const Ref<String>& text);
/// The same on standard error.
void PutStderr(const Ref<String>& text);
/// One line from standard input, each byte one unit, without its line feed
/// (and without one white-space byte before it). At end of input: what was
/// collected, the empty string when nothing was.
Ref<String> GetStdinLine();
/// Normal end of the process with status 0.
[[noreturn]] void EndProgram();

}  // namespace corvid
