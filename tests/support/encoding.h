// The byte forms of 16-bit units in the four text encodings, written out
// here on their own so that tests can check the text streams against them.
#pragma once

#include <string>
#include <string_view>

#include "stream/text_stream.h"

namespace corvid::testing {

/// The bytes of the unit `u` in `encoding` (one of the TTextStream codes);
/// Latin-1 keeps the low byte.
inline std::string EncodeUnit(unsigned u, Int encoding) {
  auto byte = [](unsigned b) { return static_cast<char>(b & 0xFF); };
  switch (encoding) {
    case TTextStream::LATIN1:
      return {byte(u)};
    case TTextStream::UTF8:
      if (u < 0x80) return {byte(u)};
      if (u < 0x800) return {byte(0xC0 | u >> 6), byte(0x80 | (u & 0x3F))};
      return {byte(0xE0 | u >> 12), byte(0x80 | ((u >> 6) & 0x3F)), byte(0x80 | (u & 0x3F))};
    case TTextStream::UTF16BE:
      return {byte(u >> 8), byte(u)};
    default:
      return {byte(u), byte(u >> 8)};
  }
}

/// The bytes of the whole text in `encoding`.
inline std::string Encode(std::u16string_view text, Int encoding) {
  std::string bytes;
  for (char16_t u : text) bytes += EncodeUnit(u, encoding);
  return bytes;
}

}  // namespace corvid::testing
