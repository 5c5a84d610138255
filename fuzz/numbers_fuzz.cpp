// Fuzz target: the text-to-number parsers and the number formats. Parsing
// is checked against the rules written out here on their own, formatting
// by reading the text back where that is exact.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "check.h"
#include "runtime/string.h"

namespace {

using namespace corvid;

// The integer rules: white space 9-13 and 32, one sign, then "%" binary,
// "$" hexadecimal or decimal digits up to the first other unit, wrapping.
std::uint64_t ReferenceParse(std::u16string_view s) {
  auto at = s.begin();
  while (at != s.end() && (*at == 32 || (*at >= 9 && *at <= 13))) ++at;
  bool negative = false;
  if (at != s.end() && (*at == '+' || *at == '-')) negative = *at++ == '-';
  unsigned base = 10;
  if (at != s.end() && (*at == '%' || *at == '$')) base = *at++ == '%' ? 2 : 16;
  std::uint64_t value = 0;
  for (; at != s.end(); ++at) {
    unsigned digit = 99;
    if (*at >= '0' && *at <= '9') digit = *at - '0';
    if (base == 16 && *at >= 'a' && *at <= 'f') digit = *at - 'a' + 10;
    if (base == 16 && *at >= 'A' && *at <= 'F') digit = *at - 'A' + 10;
    if (digit >= base) break;
    value = value * base + digit;
  }
  return negative ? 0 - value : value;
}

bool SameDouble(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

// The text as units: each byte one unit, or (first byte odd) pairs of
// bytes, low byte first, so that units above U+00FF come too.
Ref<String> TextOf(FuzzedDataProvider& data) {
  bool wide = data.ConsumeBool();
  std::string bytes = data.ConsumeRandomLengthString(256);
  if (!wide) return FromBytes(bytes);
  std::u16string units;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    units += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                   static_cast<unsigned char>(bytes[i + 1]) << 8);
  return String::FromWideSpan(units.data(), static_cast<Int>(units.size()));
}

void CheckParsers(const Ref<String>& text) {
  std::uint64_t expected = ReferenceParse(text->View());
  Long parsedLong = text->ParseLong();
  Int parsedInt = text->ParseInt();
  Check(static_cast<std::uint64_t>(parsedLong) == expected, "ParseLong");
  Check(static_cast<std::uint32_t>(parsedInt) == static_cast<std::uint32_t>(expected), "ParseInt");

  // The C library's reading of the narrowed text, up to its first zero.
  std::string narrow = ToBytes(text);
  double parsed = text->ParseDouble();
  Check(SameDouble(parsed, std::strtod(narrow.c_str(), nullptr)), "ParseDouble");
  float parsedFloat = text->ParseFloat();
  if (!std::isfinite(parsed) || std::fabs(parsed) <= std::numeric_limits<float>::max()) {
    Check(SameDouble(parsedFloat, static_cast<float>(parsed)), "ParseFloat in range");
  } else {
    Check(std::fabs(parsedFloat) >= std::numeric_limits<float>::max() &&
              std::signbit(parsedFloat) == std::signbit(parsed),
          "ParseFloat beyond the range");
  }
}

void CheckFormats(FuzzedDataProvider& data) {
  auto value = data.ConsumeIntegral<std::int64_t>();
  Ref<String> longText = String::FormatLong(value);
  Check(ToBytes(longText) == std::to_string(value), "FormatLong");
  Check(longText->ParseLong() == value, "FormatLong read back");
  auto small = static_cast<Int>(value);
  Check(String::FormatInt(small)->ParseInt() == small, "FormatInt read back");

  // 17 significant digits give every double back, 9 every float.
  double real;
  std::uint64_t bits = data.ConsumeIntegral<std::uint64_t>();
  std::memcpy(&real, &bits, sizeof real);
  Ref<String> realText = String::FormatDouble(real);
  Check(SameDouble(realText->ParseDouble(), real), "FormatDouble read back");
  float single;
  auto singleBits = static_cast<std::uint32_t>(bits >> 7);
  std::memcpy(&single, &singleBits, sizeof single);
  Ref<String> singleText = String::FormatFloat(single);
  Check(SameDouble(singleText->ParseFloat(), single), "FormatFloat read back");
  // The "#" flag keeps the decimal point in every finite value.
  if (std::isfinite(real)) Check(realText->Includes("."_s), "FormatDouble point");
  if (std::isfinite(single)) Check(singleText->Includes("."_s), "FormatFloat point");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider data(bytes, size);
  CheckFormats(data);
  CheckParsers(TextOf(data));
  return 0;
}
