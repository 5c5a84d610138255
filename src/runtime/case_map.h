// Case mapping of single code units, as used by Lowercased and Uppercased.
#pragma once

namespace corvid {

/// Lower-case partner of `unit`, or `unit` itself when it has none.
char16_t LowerUnit(char16_t unit);
/// Upper-case (title-case for the digraphs) partner of `unit`, or `unit`.
char16_t UpperUnit(char16_t unit);

}  // namespace corvid
