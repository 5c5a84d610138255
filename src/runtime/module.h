// Once-only start of library modules in their import order.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace corvid {

/// A module's name, as a template argument: each module's StartOnce is an
/// instantiation of its own, with a flag of its own.
template <std::size_t N>
struct ModuleName {
  char text[N]{};
  constexpr ModuleName(const char (&name)[N]) {
    for (std::size_t i = 0; i < N; ++i) text[i] = name[i];
  }
};

/// Records that a module finished starting.
void ModuleStarted(const char* name);

/// Starts the module `Name` once: the first call sets its flag, runs
/// `start` (the imports in import order, then the module's own objects) and
/// records the module as started. The flag is set before the imports
/// start, so import cycles end; later calls do nothing.
///
///   void StartStreamModule() {
///     StartOnce<"stream">([] { StartRuntimeModule(); });
///   }
template <ModuleName Name, class Start>
void StartOnce(Start start) {
  static bool started = false;
  if (started) return;
  started = true;
  start();
  ModuleStarted(Name.text);
}

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
void StartStdlibModule();
/// Modules with nothing of their own to set up, kept for the start order.
void StartMathModule();
void StartRandomModule();
void StartListModule();

}  // namespace corvid
