#include "stream/text_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "memstream/xendian.h"
#include "stream/cstream.h"
#include "support/test_support.h"

namespace corvid {
namespace {

using namespace std::string_view_literals;
using testing::ReadFileBytes;
using testing::TempDir;

// Bytes in memory. An unbounded stream reports no position, as a pipe does:
// its Eof never turns true and its end shows only as a read of nothing.
class MemoryStream : public TStream {
 public:
  explicit MemoryStream(std::string bytes = {}, bool unbounded = false)
      : bytes_(std::move(bytes)), unbounded_(unbounded) {}

  Int Pos() override { return unbounded_ ? -1 : pos_; }
  Int Size() override { return unbounded_ ? 0 : static_cast<Int>(bytes_.size()); }
  Int Read(std::uint8_t* buffer, Int count) override {
    Int n = std::min(count, static_cast<Int>(bytes_.size()) - pos_);
    if (n <= 0) return 0;
    std::memcpy(buffer, bytes_.data() + pos_, static_cast<std::size_t>(n));
    pos_ += n;
    return n;
  }
  Int Write(const std::uint8_t* buffer, Int count) override {
    if (count <= 0) return 0;
    bytes_.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(count));
    return count;
  }

  const std::string& Bytes() const { return bytes_; }

 private:
  std::string bytes_;
  bool unbounded_;
  Int pos_ = 0;
};

Ref<TTextStream> Over(const Ref<MemoryStream>& bytes, Int encoding) {
  return TTextStream::Create(bytes, encoding);
}

Ref<TTextStream> Reader(const std::string& bytes, Int encoding) {
  return Over(MakeRef<MemoryStream>(bytes), encoding);
}

std::u16string Units(const Ref<String>& s) { return std::u16string(Text(s).View()); }

template <class Body>
void ExpectReadError(Body&& body) {
  try {
    body();
    ADD_FAILURE() << "no error was raised";
  } catch (const Raised& raised) {
    EXPECT_TRUE(raised.As<TStreamReadException>()) << "another error was raised";
  }
}

template <class Body>
std::u16string RaisedString(Body&& body) {
  try {
    body();
  } catch (const Raised& raised) {
    if (auto text = raised.As<String>()) return Units(text);
    return u"<not a String>";
  }
  return u"<nothing raised>";
}

// ---------------------------------------------------------------------------
// The four encodings, each with its own byte form of a code unit.

struct Latin1 {
  static constexpr Int kCode = TTextStream::LATIN1;
  static constexpr unsigned kLast = 0xFF;
  static std::string Bytes(unsigned u) { return std::string(1, static_cast<char>(u)); }
};

struct Utf8 {
  static constexpr Int kCode = TTextStream::UTF8;
  static constexpr unsigned kLast = 0xFFFF;
  static std::string Bytes(unsigned u) {
    std::string b;
    if (u < 0x80) {
      b += static_cast<char>(u);
    } else if (u < 0x800) {
      b += static_cast<char>(0xC0 | u >> 6);
      b += static_cast<char>(0x80 | (u & 0x3F));
    } else {
      b += static_cast<char>(0xE0 | u >> 12);
      b += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      b += static_cast<char>(0x80 | (u & 0x3F));
    }
    return b;
  }
};

struct Utf16Be {
  static constexpr Int kCode = TTextStream::UTF16BE;
  static constexpr unsigned kLast = 0xFFFF;
  static std::string Bytes(unsigned u) {
    return {static_cast<char>(u >> 8), static_cast<char>(u & 0xFF)};
  }
};

struct Utf16Le {
  static constexpr Int kCode = TTextStream::UTF16LE;
  static constexpr unsigned kLast = 0xFFFF;
  static std::string Bytes(unsigned u) {
    return {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
  }
};

template <class E>
std::string Encoded(std::u16string_view text) {
  std::string bytes;
  for (char16_t u : text) bytes += E::Bytes(u);
  return bytes;
}

template <class E>
class EncodingTest : public ::testing::Test {};

using Encodings = ::testing::Types<Latin1, Utf8, Utf16Be, Utf16Le>;
TYPED_TEST_SUITE(EncodingTest, Encodings);

TYPED_TEST(EncodingTest, EveryCodeUnitItCanHoldRoundTrips) {
  auto bytes = MakeRef<MemoryStream>();
  auto text = Over(bytes, TypeParam::kCode);
  for (unsigned u = 0; u <= TypeParam::kLast; ++u) text->WriteChar(static_cast<Int>(u));

  std::string expected;
  for (unsigned u = 0; u <= TypeParam::kLast; ++u) expected += TypeParam::Bytes(u);
  ASSERT_EQ(bytes->Bytes(), expected);

  auto reader = Reader(bytes->Bytes(), TypeParam::kCode);
  for (unsigned u = 0; u <= TypeParam::kLast; ++u) ASSERT_EQ(reader->ReadChar(), static_cast<Int>(u));
  EXPECT_TRUE(reader->Eof());
}

TYPED_TEST(EncodingTest, EuroSignHasItsBytes) {
  auto bytes = MakeRef<MemoryStream>();
  Over(bytes, TypeParam::kCode)->WriteChar(0x20AC);
  const std::string expected = TypeParam::kCode == TTextStream::LATIN1 ? "\xAC"
                               : TypeParam::kCode == TTextStream::UTF8  ? "\xE2\x82\xAC"
                               : TypeParam::kCode == TTextStream::UTF16BE ? std::string("\x20\xAC")
                                                                            : std::string("\xAC\x20");
  EXPECT_EQ(bytes->Bytes(), expected);
}

TYPED_TEST(EncodingTest, LinesEndInEncodedCarriageReturnAndLineFeed) {
  auto bytes = MakeRef<MemoryStream>();
  auto text = Over(bytes, TypeParam::kCode);
  EXPECT_EQ(text->WriteLine(String::Empty()), 0);
  text->WriteLine(u"h\u00E9"_s);
  text->WriteString(u"tail"_s);
  EXPECT_EQ(bytes->Bytes(), Encoded<TypeParam>(u"\r\nh\u00E9\r\ntail"));
}

TYPED_TEST(EncodingTest, ReadLineCutsAtLineFeedOrZeroAndDropsEveryCarriageReturn) {
  auto text = Reader(Encoded<TypeParam>(u"ab\r\nc\rd\ne\0f\n\nlast"sv), TypeParam::kCode);
  EXPECT_EQ(Units(text->ReadLine()), u"ab");
  EXPECT_EQ(Units(text->ReadLine()), u"cd");
  EXPECT_EQ(Units(text->ReadLine()), u"e");
  EXPECT_EQ(Units(text->ReadLine()), u"f");
  EXPECT_EQ(Units(text->ReadLine()), u"");
  EXPECT_EQ(Units(text->ReadLine()), u"last");
  EXPECT_TRUE(text->Eof());
  EXPECT_EQ(Units(text->ReadLine()), u"");
}

TYPED_TEST(EncodingTest, ReadFileKeepsLineEndsAndZeros) {
  const std::u16string all(u"a\r\nb\0c\n"sv);
  auto text = Reader(Encoded<TypeParam>(u"first\n") + Encoded<TypeParam>(all), TypeParam::kCode);
  EXPECT_EQ(Units(text->ReadLine()), u"first");
  EXPECT_EQ(Units(text->ReadFile()), all);
  EXPECT_EQ(Units(text->ReadFile()), u"");
}

TYPED_TEST(EncodingTest, ReadStringTakesExactlyItsLengthAndNoMore) {
  auto text = Reader(Encoded<TypeParam>(u"a\nbc"), TypeParam::kCode);
  EXPECT_EQ(Units(text->ReadString(3)), u"a\nb");
  EXPECT_EQ(Units(text->ReadString(0)), u"");
  ExpectReadError([&] { text->ReadString(2); });
}

TYPED_TEST(EncodingTest, TypedValuesTravelAsDecimalLines) {
  auto bytes = MakeRef<MemoryStream>();
  auto text = Over(bytes, TypeParam::kCode);
  text->WriteByte(300);
  text->WriteShort(-5);
  text->WriteInt(-2147483647 - 1);
  text->WriteLong(9007199254740993LL);
  text->WriteDouble(1.5);
  text->WriteFloat(0.25f);
  EXPECT_EQ(bytes->Bytes().substr(0, Encoded<TypeParam>(u"300\r\n-5\r\n").size()),
            Encoded<TypeParam>(u"300\r\n-5\r\n"));

  auto reader = Reader(bytes->Bytes(), TypeParam::kCode);
  EXPECT_EQ(reader->ReadByte(), 300);
  EXPECT_EQ(reader->ReadShort(), -5);
  EXPECT_EQ(reader->ReadInt(), -2147483647 - 1);
  EXPECT_EQ(reader->ReadLong(), 9007199254740993LL);
  EXPECT_EQ(reader->ReadDouble(), 1.5);
  EXPECT_EQ(reader->ReadFloat(), 0.25f);
}

// ---------------------------------------------------------------------------
// Text that ends inside a character, and bytes no encoder would write.

TEST(TextStreamDecoding, CutUtf8SequenceRaises) {
  ExpectReadError([] { Reader("ab\xC3", TTextStream::UTF8)->ReadLine(); });
  ExpectReadError([] { Reader("\xE2\x82", TTextStream::UTF8)->ReadLine(); });
  ExpectReadError([] { Reader("x\n\xE2", TTextStream::UTF8)->ReadFile(); });
}

TEST(TextStreamDecoding, OddUtf16Raises) {
  ExpectReadError([] { Reader(std::string("a\0b", 3), TTextStream::UTF16LE)->ReadLine(); });
  ExpectReadError([] { Reader(std::string("\0a\0", 3), TTextStream::UTF16BE)->ReadLine(); });
}

TEST(TextStreamDecoding, Utf8IsDecodedWithoutValidation) {
  // A four-byte form gives 0 for its first three bytes; its last byte then
  // leads a two-byte form with the byte after it.
  auto text = Reader("\xF0\x9F\x98\x80\x2B" "A\xC3\xA9", TTextStream::UTF8);
  EXPECT_EQ(text->ReadChar(), 0);
  EXPECT_EQ(text->ReadChar(), ((0x80 - 0xC0) * 64 + (0x2B - 0x80)) & 0xFFFF);
  EXPECT_EQ(text->ReadChar(), 'A');
  EXPECT_EQ(text->ReadChar(), 0xE9);
}

TEST(TextStreamDecoding, ByteOrderMarkIsOrdinaryText) {
  EXPECT_EQ(Units(Reader("\xEF\xBB\xBFhi", TTextStream::UTF8)->ReadLine()), u"\uFEFFhi");
}

TEST(TextStreamDecoding, UnknownEncodingReadsZerosAndWritesNothing) {
  auto bytes = MakeRef<MemoryStream>("ab");
  auto text = Over(bytes, 9);
  EXPECT_EQ(text->ReadChar(), 0);
  EXPECT_EQ(Units(text->ReadLine()), u"");
  EXPECT_TRUE(text->Eof());
  text->WriteLine("lost"_s);
  EXPECT_EQ(bytes->Bytes(), "ab");
}

// ---------------------------------------------------------------------------
// Raw blocks as lines of hexadecimal digits.

std::string Block(std::size_t n) {
  std::string b;
  for (std::size_t i = 0; i < n; ++i) b += static_cast<char>(i * 37 + 5);
  return b;
}

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return hex;
}

const std::uint8_t* Raw(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

TEST(TextStreamBlocks, FullLineGetsItsTerminatorAtOnce) {
  auto bytes = MakeRef<MemoryStream>();
  auto text = Over(bytes, TTextStream::UTF16LE);
  const std::string block = Block(32);
  EXPECT_EQ(text->Write(Raw(block), 32), 32);
  EXPECT_EQ(bytes->Bytes(), Hex(block) + "\r\n");
}

TEST(TextStreamBlocks, OpenLineIsEndedByTheNextTextWrite) {
  auto bytes = MakeRef<MemoryStream>();
  auto text = Over(bytes, TTextStream::UTF8);
  const std::string block = Block(33);
  text->WriteBytes(Raw(block), 33);
  EXPECT_EQ(bytes->Bytes(), Hex(block.substr(0, 32)) + "\r\n" + Hex(block.substr(32)));
  text->Flush();
  text->WriteLine("x"_s);
  EXPECT_EQ(bytes->Bytes(), Hex(block.substr(0, 32)) + "\r\n" + Hex(block.substr(32)) + "\r\nx\r\n");

  auto reader = Reader(bytes->Bytes(), TTextStream::UTF8);
  std::string back(33, '\0');
  reader->ReadBytes(reinterpret_cast<std::uint8_t*>(back.data()), 33);
  EXPECT_EQ(back, block);
  EXPECT_EQ(Units(reader->ReadLine()), u"x");
}

TEST(TextStreamBlocks, TypedWriteAfterBlockEndsTheLineFirst) {
  auto bytes = MakeRef<MemoryStream>();
  auto text = Over(bytes, TTextStream::LATIN1);
  const std::uint8_t ab = 0xAB;
  text->Write(&ab, 1);
  text->WriteInt(7);
  EXPECT_EQ(bytes->Bytes(), "AB\r\n7\r\n");
  auto reader = Reader(bytes->Bytes(), TTextStream::LATIN1);
  std::uint8_t back = 0;
  reader->Read(&back, 1);
  EXPECT_EQ(back, 0xAB);
  EXPECT_EQ(reader->ReadInt(), 7);
}

TEST(TextStreamBlocks, ReadAcceptsLineFeedAloneAsTerminator) {
  const std::string block = Block(40);
  auto text = Reader(Hex(block.substr(0, 32)) + "\n" + Hex(block.substr(32)) + "\nrest", TTextStream::UTF8);
  std::string back(40, '\0');
  EXPECT_EQ(text->Read(reinterpret_cast<std::uint8_t*>(back.data()), 40), 40);
  EXPECT_EQ(back, block);
  EXPECT_EQ(Units(text->ReadLine()), u"rest");
}

TEST(TextStreamBlocks, MalformedTerminatorRaisesAndReadingGoesOn) {
  auto text = Reader("ABxyz\r\n", TTextStream::UTF8);
  std::uint8_t byte = 0;
  text->Read(&byte, 1);
  EXPECT_EQ(byte, 0xAB);
  EXPECT_EQ(RaisedString([&] { text->ReadLine(); }), u"Malformed line terminator");
  EXPECT_EQ(Units(text->ReadLine()), u"yz");

  auto full = Reader(Hex(Block(33)).substr(0, 64) + "\r\r" + "00", TTextStream::UTF8);
  std::uint8_t block[33];
  EXPECT_EQ(RaisedString([&] { full->Read(block, 33); }), u"Malformed line terminator");
}

TEST(TextStreamBlocks, DataEndingInsideADigitPairRaises) {
  auto text = Reader("A", TTextStream::UTF8);
  std::uint8_t byte = 0;
  ExpectReadError([&] { text->Read(&byte, 1); });
}

TEST(TextStreamBlocks, LowerCaseDigitsAreNotHexadecimal) {
  std::uint8_t byte = 0;
  Reader("ab", TTextStream::UTF8)->Read(&byte, 1);
  EXPECT_NE(byte, 0xAB);
  Reader("AB", TTextStream::UTF8)->Read(&byte, 1);
  EXPECT_EQ(byte, 0xAB);
}

TEST(TextStreamBlocks, NothingToTransferTransfersNothing) {
  auto bytes = MakeRef<MemoryStream>("AB");
  auto text = Over(bytes, TTextStream::UTF8);
  std::uint8_t byte = 0;
  EXPECT_EQ(text->Read(&byte, 0), 0);
  EXPECT_EQ(text->Read(&byte, -3), 0);
  EXPECT_EQ(text->Write(&byte, -3), 0);
  EXPECT_EQ(text->Pos(), 0);
  EXPECT_EQ(bytes->Bytes(), "AB");
}

// ---------------------------------------------------------------------------
// Whole-text load and save.

class TextFileTest : public ::testing::Test {
 protected:
  void SetUp() override { StartTextStreamModule(); }
  std::string Name(const std::string& file) { return (dir.Path() / file).string(); }
  Ref<String> Url(const std::string& text) { return FromBytes(text); }
  std::u16string Load(const std::string& bytes) {
    return Units(LoadTextFile(Url(dir.Write("in.txt", bytes).string())));
  }
  TempDir dir;
};

TEST_F(TextFileTest, LoadRecognisesEachMark) {
  EXPECT_EQ(Load("\xEF\xBB\xBFhi"), u"hi");
  EXPECT_EQ(Load(std::string("\xFF\xFEh\0", 4)), u"h");
  EXPECT_EQ(Load(std::string("\xFE\xFF\0h\0\r\0\n", 8)), u"h\r\n");
  EXPECT_EQ(Load("\xEF\xBB\xBF"), u"");
}

TEST_F(TextFileTest, LoadTakesNearMarksAsBytes) {
  EXPECT_EQ(Load("\xEF\xBBx"), u"\u00EF\u00BBx");
  EXPECT_EQ(Load("\xEF\xBB"), u"\u00EF\u00BB");
  EXPECT_EQ(Load("\xEF"), u"\u00EF");
  EXPECT_EQ(Load("\xFE"), u"\u00FE");
  EXPECT_EQ(Load("\xFF\xFF\xFE"), u"\u00FF\u00FF\u00FE");
  EXPECT_EQ(Load(""), u"");
  const std::string big(5000, '\xE9');
  EXPECT_EQ(Load(big), std::u16string(5000, u'\u00E9'));
}

TEST_F(TextFileTest, LoadOfMissingFileRaises) {
  ExpectReadError([&] { LoadTextFile(Url(Name("missing.txt"))); });
}

TEST_F(TextFileTest, LoadOfTextCutInsideACharacterRaises) {
  ExpectReadError([&] { LoadTextFile(MakeRef<MemoryStream>("\xFF\xFE" "a")); });
  ExpectReadError([&] { LoadTextFile(MakeRef<MemoryStream>("\xEF\xBB\xBF" "a\xE2\x82")); });
}

TEST_F(TextFileTest, LoadEndsAtAReadOfNothingWhenTheSourceNeverReportsItsEnd) {
  EXPECT_EQ(Units(LoadTextFile(MakeRef<MemoryStream>("abc", true))), u"abc");
  EXPECT_EQ(Units(LoadTextFile(MakeRef<MemoryStream>("a", true))), u"a");
  EXPECT_EQ(Units(LoadTextFile(MakeRef<MemoryStream>("", true))), u"");
}

TEST_F(TextFileTest, SaveWritesEightBitTextAsBytes) {
  EXPECT_EQ(SaveTextFile("abc"_s, Url(Name("a.txt"))), 1);
  EXPECT_EQ(ReadFileBytes(Name("a.txt")), "abc");
  EXPECT_EQ(SaveTextFile(String::Empty(), Url(Name("e.txt"))), 1);
  EXPECT_EQ(ReadFileBytes(Name("e.txt")), "");
}

TEST_F(TextFileTest, SaveWritesWideTextAsMarkedUtf16Le) {
  EXPECT_EQ(SaveTextFile(u"a\u20AC"_s, Url(Name("w.txt"))), 1);
  EXPECT_EQ(ReadFileBytes(Name("w.txt")), std::string("\xFF\xFE" "a\0\xAC\x20", 6));
  EXPECT_EQ(Units(LoadTextFile(Url(Name("w.txt")))), u"a\u20AC");
}

TEST_F(TextFileTest, EightBitTextThatLooksLikeAMarkLoadsAsUtf16) {
  SaveTextFile(u"\u00FF\u00FEh\u0000"_s, Url(Name("m.txt")));
  EXPECT_EQ(ReadFileBytes(Name("m.txt")), std::string("\xFF\xFEh\0", 4));
  EXPECT_EQ(Units(LoadTextFile(Url(Name("m.txt")))), u"h");
}

TEST_F(TextFileTest, SaveToAnUnwritableNameRaises) {
  try {
    SaveTextFile("abc"_s, Url(Name("no/such/dir/a.txt")));
    ADD_FAILURE() << "no error was raised";
  } catch (const Raised& raised) {
    EXPECT_TRUE(raised.As<TStreamWriteException>());
  }
  try {
    SaveTextFile(u"\u20AC"_s, Url(Name("no/such/dir/a.txt")));
    ADD_FAILURE() << "no error was raised";
  } catch (const Raised& raised) {
    EXPECT_TRUE(raised.As<TStreamWriteException>());
  }
}

// ---------------------------------------------------------------------------
// Opening text streams by name, protocols nested inside each other.

class TextProtocolTest : public TextFileTest {
 protected:
  void SetUp() override {
    // Started in the program's order: the text factory is asked first.
    StartXEndianModule();
    StartTextStreamModule();
  }
  Ref<TStream> Open(const std::string& name, Int readable, Int writeable) {
    return OpenUrl(Url(name), readable, writeable);
  }
};

TEST_F(TextProtocolTest, EachProtocolOpensItsEncoding) {
  const std::pair<const char*, Int> protocols[] = {{"latin1", TTextStream::LATIN1},
                                                   {"utf8", TTextStream::UTF8},
                                                   {"UTF16BE", TTextStream::UTF16BE},
                                                   {"utf16le", TTextStream::UTF16LE}};
  for (auto [proto, code] : protocols) {
    dir.Write("f.txt", "");
    auto text = CastTo<TTextStream>(Open(std::string(proto) + "::" + Name("f.txt"), 1, 1));
    ASSERT_TRUE(text) << proto;
    EXPECT_EQ(text->Encoding(), code);
  }
}

TEST_F(TextProtocolTest, UnknownProtocolOrMissingPathGivesNull) {
  EXPECT_FALSE(Open("utf7::" + Name("f.txt"), 1, 0));
  EXPECT_FALSE(Open("utf8::" + Name("missing.txt"), 1, 0));
  EXPECT_FALSE(Open("utf8::", 1, 0));
}

TEST_F(TextProtocolTest, WrittenThroughANameAndReadBack) {
  auto writer = Open("utf16be::" + Name("t.txt"), 0, 1);
  ASSERT_TRUE(writer);
  writer->WriteLine(u"\u20ACx"_s);
  writer->Close();
  EXPECT_EQ(ReadFileBytes(Name("t.txt")), std::string("\x20\xAC\0x\0\r\0\n", 8));
  auto reader = Open("utf16be::" + Name("t.txt"), 1, 0);
  EXPECT_EQ(Units(reader->ReadLine()), u"\u20ACx");
  EXPECT_TRUE(reader->Eof());
}

TEST_F(TextProtocolTest, TextOverByteOrderPassesBytesUnchanged) {
  dir.Write("b.txt", "h\xC3\xA9\r\n");
  auto text = CastTo<TTextStream>(Open("utf8::bigendian::" + Name("b.txt"), 1, 0));
  ASSERT_TRUE(text);
  EXPECT_TRUE(CastTo<TXEndianStream>(text->Inner()));
  EXPECT_EQ(Units(text->ReadLine()), u"h\u00E9");
}

TEST_F(TextProtocolTest, ByteOrderOverTextReadsHexadecimalBlocks) {
  dir.Write("h.txt", "1234\r\n");
  auto stream = Open("bigendian::utf8::" + Name("h.txt"), 1, 0);
  ASSERT_TRUE(CastTo<TXEndianStream>(stream));
  EXPECT_EQ(stream->ReadShort(), 0x1234);
}

TEST_F(TextProtocolTest, TextOverTextReadsOneDecimalLinePerByte) {
  dir.Write("n.txt", "104\r\n105\r\n10\r\n");
  auto outer = Open("latin1::utf8::" + Name("n.txt"), 1, 0);
  ASSERT_TRUE(outer);
  EXPECT_EQ(Units(outer->ReadLine()), u"hi");
  EXPECT_TRUE(outer->Eof());
}

TEST_F(TextProtocolTest, AbsurdlyDeepNestingGivesNull) {
  dir.Write("d.txt", "x");
  std::string name;
  for (int i = 0; i < 20000; ++i) name += i % 2 ? "utf8::" : "bigendian::";
  name += Name("d.txt");
  EXPECT_FALSE(Open(name, 1, 0));
  std::string shallow = Name("d.txt");
  for (int i = 0; i < 8; ++i) shallow = "utf8::" + shallow;
  EXPECT_TRUE(Open(shallow, 1, 0));
}

}  // namespace
}  // namespace corvid
