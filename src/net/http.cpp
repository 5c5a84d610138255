#include "net/http.h"

#include "net/socket_stream.h"
#include "runtime/module.h"

namespace corvid {

void StartHttpModule() {
  static ModuleFlag flag;
  if (!flag.Begin()) return;
  StartSocketStreamModule();
  ModuleStarted("HTTP stream");
}

}  // namespace corvid
