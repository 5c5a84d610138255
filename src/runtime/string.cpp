#include "runtime/string.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <utility>
#include <vector>

#include "runtime/array.h"
#include "runtime/case_map.h"
#include "runtime/error.h"

namespace corvid {

namespace {

const char16_t kNoUnits[1] = {0};

// Lengths are Int; a longer text cannot be a string.
Int CheckedLength(Long length) {
  if (length > INT32_MAX) throw std::bad_alloc();
  return static_cast<Int>(length);
}

}  // namespace

String::String(Int length) noexcept
    : length_(length), data_(reinterpret_cast<const char16_t*>(this + 1)) {}

const Ref<String>& String::Empty() {
  static NoDestroy<String> empty(LiteralTag{}, kNoUnits, 0);
  static NoDestroy<Ref<String>> ref(&empty.get());
  return ref.get();
}

Ref<String> String::Allocate(Int length, char16_t** units) {
  static_assert(sizeof(String) % alignof(char16_t) == 0);
  void* memory =
      ::operator new(sizeof(String) + static_cast<std::size_t>(length) * sizeof(char16_t));
  String* s = new (memory) String(length);
  *units = reinterpret_cast<char16_t*>(s + 1);
  return Ref<String>(s);
}

Ref<String> String::ToString() { return Ref<String>(this); }

Int CompareUnits(const String& a, const String& b) noexcept {
  Int n = std::min(a.Length(), b.Length());
  const char16_t* x = a.Data();
  const char16_t* y = b.Data();
  for (Int i = 0; i < n; ++i) {
    if (x[i] != y[i]) return Int{x[i]} - Int{y[i]};
  }
  return a.Length() - b.Length();
}

Int String::Compare(const Ref<Object>& other) {
  const String* b = CastTo<String>(other.Get());
  if (!b) return Object::Compare(other);
  return CompareUnits(*this, *b);
}

Int String::IndexOf(const Ref<String>& subRef, Int start) {
  const String& sub = Text(subRef);
  if (start < 0) start = 0;
  if (start > length_) return -1;
  std::size_t at = View().find(sub.View(), static_cast<std::size_t>(start));
  return at == std::u16string_view::npos ? -1 : static_cast<Int>(at);
}

Int String::LastIndexOf(const Ref<String>& subRef, Int start) {
  const String& sub = Text(subRef);
  if (start < 0) start = 0;
  Long i = Long{length_} - start;
  if (i + sub.length_ > length_) i = Long{length_} - sub.length_;
  if (i < 0) return -1;
  std::size_t at = View().rfind(sub.View(), static_cast<std::size_t>(i));
  return at == std::u16string_view::npos ? -1 : static_cast<Int>(at);
}

Ref<String> String::Trimmed() {
  Int begin = 0, end = length_;
  while (begin < end && data_[begin] <= 32) ++begin;
  while (end > begin && data_[end - 1] <= 32) --end;
  if (begin == 0 && end == length_) return Ref<String>(this);
  return FromWideSpan(data_ + begin, end - begin);
}

namespace {

// Positions of the non-overlapping occurrences of `pattern`, leftmost first.
// `pattern` is not empty.
std::vector<std::size_t> Occurrences(std::u16string_view text, std::u16string_view pattern) {
  std::vector<std::size_t> found;
  for (std::size_t at = text.find(pattern); at != text.npos; at = text.find(pattern, at + pattern.size()))
    found.push_back(at);
  return found;
}

}  // namespace

Ref<String> String::ReplaceAll(const Ref<String>& subRef, const Ref<String>& withRef) {
  const String& sub = Text(subRef);
  const String& with = Text(withRef);
  if (sub.length_ == 0) return Ref<String>(this);
  std::vector<std::size_t> found = Occurrences(View(), sub.View());
  if (found.empty()) return Ref<String>(this);
  Long count = static_cast<Long>(found.size());
  Int length = CheckedLength(Long{length_} + (Long{with.length_} - sub.length_) * count);
  return Build(length, [&](char16_t* out) {
    std::size_t from = 0;
    for (std::size_t at : found) {
      out = std::copy(data_ + from, data_ + at, out);
      out = std::copy(with.data_, with.data_ + with.length_, out);
      from = at + static_cast<std::size_t>(sub.length_);
    }
    std::copy(data_ + from, data_ + length_, out);
  });
}

namespace {

template <class Unsigned>
Unsigned ParseInteger(std::u16string_view s) {
  std::size_t i = 0, n = s.size();
  auto space = [](char16_t c) { return c == 32 || (c >= 9 && c <= 13); };
  while (i < n && space(s[i])) ++i;
  if (i == n) return 0;
  bool negative = false;
  if (s[i] == u'+' || s[i] == u'-') {
    negative = s[i] == u'-';
    ++i;
  }
  if (i == n) return 0;
  Unsigned value = 0;
  if (s[i] == u'%') {
    for (++i; i < n && (s[i] == u'0' || s[i] == u'1'); ++i) value = value * 2 + (s[i] - u'0');
  } else if (s[i] == u'$') {
    for (++i; i < n; ++i) {
      char16_t c = s[i];
      unsigned digit;
      if (c >= u'0' && c <= u'9') digit = c - u'0';
      else if (c >= u'A' && c <= u'F') digit = c - u'A' + 10;
      else if (c >= u'a' && c <= u'f') digit = c - u'a' + 10;
      else break;
      value = value * 16 + digit;
    }
  } else {
    for (; i < n && s[i] >= u'0' && s[i] <= u'9'; ++i) value = value * 10 + (s[i] - u'0');
  }
  return negative ? static_cast<Unsigned>(Unsigned{0} - value) : value;
}

}  // namespace

Int String::ParseInt() { return static_cast<Int>(ParseInteger<std::uint32_t>(View())); }
Long String::ParseLong() { return static_cast<Long>(ParseInteger<std::uint64_t>(View())); }
// The C library reads the narrowed text (a unit with a zero low byte ends
// it); the program never changes the C locale, so "." is the decimal point.
// strtod rather than atof, its equal: MinGW puts its own C99 strtod in place
// of the system library's, which knows no "nan" and "inf", but not atof.
Double String::ParseDouble() { return std::strtod(ToNarrowZ().get(), nullptr); }
Float String::ParseFloat() {
  Double value = ParseDouble();
  // Narrowing a double beyond the float range is undefined in C++; round it
  // the way the floating-point unit does: to the largest float up to half a
  // unit in the last place above it, to infinity beyond.
  constexpr Double kMax = std::numeric_limits<Float>::max();
  constexpr Double kHalfUlp = 0x1p103;
  if (std::isfinite(value) && std::fabs(value) > kMax) {
    Float limit = std::fabs(value) < kMax + kHalfUlp ? std::numeric_limits<Float>::max()
                                                     : std::numeric_limits<Float>::infinity();
    return std::signbit(value) ? -limit : limit;
  }
  return static_cast<Float>(value);
}

std::unique_ptr<char[]> String::ToNarrowZ() {
  auto out = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(length_) + 1);
  for (Int i = 0; i < length_; ++i) out[i] = static_cast<char>(data_[i] & 0xFF);
  out[length_] = 0;
  return out;
}

std::unique_ptr<char16_t[]> String::ToWideZ() {
  auto out = std::make_unique_for_overwrite<char16_t[]>(static_cast<std::size_t>(length_) + 1);
  std::copy(data_, data_ + length_, out.get());
  out[length_] = 0;
  return out;
}

Ref<String> String::FormatInt(Int value) { return FormatLong(value); }

Ref<String> String::FormatLong(Long value) {
  char digits[24];
  char* end = digits + sizeof digits;
  char* p = end;
  // Work on the magnitude as unsigned so the most negative value needs no
  // special case and nothing overflows.
  std::uint64_t magnitude =
      value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  do {
    *--p = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) *--p = '-';
  return FromNarrowSpan(p, static_cast<Int>(end - p));
}

Ref<String> String::FormatFloat(Float value) {
  char text[64];
  std::snprintf(text, sizeof text, "%#.9g", static_cast<double>(value));
  return FromNarrowZ(text);
}

Ref<String> String::FormatDouble(Double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%#.17lg", value);
  return FromNarrowZ(text);
}

Ref<String> String::FromNarrowZ(const char* text) {
  if (!text) return Empty();
  return FromNarrowSpan(text, CheckedLength(static_cast<Long>(std::strlen(text))));
}

Ref<String> String::FromWideZ(const char16_t* text) {
  if (!text) return Empty();
  return FromWideSpan(text,
                      CheckedLength(static_cast<Long>(std::char_traits<char16_t>::length(text))));
}

Ref<String> String::FromNarrowSpan(const void* bytes, Int count) {
  const auto* in = static_cast<const unsigned char*>(bytes);
  return Build(count, [&](char16_t* out) { std::copy(in, in + count, out); });
}

Ref<String> String::FromWideSpan(const char16_t* units, Int count) {
  return Build(count, [&](char16_t* out) { std::copy(units, units + count, out); });
}

Int String::HasPrefix(const Ref<String>& prefix) {
  const String& p = Text(prefix);
  if (p.length_ > length_) return 0;
  return View().substr(0, static_cast<std::size_t>(p.length_)) == p.View() ? 1 : 0;
}

Int String::HasSuffix(const Ref<String>& suffix) {
  const String& p = Text(suffix);
  if (p.length_ > length_) return 0;
  return View().substr(static_cast<std::size_t>(length_ - p.length_)) == p.View() ? 1 : 0;
}

Int String::Includes(const Ref<String>& sub) { return IndexOf(sub, 0) != -1 ? 1 : 0; }

Ref<Array> String::SplitOn(const Ref<String>& separatorRef) {
  const String& separator = Text(separatorRef);
  std::vector<Ref<String>> pieces;
  if (separator.length_ > 0) {
    std::size_t from = 0;
    for (std::size_t at : Occurrences(View(), separator.View())) {
      pieces.push_back(FromWideSpan(data_ + from, static_cast<Int>(at - from)));
      from = at + static_cast<std::size_t>(separator.length_);
    }
    pieces.push_back(FromWideSpan(data_ + from, static_cast<Int>(static_cast<std::size_t>(length_) - from)));
  } else {
    // Runs of control characters and spaces only separate.
    Int i = 0;
    while (i < length_) {
      while (i < length_ && data_[i] <= 32) ++i;
      Int begin = i;
      while (i < length_ && data_[i] > 32) ++i;
      if (i > begin) pieces.push_back(FromWideSpan(data_ + begin, i - begin));
    }
  }
  return Array::FromStrings(pieces);
}

Ref<String> String::JoinWith(const Ref<Array>& parts) {
  if (!parts || parts->Count() == 0) return Empty();
  std::span<const Ref<String>> items = std::as_const(*parts).Elements<Ref<String>>();
  Long total = Long{length_} * static_cast<Long>(items.size() - 1);
  for (const Ref<String>& item : items) total += Text(item).length_;
  return Build(CheckedLength(total), [&](char16_t* out) {
    for (std::size_t k = 0; k < items.size(); ++k) {
      if (k > 0) out = std::copy(data_, data_ + length_, out);
      const String& item = Text(items[k]);
      out = std::copy(item.data_, item.data_ + item.length_, out);
    }
  });
}

Ref<String> String::FromUtf8Z(const char* text) {
  if (!text) return Empty();
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  std::vector<char16_t> units;
  units.reserve(std::strlen(text));
  // Continuation bytes are taken without testing their pattern, but a zero
  // byte always ends the text, also inside a sequence: a cut sequence gives
  // the bits that were there, the missing ones read as zero.
  auto next = [&p]() -> unsigned {
    if (*p == 0) return 0;
    return *p++ & 0x3Fu;
  };
  while (*p != 0) {
    unsigned x = *p++;
    if (x <= 0x7F) {
      units.push_back(static_cast<char16_t>(x));
    } else if (x <= 0xDF) {
      unsigned b = next();
      units.push_back(static_cast<char16_t>((x & 0x1F) << 6 | b));
    } else if (x <= 0xEF) {
      unsigned b = next();
      unsigned d = next();
      units.push_back(static_cast<char16_t>((x & 0x0F) << 12 | b << 6 | d));
    } else {
      unsigned b = next();
      unsigned d = next();
      unsigned e = next();
      unsigned code = (x & 7) << 18 | b << 12 | d << 6 | e;
      if (code >= 0x10000) RaiseText("Unicode character out of UCS-2 range");
      units.push_back(static_cast<char16_t>(code));
    }
  }
  return FromWideSpan(units.data(), CheckedLength(static_cast<Long>(units.size())));
}

std::unique_ptr<char[]> String::ToUtf8Z() {
  auto out = std::make_unique_for_overwrite<char[]>(3 * static_cast<std::size_t>(length_) + 1);
  std::size_t n = 0;
  for (Int i = 0; i < length_; ++i) {
    unsigned u = data_[i];
    if (u <= 0x7F) {
      out[n++] = static_cast<char>(u);
    } else if (u <= 0x7FF) {
      out[n++] = static_cast<char>(0xC0 | u >> 6);
      out[n++] = static_cast<char>(0x80 | (u & 0x3F));
    } else {
      out[n++] = static_cast<char>(0xE0 | u >> 12);
      out[n++] = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      out[n++] = static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  out[n] = 0;
  return out;
}

Ref<String> Concat(const Ref<String>& aRef, const Ref<String>& bRef) {
  const String& a = Text(aRef);
  const String& b = Text(bRef);
  return String::Build(CheckedLength(Long{a.Length()} + b.Length()), [&](char16_t* out) {
    out = std::copy(a.Data(), a.Data() + a.Length(), out);
    std::copy(b.Data(), b.Data() + b.Length(), out);
  });
}

Ref<String> Slice(const Ref<String>& sRef, Int begin, Int end) {
  const String& s = Text(sRef);
  Long length = Long{end} - begin;
  if (length <= 0) return String::Empty();
  // Inside the string: units from..to-1; the rest reads as spaces.
  Long from = std::clamp<Long>(begin, 0, s.Length());
  Long to = std::clamp<Long>(end, from, s.Length());
  return String::Build(CheckedLength(length), [&](char16_t* out) {
    if (from >= to) {
      std::fill_n(out, length, u' ');
      return;
    }
    out = std::fill_n(out, from - begin, u' ');
    out = std::copy(s.Data() + from, s.Data() + to, out);
    std::fill_n(out, Long{end} - to, u' ');
  });
}

Ref<String> CodeToString(Int code) {
  char16_t unit = static_cast<char16_t>(code & 0xFFFF);
  return String::FromWideSpan(&unit, 1);
}

Int FirstCode(const Ref<String>& s) { return Text(s).Length() == 0 ? -1 : Int{Text(s)[0]}; }

bool Equals(const Ref<String>& a, const Ref<String>& b) {
  return Text(a).View() == Text(b).View();
}

std::string ToBytes(const Ref<String>& sRef) {
  const String& s = Text(sRef);
  std::string out(static_cast<std::size_t>(s.Length()), '\0');
  for (Int i = 0; i < s.Length(); ++i)
    out[static_cast<std::size_t>(i)] = static_cast<char>(s[i] & 0xFF);
  return out;
}

bool HoldsNarrowZero(const Ref<String>& s) {
  for (char16_t unit : Text(s).View()) {
    if ((unit & 0xFF) == 0) return true;
  }
  return false;
}

namespace {

// Temporary conversions live in a ring of 32 slots; a buffer stays valid
// until 32 further temporary conversions have been made. Each slot is
// swapped atomically, so threads that meet at one slot each free exactly
// the buffer they replaced.
class TempRing {
 public:
  static constexpr unsigned kSlots = 32;

  template <class T>
  const T* Keep(std::unique_ptr<T[]> buffer) {
    unsigned slot = counter_.fetch_add(1, std::memory_order_relaxed) % kSlots;
    const T* p = buffer.get();
    char* narrow = nullptr;
    char16_t* wide = nullptr;
    if constexpr (std::is_same_v<T, char>) narrow = buffer.release();
    else wide = buffer.release();
    delete[] narrow_[slot].exchange(narrow, std::memory_order_acq_rel);
    delete[] wide_[slot].exchange(wide, std::memory_order_acq_rel);
    return p;
  }

 private:
  std::atomic<unsigned> counter_{0};
  std::array<std::atomic<char*>, kSlots> narrow_{};
  std::array<std::atomic<char16_t*>, kSlots> wide_{};
};

TempRing& Ring() {
  static NoDestroy<TempRing> ring;
  return ring.get();
}

}  // namespace

const char* TempNarrowZ(const Ref<String>& s) {
  return Ring().Keep(s ? s->ToNarrowZ() : String::Empty()->ToNarrowZ());
}
const char16_t* TempWideZ(const Ref<String>& s) {
  return Ring().Keep(s ? s->ToWideZ() : String::Empty()->ToWideZ());
}
const char* TempUtf8Z(const Ref<String>& s) {
  return Ring().Keep(s ? s->ToUtf8Z() : String::Empty()->ToUtf8Z());
}

// Every case mapping builds a new string, even when nothing changes.
Ref<String> String::Lowercased() {
  return Build(length_, [&](char16_t* out) {
    for (Int i = 0; i < length_; ++i) out[i] = LowerUnit(data_[i]);
  });
}

Ref<String> String::Uppercased() {
  return Build(length_, [&](char16_t* out) {
    for (Int i = 0; i < length_; ++i) out[i] = UpperUnit(data_[i]);
  });
}

}  // namespace corvid
