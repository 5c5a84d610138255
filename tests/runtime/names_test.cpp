// Tests for how the POSIX half spells names: UTF-8 both ways, with every
// byte that is not UTF-8 carried through 16-bit text and back unchanged.
#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"

#ifndef _WIN32
#include "runtime/posix/names.h"
#endif

namespace corvid {
namespace {

// Each row both ways: the bytes decode to the units, the units encode to
// the bytes.
TEST(PosixNames, SpellingsReadBackAsTheyWereWritten) {
#ifdef _WIN32
  GTEST_SKIP() << "names are 16-bit text on Windows";
#else
  using platform::posix::DecodeName;
  using platform::posix::EncodeName;
  const struct {
    std::string bytes;
    std::u16string units;
  } cases[] = {
      {"code.txt", u"code.txt"},
      {"pr\xC3\xB6g.txt", u"pr\u00F6g.txt"},              // two bytes
      {"\xC4\x80", u"\u0100"},                            // once refused: a zero low byte
      {"\xE2\x82\xAC", u"\u20AC"},                        // three
      {"\xEF\xBF\xBF", u"\uFFFF"},
      {"\xF0\x9F\x98\x80.txt", u"\U0001F600.txt"},        // four, a surrogate pair
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
      {"\xF0\x90\x82\x80", u"\U00010080"},                // its low half looks like an escape
      {"caf\xE9.txt", u"caf\xDCE9.txt"},                  // Latin-1: the stray byte escaped
      {"\x80\xFF", u"\xDC80\xDCFF"},
      {"\xC3", u"\xDCC3"},                                // cut short at the end
      {"\xE2\x82x", u"\xDCE2\xDC82x"},                    // cut short before ASCII
      {"\xC0\xAF", u"\xDCC0\xDCAF"},                      // an overlong "/" is no separator
      {"\xE0\x80\xAF", u"\xDCE0\xDC80\xDCAF"},            // overlong, three bytes
      {"\xF0\x80\x80\xAF", u"\xDCF0\xDC80\xDC80\xDCAF"},  // overlong, four bytes
      {"\xED\xA0\x80", u"\xDCED\xDCA0\xDC80"},            // an encoded surrogate
      {"\xF4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"},  // above U+10FFFF
      {"\xFF\xC3\xB6\xB6", u"\xDCFF\u00F6\xDCB6"},        // escapes beside a character
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Hex(c.bytes, " "));
    EXPECT_EQ(DecodeName(c.bytes), c.units);
    EXPECT_EQ(EncodeName(c.units), c.bytes);
  }
#endif
}

// Names no byte string spells: the call fails as for a missing name.
TEST(PosixNames, NamesWithoutASpellingAreRefused) {
#ifdef _WIN32
  GTEST_SKIP() << "names are 16-bit text on Windows";
#else
  using platform::posix::EncodeName;
  const std::u16string cases[] = {
      std::u16string(u"file\0tail", 9),  // would end early and name "file"
      u"\xD800",                         // a lone high surrogate
      u"a\xD83D",                        // ... at the end
      u"\xD83Dx",                        // ... before a character
      u"\xDE00\xD83D",                   // a pair the wrong way round
      u"\xDC00",                         // a low surrogate that is no escape
      u"\xDC7F",                         // ASCII never needs an escape
      u"\xDD00",
      u"\xDCC3\xDCB6",                   // escapes that read back as "\u00F6"
      u"\xDCE2\xDC82\xDCAC",             // ... as "\u20AC"
  };
  for (const std::u16string& name : cases) {
    SCOPED_TRACE(testing::Hex(std::string(reinterpret_cast<const char*>(name.data()), name.size() * 2), " "));
    EXPECT_EQ(EncodeName(name), std::nullopt);
  }
#endif
}

}  // namespace
}  // namespace corvid
