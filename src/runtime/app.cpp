#include "runtime/app.h"

#include <cstring>
#include <new>

#include "runtime/error.h"
#include "runtime/module.h"
#include "runtime/platform.h"

namespace corvid {

namespace {

struct ProgramValues {
  Ref<String> startDir = String::Empty();
  Ref<String> programFile = String::Empty();
  Ref<String> programDir = String::Empty();
  Ref<String> programTitle = String::Empty();
  std::vector<Ref<String>> args;
};

// Program-wide values stay valid while the process exits.
ProgramValues& Values() {
  static NoDestroy<ProgramValues> values;
  return values.get();
}

Ref<String> WithForwardSlashes(const std::string& path) {
  return FromBytes(path)->ReplaceAll("\\"_s, "/"_s);
}

[[noreturn]] void ReportOutOfMemory() {
  static const char kMessage[] = "Out of memory\n";
  platform::WriteStderrRaw(kMessage, sizeof kMessage - 1);
  platform::ExitProcess(255);
}

}  // namespace

int RunMain(int argc, char** argv, int (*entry)()) {
  try {
    StartApplication(argc, argv);
    return entry();
  } catch (const Raised& raised) {
    ReportUnhandled(raised.Error());
  } catch (const std::bad_alloc&) {
    ReportOutOfMemory();
  }
}

void StartApplication(int argc, char** argv) {
  ProgramValues& v = Values();
  v.startDir = WithForwardSlashes(platform::CurrentDirectory());
  v.programFile = WithForwardSlashes(platform::ExecutablePath());
  v.programDir = DirectoryPart(v.programFile);
  platform::ChangeDirectory(TempNarrowZ(v.programDir));
  v.programTitle = "Corvid Application"_s;
  v.args.clear();
  for (int i = 0; i < argc; ++i) v.args.push_back(String::FromNarrowZ(argv[i]));
}

const Ref<String>& StartDir() { return Values().startDir; }
const Ref<String>& ProgramFile() { return Values().programFile; }
const Ref<String>& ProgramDir() { return Values().programDir; }
const Ref<String>& ProgramTitle() { return Values().programTitle; }
const std::vector<Ref<String>>& ProgramArgs() { return Values().args; }

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

void PutStdout(const Ref<String>& text) {
  platform::FilePutText(TempNarrowZ(text), platform::StdOut());
  platform::FileFlush(platform::StdOut());
}

void PutStderr(const Ref<String>& text) {
  platform::FilePutText(TempNarrowZ(text), platform::StdErr());
  platform::FileFlush(platform::StdErr());
}

Ref<String> GetStdinLine() {
  std::string line;
  char chunk[256];
  for (;;) {
    if (!platform::FileGetLine(chunk, sizeof chunk, platform::StdIn())) break;
    chunk[sizeof chunk - 1] = 0;
    std::size_t length = std::strlen(chunk);
    const char* feed = static_cast<const char*>(std::memchr(chunk, '\n', length));
    std::size_t taken = length;
    if (feed) {
      taken = static_cast<std::size_t>(feed - chunk);
      char last = taken > 0 ? chunk[taken - 1] : 'x';
      if (last == ' ' || (last >= '\t' && last <= '\r')) --taken;
    }
    line.append(chunk, taken);
    // Only a full chunk without a line feed means the line goes on.
    if (taken <= 254) break;
  }
  return FromBytes(line);
}

void EndProgram() { platform::ExitProcess(0); }

}  // namespace corvid
