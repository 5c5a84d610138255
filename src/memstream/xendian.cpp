#include "memstream/xendian.h"

#include "runtime/module.h"
#include "stream/stream.h"

namespace corvid {

void StartXEndianModule() {
  static ModuleFlag flag;
  if (!flag.Begin()) return;
  StartStreamModule();
  ModuleStarted("byte-order stream");
}

}  // namespace corvid
