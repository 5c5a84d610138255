// How the POSIX half spells names for the system: the 16-bit text the rest
// of the system holds, as the bytes the system's calls take, and back.
//
// The kernel leaves the bytes of a name uninterpreted, and the system's own
// tools read them as UTF-8; so do we. A byte that is no part of a
// well-formed UTF-8 sequence (one of an old Latin-1 name, say) becomes the
// unit U+DC00 + byte (U+DC80..U+DCFF, halves of surrogate pairs that no
// text holds alone) and goes back as that byte, so every name the system
// gives reads as text and spells the same file again.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvid::platform::posix {

/// The bytes of `name` for a system call: UTF-8, a surrogate pair as the
/// four bytes of its character, an escape unit (U+DC80..U+DCFF) as its
/// byte. Nothing when the name has no spelling that DecodeName would read
/// back as `name`: it holds U+0000 (which would end it early), a surrogate
/// that is neither half of a pair nor an escape, or escapes that side by
/// side spell a character.
std::optional<std::string> EncodeName(std::u16string_view name);
/// A name the system gave, as 16-bit text: well-formed UTF-8 decoded
/// (characters above U+FFFF as surrogate pairs), every other byte of 0x80
/// and above as its escape unit. Overlong forms, encoded surrogates and
/// sequences above U+10FFFF are not well formed.
std::u16string DecodeName(std::string_view bytes);

}  // namespace corvid::platform::posix
