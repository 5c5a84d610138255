#include "runtime/module.h"

#include "runtime/object.h"

namespace corvid {

namespace {

std::vector<std::string>& Started() {
  static NoDestroy<std::vector<std::string>> names;
  return names.get();
}

}  // namespace

void ModuleStarted(const char* name) { Started().emplace_back(name); }
const std::vector<std::string>& StartedModules() { return Started(); }

void StartRuntimeModule() {
  static ModuleFlag flag;
  if (!flag.Begin()) return;
  ModuleStarted("runtime");
}

void StartStdlibModule() {
  static ModuleFlag flag;
  if (!flag.Begin()) return;
  StartRuntimeModule();
  ModuleStarted("standard-library bindings");
}

void StartMathModule() {
  static ModuleFlag flag;
  if (!flag.Begin()) return;
  StartRuntimeModule();
  ModuleStarted("math");
}

void StartRandomModule() {
  static ModuleFlag flag;
  if (!flag.Begin()) return;
  StartRuntimeModule();
  ModuleStarted("random");
}

void StartListModule() {
  static ModuleFlag flag;
  if (!flag.Begin()) return;
  StartRuntimeModule();
  ModuleStarted("linked list");
}

}  // namespace corvid
