// The modules that bind the library together and the program module: their
// start functions fix the order in which every module starts.
#pragma once

namespace corvid {

/// Starts math, bank, random, socket, RAM stream, bank stream, byte-order
/// stream, socket stream, HTTP stream, console, linked list and file system,
/// in that order. Every protocol is then registered: this is the one start
/// a program that uses the whole library needs.
void StartBasicModule();
/// Starts the basic module; nothing of its own.
void StartLegacyStringModule();
/// The program's imports: runtime, file system, legacy strings.
void StartProgramModule();

}  // namespace corvid
