// Case mapping of single code units, as used by Lowercased and Uppercased.
#pragma once

#include <cstdint>
#include <span>

namespace corvid {

/// One mapping of the case tables: `from` becomes `to`.
struct CasePair {
  char16_t from;
  char16_t to;
};

/// Table lookups for the units from U+00C0 (lower) and U+00B5 (upper) on.
char16_t LowerUnitAbove(char16_t unit) noexcept;
char16_t UpperUnitAbove(char16_t unit) noexcept;

/// Lower-case partner of `unit`, or `unit` itself when it has none. Below
/// U+00C0 only "A"-"Z" change; above, the Unicode 5.1 simple lower-case
/// mapping applies.
inline char16_t LowerUnit(char16_t unit) noexcept {
  // Plain ASCII text never reaches the tables.
  if (unit < 0x00C0)
    return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + 32) : unit;
  return LowerUnitAbove(unit);
}
/// Upper-case partner of `unit`, or `unit`. Below U+00B5 only "a"-"z"
/// change; above, the Unicode 5.1 simple title-case mapping applies, so the
/// digraphs (U+01C4 and U+01C6, etc.) become their title-case form.
inline char16_t UpperUnit(char16_t unit) noexcept {
  if (unit < 0x00B5)
    return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - 32) : unit;
  return UpperUnitAbove(unit);
}

/// The tables above the Latin range, sorted by `from`; for tests and tools.
std::span<const CasePair> LowerCaseTable() noexcept;
std::span<const CasePair> UpperCaseTable() noexcept;

}  // namespace corvid
