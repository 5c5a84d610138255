#include "net/socket.h"

#include "runtime/module.h"

namespace corvid {

void StartSocketModule() {
  static ModuleFlag flag;
  if (!flag.Begin()) return;
  StartStdlibModule();
  ModuleStarted("socket");
}

}  // namespace corvid
