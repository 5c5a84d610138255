#include "memstream/bank_stream.h"

#include "memstream/bank.h"
#include "runtime/module.h"
#include "stream/stream.h"

namespace corvid {

void StartBankStreamModule() {
  static ModuleFlag flag;
  if (!flag.Begin()) return;
  StartBankModule();
  ModuleStarted("bank stream");
}

void StartRamStreamModule() {
  static ModuleFlag flag;
  if (!flag.Begin()) return;
  StartStreamModule();
  ModuleStarted("RAM stream");
}

}  // namespace corvid
