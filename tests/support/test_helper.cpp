// A child process for tests of how the runtime starts and ends a process:
// the first argument names a scenario. Every scenario registers an end
// function that writes "[end]" to standard output, so a test can tell
// whether the normal exit ran.
#ifndef _WIN32
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <climits>
#include <csignal>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>

#include "interpreter/internal/executor.h"
#include "runtime/app.h"
#include "runtime/error.h"
#include "runtime/internal/platform.h"

namespace {

using namespace corvid;

std::string scenario;

void MarkEnd() { PutStdout("[end]"_s); }
void MarkFirst() { PutStdout("[first]"_s); }
void MarkSecond() { PutStdout("[second]"_s); }
void RaiseAtEnd() { RaiseRuntimeError("raised at end"_s); }

class BadText : public Object {
 public:
  Ref<String> ToString() override { RaiseRuntimeError("no text"_s); }
};

// Faults made on purpose. The sanitizers would report the null store and
// the division themselves; these must reach the platform as real faults.
__attribute__((no_sanitize("null"))) void NullWrite() {
  volatile int* volatile target = nullptr;
  *target = 1;
}

volatile int quotient = 0;
__attribute__((no_sanitize("integer-divide-by-zero"))) void DivideByZero() {
  volatile int zero = 0;
  volatile int one = 1;
  quotient = one / zero;
}

volatile int recursionLimit = INT_MAX;
__attribute__((noinline)) int Recurse(int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  if (depth >= recursionLimit) return 0;
  return Recurse(depth + 1) + frame[0];
}

void Breakpoint() {
#if defined(__x86_64__) || defined(__i386__)
  asm volatile("int3");
#else
  std::raise(SIGTRAP);
#endif
}

#ifndef _WIN32
// A fault signal that a process sends rather than an instruction raises;
// its default action must not leave a core file behind.
void SendSegv(int (*send)()) {
  rlimit noCore{0, 0};
  setrlimit(RLIMIT_CORE, &noCore);
  send();
}
#endif

void WriteRaw(const char* text) { platform::WriteStderrRaw(text, std::strlen(text)); }
void WritePending() { WriteStdout(reinterpret_cast<const std::uint8_t*>("[pending]"), 9); }
void StopMarker() { WriteRaw("[stop hook]\n"); }

void CustomUnhandled(const Ref<Object>& error) {
  PutStderr(Concat("custom: "_s, error->ToString()));
  platform::ExitProcess(7);
}

void ShowStart() {
  auto line = [](const char* label, const Ref<String>& value) {
    PutStdout(Concat(Concat(String::FromNarrowZ(label), value), "\n"_s));
  };
  line("start=", StartDir());
  line("file=", ProgramFile());
  line("dir=", ProgramDir());
  line("cwd=", FromUnits(platform::CurrentDirectory()));
  line("title=", ProgramTitle());
  for (const auto& arg : ProgramArgs()->Elements<Ref<String>>()) line("arg=", arg);
  // Each argument again in UTF-8, where units beyond Latin-1 keep their identity.
  for (const auto& arg : ProgramArgs()->Elements<Ref<String>>()) {
    PutStdout("utf8="_s);
    const char* utf8 = TempUtf8Z(arg);
    WriteStdout(reinterpret_cast<const std::uint8_t*>(utf8), std::strlen(utf8));
    PutStdout("\n"_s);
  }
  line("main=", String::FormatInt(IsMainThread()));
  line("wide=", String::FormatInt(WideCallMode() ? 1 : 0));
}

// Reads as many lines as the second argument says, each shown in brackets.
std::string lineCount;
void ReadLines() {
  for (int i = std::stoi(lineCount); i > 0; --i) {
    PutStdout(Concat(Concat("["_s, GetStdinLine()), "]"_s));
  }
}

// The same lines' first codes, as "," reads them.
void ReadFirstCodes() {
  for (int i = std::stoi(lineCount); i > 0; --i) {
    PutStdout(Concat(Concat("["_s, String::FormatInt(GetStdinFirstCode())), "]"_s));
  }
}

[[noreturn]] void RaiseFromNoexcept() noexcept { RaiseRuntimeError("escaped a noexcept"_s); }

int Entry() {
  AtEnd(MarkEnd);
  static const std::map<std::string, void (*)()> scenarios = {
      {"raise-runtime", [] { RaiseRuntimeError("List index out of range"_s); }},
      {"raise-string", [] { Throw(String::FromWideZ(u"caf\u00e9 \u0141")); }},
      {"raise-zero-unit", [] { RaiseRuntimeError(String::FromWideZ(u"a\u0100b")); }},
      {"raise-null-object", [] { RaiseNullObject(); }},
      {"raise-abstract", [] { RaiseAbstractMethod(); }},
      {"raise-null-function", [] { RaiseNullFunction(); }},
      {"raise-bounds", [] { RaiseArrayBounds(); }},
      {"raise-out-of-data", [] { RaiseOutOfData(); }},
      {"raise-text", [] { RaiseText("C Assert failed"); }},
      {"raise-reserved", [] { MakeRef<TCorvidException>()->Reserved2(); }},
      {"raise-null", [] { Throw(nullptr); }},
      {"raise-corvid",
       [] {
         auto error = MakeRef<TCorvidException>();
         PutStdout(Concat(error->ToString(), "\n"_s));
         Throw(error);
       }},
      {"raise-bad-text", [] { Throw(MakeRef<BadText>()); }},
      {"raise-std", [] { throw std::runtime_error("library failure"); }},
      {"raise-noexcept", [] { RaiseFromNoexcept(); }},
      {"raise-at-end", [] { AtEnd(RaiseAtEnd); }},
      {"raise-custom-hook",
       [] {
         UnhandledErrorHook = CustomUnhandled;
         RaiseRuntimeError("hooked"_s);
       }},
      {"end-order",
       [] {
         AtEnd(MarkFirst);
         AtEnd(MarkSecond);
         EndProgram();
       }},
      {"fault-null-write", [] { NullWrite(); }},
      {"fault-divide", [] { DivideByZero(); }},
      {"fault-recursion", [] { Recurse(0); }},
      {"fault-illegal", [] { __builtin_trap(); }},
      {"fault-breakpoint", [] { Breakpoint(); }},
      {"fault-at-end",
       [] {
         AtEnd(NullWrite);
         EndProgram();
       }},
      {"fault-stop-hook",
       [] {
         DebugStopHook = StopMarker;
         NullWrite();
       }},
#ifndef _WIN32
      {"sent-kill", [] { SendSegv([] { return kill(getpid(), SIGSEGV); }); }},
      {"sent-queue", [] { SendSegv([] { return sigqueue(getpid(), SIGSEGV, sigval{}); }); }},
      {"sent-tkill", [] { SendSegv([] { return raise(SIGSEGV); }); }},
#endif
      {"show-start", ShowStart},
      // Ends with 1 when a number the port wrote still waits in the buffer
      // (standard output is no terminal), else 0; no flush at the end.
      {"port-pending",
       [] {
         StandardPort port;
         port.Write("5\n", 2);
         platform::ExitImmediately(StdoutPending() ? 1 : 0);
       }},
      {"read-lines", ReadLines},
      {"read-first-codes", ReadFirstCodes},
      {"put-units", [] { PutStdout(String::FromWideSpan(u"a\0b\u0141", 4)); }},
      // Output still waiting in standard output's buffer when the end comes.
      {"pending-raise",
       [] {
         WritePending();
         RaiseRuntimeError("late"_s);
       }},
      {"pending-fault",
       [] {
         WritePending();
         NullWrite();
       }},
      {"pending-overflow",
       [] {
         WritePending();
         Recurse(0);
       }},
  };
  auto found = scenarios.find(scenario);
  if (found == scenarios.end()) return 3;
  found->second();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) scenario = argv[1];
  lineCount = argc > 2 ? argv[2] : "1";
  return corvid::RunMain(argc, argv, Entry);
}
