#include "runtime/string.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/error.h"

namespace corvid {

namespace {

const char16_t kNoUnits[1] = {0};

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
  void* memory = ::operator new(sizeof(String) + static_cast<std::size_t>(length) * sizeof(char16_t));
  String* s = new (memory) String(length);
  *units = reinterpret_cast<char16_t*>(s + 1);
  return Ref<String>(s);
}

Ref<String> String::ToString() { return Ref<String>(this); }

Int String::Compare(const Ref<Object>& other) {
  String* b = CastTo<String>(other.Get());
  if (!b) return Object::Compare(other);
  Int n = length_ < b->length_ ? length_ : b->length_;
  for (Int i = 0; i < n; ++i) {
    if (data_[i] != b->data_[i]) return Int{data_[i]} - Int{b->data_[i]};
  }
  return length_ - b->length_;
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
  for (; i >= 0; --i) {
    if (View().substr(static_cast<std::size_t>(i), static_cast<std::size_t>(sub.length_)) == sub.View())
      return static_cast<Int>(i);
  }
  return -1;
}

Ref<String> String::Trimmed() {
  Int begin = 0, end = length_;
  while (begin < end && data_[begin] <= 32) ++begin;
  while (end > begin && data_[end - 1] <= 32) --end;
  if (begin == 0 && end == length_) return Ref<String>(this);
  return FromWideSpan(data_ + begin, end - begin);
}

Ref<String> String::ReplaceAll(const Ref<String>& subRef, const Ref<String>& withRef) {
  const String& sub = Text(subRef);
  const String& with = Text(withRef);
  if (sub.length_ == 0) return Ref<String>(this);
  std::u16string_view text = View(), pattern = sub.View();
  Long count = 0;
  for (std::size_t at = text.find(pattern); at != text.npos; at = text.find(pattern, at + pattern.size()))
    ++count;
  if (count == 0) return Ref<String>(this);
  Long length = Long{length_} + (Long{with.length_} - sub.length_) * count;
  if (length > INT32_MAX) throw std::bad_alloc();
  return Build(static_cast<Int>(length), [&](char16_t* out) {
    std::size_t from = 0;
    for (std::size_t at = text.find(pattern); at != text.npos; at = text.find(pattern, from)) {
      out = std::copy(text.begin() + static_cast<std::ptrdiff_t>(from), text.begin() + static_cast<std::ptrdiff_t>(at), out);
      out = std::copy(with.data_, with.data_ + with.length_, out);
      from = at + pattern.size();
    }
    std::copy(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(), out);
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
Double String::ParseDouble() { return std::atof(TempNarrowZ(Ref<String>(this))); }
Float String::ParseFloat() { return static_cast<Float>(ParseDouble()); }

std::unique_ptr<char[]> String::ToNarrowZ() {
  auto out = std::make_unique<char[]>(static_cast<std::size_t>(length_) + 1);
  for (Int i = 0; i < length_; ++i) out[i] = static_cast<char>(data_[i] & 0xFF);
  out[length_] = 0;
  return out;
}

std::unique_ptr<char16_t[]> String::ToWideZ() {
  auto out = std::make_unique<char16_t[]>(static_cast<std::size_t>(length_) + 1);
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
  std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
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
  return FromNarrowSpan(text, static_cast<Int>(std::strlen(text)));
}

Ref<String> String::FromWideZ(const char16_t* text) {
  if (!text) return Empty();
  return FromWideSpan(text, static_cast<Int>(std::char_traits<char16_t>::length(text)));
}

Ref<String> String::FromNarrowSpan(const void* bytes, Int count) {
  const auto* in = static_cast<const unsigned char*>(bytes);
  return Build(count, [&](char16_t* out) { std::copy(in, in + count, out); });
}

Ref<String> String::FromWideSpan(const char16_t* units, Int count) {
  return Build(count, [&](char16_t* out) { std::copy(units, units + count, out); });
}

Int String::HasPrefix(const Ref<String>& prefix) {
  return View().substr(0, Text(prefix).View().size()) == Text(prefix).View() &&
                 Text(prefix).length_ <= length_
             ? 1
             : 0;
}

Int String::HasSuffix(const Ref<String>& suffix) {
  const String& p = Text(suffix);
  if (p.length_ > length_) return 0;
  return View().substr(static_cast<std::size_t>(length_ - p.length_)) == p.View() ? 1 : 0;
}

Int String::Includes(const Ref<String>& sub) { return IndexOf(sub, 0) != -1 ? 1 : 0; }

Ref<String> String::FromUtf8Z(const char* text) {
  if (!text) return Empty();
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  std::size_t bytes = std::strlen(text);
  std::u16string units;
  units.reserve(bytes);
  // Continuation bytes are taken without testing their pattern, but a zero
  // byte always ends the text, also inside a sequence: a cut sequence gives
  // the bits that were there.
  auto next = [&p]() -> unsigned {
    if (*p == 0) return 0;
    return *p++ & 0x3F;
  };
  while (*p != 0) {
    unsigned x = *p++;
    if (x <= 0x7F) {
      units.push_back(static_cast<char16_t>(x));
    } else if (x <= 0xDF) {
      unsigned b = next();
      units.push_back(static_cast<char16_t>((x & 0x1F) << 6 | b));
    } else if (x <= 0xEF) {
      unsigned b = next(), d = next();
      units.push_back(static_cast<char16_t>((x & 0x0F) << 12 | b << 6 | d));
    } else {
      unsigned b = next(), d = next(), e = next();
      unsigned code = (x & 7) << 18 | b << 12 | d << 6 | e;
      if (code >= 0x10000) RaiseText("Unicode character out of UCS-2 range");
      units.push_back(static_cast<char16_t>(code));
    }
  }
  return FromWideSpan(units.data(), static_cast<Int>(units.size()));
}

std::unique_ptr<char[]> String::ToUtf8Z() {
  auto out = std::make_unique<char[]>(3 * static_cast<std::size_t>(length_) + 1);
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
  Long length = Long{a.Length()} + b.Length();
  if (length > INT32_MAX) throw std::bad_alloc();
  return String::Build(static_cast<Int>(length), [&](char16_t* out) {
    out = std::copy(a.Data(), a.Data() + a.Length(), out);
    std::copy(b.Data(), b.Data() + b.Length(), out);
  });
}

Ref<String> Slice(const Ref<String>& sRef, Int begin, Int end) {
  const String& s = Text(sRef);
  Long length = Long{end} - begin;
  if (length <= 0) return String::Empty();
  if (length > INT32_MAX) throw std::bad_alloc();
  return String::Build(static_cast<Int>(length), [&](char16_t* out) {
    for (Long k = 0; k < length; ++k) {
      Long i = begin + k;
      out[k] = i >= 0 && i < s.Length() ? s[static_cast<Int>(i)] : u' ';
    }
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
  for (Int i = 0; i < s.Length(); ++i) out[static_cast<std::size_t>(i)] = static_cast<char>(s[i] & 0xFF);
  return out;
}

namespace {

// Temporary conversions live in a ring of 32 slots; a buffer stays valid
// until 32 further temporary conversions have been made.
struct TempRing {
  static constexpr unsigned kSlots = 32;
  std::atomic<unsigned> counter{0};
  std::array<std::unique_ptr<char[]>, kSlots> narrow;
  std::array<std::unique_ptr<char16_t[]>, kSlots> wide;

  template <class T>
  T* Keep(std::unique_ptr<T[]> buffer) {
    unsigned slot = counter.fetch_add(1, std::memory_order_relaxed) % kSlots;
    T* p = buffer.get();
    if constexpr (std::is_same_v<T, char>) {
      wide[slot].reset();
      narrow[slot] = std::move(buffer);
    } else {
      narrow[slot].reset();
      wide[slot] = std::move(buffer);
    }
    return p;
  }
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

}  // namespace corvid

#include "runtime/case_map.h"

namespace corvid {

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
