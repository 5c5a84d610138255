// Immutable strings of 16-bit code units, their literals, and the
// conversions between strings and numbers, 8-bit, 16-bit and UTF-8 text.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "runtime/object.h"

namespace corvid {

/// An immutable sequence of 16-bit code units. A code unit is a character:
/// there is no surrogate logic anywhere. Every zero-length result is the one
/// shared empty string; literals (`"text"_s`) are static and never freed.
class Array;

class String final : public Object {
 public:
  struct LiteralTag {};
  /// Used only by the literal operator: a view of static units.
  String(LiteralTag, const char16_t* units, Int length) noexcept
      : Object(kImmortal), length_(length), data_(units) {}

  /// The shared empty string.
  static const Ref<String>& Empty();
  /// Builds a string of `length` units; `fill(char16_t*)` writes them. The
  /// shared empty string when `length` <= 0.
  template <class Fill>
  static Ref<String> Build(Int length, Fill&& fill);

  Int Length() const noexcept { return length_; }
  /// The units; not zero-terminated.
  const char16_t* Data() const noexcept { return data_; }
  /// Unit `i`, unchecked: `i` must lie in 0 .. Length()-1.
  char16_t operator[](Int i) const noexcept { return data_[i]; }
  /// The units as a view, valid while the string lives.
  std::u16string_view View() const noexcept {
    return {data_, static_cast<std::size_t>(length_)};
  }

  Ref<String> ToString() override;
  /// Code-unit order; a proper prefix sorts first. A non-string sorts by
  /// address like any object.
  Int Compare(const Ref<Object>& other) override;

  // Virtual, and in a fixed order: a new operation goes at the end, so that
  // a subclass built against an older header keeps its table's layout.
  // Positions are 0-based; a Null string argument reads as the empty
  // string.

  /// First position >= `start` (negative: 0) where `sub` occurs, or -1. An
  /// empty `sub` is found at `start` when `start` <= Length().
  virtual Int IndexOf(const Ref<String>& sub, Int start);
  /// Last occurrence of `sub` starting at or before Length() - `start`
  /// (`start` counts from the end; negative acts as 0), or -1.
  virtual Int LastIndexOf(const Ref<String>& sub, Int start);
  /// Without the units <= U+0020 at either end; the receiver itself when
  /// there are none.
  virtual Ref<String> Trimmed();
  /// Every non-overlapping occurrence of `sub`, leftmost first, replaced by
  /// `with`; the receiver itself when `sub` is empty or absent.
  virtual Ref<String> ReplaceAll(const Ref<String>& sub, const Ref<String>& with);
  /// Unit by unit through the Unicode 5.1 simple mappings; always a new
  /// string of the same length.
  virtual Ref<String> Lowercased();
  virtual Ref<String> Uppercased();
  /// Decimal, "$" hexadecimal or "%" binary digits after white space and one
  /// sign; stops silently at the first other unit; wraps on overflow.
  virtual Int ParseInt();
  virtual Long ParseLong();
  /// The C library's reading of the narrowed text; 0 when there is no number.
  virtual Float ParseFloat();
  virtual Double ParseDouble();
  /// Low 8 bits of each unit, then a zero byte. Owned by the caller.
  virtual std::unique_ptr<char[]> ToNarrowZ();
  /// The units, then a zero unit. Owned by the caller.
  virtual std::unique_ptr<char16_t[]> ToWideZ();
  /// Decimal digits, "-" before negative values.
  static Ref<String> FormatInt(Int value);
  static Ref<String> FormatLong(Long value);
  /// printf "%#.9g" of the value widened to double.
  static Ref<String> FormatFloat(Float value);
  /// printf "%#.17lg".
  static Ref<String> FormatDouble(Double value);
  /// Bytes up to the zero byte, one unit per byte; null gives the empty string.
  static Ref<String> FromNarrowZ(const char* text);
  /// Units up to the zero unit; null gives the empty string.
  static Ref<String> FromWideZ(const char16_t* text);
  /// Exactly `count` bytes (zeros included), one unit per byte.
  static Ref<String> FromNarrowSpan(const void* bytes, Int count);
  /// Exactly `count` units.
  static Ref<String> FromWideSpan(const char16_t* units, Int count);
  /// 1 when the string starts with `prefix` (always for an empty one), else 0.
  virtual Int HasPrefix(const Ref<String>& prefix);
  /// 1 when the string ends with `suffix`, else 0.
  virtual Int HasSuffix(const Ref<String>& suffix);
  /// 1 when `sub` occurs anywhere, else 0.
  virtual Int Includes(const Ref<String>& sub);
  /// Pieces between the occurrences of `separator` (empty pieces included),
  /// or with an empty separator the runs of units above U+0020 (the shared
  /// empty array when there is none). A String array ("$"); include
  /// runtime/array.h to use it.
  virtual Ref<Array> SplitOn(const Ref<String>& separator);
  /// The strings of `parts` (a String array) with this string between
  /// neighbours. Null and the empty array give the empty string.
  virtual Ref<String> JoinWith(const Ref<Array>& parts);
  /// Decodes UTF-8 up to the zero byte, without testing continuation
  /// patterns (overlong forms pass); null gives the empty string. Raises the
  /// String "Unicode character out of UCS-2 range" for a code point above
  /// U+FFFF. Never reads past the zero byte, even inside a cut sequence.
  static Ref<String> FromUtf8Z(const char* text);
  /// UTF-8 form, each unit encoded by itself, zero-terminated. Owned by the caller.
  virtual std::unique_ptr<char[]> ToUtf8Z();

  // A string's units live in the same allocation, after the object
  // (Allocate): deleting one must free that whole block, as allocated, not
  // the size of a String that a sized global delete would be told.
  static void operator delete(void* p) { ::operator delete(p); }

 private:
  explicit String(Int length) noexcept;
  static Ref<String> Allocate(Int length, char16_t** units);

  Int length_;
  const char16_t* data_;
};

template <class Fill>
Ref<String> String::Build(Int length, Fill&& fill) {
  if (length <= 0) return Empty();
  char16_t* units = nullptr;
  Ref<String> s = Allocate(length, &units);
  fill(units);
  return s;
}

/// A Null string argument reads as the empty string.
inline const String& Text(const Ref<String>& s) { return s ? *s : *String::Empty(); }

/// `a` followed by `b` (Null reads as empty). A result longer than 2^31-1
/// units throws std::bad_alloc, as running out of memory does.
Ref<String> Concat(const Ref<String>& a, const Ref<String>& b);
/// Units `begin` .. `end`-1; positions outside the string read as spaces.
Ref<String> Slice(const Ref<String>& s, Int begin, Int end);
/// One-unit string of the low 16 bits of `code`.
Ref<String> CodeToString(Int code);
/// First unit as 0..65535, or -1 for the empty string.
Int FirstCode(const Ref<String>& s);
/// Temporary zero-terminated conversions (ToNarrowZ, ToWideZ, ToUtf8Z; Null
/// reads as empty), valid until 32 more are made on any thread. Raise
/// nothing.
const char* TempNarrowZ(const Ref<String>& s);
const char16_t* TempWideZ(const Ref<String>& s);
const char* TempUtf8Z(const Ref<String>& s);
/// Code-unit order: the difference of the first differing units, else the
/// difference of the lengths.
Int CompareUnits(const String& a, const String& b) noexcept;
/// String equality: Compare gives 0.
bool Equals(const Ref<String>& a, const Ref<String>& b);

/// Bytes of an 8-bit string as a String, one unit per byte.
inline Ref<String> FromBytes(std::string_view bytes) {
  return String::FromNarrowSpan(bytes.data(), static_cast<Int>(bytes.size()));
}
/// Low 8 bits of each unit.
std::string ToBytes(const Ref<String>& s);
/// Code units as a String (the form in which names come back from the
/// platform layer).
inline Ref<String> FromUnits(std::u16string_view units) {
  return String::FromWideSpan(units.data(), static_cast<Int>(units.size()));
}
/// Whether some unit's low 8 bits are 0 (U+0000, U+0100, U+0200, ...).
/// Narrowed for a call that takes bytes (a host name), such a name would
/// end at that unit and name something else, so it must not go there.
bool HoldsNarrowZero(const Ref<String>& s);

template <std::size_t N>
struct LiteralText {
  char16_t units[N]{};
  constexpr LiteralText(const char (&s)[N]) {
    for (std::size_t i = 0; i < N; ++i) units[i] = static_cast<unsigned char>(s[i]);
  }
  constexpr LiteralText(const char16_t (&s)[N]) {
    for (std::size_t i = 0; i < N; ++i) units[i] = s[i];
  }
  static constexpr Int kLength = static_cast<Int>(N) - 1;
};

/// A string literal: `"Executing "_s`. Static, shared by every use, never
/// allocated on the heap. Narrow literals map each byte to one unit.
template <LiteralText L>
Ref<String> operator""_s() {
  if constexpr (L.kLength == 0) {
    return String::Empty();
  } else {
    static NoDestroy<String> literal(String::LiteralTag{}, L.units, L.kLength);
    return Ref<String>(&literal.get());
  }
}

}  // namespace corvid
