#include "runtime/module.h"

#include "runtime/app.h"
#include "runtime/object.h"
#include "runtime/internal/platform.h"
#include "runtime/internal/platform_net.h"

namespace corvid {

namespace {

std::vector<std::string>& Started() {
  static NoDestroy<std::vector<std::string>> names;
  return names.get();
}

// Output still in the standard streams' buffers when the end functions
// run reaches its reader before the process goes.
void FlushStandardStreams() {
  FlushStdoutQuietly();
  platform::FileFlush(platform::StdErr());
}

}  // namespace

void ModuleStarted(const char* name) { Started().emplace_back(name); }
const std::vector<std::string>& StartedModules() { return Started(); }

void StartRuntimeModule() {
  StartOnce<"runtime">([] {});
}

void StartStdlibModule() {
  StartOnce<"standard-library bindings">([] {
    StartRuntimeModule();
    // A peer that closes a socket or pipe must give a failed write, not end
    // the process.
    platform::IgnoreBrokenPipe();
    if (platform::StartSockets()) AtEnd(platform::StopSockets);
    AtEnd(FlushStandardStreams);
  });
}

void StartMathModule() {
  StartOnce<"math">([] { StartRuntimeModule(); });
}

void StartRandomModule() {
  StartOnce<"random">([] { StartRuntimeModule(); });
}

void StartListModule() {
  StartOnce<"linked list">([] { StartRuntimeModule(); });
}

}  // namespace corvid
