#include "runtime/internal/case_map.h"

#include <algorithm>

namespace corvid {

namespace {

#include "runtime/internal/case_tables.inc"

char16_t Lookup(std::span<const CasePair> table, char16_t unit) noexcept {
  auto at = std::lower_bound(table.begin(), table.end(), unit,
                             [](const CasePair& pair, char16_t u) { return pair.from < u; });
  return at != table.end() && at->from == unit ? at->to : unit;
}

}  // namespace

char16_t LowerUnitAbove(char16_t unit) noexcept { return Lookup(kLowerPairs, unit); }
char16_t UpperUnitAbove(char16_t unit) noexcept { return Lookup(kUpperPairs, unit); }

std::span<const CasePair> LowerCaseTable() noexcept { return kLowerPairs; }
std::span<const CasePair> UpperCaseTable() noexcept { return kUpperPairs; }

}  // namespace corvid
