#include "interpreter/program.h"

#include <utility>

#include "filesystem/open.h"
#include "interpreter/console.h"
#include "interpreter/internal/executor.h"
#include "interpreter/internal/loader.h"
#include "interpreter/modules.h"
#include "interpreter/internal/tape.h"
#include "interpreter/internal/translator.h"
#include "runtime/app.h"
#include "runtime/module.h"

namespace corvid {

Ref<String> ChooseCodeFile(const Ref<Array>& args) {
  return args && args->Count() > 1 ? args->At<Ref<String>>(1) : DefaultCodeFile();
}

// The program runs once in a process. The entry and the body are functions
// a library user can call as well; a second call (from an end function,
// say, while the first run is ending) returns at once instead of loading
// and running the code file again over the first run's console.
int ProgramEntry() {
  static bool entered = false;
  if (entered) return 0;
  entered = true;
  StartRuntimeModule();
  return ProgramBody();
}

int ProgramBody() {
  static bool entered = false;
  if (entered) return 0;
  entered = true;
  StartProgramModule();

  Ref<String> codeFile = ChooseCodeFile(ProgramArgs());
  // The code is translated as it loads, and the run starts on a thread of
  // its own with the first ops: until the load ends it shows nothing.
  Translator translator;
  Tape tape;
  StandardPort port;
  Executor executor(Program{}, tape, port);
  {
    AheadRun ahead(executor, translator);
    if (!LoadProgram(codeFile, translator)) {
      ahead.Finish();
      PrintLine(Concat("Could not load "_s, codeFile));
      PromptLine(">"_s);
      EndProgram();
    }
    Program program = translator.Finish();
    ahead.Finish();
    executor.Adopt(std::move(program));
  }
  PrintLine(Concat("Executing "_s, codeFile));
  PrintLine(String::Empty());
  executor.Run();
  PrintLine(String::Empty());
  PrintLine(String::Empty());
  PrintLine("Execution complete."_s);
  PromptLine(">"_s);
  EndProgram();
}

}  // namespace corvid
