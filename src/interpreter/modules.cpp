#include "interpreter/modules.h"

#include "filesystem/open.h"
#include "interpreter/console.h"
#include "memstream/bank.h"
#include "memstream/bank_stream.h"
#include "memstream/xendian.h"
#include "net/http.h"
#include "net/socket.h"
#include "net/socket_stream.h"
#include "runtime/module.h"

namespace corvid {

void StartBasicModule() {
  static ModuleFlag flag;
  if (!flag.Begin()) return;
  StartMathModule();
  StartBankModule();
  StartRandomModule();
  StartSocketModule();
  StartRamStreamModule();
  StartBankStreamModule();
  StartXEndianModule();
  StartSocketStreamModule();
  StartHttpModule();
  StartConsoleModule();
  StartListModule();
  StartFileSystemModule();
  ModuleStarted("basic");
}

void StartLegacyStringModule() {
  static ModuleFlag flag;
  if (!flag.Begin()) return;
  StartBasicModule();
  ModuleStarted("legacy string");
}

void StartProgramModule() {
  static ModuleFlag flag;
  if (!flag.Begin()) return;
  StartRuntimeModule();
  StartFileSystemModule();
  StartLegacyStringModule();
  ModuleStarted("program");
}

}  // namespace corvid
