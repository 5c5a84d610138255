#include "interpreter/console.h"

#include "runtime/app.h"
#include "runtime/module.h"
#include "runtime/internal/platform.h"

namespace corvid {

namespace {

Ref<TTextStream>& Console() {
  static NoDestroy<Ref<TTextStream>> console;
  return console.get();
}

}  // namespace

Int TCStandardIO::Flush() {
  FlushStdout();
  return 0;
}

Int TCStandardIO::Read(std::uint8_t* buffer, Int count) {
  if (count <= 0) return 0;
  FlushStdout();  // what was written stands before the wait for input
  return static_cast<Int>(platform::FileRead(platform::StdIn(), buffer, static_cast<std::size_t>(count)));
}

Int TCStandardIO::Write(const std::uint8_t* buffer, Int count) {
  if (count <= 0) return 0;
  WriteStdout(buffer, static_cast<std::size_t>(count));
  return count;
}

const Ref<TTextStream>& ConsoleStream() { return Console(); }

Int PrintLine(const Ref<String>& text) {
  Console()->WriteLine(text);
  Console()->Flush();
  return 0;
}

Ref<String> PromptLine(const Ref<String>& prompt) {
  Console()->WriteString(prompt);
  Console()->Flush();
  return Console()->ReadLine();
}

void StartConsoleModule() {
  StartOnce<"console">([] {
    StartTextStreamModule();
    // Names (the code file's among them) come out as the bytes they were
    // typed as, whatever they hold.
    Console() = TTextStream::CreateSystemText(MakeRef<TCStandardIO>());
  });
}

}  // namespace corvid
