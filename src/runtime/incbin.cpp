#include "runtime/incbin.h"

#include <string>
#include <unordered_map>

#include "runtime/error.h"

namespace corvid {

namespace {

using Registry = std::unordered_map<std::u16string, IncbinBlock>;

// Lives for the whole process: blocks may be opened while it exits.
Registry& Blocks() {
  static NoDestroy<Registry> blocks;
  return blocks.get();
}

}  // namespace

Int AddIncbin(const Ref<String>& name, const void* address, Int size) {
  if (!address) RaiseRuntimeError("Embedded data needs an address"_s);
  if (size < 0) RaiseRuntimeError("Embedded data cannot have a negative size"_s);
  IncbinBlock block{static_cast<const std::uint8_t*>(address), size};
  return Blocks().try_emplace(std::u16string(Text(name).View()), block).second ? 1 : 0;
}

IncbinBlock FindIncbin(const Ref<String>& name) {
  const Registry& blocks = Blocks();
  auto found = blocks.find(std::u16string(Text(name).View()));
  return found == blocks.end() ? IncbinBlock{} : found->second;
}

}  // namespace corvid
