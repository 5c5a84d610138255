// A child process for tests of how the runtime ends a process: the first
// argument names a scenario.
#include <cstring>
#include <string>

#include "runtime/app.h"
#include "runtime/error.h"

namespace {

std::string scenario;

int Entry() {
  using namespace corvid;
  if (scenario == "raise-runtime") RaiseRuntimeError("List index out of range"_s);
  if (scenario == "raise-string") Throw(String::FromWideZ(u"caf\u00e9 \u0141"));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) scenario = argv[1];
  return corvid::RunMain(argc, argv, Entry);
}
