// How path strings reach the platform layer: as bytes, and as listings
// opened by name.
#pragma once

#include <optional>
#include <string>

#include "runtime/platform_fs.h"
#include "runtime/string.h"

namespace corvid {

/// The low 8 bits of each unit; nothing when one of them is a zero byte,
/// which the system would read as the end of a shorter name, another file.
std::optional<std::string> SystemName(const Ref<String>& path);
/// A listing of the directory `path`, normalised as a directory; not open
/// when there is none to list.
platform::DirectoryListing ListingOf(const Ref<String>& path);

}  // namespace corvid
