#include "runtime/case_map.h"

#include <algorithm>
#include <iterator>

namespace corvid {

namespace {

#include "runtime/case_tables.inc"

constexpr char16_t kLowerTableFrom = 0x00C0;
constexpr char16_t kUpperTableFrom = 0x00B5;

char16_t Lookup(std::span<const CasePair> table, char16_t unit) noexcept {
  auto at = std::lower_bound(table.begin(), table.end(), unit,
                             [](const CasePair& pair, char16_t u) { return pair.from < u; });
  return at != table.end() && at->from == unit ? at->to : unit;
}

}  // namespace

// Plain ASCII text never reaches the tables: the ranges below their first
// entries map by arithmetic.
char16_t LowerUnit(char16_t unit) noexcept {
  if (unit < kLowerTableFrom)
    return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + 32) : unit;
  return Lookup(kLowerPairs, unit);
}

char16_t UpperUnit(char16_t unit) noexcept {
  if (unit < kUpperTableFrom)
    return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - 32) : unit;
  return Lookup(kUpperPairs, unit);
}

std::span<const CasePair> LowerCaseTable() noexcept { return kLowerPairs; }
std::span<const CasePair> UpperCaseTable() noexcept { return kUpperPairs; }

}  // namespace corvid
