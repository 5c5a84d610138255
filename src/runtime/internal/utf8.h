// The UTF-8 bytes of one code point, for the text streams and for names
// on systems that spell them in UTF-8.
#pragma once

namespace corvid {

/// Hands the UTF-8 bytes of `c` (at most U+10FFFF) to `put`, one at a
/// time, in order. A lone surrogate is encoded as it stands, in three bytes.
template <class Put>
void PutUtf8(char32_t c, Put put) {
  if (c < 0x80) {
    put(c);
  } else if (c < 0x800) {
    put(0xC0 | c >> 6);
    put(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    put(0xE0 | c >> 12);
    put(0x80 | (c >> 6 & 0x3F));
    put(0x80 | (c & 0x3F));
  } else {
    put(0xF0 | c >> 18);
    put(0x80 | (c >> 12 & 0x3F));
    put(0x80 | (c >> 6 & 0x3F));
    put(0x80 | (c & 0x3F));
  }
}

}  // namespace corvid
