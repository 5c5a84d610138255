// Tests for the 1-based legacy string functions and the hexadecimal and
// binary renderings.
#include <gtest/gtest.h>

#include <string>

#include "runtime/legacy_string.h"
#include "support/test_support.h"

namespace corvid {
namespace {

using testing::Units;

TEST(LegacySubText, PositionsAndSizes) {
  Ref<String> hello = "hello"_s;
  EXPECT_EQ(Units(SubText(hello, 2, 3)), u"ell");
  EXPECT_EQ(Units(SubText(hello, 4, -1)), u"lo");
  EXPECT_EQ(SubText(hello, 6, 1), String::Empty());
  EXPECT_EQ(Units(SubText(hello, 5, 10)), u"o");
  EXPECT_EQ(Units(SubText(hello, 0, 2)), u"h");
  EXPECT_EQ(SubText(hello, -1, 2), String::Empty());
  EXPECT_EQ(Units(SubText(hello, -1, -1)), u"  hello");
  EXPECT_EQ(Units(SubText("abc"_s, 0, -1)), u" abc");
  EXPECT_EQ(Units(SubText(hello, 1, INT32_MAX)), u"hello");
  EXPECT_EQ(Units(SubText(hello, 3, 0)), u"");
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
  EXPECT_EQ(Units(LeftText("abc"_s, 5)), u"abc");
  EXPECT_EQ(Units(LeftText("abc"_s, 2)), u"ab");
  EXPECT_EQ(LeftText("abc"_s, -1), String::Empty());
  EXPECT_EQ(Units(RightText("abc"_s, 2)), u"bc");
  EXPECT_EQ(Units(RightText("abc"_s, 9)), u"abc");
  EXPECT_EQ(RightText("abc"_s, -1), String::Empty());
  EXPECT_EQ(Units(PadRight("abc"_s, 5)), u"abc  ");
  EXPECT_EQ(Units(PadRight("abcdef"_s, 3)), u"abc");
  EXPECT_EQ(PadRight("abc"_s, 0), String::Empty());
  EXPECT_EQ(Units(PadLeft("abc"_s, 5)), u"  abc");
  EXPECT_EQ(Units(PadLeft("abcdef"_s, 3)), u"def");
  EXPECT_EQ(PadLeft("abc"_s, -4), String::Empty());
}

TEST(LegacyForwarding, StringOperations) {
  EXPECT_EQ(Units(ReplaceText("a-b-c"_s, "-"_s, "+"_s)), u"a+b+c");
  EXPECT_EQ(Units(TrimText(" x "_s)), u"x");
  EXPECT_EQ(Units(LowerText("AbC"_s)), u"abc");
  EXPECT_EQ(Units(UpperText("AbC"_s)), u"ABC");
  EXPECT_EQ(TrimText(nullptr), String::Empty());
}

TEST(LegacyDigits, FixedWidthRenderings) {
  EXPECT_EQ(Units(HexText(0)), u"00000000");
  EXPECT_EQ(Units(HexText(255)), u"000000FF");
  EXPECT_EQ(Units(HexText(-1)), u"FFFFFFFF");
  EXPECT_EQ(Units(HexText(INT32_MIN)), u"80000000");
  EXPECT_EQ(Units(HexText(0x12AB34CD)), u"12AB34CD");
  EXPECT_EQ(Units(BinText(5)), std::u16string(29, u'0') + u"101");
  EXPECT_EQ(Units(BinText(INT32_MIN)), u"1" + std::u16string(31, u'0'));
  EXPECT_EQ(Units(LongHexText(-1)), std::u16string(16, u'F'));
  EXPECT_EQ(Units(LongHexText(4294967296LL)), u"0000000100000000");
  EXPECT_EQ(Units(LongHexText(INT64_MIN)), u"8000000000000000");
  EXPECT_EQ(Units(LongBinText(1)), std::u16string(63, u'0') + u"1");
  EXPECT_EQ(Units(LongBinText(-1)), std::u16string(64, u'1'));
}

}  // namespace
}  // namespace corvid
