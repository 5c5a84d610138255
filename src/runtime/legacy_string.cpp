#include "runtime/legacy_string.h"

#include <algorithm>
#include <cstdint>
#include <new>

namespace corvid {

namespace {

// Positions below the Int range cannot start a string that fits in one.
Int ToInt(Long position) {
  if (position < INT32_MIN || position > INT32_MAX) throw std::bad_alloc();
  return static_cast<Int>(position);
}

// The string behind a receiver: Null reads as the empty string.
String& Receiver(const Ref<String>& s) { return s ? *s : *String::Empty(); }

// `digits` digits of `bits` in base 2^shift, most significant first.
Ref<String> Digits(std::uint32_t bits, int shift, int digits) {
  static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  char16_t text[32];
  std::uint32_t mask = (1u << shift) - 1;
  for (int k = digits - 1; k >= 0; --k) {
    text[k] = kDigits[bits & mask];
    bits >>= shift;
  }
  return String::FromWideSpan(text, digits);
}

std::uint32_t HighHalf(Long v) { return static_cast<std::uint32_t>(static_cast<std::uint64_t>(v) >> 32); }
std::uint32_t LowHalf(Long v) { return static_cast<std::uint32_t>(static_cast<std::uint64_t>(v)); }

}  // namespace

Ref<String> SubText(const Ref<String>& s, Int pos, Int size) {
  Long length = Text(s).Length();
  if (pos > length) return String::Empty();
  Long start = Long{pos} - 1;
  if (size < 0) return Slice(s, ToInt(start), static_cast<Int>(length));
  Long count = size;
  if (start < 0) {
    count += start;
    start = 0;
  }
  if (start + count > length) count = length - start;
  if (count <= 0) return String::Empty();
  return Slice(s, static_cast<Int>(start), static_cast<Int>(start + count));
}

Int FindText(const Ref<String>& s, const Ref<String>& sub, Int start) {
  return Receiver(s).IndexOf(sub, start < 1 ? 0 : start - 1) + 1;
}

Ref<String> LeftText(const Ref<String>& s, Int n) {
  if (n <= 0) return String::Empty();
  return Slice(s, 0, std::min(n, Text(s).Length()));
}

Ref<String> RightText(const Ref<String>& s, Int n) {
  if (n <= 0) return String::Empty();
  Int length = Text(s).Length();
  return Slice(s, length - std::min(n, length), length);
}

Ref<String> PadRight(const Ref<String>& s, Int n) {
  if (n <= 0) return String::Empty();
  return Slice(s, 0, n);
}

Ref<String> PadLeft(const Ref<String>& s, Int n) {
  if (n <= 0) return String::Empty();
  Int length = Text(s).Length();
  return Slice(s, length - n, length);
}

Ref<String> ReplaceText(const Ref<String>& s, const Ref<String>& sub, const Ref<String>& with) {
  return Receiver(s).ReplaceAll(sub, with);
}
Ref<String> TrimText(const Ref<String>& s) { return Receiver(s).Trimmed(); }
Ref<String> LowerText(const Ref<String>& s) { return Receiver(s).Lowercased(); }
Ref<String> UpperText(const Ref<String>& s) { return Receiver(s).Uppercased(); }

Ref<String> HexText(Int v) { return Digits(static_cast<std::uint32_t>(v), 4, 8); }
Ref<String> BinText(Int v) { return Digits(static_cast<std::uint32_t>(v), 1, 32); }

Ref<String> LongHexText(Long v) {
  return Concat(Digits(HighHalf(v), 4, 8), Digits(LowHalf(v), 4, 8));
}
Ref<String> LongBinText(Long v) {
  return Concat(Digits(HighHalf(v), 1, 32), Digits(LowHalf(v), 1, 32));
}

}  // namespace corvid
