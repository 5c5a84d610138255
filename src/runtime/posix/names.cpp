#include "runtime/posix/names.h"

#include "runtime/internal/utf8.h"

namespace corvid::platform::posix {

namespace {

constexpr char32_t kEscapeBase = 0xDC00;

bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
bool IsEscape(char32_t unit) { return unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF; }

unsigned ByteAt(std::string_view bytes, std::size_t at) { return static_cast<unsigned char>(bytes[at]); }

// The length of the well-formed UTF-8 sequence at `at`, 0 when there is
// none. Overlong forms, encoded surrogates and anything above U+10FFFF are
// not well formed: an overlong "/" must not pass for a separator, and a
// character has exactly one spelling, so that two names never spell one
// file.
std::size_t SequenceLength(std::string_view bytes, std::size_t at) {
  const unsigned lead = ByteAt(bytes, at);
  std::size_t length = 0;
  unsigned low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (bytes.size() - at < length) return 0;
  const unsigned second = ByteAt(bytes, at + 1);
  if (second < low || second > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if ((ByteAt(bytes, at + k) & 0xC0) != 0x80) return 0;
  }
  return length;
}

void AppendUtf8(std::string& bytes, char32_t c) {
  PutUtf8(c, [&](char32_t byte) { bytes += static_cast<char>(byte); });
}

}  // namespace

std::optional<std::string> EncodeName(std::u16string_view name) {
  std::string bytes;
  bytes.reserve(name.size());
  bool escaped = false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char32_t unit = name[i];
    if (unit == 0) return std::nullopt;
    if (IsHighSurrogate(unit) && i + 1 < name.size() && IsLowSurrogate(name[i + 1])) {
      const char32_t low = name[++i];
      AppendUtf8(bytes, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
    } else if (IsEscape(unit)) {
      bytes += static_cast<char>(unit - kEscapeBase);
      escaped = true;
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      // A lone surrogate is no character, so UTF-8 has no spelling for it;
      // the three bytes of its number would read back as three escapes,
      // another name.
      return std::nullopt;
    } else {
      AppendUtf8(bytes, unit);
    }
  }
  // Escaped bytes side by side can spell a character ("\uDCC3\uDCB6" is
  // the bytes of "\u00F6"), and would then read back as that character:
  // such a name would be a second name of another file.
  if (escaped && DecodeName(bytes) != name) return std::nullopt;
  return bytes;
}

std::u16string DecodeName(std::string_view bytes) {
  std::u16string name;
  name.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const unsigned lead = ByteAt(bytes, i);
    const std::size_t length = lead < 0x80 ? 1 : SequenceLength(bytes, i);
    if (length == 0) {
      name += static_cast<char16_t>(kEscapeBase + lead);
      ++i;
      continue;
    }
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) c = c << 6 | (ByteAt(bytes, i + k) & 0x3F);
    if (c >= 0x10000) {
      name += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      name += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      name += static_cast<char16_t>(c);
    }
    i += length;
  }
  return name;
}

}  // namespace corvid::platform::posix

namespace corvid::platform {

int NameByteOfUnit(char16_t unit) noexcept {
  return posix::IsEscape(unit) ? static_cast<int>(unit - posix::kEscapeBase) : -1;
}

}  // namespace corvid::platform
