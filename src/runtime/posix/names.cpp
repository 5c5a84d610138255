#include "runtime/posix/names.h"

namespace corvid::platform::posix {

// A byte per unit, the low eight bits of each: the system takes names as
// bytes and this keeps every byte a name can hold reachable.
std::optional<std::string> EncodeName(std::u16string_view name) {
  std::string bytes;
  bytes.reserve(name.size());
  for (char16_t unit : name) {
    char byte = static_cast<char>(unit & 0xFF);
    if (byte == 0) return std::nullopt;
    bytes += byte;
  }
  return bytes;
}

std::u16string DecodeName(std::string_view bytes) {
  std::u16string name;
  name.reserve(bytes.size());
  for (char byte : bytes) name += static_cast<char16_t>(static_cast<unsigned char>(byte));
  return name;
}

}  // namespace corvid::platform::posix
