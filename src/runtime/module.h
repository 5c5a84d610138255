// Once-only start of library modules in their import order.
#pragma once

#include <string>
#include <vector>

namespace corvid {

/// The once-flag of one module's start function:
///
///   void StartStreamModule() {
///     static ModuleFlag flag;
///     if (!flag.Begin()) return;
///     StartRuntimeModule();        // imports, in import order
///     ... create module-level objects ...
///     ModuleStarted("stream");
///   }
///
/// The flag is set before the imports start, so import cycles end.
class ModuleFlag {
 public:
  bool Begin() noexcept {
    if (started_) return false;
    started_ = true;
    return true;
  }

 private:
  bool started_ = false;
};

/// Records that a module finished starting.
void ModuleStarted(const char* name);
/// Names of the modules in the order they finished starting.
const std::vector<std::string>& StartedModules();

// Start functions of the runtime layer's modules. Every Start...Module
// function of the library starts its module once: the modules it imports
// first, then its own objects (a stream protocol's factory, say). Later
// calls do nothing.

/// The core runtime: nothing of its own to set up.
void StartRuntimeModule();
/// The standard-library bindings: a write to a closed socket or pipe fails
/// instead of ending the process; socket support starts; the exit-time
/// clean-up of both is registered.
/// The standard handles are platform::StdIn, StdOut and StdErr.
void StartStdlibModule();
/// Modules with nothing of their own to set up, kept for the start order.
void StartMathModule();
void StartRandomModule();
void StartListModule();

}  // namespace corvid
