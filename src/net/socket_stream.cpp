#include "net/socket_stream.h"

#include "net/socket.h"
#include "runtime/module.h"
#include "stream/stream.h"

namespace corvid {

void StartSocketStreamModule() {
  static ModuleFlag flag;
  if (!flag.Begin()) return;
  StartSocketModule();
  StartStreamModule();
  ModuleStarted("socket stream");
}

}  // namespace corvid
