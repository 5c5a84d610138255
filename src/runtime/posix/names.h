// How the POSIX half spells names for the system: the 16-bit text the rest
// of the system holds, as the bytes the system's calls take, and back.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvid::platform::posix {

/// The bytes of `name` for a system call; nothing when the name cannot be
/// spelled without a zero byte, which would end it early.
std::optional<std::string> EncodeName(std::u16string_view name);
/// A name the system gave, as 16-bit text.
std::u16string DecodeName(std::string_view bytes);

}  // namespace corvid::platform::posix
