// How path strings reach the platform layer: as the code units it takes
// for names, and as listings opened by name.
#pragma once

#include <string_view>

#include "runtime/internal/platform_fs.h"
#include "runtime/string.h"

namespace corvid {

/// The path as the platform layer takes a name. The view lasts as long as
/// `path` does; the platform refuses a name it cannot spell for the system.
inline std::u16string_view SystemName(const Ref<String>& path) { return Text(path).View(); }
/// A listing of the directory `path`, normalised as a directory; not open
/// when there is none to list.
platform::DirectoryListing ListingOf(const Ref<String>& path);

}  // namespace corvid
