// A developer's look at the translator: prints what a code file translates
// into, one op per line. tools/translate CODEFILE (any stream name tape
// takes).
#include <cstdio>

#include "filesystem/path.h"
#include "interpreter/internal/loader.h"
#include "interpreter/modules.h"
#include "interpreter/internal/program_dump.h"
#include "interpreter/internal/translator.h"
#include "runtime/app.h"

namespace {

int Run() {
  using namespace corvid;
  StartProgramModule();
  const Ref<Array>& args = ProgramArgs();
  if (args->Count() != 2) {
    std::fputs("usage: translate CODEFILE\n", stderr);
    return 2;
  }
  // A relative file name is taken from where the tool was started, not
  // from beside it as tape takes it.
  Ref<String> name = args->At<Ref<String>>(1);
  if (!name->Includes("::"_s) && !IsAbsolutePath(name)) name = Concat(Concat(StartDir(), "/"_s), name);
  Translator translator;
  if (!LoadProgram(name, translator)) {
    std::fprintf(stderr, "translate: could not load %s\n", TempNarrowZ(name));
    return 1;
  }
  std::string dump = DumpProgram(translator.Finish());
  std::fwrite(dump.data(), 1, dump.size(), stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return corvid::RunMain(argc, argv, Run); }
