#include "filesystem/internal/system_path.h"

#include "filesystem/path.h"

namespace corvid {

platform::DirectoryListing ListingOf(const Ref<String>& path) {
  Ref<String> dir = FixPath(path, 1);
  return platform::DirectoryListing::Open(SystemName(dir));
}

}  // namespace corvid
