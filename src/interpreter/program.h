// The run outline: module start, choice of the code file, and the phases of
// one run (load, announce, execute, finish) with the interpreter's messages.
#pragma once

#include "runtime/array.h"
#include "runtime/string.h"

namespace corvid {

/// The default code file, looked up beside the executable.
inline Ref<String> DefaultCodeFile() { return "code.txt"_s; }

/// The first argument after the program name, else the default.
Ref<String> ChooseCodeFile(const Ref<Array>& args);

/// Called once by the main routine after the runtime start: starts the core
/// runtime, then runs the program body. Never returns on its first call;
/// returns 0 on any later call.
int ProgramEntry();

/// Starts the modules the program imports and runs the code file chosen
/// from the arguments; ends the process with status 0.
int ProgramBody();

}  // namespace corvid
