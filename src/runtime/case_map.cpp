#include "runtime/case_map.h"

namespace corvid {

// Only the Latin range so far; the tables above it come with the generated
// case data.
char16_t LowerUnit(char16_t unit) {
  return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + 32) : unit;
}

char16_t UpperUnit(char16_t unit) {
  return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - 32) : unit;
}

}  // namespace corvid
