// Legacy string functions: 1-based substring, search and padding over the
// String operations, and fixed-width hexadecimal and binary renderings.
#pragma once

#include "runtime/string.h"

namespace corvid {

// Positions are 1-based; a failed search gives 0. None of these raises, and
// a Null string argument reads as the empty string.

/// `size` units from position `pos`; a negative `size` means up to the end.
/// Empty when `pos` is past the end. With `size` >= 0 the part before the
/// string is cut off; with a negative `size` it reads as spaces, so
/// SubText("abc", 0, -1) is " abc".
Ref<String> SubText(const Ref<String>& s, Int pos, Int size);
/// Position of the first `sub` at or after `start` (below 1: from the
/// beginning), or 0.
Int FindText(const Ref<String>& s, const Ref<String>& sub, Int start);
/// The first min(n, length) units; empty for n <= 0.
Ref<String> LeftText(const Ref<String>& s, Int n);
/// The last min(n, length) units; empty for n <= 0.
Ref<String> RightText(const Ref<String>& s, Int n);
/// `s` left-aligned in exactly n units: cut or filled with spaces on the
/// right; empty for n <= 0.
Ref<String> PadRight(const Ref<String>& s, Int n);
/// `s` right-aligned in exactly n units: cut or filled with spaces on the
/// left; empty for n <= 0.
Ref<String> PadLeft(const Ref<String>& s, Int n);
/// String::ReplaceAll: every `sub` replaced by `with`.
Ref<String> ReplaceText(const Ref<String>& s, const Ref<String>& sub, const Ref<String>& with);
/// String::Trimmed: without the units <= U+0020 at either end.
Ref<String> TrimText(const Ref<String>& s);
/// String::Lowercased and String::Uppercased.
Ref<String> LowerText(const Ref<String>& s);
Ref<String> UpperText(const Ref<String>& s);
/// Exactly 8 upper-case hexadecimal digits of the bits of `v`.
Ref<String> HexText(Int v);
/// Exactly 32 binary digits.
Ref<String> BinText(Int v);
/// Exactly 16 hexadecimal digits.
Ref<String> LongHexText(Long v);
/// Exactly 64 binary digits.
Ref<String> LongBinText(Long v);

}  // namespace corvid
