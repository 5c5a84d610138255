// Tests for strings: searching, slicing, replacing, splitting, case mapping,
// number parsing and formatting, and the 8-bit, 16-bit and UTF-8 conversions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "runtime/array.h"
#include "runtime/internal/case_map.h"
#include "runtime/error.h"
#include "runtime/string.h"
#include "support/raised.h"
#include "support/test_support.h"

namespace corvid {
namespace {

using testing::Units;

Ref<String> S(std::u16string_view units) {
  return String::FromWideSpan(units.data(), static_cast<Int>(units.size()));
}
// A literal with embedded zero units, taken whole.
template <std::size_t N>
Ref<String> Z(const char16_t (&units)[N]) {
  return String::FromWideSpan(units, static_cast<Int>(N - 1));
}
Ref<String> N(std::string_view bytes) { return FromBytes(bytes); }

std::vector<std::u16string> Pieces(const Ref<Array>& a) {
  std::vector<std::u16string> out;
  for (const Ref<String>& s : a->Elements<Ref<String>>()) out.push_back(Units(s));
  return out;
}

TEST(StringBasics, EmptyResultsAreTheSharedEmptyString) {
  EXPECT_EQ(Concat(""_s, ""_s), String::Empty());
  EXPECT_EQ(Slice("abc"_s, 2, 2), String::Empty());
  EXPECT_EQ(String::FromNarrowSpan("x", 0), String::Empty());
  EXPECT_EQ(String::FromNarrowZ(nullptr), String::Empty());
  EXPECT_EQ(String::FromWideZ(nullptr), String::Empty());
  EXPECT_EQ("   "_s->Trimmed(), String::Empty());
  EXPECT_EQ(""_s->Lowercased(), String::Empty());
}

TEST(StringBasics, CodesAndCompare) {
  EXPECT_EQ(Units(CodeToString(65)), u"A");
  EXPECT_EQ(Units(CodeToString(65536 + 66)), u"B");
  EXPECT_EQ(Units(CodeToString(-1)), u"\xFFFF");
  EXPECT_EQ(FirstCode(""_s), -1);
  EXPECT_EQ(FirstCode(N("\xE9")), 233);
  EXPECT_EQ(FirstCode(nullptr), -1);
  EXPECT_EQ("abc"_s->Compare("abd"_s), -1);
  EXPECT_EQ("ab"_s->Compare("abc"_s), -1);
  EXPECT_EQ("b"_s->Compare("abc"_s), 1);
  EXPECT_EQ("a"_s->Compare("A"_s), 32);
  // Units compare unsigned: U+FFFF sorts after 'a'.
  EXPECT_GT(S(u"\xFFFF")->Compare("a"_s), 0);
  EXPECT_TRUE(Equals("abc"_s, N("abc")));
  EXPECT_FALSE(Equals("abc"_s, "ab"_s));
  EXPECT_TRUE(Equals(nullptr, ""_s));
}

TEST(StringBasics, SlicePadsWithSpacesOnEitherSide) {
  EXPECT_EQ(Units(Slice("abc"_s, -2, 2)), u"  ab");
  EXPECT_EQ(Units(Slice("abc"_s, 1, 6)), u"bc   ");
  EXPECT_EQ(Units(Slice("abc"_s, -2, 5)), u"  abc  ");
  EXPECT_EQ(Units(Slice("abc"_s, 5, 7)), u"  ");
  EXPECT_EQ(Units(Slice("abc"_s, -5, -3)), u"  ");
  EXPECT_EQ(Slice("abc"_s, 3, 1), String::Empty());
  EXPECT_EQ(Slice("abc"_s, INT32_MAX, INT32_MIN), String::Empty());
  EXPECT_EQ(Units(Slice(nullptr, 0, 2)), u"  ");
}

TEST(StringSearch, IndexOf) {
  EXPECT_EQ("aaa"_s->IndexOf("aa"_s, 0), 0);
  EXPECT_EQ("aaa"_s->IndexOf("aa"_s, 1), 1);
  EXPECT_EQ("aaa"_s->IndexOf("aa"_s, 2), -1);
  EXPECT_EQ("abc"_s->IndexOf(""_s, 3), 3);
  EXPECT_EQ("abc"_s->IndexOf(""_s, 4), -1);
  EXPECT_EQ("abc"_s->IndexOf("c"_s, -7), 2);
  EXPECT_EQ("abc"_s->IndexOf("abcd"_s, 0), -1);
  EXPECT_EQ("abc"_s->Includes("bc"_s), 1);
  EXPECT_EQ("abc"_s->Includes("cb"_s), 0);
}

TEST(StringSearch, LastIndexOfCountsStartFromTheEnd) {
  EXPECT_EQ("abcabc"_s->LastIndexOf("abc"_s, 0), 3);
  EXPECT_EQ("abcabc"_s->LastIndexOf("abc"_s, 1), 3);
  EXPECT_EQ("abcabc"_s->LastIndexOf("abc"_s, 3), 3);
  EXPECT_EQ("abcabc"_s->LastIndexOf("abc"_s, 4), 0);
  EXPECT_EQ("abcabc"_s->LastIndexOf("abc"_s, 7), -1);
  EXPECT_EQ("abcabc"_s->LastIndexOf("abc"_s, -5), 3);
  EXPECT_EQ("abcabc"_s->LastIndexOf(""_s, 0), 6);
  EXPECT_EQ("ab"_s->LastIndexOf("abc"_s, 0), -1);
  EXPECT_EQ("abcabc"_s->LastIndexOf("c"_s, INT32_MIN), 5);
}

TEST(StringSearch, PrefixAndSuffix) {
  EXPECT_EQ("abc"_s->HasPrefix(""_s), 1);
  EXPECT_EQ("abc"_s->HasPrefix("ab"_s), 1);
  EXPECT_EQ("abc"_s->HasPrefix("abcd"_s), 0);
  EXPECT_EQ("abc"_s->HasPrefix("b"_s), 0);
  EXPECT_EQ("abc"_s->HasSuffix("bc"_s), 1);
  EXPECT_EQ("abc"_s->HasSuffix("zabc"_s), 0);
  EXPECT_EQ("abc"_s->HasSuffix(""_s), 1);
}

TEST(StringEdit, TrimmedSkipsEveryControlCharacter) {
  Ref<String> plain = "abc"_s;
  EXPECT_EQ(plain->Trimmed(), plain);
  EXPECT_EQ(Units(Z(u"\0\t a b\x1F \x20")->Trimmed()), u"a b");
  EXPECT_EQ(Units(S(u"\x21x\x7F")->Trimmed()), u"\x21x\x7F");
}

TEST(StringEdit, ReplaceAll) {
  EXPECT_EQ(Units("aaaa"_s->ReplaceAll("aa"_s, "b"_s)), u"bb");
  EXPECT_EQ(Units("aaa"_s->ReplaceAll("aa"_s, "b"_s)), u"ba");
  EXPECT_EQ(Units("a.b.c"_s->ReplaceAll("."_s, "::"_s)), u"a::b::c");
  EXPECT_EQ(Units("a.b"_s->ReplaceAll("."_s, ""_s)), u"ab");
  EXPECT_EQ("..."_s->ReplaceAll("."_s, ""_s), String::Empty());
  Ref<String> s = "abc"_s;
  EXPECT_EQ(s->ReplaceAll(""_s, "x"_s), s);
  EXPECT_EQ(s->ReplaceAll("z"_s, "x"_s), s);
}

TEST(StringSplit, OnSeparatorKeepsEmptyPieces) {
  EXPECT_EQ(Pieces("a,,b"_s->SplitOn(","_s)), (std::vector<std::u16string>{u"a", u"", u"b"}));
  EXPECT_EQ(Pieces(",a,"_s->SplitOn(","_s)), (std::vector<std::u16string>{u"", u"a", u""}));
  EXPECT_EQ(Pieces(""_s->SplitOn(","_s)), (std::vector<std::u16string>{u""}));
  EXPECT_EQ(Pieces("a b"_s->SplitOn(" "_s)), (std::vector<std::u16string>{u"a", u"b"}));
  EXPECT_EQ(Pieces("a  b"_s->SplitOn(" "_s)), (std::vector<std::u16string>{u"a", u"", u"b"}));
  EXPECT_EQ(Pieces("aaa"_s->SplitOn("aa"_s)), (std::vector<std::u16string>{u"", u"a"}));
  EXPECT_EQ("a,b"_s->SplitOn(","_s)->TypeCode()->Compare("$"_s), 0);
}

TEST(StringSplit, OnEmptySeparatorTakesRunsAboveSpace) {
  EXPECT_EQ(Pieces(" a  b "_s->SplitOn(""_s)), (std::vector<std::u16string>{u"a", u"b"}));
  EXPECT_EQ(Pieces(Z(u"\tx\ny\0z")->SplitOn(""_s)), (std::vector<std::u16string>{u"x", u"y", u"z"}));
  EXPECT_EQ("   "_s->SplitOn(""_s), Array::Empty());
  EXPECT_EQ(""_s->SplitOn(nullptr), Array::Empty());
}

TEST(StringSplit, JoinWith) {
  EXPECT_EQ(", "_s->JoinWith(Array::Empty()), String::Empty());
  EXPECT_EQ(", "_s->JoinWith(nullptr), String::Empty());
  EXPECT_EQ(Units(", "_s->JoinWith(Array::FromStrings({"a"_s, ""_s, "c"_s}))), u"a, , c");
  EXPECT_EQ(Units("-"_s->JoinWith(Array::FromStrings({"only"_s}))), u"only");
  EXPECT_EQ(Units(""_s->JoinWith(Array::FromStrings({"a"_s, "b"_s}))), u"ab");
  // Split and join are inverses for a non-empty separator.
  Ref<String> text = ",x,,y,"_s;
  EXPECT_TRUE(Equals(","_s->JoinWith(text->SplitOn(","_s)), text));
  // An array of another element type is not a list of strings.
  EXPECT_THROW(","_s->JoinWith(Array::Create("i"_s, 2)), Raised);
}

TEST(StringCase, LatinRangeAndSpecialPairs) {
  EXPECT_EQ(Units("Hello, World! @[`{"_s->Lowercased()), u"hello, world! @[`{");
  EXPECT_EQ(Units("Hello, World! @[`{"_s->Uppercased()), u"HELLO, WORLD! @[`{");
  EXPECT_EQ(Units(S(u"\u00DF")->Uppercased()), u"\u00DF");
  EXPECT_EQ(Units(S(u"\u00B5")->Uppercased()), u"\u039C");
  EXPECT_EQ(Units(S(u"\u01C6\u01C4\u01C5")->Uppercased()), u"\u01C5\u01C5\u01C5");
  EXPECT_EQ(Units(S(u"\u01C4\u01C5")->Lowercased()), u"\u01C6\u01C6");
  EXPECT_EQ(Units(S(u"\u0130")->Lowercased()), u"i");
  EXPECT_EQ(Units(S(u"\u00FF\u0131\u017F")->Uppercased()), u"\u0178IS");
  EXPECT_EQ(Units(S(u"\u2126\u212A\u212B\u1E9E")->Lowercased()), u"\u03C9k\u00E5\u00DF");
  EXPECT_EQ(Units(S(u"\uFF21\uFF3A")->Lowercased()), u"\uFF41\uFF5A");
  // Below the tables only ASCII letters change.
  EXPECT_EQ(Units(S(u"\u00AA\u00B4\u00BF")->Uppercased()), u"\u00AA\u00B4\u00BF");
  // Case mapping always builds a new string.
  Ref<String> s = "abc"_s;
  EXPECT_NE(s->Lowercased(), s);
}

TEST(StringCase, TablesHoldTheUnicode51Pairs) {
  auto lower = LowerCaseTable();
  auto upper = UpperCaseTable();
  ASSERT_EQ(lower.size(), 957u);
  ASSERT_EQ(upper.size(), 965u);
  EXPECT_EQ(lower.front().from, 0x00C0);
  EXPECT_EQ(lower.front().to, 0x00E0);
  EXPECT_EQ(lower.back().from, 0xFF3A);
  EXPECT_EQ(lower.back().to, 0xFF5A);
  EXPECT_EQ(upper.front().from, 0x00B5);
  EXPECT_EQ(upper.front().to, 0x039C);
  EXPECT_EQ(upper.back().from, 0xFF5A);
  EXPECT_EQ(upper.back().to, 0xFF3A);
  for (std::size_t i = 1; i < lower.size(); ++i) ASSERT_LT(lower[i - 1].from, lower[i].from);
  for (std::size_t i = 1; i < upper.size(); ++i) ASSERT_LT(upper[i - 1].from, upper[i].from);
  EXPECT_EQ(UpperUnit(0x0345), 0x0399);
  EXPECT_EQ(UpperUnit(0x1FBE), 0x0399);
  EXPECT_EQ(UpperUnit(0x1F80), 0x1F88);
  for (char16_t digraph : {0x01C4, 0x01C6}) EXPECT_EQ(UpperUnit(digraph), 0x01C5);
  for (char16_t digraph : {0x01C7, 0x01C9}) EXPECT_EQ(UpperUnit(digraph), 0x01C8);
  for (char16_t digraph : {0x01CA, 0x01CC}) EXPECT_EQ(UpperUnit(digraph), 0x01CB);
  for (char16_t digraph : {0x01F1, 0x01F3}) EXPECT_EQ(UpperUnit(digraph), 0x01F2);
  for (char16_t title : {0x01C5, 0x01C8, 0x01CB, 0x01F2}) EXPECT_EQ(UpperUnit(title), title);
  // Characters added after Unicode 5.1 keep their case.
  EXPECT_EQ(LowerUnit(0x2C70), 0x2C70);  // LATIN CAPITAL LETTER TURNED ALPHA, 5.2
  EXPECT_EQ(UpperUnit(0x10D0), 0x10D0);  // Georgian; capitals only since 11.0
}

TEST(StringParse, IntegersFollowTheDigitRules) {
  struct Case {
    std::u16string_view text;
    Int value;
  };
  const Case cases[] = {
      {u"", 0},          {u"   ", 0},     {u"-", 0},       {u"+", 0},        {u"$", 0},
      {u"%", 0},         {u"  42abc", 42}, {u"-17", -17},  {u"+5", 5},       {u"$FF", 255},
      {u"$ff", 255},     {u"-$10", -16},  {u"%101", 5},    {u"%2", 0},       {u"3.9", 3},
      {u"0x1A", 0},      {u"- 5", 0},     {u"+-5", 0},     {u"$-F", 0},      {u"\t\n 12 ", 12},
      {u"\v\f\r7", 7},   {u"\uFF11\uFF12", 0}, {u"\u00A012", 0}, {u"-2147483648", INT32_MIN},
      {u"2147483648", INT32_MIN}, {u"4294967297", 1}, {u"$FFFFFFFF", -1}, {u"$1FFFFFFFF", -1},
      {u"%11111111111111111111111111111111", -1}, {u"-0", 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(S(c.text)->ParseInt(), c.value) << std::string(c.text.begin(), c.text.end());
}

TEST(StringParse, LongsWrapIn64Bits) {
  EXPECT_EQ("9223372036854775808"_s->ParseLong(), INT64_MIN);
  EXPECT_EQ("-9223372036854775808"_s->ParseLong(), INT64_MIN);
  EXPECT_EQ("9223372036854775807"_s->ParseLong(), INT64_MAX);
  EXPECT_EQ("18446744073709551617"_s->ParseLong(), 1);
  EXPECT_EQ("$FFFFFFFFFFFFFFFF"_s->ParseLong(), -1);
  EXPECT_EQ("4294967297"_s->ParseLong(), 4294967297LL);
  EXPECT_EQ(" -$7fffffff"_s->ParseLong(), -2147483647LL);
}

TEST(StringParse, Reals) {
  EXPECT_DOUBLE_EQ("  3.25e2xyz"_s->ParseDouble(), 325.0);
  EXPECT_DOUBLE_EQ("-.5"_s->ParseDouble(), -0.5);
  EXPECT_EQ("abc"_s->ParseDouble(), 0.0);
  EXPECT_EQ(""_s->ParseDouble(), 0.0);
  // A unit whose low byte is zero ends the text.
  EXPECT_DOUBLE_EQ(S(u"12\u01003")->ParseDouble(), 12.0);
  EXPECT_FLOAT_EQ("0.1"_s->ParseFloat(), 0.1f);
  EXPECT_TRUE(std::isinf("1e999"_s->ParseDouble()));
  // Beyond the float range the single-precision result rounds like the FPU.
  EXPECT_EQ("1e39"_s->ParseFloat(), std::numeric_limits<Float>::infinity());
  EXPECT_EQ("-1e39"_s->ParseFloat(), -std::numeric_limits<Float>::infinity());
  EXPECT_EQ("3.4028235e38"_s->ParseFloat(), std::numeric_limits<Float>::max());
  EXPECT_EQ("3.40282356779733e38"_s->ParseFloat(), std::numeric_limits<Float>::max());
  EXPECT_EQ("3.4028236e38"_s->ParseFloat(), std::numeric_limits<Float>::infinity());
  EXPECT_TRUE(std::isnan("nan"_s->ParseFloat()));
}

// Texts the C libraries of the two systems read and print differently
// unless the runtime evens them out: msvcrt's atof reads no "inf", "nan" or
// hexadecimal, and MinGW's printf drops the sign of a NaN.
TEST(StringNumbers, NonFiniteAndHexadecimalTextsAreTheSameOnEverySystem) {
  struct Row {
    Ref<String> text;
    const char16_t* asDouble;
    const char16_t* asFloat;
  } rows[] = {
      {"inf"_s, u"inf", u"inf"},
      {"-Infinity"_s, u"-inf", u"-inf"},
      {"nan"_s, u"nan", u"nan"},
      {" -nan"_s, u"-nan", u"-nan"},
      {"NaN(1)"_s, u"nan", u"nan"},
      {"0x1p3"_s, u"8.0000000000000000", u"8.00000000"},
      {"-1e999"_s, u"-inf", u"-inf"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Units(String::FormatDouble(row.text->ParseDouble())), row.asDouble) << row.text->ToNarrowZ().get();
    EXPECT_EQ(Units(String::FormatFloat(row.text->ParseFloat())), row.asFloat) << row.text->ToNarrowZ().get();
  }
}

TEST(StringFormat, Integers) {
  EXPECT_EQ(Units(String::FormatInt(INT32_MIN)), u"-2147483648");
  EXPECT_EQ(Units(String::FormatInt(0)), u"0");
  EXPECT_EQ(Units(String::FormatInt(INT32_MAX)), u"2147483647");
  EXPECT_EQ(Units(String::FormatLong(-1)), u"-1");
  EXPECT_EQ(Units(String::FormatLong(INT64_MIN)), u"-9223372036854775808");
  EXPECT_EQ(Units(String::FormatLong(INT64_MAX)), u"9223372036854775807");
}

TEST(StringFormat, RealsKeepTrailingZerosAndThePoint) {
  EXPECT_EQ(Units(String::FormatFloat(1.5f)), u"1.50000000");
  EXPECT_EQ(Units(String::FormatFloat(0.1f)), u"0.100000001");
  EXPECT_EQ(Units(String::FormatFloat(100.0f)), u"100.000000");
  EXPECT_EQ(Units(String::FormatFloat(123456789.0f)), u"123456792.");
  EXPECT_EQ(Units(String::FormatFloat(1e9f)), u"1.00000000e+09");
  EXPECT_EQ(Units(String::FormatFloat(0.0001f)), u"9.99999975e-05");
  EXPECT_EQ(Units(String::FormatDouble(3.0)), u"3.0000000000000000");
  EXPECT_EQ(Units(String::FormatDouble(0.1)), u"0.10000000000000001");
  EXPECT_EQ(Units(String::FormatDouble(1e9)), u"1000000000.0000000");
  EXPECT_EQ(Units(String::FormatDouble(1e17)), u"1.0000000000000000e+17");
  EXPECT_EQ(Units(String::FormatDouble(0.00001)), u"1.0000000000000001e-05");
  EXPECT_EQ(Units(String::FormatDouble(-1.7976931348623157e308)), u"-1.7976931348623157e+308");
}

TEST(StringConvert, NarrowAndWide) {
  auto narrow = S(u"A\u0100\u01FF")->ToNarrowZ();
  EXPECT_EQ(narrow[0], 'A');
  EXPECT_EQ(narrow[1], 0);
  EXPECT_EQ(static_cast<unsigned char>(narrow[2]), 0xFF);
  EXPECT_EQ(narrow[3], 0);
  EXPECT_STREQ(S(u"\u0100")->ToNarrowZ().get(), "");
  auto wide = S(u"a\u1234")->ToWideZ();
  EXPECT_EQ(wide[0], u'a');
  EXPECT_EQ(wide[1], u'\u1234');
  EXPECT_EQ(wide[2], 0);
  EXPECT_EQ(Units(String::FromNarrowSpan("a\0b", 3)), std::u16string(u"a\0b", 3));
  EXPECT_EQ(Units(String::FromNarrowZ("\xFF\x80")), u"\u00FF\u0080");
  const char16_t units[] = {u'x', 0, u'y'};
  EXPECT_EQ(Units(String::FromWideSpan(units, 3)), std::u16string(units, 3));
  EXPECT_EQ(Units(String::FromWideZ(units)), u"x");
}

TEST(StringConvert, TemporaryBuffersLastFor32Conversions) {
  const char* first = TempNarrowZ("first"_s);
  std::vector<const char*> kept;
  for (int i = 0; i < 31; ++i) kept.push_back(TempUtf8Z(String::FormatInt(i)));
  EXPECT_STREQ(first, "first");
  for (int i = 0; i < 31; ++i) EXPECT_STREQ(kept[static_cast<std::size_t>(i)], std::to_string(i).c_str());
  const char16_t* wide = TempWideZ(nullptr);
  EXPECT_EQ(wide[0], 0);
  EXPECT_STREQ(TempNarrowZ(nullptr), "");
}

// Threads meeting at one slot of the ring must each free only the buffer
// they replace (the sanitizer build catches a double free or a leak).
TEST(StringConvert, TemporaryRingUnderConcurrentUse) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      Ref<String> text = String::FormatInt(t);
      for (int i = 0; i < 20000; ++i) {
        if (i % 3 == 0) TempNarrowZ(text);
        else if (i % 3 == 1) TempWideZ(text);
        else TempUtf8Z(text);
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_STREQ(TempNarrowZ("done"_s), "done");
}

std::string Utf8(const Ref<String>& s) { return std::string(s->ToUtf8Z().get()); }

TEST(StringUtf8, Encoding) {
  EXPECT_EQ(Utf8(S(u"A\u00E9\u20AC")), "A\xC3\xA9\xE2\x82\xAC");
  EXPECT_EQ(Utf8(S(u"\u007F\u0080\u07FF\u0800\uFFFF")),
            "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF");
  // Surrogates are encoded one by one.
  EXPECT_EQ(Utf8(S(u"\xD83D\xDE00")), "\xED\xA0\xBD\xED\xB8\x80");
  // A zero unit ends the zero-terminated text.
  EXPECT_EQ(Utf8(S(std::u16string_view(u"a\0b", 3))), "a");
}

TEST(StringUtf8, DecodingAcceptsOverlongAndStrayForms) {
  EXPECT_EQ(Units(String::FromUtf8Z("\xC3\xA9")), u"\u00E9");
  EXPECT_EQ(Units(String::FromUtf8Z("\xF0\x80\x81\x81")), u"A");
  EXPECT_EQ(Units(String::FromUtf8Z("\xC1\x81")), u"A");
  EXPECT_EQ(Units(String::FromUtf8Z("\xE0\x81\xC1")), u"A");  // continuation pattern not tested
  EXPECT_EQ(Units(String::FromUtf8Z("\x80\x81")), u"\u0001");  // stray continuation as a lead
  EXPECT_EQ(Units(String::FromUtf8Z("\xEF\xBF\xBF")), u"\uFFFF");
  EXPECT_EQ(String::FromUtf8Z(nullptr), String::Empty());
  EXPECT_EQ(String::FromUtf8Z(""), String::Empty());
}

TEST(StringUtf8, BeyondUcs2RaisesAString) {
  auto text = CastTo<String>(testing::RaisedBy([] { String::FromUtf8Z("ok \xF0\x9F\x98\x80"); }));
  ASSERT_TRUE(text);
  EXPECT_EQ(Units(text), u"Unicode character out of UCS-2 range");
}

TEST(StringUtf8, CutSequencesStopAtTheTerminator) {
  // Each text sits at the very end of its own heap block, so a read past the
  // terminator is caught by the address sanitizer.
  for (std::string cut : {"\xC3", "a\xE2\x82", "\xE2", "\xF0\x80\x81", "\xF0\x80", "\xF0"}) {
    auto block = std::make_unique<char[]>(cut.size() + 1);
    std::memcpy(block.get(), cut.c_str(), cut.size() + 1);
    EXPECT_NO_THROW(String::FromUtf8Z(block.get())) << cut.size();
  }
  EXPECT_EQ(Units(String::FromUtf8Z("a\xE2\x82")), u"a\u2080");
  EXPECT_EQ(Units(String::FromUtf8Z("\xC3")), u"\u00C0");
  // A cut four-byte lead whose own bits already leave UCS-2 still raises.
  EXPECT_THROW(String::FromUtf8Z("\xF4"), Raised);
}

TEST(StringUtf8, RandomRoundTrips) {
  std::mt19937 random(20261207);
  std::uniform_int_distribution<int> unit(1, 0xFFFF), length(0, 40);
  for (int round = 0; round < 2000; ++round) {
    std::u16string text(static_cast<std::size_t>(length(random)), u'\0');
    for (char16_t& c : text) c = static_cast<char16_t>(unit(random));
    Ref<String> s = S(text);
    EXPECT_EQ(Units(String::FromUtf8Z(s->ToUtf8Z().get())), text);
    EXPECT_EQ(Units(String::FromWideZ(s->ToWideZ().get())), text);
    // Narrow text keeps the low byte of each unit, up to the first zero byte.
    std::string narrow = s->ToNarrowZ().get();
    std::u16string low;
    for (char16_t c : text) {
      if ((c & 0xFF) == 0) break;
      low.push_back(static_cast<char16_t>(c & 0xFF));
    }
    EXPECT_EQ(Units(String::FromNarrowZ(narrow.c_str())), low);
    EXPECT_TRUE(Equals(FromBytes(ToBytes(S(low))), S(low)));
  }
}

}  // namespace
}  // namespace corvid
