#include "filesystem/system_path.h"

#include "filesystem/path.h"

namespace corvid {

std::optional<std::string> SystemName(const Ref<String>& path) {
  std::string bytes = ToBytes(path);
  if (bytes.find('\0') != std::string::npos) return std::nullopt;
  return bytes;
}

platform::DirectoryListing ListingOf(const Ref<String>& path) {
  auto name = SystemName(FixPath(path, 1));
  if (!name) return {};
  return platform::DirectoryListing::Open(name->c_str());
}

}  // namespace corvid
