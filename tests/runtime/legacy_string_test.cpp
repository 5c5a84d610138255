// Tests for the 1-based legacy string functions and the hexadecimal and
// binary renderings.
#include <gtest/gtest.h>

#include <string>

#include "runtime/legacy_string.h"

namespace corvid {
namespace {

std::u16string U(const Ref<String>& s) { return std::u16string(Text(s).View()); }

TEST(LegacySubText, PositionsAndSizes) {
  Ref<String> hello = "hello"_s;
  EXPECT_EQ(U(SubText(hello, 2, 3)), u"ell");
  EXPECT_EQ(U(SubText(hello, 4, -1)), u"lo");
  EXPECT_EQ(SubText(hello, 6, 1), String::Empty());
  EXPECT_EQ(U(SubText(hello, 5, 10)), u"o");
  EXPECT_EQ(U(SubText(hello, 0, 2)), u"h");
  EXPECT_EQ(SubText(hello, -1, 2), String::Empty());
  EXPECT_EQ(U(SubText(hello, -1, -1)), u"  hello");
  EXPECT_EQ(U(SubText("abc"_s, 0, -1)), u" abc");
  EXPECT_EQ(U(SubText(hello, 1, INT32_MAX)), u"hello");
  EXPECT_EQ(U(SubText(hello, 3, 0)), u"");
  EXPECT_EQ(SubText(hello, INT32_MAX, -1), String::Empty());
  EXPECT_EQ(SubText(hello, INT32_MIN, 5), String::Empty());
  EXPECT_EQ(SubText(nullptr, 1, 1), String::Empty());
}

TEST(LegacyFindText, OneBasedSearch) {
  EXPECT_EQ(FindText("<>+-.,()@#%"_s, "."_s, 1), 5);
  EXPECT_EQ(FindText("abc"_s, "d"_s, 1), 0);
  EXPECT_EQ(FindText("abcabc"_s, "b"_s, 3), 5);
  EXPECT_EQ(FindText("abc"_s, "a"_s, 0), 1);
  EXPECT_EQ(FindText("abc"_s, "a"_s, INT32_MIN), 1);
  EXPECT_EQ(FindText("abc"_s, ""_s, 2), 2);
  EXPECT_EQ(FindText("abc"_s, "c"_s, INT32_MAX), 0);
  EXPECT_EQ(FindText(nullptr, "c"_s, 1), 0);
}

TEST(LegacyPadding, LeftRightAndPads) {
  EXPECT_EQ(U(LeftText("abc"_s, 5)), u"abc");
  EXPECT_EQ(U(LeftText("abc"_s, 2)), u"ab");
  EXPECT_EQ(LeftText("abc"_s, -1), String::Empty());
  EXPECT_EQ(U(RightText("abc"_s, 2)), u"bc");
  EXPECT_EQ(U(RightText("abc"_s, 9)), u"abc");
  EXPECT_EQ(RightText("abc"_s, -1), String::Empty());
  EXPECT_EQ(U(PadRight("abc"_s, 5)), u"abc  ");
  EXPECT_EQ(U(PadRight("abcdef"_s, 3)), u"abc");
  EXPECT_EQ(PadRight("abc"_s, 0), String::Empty());
  EXPECT_EQ(U(PadLeft("abc"_s, 5)), u"  abc");
  EXPECT_EQ(U(PadLeft("abcdef"_s, 3)), u"def");
  EXPECT_EQ(PadLeft("abc"_s, -4), String::Empty());
}

TEST(LegacyForwarding, StringOperations) {
  EXPECT_EQ(U(ReplaceText("a-b-c"_s, "-"_s, "+"_s)), u"a+b+c");
  EXPECT_EQ(U(TrimText(" x "_s)), u"x");
  EXPECT_EQ(U(LowerText("AbC"_s)), u"abc");
  EXPECT_EQ(U(UpperText("AbC"_s)), u"ABC");
  EXPECT_EQ(TrimText(nullptr), String::Empty());
}

TEST(LegacyDigits, FixedWidthRenderings) {
  EXPECT_EQ(U(HexText(0)), u"00000000");
  EXPECT_EQ(U(HexText(255)), u"000000FF");
  EXPECT_EQ(U(HexText(-1)), u"FFFFFFFF");
  EXPECT_EQ(U(HexText(INT32_MIN)), u"80000000");
  EXPECT_EQ(U(HexText(0x12AB34CD)), u"12AB34CD");
  EXPECT_EQ(U(BinText(5)), std::u16string(29, u'0') + u"101");
  EXPECT_EQ(U(BinText(INT32_MIN)), u"1" + std::u16string(31, u'0'));
  EXPECT_EQ(U(LongHexText(-1)), std::u16string(16, u'F'));
  EXPECT_EQ(U(LongHexText(4294967296LL)), u"0000000100000000");
  EXPECT_EQ(U(LongHexText(INT64_MIN)), u"8000000000000000");
  EXPECT_EQ(U(LongBinText(1)), std::u16string(63, u'0') + u"1");
  EXPECT_EQ(U(LongBinText(-1)), std::u16string(64, u'1'));
}

}  // namespace
}  // namespace corvid
