#include "memstream/bank.h"

#include "runtime/module.h"
#include "stream/stream.h"

namespace corvid {

void StartBankModule() {
  static ModuleFlag flag;
  if (!flag.Begin()) return;
  StartStreamModule();
  ModuleStarted("bank");
}

}  // namespace corvid
