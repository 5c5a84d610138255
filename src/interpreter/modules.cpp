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
  StartOnce<"basic">([] {
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
  });
}

void StartLegacyStringModule() {
  StartOnce<"legacy string">([] { StartBasicModule(); });
}

void StartProgramModule() {
  StartOnce<"program">([] {
    StartRuntimeModule();
    StartFileSystemModule();
    StartLegacyStringModule();
  });
}

}  // namespace corvid
