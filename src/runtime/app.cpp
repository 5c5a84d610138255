#include "runtime/app.h"

#include <atomic>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <string>

#include "runtime/error.h"
#include "runtime/internal/fault.h"
#include "runtime/module.h"
#include "runtime/internal/platform.h"

namespace corvid {

namespace {

struct ProgramValues {
  Ref<String> startDir = String::Empty();
  Ref<String> programFile = String::Empty();
  Ref<String> programDir = String::Empty();
  Ref<String> programTitle = String::Empty();
  Ref<Array> args = Array::Empty();
  bool wideCalls = false;
  bool mainThreadKnown = false;
  long mainThread = 0;
};

// Program-wide values stay valid while the process exits.
ProgramValues& Values() {
  static NoDestroy<ProgramValues> values;
  return values.get();
}

Ref<String> StringOf(std::u16string_view units) {
  return String::FromWideSpan(units.data(), static_cast<Int>(units.size()));
}

Ref<String> WithForwardSlashes(std::u16string_view path) { return StringOf(path)->ReplaceAll("\\"_s, "/"_s); }

[[noreturn]] void ReportOutOfMemory() {
  static const char kMessage[] = "Out of memory\n";
  platform::WriteStderrRaw(kMessage, sizeof kMessage - 1);
  platform::ExitProcess(platform::kUncaughtErrorStatus);
}

// What reached the program's entry uncaught: the error object, or the
// memory running out.
struct Uncaught {
  Ref<Object> error;
  bool outOfMemory = false;
};

// Inside a catch: what was caught, as an error object.
Uncaught TakeCaught() {
  Uncaught caught;
  try {
    throw;
  } catch (const Raised& raised) {
    caught.error = raised.Error();
  } catch (const std::bad_alloc&) {
    caught.outOfMemory = true;
  } catch (const std::exception& failure) {
    caught.error = TRuntimeException::Create(String::FromNarrowZ(failure.what()));
  } catch (...) {
    caught.error = TRuntimeException::Create("Unknown failure"_s);
  }
  return caught;
}

[[noreturn]] void Report(const Uncaught& caught) {
  if (caught.outOfMemory) ReportOutOfMemory();
  ReportUnhandled(caught.error);
}

// Inside a catch: hands what was caught to the uncaught-error report.
[[noreturn]] void ReportCaught() { Report(TakeCaught()); }

// An error that escapes where C++ cannot pass it on (a destructor, a
// noexcept function) is still an uncaught error, not an abort.
[[noreturn]] void OnTerminate() {
  if (std::current_exception()) {
    try {
      std::rethrow_exception(std::current_exception());
    } catch (...) {
      ReportCaught();
    }
  }
  static const char kMessage[] = "Terminated\n";
  platform::WriteStderrRaw(kMessage, sizeof kMessage - 1);
  platform::ExitImmediately(platform::kUncaughtErrorStatus);
}

std::vector<EndFunction>& EndFunctions() {
  static NoDestroy<std::vector<EndFunction>> functions;
  return functions.get();
}

// One of these is registered with the runtime library per AtEnd call. Both
// lists run last-in first-out, so each call takes the latest function left.
void RunLatestEndFunction() {
  platform::NoteExitStarted();
  auto& functions = EndFunctions();
  if (functions.empty()) return;
  EndFunction function = functions.back();
  functions.pop_back();
  try {
    function();
  } catch (...) {
    ReportCaught();
  }
}

}  // namespace

int RunMain(int argc, char** argv, int (*entry)()) {
  InstallFaultReport();
  // Output still in the buffer is no less the program's for a kill or a
  // Ctrl+C: it goes out before the process ends.
  platform::InstallEndRequestHandler(FlushStdoutInFault);
  std::set_terminate(OnTerminate);
  int status = 0;
  // The report comes after the catch, when the exception itself is gone:
  // the process ends there, and ending inside the catch would leave the
  // exception's memory behind, unreleased.
  std::optional<Uncaught> uncaught;
  try {
    StartApplication(argc, argv);
    StartRuntimeModule();
    status = entry();
  } catch (...) {
    uncaught = TakeCaught();
  }
  if (uncaught) Report(*uncaught);
  platform::NoteExitStarted();
  return status;
}

void StartApplication(int argc, char** argv) {
  platform::StartProcess();
  ProgramValues& v = Values();
  v.wideCalls = platform::WideCalls();
  v.startDir = WithForwardSlashes(platform::CurrentDirectory());
  const std::u16string executable = platform::ExecutablePath();
  v.programFile = WithForwardSlashes(executable);
  v.programDir = DirectoryPart(v.programFile);
  // Where a backslash is an ordinary character in a name (POSIX), the
  // directory is taken from the path as the system gave it; ProgramDir
  // shows the path with forward slashes.
  Ref<String> home = platform::kBackslashSeparates ? v.programDir : DirectoryPart(StringOf(executable));
  platform::ChangeDirectory(Text(home).View());
  v.programTitle = "Corvid Application"_s;
  std::vector<Ref<String>> args;
  for (const std::u16string& arg : platform::ProgramArguments(argc, argv)) args.push_back(StringOf(arg));
  v.args = Array::FromStrings(args);
  v.mainThread = platform::CurrentThreadId();
  v.mainThreadKnown = true;
}

const Ref<String>& StartDir() { return Values().startDir; }
const Ref<String>& ProgramFile() { return Values().programFile; }
const Ref<String>& ProgramDir() { return Values().programDir; }
const Ref<String>& ProgramTitle() { return Values().programTitle; }
const Ref<Array>& ProgramArgs() { return Values().args; }
bool WideCallMode() { return Values().wideCalls; }

Ref<String> DirectoryPart(const Ref<String>& pathRef) {
  const String& path = Text(pathRef);
  Int last = -1;
  for (Int i = 0; i < path.Length(); ++i) {
    if (path[i] == u'/') last = i;
  }
  if (last <= 0) return String::Empty();
  if (path[last - 1] == u':') return String::FromWideSpan(path.Data(), last + 1);
  return String::FromWideSpan(path.Data(), last);
}

// Standard output goes through a buffer of the runtime's own, in front of
// the C library's, which every flush leaves empty: what a program writes
// waits in one place, from where a fault report can still write it out with
// async-signal-safe calls alone.
namespace {

constexpr std::size_t kStdoutBufferSize = std::size_t{1} << 16;
char stdoutBuffer[kStdoutBufferSize];
std::atomic<std::size_t> stdoutPending{0};

// The pending bytes and then the C library's buffer out; false when either
// fails. The bytes count as gone either way, so that a failure is reported
// once, not again at the exit.
bool DrainStdout() {
  std::size_t pending = stdoutPending.exchange(0);
  bool written = pending == 0 || platform::FileWrite(platform::StdOut(), stdoutBuffer, pending) == pending;
  return platform::FileFlush(platform::StdOut()) == 0 && written;
}

}  // namespace

void WriteStdout(const std::uint8_t* bytes, std::size_t count) {
  std::size_t pending = stdoutPending.load(std::memory_order_relaxed);
  if (count > kStdoutBufferSize - pending) {
    FlushStdout();
    pending = 0;
    if (count >= kStdoutBufferSize) {
      if (platform::FileWrite(platform::StdOut(), bytes, count) != count) Throw(MakeRef<TStreamWriteException>());
      FlushStdout();
      return;
    }
  }
  if (count <= 8) {
    // Numbers of a few digits come one by one; spare them a call.
    for (std::size_t k = 0; k < count; ++k) stdoutBuffer[pending + k] = static_cast<char>(bytes[k]);
  } else {
    std::memcpy(stdoutBuffer + pending, bytes, count);
  }
  // A fault report must not find the count ahead of the bytes.
  std::atomic_signal_fence(std::memory_order_release);
  stdoutPending.store(pending + count, std::memory_order_relaxed);
}

void FlushStdout() {
  if (!DrainStdout()) Throw(MakeRef<TStreamWriteException>());
}

bool StdoutPending() { return stdoutPending.load(std::memory_order_relaxed) != 0; }

bool StdoutIsTerminal() { return platform::IsTerminal(platform::StdOut()); }

void FlushStdoutQuietly() noexcept { DrainStdout(); }

void FlushStdoutInFault() noexcept {
  std::size_t pending = stdoutPending.exchange(0);
  std::atomic_signal_fence(std::memory_order_acquire);
  platform::WriteStdoutRaw(stdoutBuffer, pending);
}

void PutStdout(const Ref<String>& text) {
  const std::string bytes = ToBytes(text);
  WriteStdout(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  FlushStdout();
}

// Standard error is where failures are reported; there is nowhere to report
// its own. Standard output goes first, so that what a program wrote stands
// before the report that follows it.
void PutStderr(const Ref<String>& text) {
  FlushStdoutQuietly();
  const std::string bytes = ToBytes(text);
  platform::FileWrite(platform::StdErr(), bytes.data(), bytes.size());
  platform::FileFlush(platform::StdErr());
}

namespace {

// One line from standard input, handed to `take` piece by piece (a pointer
// and a count of bytes), as GetStdinLine states it.
template <class Take>
void ReadStdinLine(Take take) {
  FlushStdout();  // the program's output before it waits for input
  // The line comes in chunks as C fgets reads them: at most all but one
  // byte of the chunk. A chunk that full without a line feed leaves the
  // rest of the line to the next one.
  constexpr std::size_t kChunk = 256;
  char chunk[kChunk];
  for (;;) {
    if (!platform::FileGetLine(chunk, kChunk, platform::StdIn())) break;
    chunk[kChunk - 1] = 0;
    std::size_t length = std::strlen(chunk);
    const char* feed = static_cast<const char*>(std::memchr(chunk, '\n', length));
    std::size_t taken = feed ? static_cast<std::size_t>(feed - chunk) : length;
    // One white-space byte just before the line feed (the CR of a CR LF)
    // belongs to the line's end, not to the line.
    if (feed && taken > 0) {
      char last = chunk[taken - 1];
      if (last == ' ' || (last >= '\t' && last <= '\r')) --taken;
    }
    take(chunk, taken);
    if (feed || length < kChunk - 1) break;
  }
}

}  // namespace

Ref<String> GetStdinLine() {
  std::string line;
  ReadStdinLine([&line](const char* bytes, std::size_t count) { line.append(bytes, count); });
  return FromBytes(line);
}

Int GetStdinFirstCode() {
  Int first = -1;
  ReadStdinLine([&first](const char* bytes, std::size_t count) {
    if (first < 0 && count > 0) first = static_cast<unsigned char>(bytes[0]);
  });
  return first;
}

void EndProgram() {
  FlushStdout();
  platform::ExitProcess(0);
}

void AtEnd(EndFunction function) {
  if (!function) return;
  EndFunctions().push_back(function);
  if (!platform::AtExit(RunLatestEndFunction)) EndFunctions().pop_back();
}

Int ElapsedMillis() { return static_cast<Int>(platform::TimerMillis()); }

void SleepMillis(Int milliseconds) {
  if (milliseconds < 0) return;
  platform::Sleep(static_cast<std::uint32_t>(milliseconds));
}

Ref<String> GetEnv(const Ref<String>& name) {
  std::u16string value;
  if (!platform::GetEnvironment(Text(name).View(), value)) return String::Empty();
  return StringOf(value);
}

Int PutEnv(const Ref<String>& setting) {
  std::u16string_view text = Text(setting).View();
  const std::size_t equals = text.find(u'=');
  if (equals == std::u16string_view::npos || equals == 0) return -1;
  std::u16string_view name = text.substr(0, equals);
  std::u16string_view value = text.substr(equals + 1);
  bool done = value.empty() ? platform::UnsetEnvironment(name) : platform::SetEnvironment(name, value);
  return done ? 0 : -1;
}

Int RunCommand(const Ref<String>& commandLine) {
  platform::FlushAll();
  platform::CommandResult result = platform::RunCommand(Text(commandLine).View());
  if (!result.started) return result.error;
  return result.exited ? result.status : -1;
}

Int IsMainThread() {
  const ProgramValues& v = Values();
  return v.mainThreadKnown && v.mainThread == platform::CurrentThreadId() ? 1 : 0;
}

}  // namespace corvid
