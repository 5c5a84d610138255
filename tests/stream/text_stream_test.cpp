#include "stream/text_stream.h"

#include <gtest/gtest.h>

#include <string>

#include "memstream/xendian.h"
#include "support/encoding.h"
#include "support/memory_stream.h"
#include "support/raised.h"
#include "support/test_support.h"

namespace corvid {
namespace {

using testing::Units;

using namespace std::string_view_literals;
using testing::Encode;
using testing::EncodeUnit;
using testing::Hex;
using testing::MemoryStream;
using testing::ReadFileBytes;

Ref<TTextStream> Reader(const std::string& bytes, Int encoding) {
  return TTextStream::Create(MakeRef<MemoryStream>(bytes), encoding);
}

const std::uint8_t* Raw(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

// What the body raised: the String itself, or the name of a stream error.
template <class Body>
std::u16string RaisedBy(Body&& body) {
  Ref<Object> error = testing::RaisedBy(body);
  if (!error) return u"nothing";
  if (CastTo<TStreamReadException>(error)) return u"read error";
  if (CastTo<TStreamWriteException>(error)) return u"write error";
  if (auto text = CastTo<String>(error)) return Units(text);
  return u"another error";
}

// ---------------------------------------------------------------------------
// The four encodings, each with its own byte form of a code unit.

template <Int Code, unsigned Last>
struct Encoding {
  static constexpr Int kCode = Code;
  static constexpr unsigned kLast = Last;  ///< the highest unit it can hold
};

template <class E>
class EncodingTest : public ::testing::Test {};

using Encodings = ::testing::Types<Encoding<TTextStream::LATIN1, 0xFF>, Encoding<TTextStream::UTF8, 0xFFFF>,
                                   Encoding<TTextStream::UTF16BE, 0xFFFF>, Encoding<TTextStream::UTF16LE, 0xFFFF>>;
TYPED_TEST_SUITE(EncodingTest, Encodings);

TYPED_TEST(EncodingTest, EveryCodeUnitItCanHoldRoundTrips) {
  auto bytes = MakeRef<MemoryStream>();
  auto text = TTextStream::Create(bytes, TypeParam::kCode);
  std::string expected;
  for (unsigned u = 0; u <= TypeParam::kLast; ++u) {
    text->WriteChar(static_cast<Int>(u));
    expected += EncodeUnit(u, TypeParam::kCode);
  }
  ASSERT_EQ(bytes->Bytes(), expected);

  auto reader = Reader(bytes->Bytes(), TypeParam::kCode);
  for (unsigned u = 0; u <= TypeParam::kLast; ++u) ASSERT_EQ(reader->ReadChar(), static_cast<Int>(u));
  EXPECT_TRUE(reader->Eof());
}

TYPED_TEST(EncodingTest, WritesEuroSignAndLineEndsInItsBytes) {
  auto bytes = MakeRef<MemoryStream>();
  auto text = TTextStream::Create(bytes, TypeParam::kCode);
  text->WriteChar(0x20AC);
  EXPECT_EQ(bytes->Bytes(), EncodeUnit(0x20AC, TypeParam::kCode));
  EXPECT_EQ(text->WriteLine(String::Empty()), 0);
  text->WriteLine(u"h\u00E9"_s);
  text->WriteString("tail"_s);
  EXPECT_EQ(bytes->Bytes(), Encode(u"\u20AC\r\nh\u00E9\r\ntail", TypeParam::kCode));
}

TYPED_TEST(EncodingTest, ReadsLinesWholeFilesAndExactStrings) {
  auto text = Reader(Encode(u"ab\r\nc\rd\ne\0f\n\nlast"sv, TypeParam::kCode), TypeParam::kCode);
  for (auto line : {u"ab", u"cd", u"e", u"f", u"", u"last"}) EXPECT_EQ(Units(text->ReadLine()), line);
  EXPECT_TRUE(text->Eof());
  EXPECT_EQ(Units(text->ReadLine()), u"");

  const std::u16string all(u"a\r\nb\0c\n"sv);
  EXPECT_EQ(Units(Reader(Encode(all, TypeParam::kCode), TypeParam::kCode)->ReadFile()), all);

  // Longer than what is read before it joins the line, with a carriage
  // return dropped right where the first part ends.
  std::u16string longLine;
  for (int k = 0; k < 700; ++k) longLine += static_cast<char16_t>(u'a' + k % 26);
  const std::u16string split = longLine.substr(0, 256) + u'\r' + longLine.substr(256);
  auto longText = Reader(Encode(split + u'\n' + longLine, TypeParam::kCode), TypeParam::kCode);
  EXPECT_EQ(Units(longText->ReadLine()), longLine);
  EXPECT_EQ(Units(longText->ReadFile()), longLine);

  auto exact = Reader(Encode(u"a\nbc", TypeParam::kCode), TypeParam::kCode);
  EXPECT_EQ(Units(exact->ReadString(3)), u"a\nb");
  EXPECT_EQ(RaisedBy([&] { exact->ReadString(2); }), u"read error");
}

TYPED_TEST(EncodingTest, TypedValuesTravelAsDecimalLines) {
  auto bytes = MakeRef<MemoryStream>();
  auto text = TTextStream::Create(bytes, TypeParam::kCode);
  text->WriteByte(300);
  text->WriteShort(-5);
  text->WriteInt(-2147483647 - 1);
  text->WriteLong(9007199254740993LL);
  text->WriteDouble(1.5);
  text->WriteFloat(0.25f);
  const std::string head = Encode(u"300\r\n-5\r\n", TypeParam::kCode);
  EXPECT_EQ(bytes->Bytes().substr(0, head.size()), head);

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

TEST(TextStreamDecoding, TextEndingInsideACharacterRaises) {
  EXPECT_EQ(RaisedBy([] { Reader("ab\xC3", TTextStream::UTF8)->ReadLine(); }), u"read error");
  EXPECT_EQ(RaisedBy([] { Reader("\xE2\x82", TTextStream::UTF8)->ReadLine(); }), u"read error");
  EXPECT_EQ(RaisedBy([] { Reader("x\n\xE2", TTextStream::UTF8)->ReadFile(); }), u"read error");
  EXPECT_EQ(RaisedBy([] { Reader(std::string("a\0b", 3), TTextStream::UTF16LE)->ReadLine(); }),
            u"read error");
  EXPECT_EQ(RaisedBy([] { Reader(std::string("\0a\0", 3), TTextStream::UTF16BE)->ReadLine(); }),
            u"read error");
}

TEST(TextStreamDecoding, Utf8IsDecodedWithoutValidation) {
  // A four-byte form gives 0 for its first three bytes; its last byte then
  // leads a two-byte form with the byte after it.
  auto text = Reader("\xF0\x9F\x98\x80\x2B" "A", TTextStream::UTF8);
  EXPECT_EQ(text->ReadChar(), 0);
  EXPECT_EQ(text->ReadChar(), ((0x80 - 0xC0) * 64 + (0x2B - 0x80)) & 0xFFFF);
  EXPECT_EQ(text->ReadChar(), 'A');
  EXPECT_EQ(Units(Reader("\xEF\xBB\xBFhi", TTextStream::UTF8)->ReadLine()), u"\uFEFFhi");
}

// The console's stream writes a name as the bytes it was typed as; a
// UTF-8 stream over a file keeps writing each unit on its own.
TEST(TextStreamEncoding, SystemTextWritesNamesAsTheirBytes) {
#ifdef _WIN32
  const std::string escaped = "\xED\xB3\xA9";  // no unit carries a byte of a name here
#else
  const std::string escaped = "\xE9";
#endif
  const struct {
    std::u16string units;
    std::string plain, system;
  } cases[] = {
      {u"h\u00E9\u20AC", "h\xC3\xA9\xE2\x82\xAC", "h\xC3\xA9\xE2\x82\xAC"},
      {u"\U0001F600", "\xED\xA0\xBD\xED\xB8\x80", "\xF0\x9F\x98\x80"},
      // A pair whose low half looks like an escape.
      {u"\U00010080", "\xED\xA0\x80\xED\xB2\x80", "\xF0\x90\x82\x80"},
      {u"caf\xDCE9", "caf\xED\xB3\xA9", "caf" + escaped},
      // Lone surrogates, and a pair the wrong way round.
      {u"\xD800x", "\xED\xA0\x80x", "\xED\xA0\x80x"},
      {u"\xDE00\xD83D", "\xED\xB8\x80\xED\xA0\xBD", "\xED\xB8\x80\xED\xA0\xBD"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Hex(c.system, " "));
    const Ref<String> text = String::FromWideSpan(c.units.data(), static_cast<Int>(c.units.size()));
    auto plainBytes = MakeRef<MemoryStream>();
    TTextStream::Create(plainBytes, TTextStream::UTF8)->WriteLine(text);
    EXPECT_EQ(plainBytes->Bytes(), c.plain + "\r\n");
    auto systemBytes = MakeRef<MemoryStream>();
    auto system = TTextStream::CreateSystemText(systemBytes);
    EXPECT_EQ(system->Encoding(), TTextStream::UTF8);
    system->WriteLine(text);
    EXPECT_EQ(systemBytes->Bytes(), c.system + "\r\n");
  }
}

TEST(TextStreamDecoding, UnknownEncodingReadsZerosAndWritesNothing) {
  auto bytes = MakeRef<MemoryStream>("ab");
  auto text = TTextStream::Create(bytes, 9);
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

TEST(TextStreamBlocks, LinesOf32BytesEndedAtOnceOrByTheNextTextWrite) {
  auto bytes = MakeRef<MemoryStream>();
  auto text = TTextStream::Create(bytes, TTextStream::UTF16LE);
  const std::string block = Block(33);
  EXPECT_EQ(text->Write(Raw(block), 32), 32);
  EXPECT_EQ(bytes->Bytes(), Hex(block.substr(0, 32)) + "\r\n");

  bytes = MakeRef<MemoryStream>();
  text = TTextStream::Create(bytes, TTextStream::UTF8);
  text->WriteBytes(Raw(block), 33);
  text->Flush();
  const std::string open = Hex(block.substr(0, 32)) + "\r\n" + Hex(block.substr(32));
  EXPECT_EQ(bytes->Bytes(), open);
  text->WriteLine("x"_s);
  text->Write(Raw("\xAB"), 1);
  text->WriteInt(7);
  EXPECT_EQ(bytes->Bytes(), open + "\r\nx\r\nAB\r\n7\r\n");

  auto reader = Reader(bytes->Bytes(), TTextStream::UTF8);
  std::string back(34, '\0');
  reader->ReadBytes(reinterpret_cast<std::uint8_t*>(back.data()), 33);
  EXPECT_EQ(Units(reader->ReadLine()), u"x");
  reader->Read(reinterpret_cast<std::uint8_t*>(back.data() + 33), 1);
  EXPECT_EQ(back, block + "\xAB");
  EXPECT_EQ(reader->ReadInt(), 7);
}

TEST(TextStreamBlocks, TerminatorIsCarriageReturnLineFeedOrLineFeedAlone) {
  const std::string block = Block(40);
  auto text = Reader(Hex(block.substr(0, 32)) + "\n" + Hex(block.substr(32)) + "\nrest", TTextStream::UTF8);
  std::string back(40, '\0');
  EXPECT_EQ(text->Read(reinterpret_cast<std::uint8_t*>(back.data()), 40), 40);
  EXPECT_EQ(back, block);
  EXPECT_EQ(Units(text->ReadLine()), u"rest");

  std::uint8_t scratch[33];
  auto full = Reader(Hex(block).substr(0, 64) + "\r\r00", TTextStream::UTF8);
  EXPECT_EQ(RaisedBy([&] { full->Read(scratch, 33); }), u"Malformed line terminator");

  // The error ends the open line, so reading can go on after it.
  auto open = Reader("ABxyz\r\n", TTextStream::UTF8);
  open->Read(scratch, 1);
  EXPECT_EQ(RaisedBy([&] { open->ReadLine(); }), u"Malformed line terminator");
  EXPECT_EQ(Units(open->ReadLine()), u"yz");

  EXPECT_EQ(RaisedBy([&] { Reader("A", TTextStream::UTF8)->Read(scratch, 1); }), u"read error");
}

TEST(TextStreamBlocks, OnlyCapitalLettersAreHexadecimalDigits) {
  std::uint8_t byte = 0;
  Reader("AB", TTextStream::UTF8)->Read(&byte, 1);
  EXPECT_EQ(byte, 0xAB);
  Reader("ab", TTextStream::UTF8)->Read(&byte, 1);
  EXPECT_NE(byte, 0xAB);
  Reader("1b", TTextStream::UTF8)->Read(&byte, 1);
  EXPECT_NE(byte, 0x1B);
}

TEST(TextStreamBlocks, NegativeCountsTransferNothing) {
  auto bytes = MakeRef<MemoryStream>("AB");
  auto text = TTextStream::Create(bytes, TTextStream::UTF8);
  std::uint8_t byte = 0;
  EXPECT_EQ(text->Read(&byte, -3), 0);
  EXPECT_EQ(text->Write(&byte, -3), 0);
  EXPECT_EQ(text->Pos(), 0);
  EXPECT_EQ(bytes->Bytes(), "AB");
}

// ---------------------------------------------------------------------------
// Whole-text load and save, and text protocols nested in each other.

class TextFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Started in the program's order: the text factory is asked first.
    StartXEndianModule();
    StartTextStreamModule();
  }
  Ref<String> Url(const std::string& file) { return FromBytes((dir.Path() / file).string()); }
  std::u16string Load(const std::string& bytes) {
    dir.Write("in.txt", bytes);
    return Units(LoadTextFile(Url("in.txt")));
  }
  Ref<TStream> Open(const std::string& name, Int readable, Int writeable) {
    return OpenUrl(FromBytes(name), readable, writeable);
  }
  std::string Name(const std::string& file) { return (dir.Path() / file).string(); }
  testing::TempDir dir;
};

TEST_F(TextFileTest, LoadRecognisesEachMarkAndTakesNearMarksAsBytes) {
  EXPECT_EQ(Load("\xEF\xBB\xBFhi"), u"hi");
  EXPECT_EQ(Load(std::string("\xFF\xFEh\0", 4)), u"h");
  EXPECT_EQ(Load(std::string("\xFE\xFF\0h\0\r\0\n", 8)), u"h\r\n");
  EXPECT_EQ(Load("\xEF\xBB\xBF"), u"");
  EXPECT_EQ(Load("\xEF\xBBx"), u"\u00EF\u00BBx");
  EXPECT_EQ(Load("\xEF\xBB"), u"\u00EF\u00BB");
  EXPECT_EQ(Load("\xFE"), u"\u00FE");
  EXPECT_EQ(Load("\xFF\xFF\xFE"), u"\u00FF\u00FF\u00FE");
  EXPECT_EQ(Load(""), u"");
  EXPECT_EQ(Load(std::string(5000, '\xE9')), std::u16string(5000, u'\u00E9'));
}

TEST_F(TextFileTest, LoadFailures) {
  EXPECT_EQ(RaisedBy([&] { LoadTextFile(Url("missing.txt")); }), u"read error");
  EXPECT_EQ(RaisedBy([&] { LoadTextFile(MakeRef<MemoryStream>("\xFF\xFE" "a")); }), u"read error");
}

TEST_F(TextFileTest, LoadEndsAtAReadOfNothingWhenTheSourceNeverReportsItsEnd) {
  EXPECT_EQ(Units(LoadTextFile(MemoryStream::Pipe("abc"))), u"abc");
  EXPECT_EQ(Units(LoadTextFile(MemoryStream::Pipe("a"))), u"a");
  EXPECT_EQ(Units(LoadTextFile(MemoryStream::Pipe(""))), u"");
}

TEST_F(TextFileTest, SaveUsesBytesWhenTheyHoldTheTextElseMarkedUtf16Le) {
  EXPECT_EQ(SaveTextFile("abc"_s, Url("a.txt")), 1);
  EXPECT_EQ(ReadFileBytes(Name("a.txt")), "abc");
  EXPECT_EQ(SaveTextFile(u"a\u20AC"_s, Url("w.txt")), 1);
  EXPECT_EQ(ReadFileBytes(Name("w.txt")), std::string("\xFF\xFE" "a\0\xAC\x20", 6));
  EXPECT_EQ(Units(LoadTextFile(Url("w.txt"))), u"a\u20AC");

  // Eight-bit text that begins like a mark is written plainly, and so read
  // back as the encoding the mark names.
  SaveTextFile(u"\u00FF\u00FEh\u0000"_s, Url("m.txt"));
  EXPECT_EQ(ReadFileBytes(Name("m.txt")), std::string("\xFF\xFEh\0", 4));
  EXPECT_EQ(Units(LoadTextFile(Url("m.txt"))), u"h");

  EXPECT_EQ(RaisedBy([&] { SaveTextFile("a"_s, Url("no/dir/a.txt")); }), u"write error");
  EXPECT_EQ(RaisedBy([&] { SaveTextFile(u"\u20AC"_s, Url("no/dir/a.txt")); }), u"write error");
}

TEST_F(TextFileTest, EachProtocolOpensItsEncodingAndNothingElse) {
  const std::pair<const char*, Int> protocols[] = {
      {"latin1", TTextStream::LATIN1}, {"utf8", TTextStream::UTF8},
      {"UTF16BE", TTextStream::UTF16BE}, {"utf16le", TTextStream::UTF16LE}};
  dir.Write("f.txt", "");
  for (auto [proto, code] : protocols) {
    auto text = CastTo<TTextStream>(Open(proto + ("::" + Name("f.txt")), 1, 1));
    ASSERT_TRUE(text) << proto;
    EXPECT_EQ(text->Encoding(), code);
  }
  EXPECT_FALSE(Open("utf7::" + Name("f.txt"), 1, 0));
  EXPECT_FALSE(Open("utf8::" + Name("missing.txt"), 1, 0));
  EXPECT_FALSE(Open("utf8::", 1, 0));

  auto writer = Open("utf16be::" + Name("t.txt"), 0, 1);
  writer->WriteLine(u"\u20ACx"_s);
  writer->Close();
  EXPECT_EQ(ReadFileBytes(Name("t.txt")), std::string("\x20\xAC\0x\0\r\0\n", 8));
}

TEST_F(TextFileTest, NestedProtocolsApplyFromLeftToRight) {
  // Text over byte order: characters from the file's raw bytes.
  dir.Write("b.txt", "h\xC3\xA9\r\n");
  auto text = CastTo<TTextStream>(Open("utf8::bigendian::" + Name("b.txt"), 1, 0));
  ASSERT_TRUE(text);
  EXPECT_TRUE(CastTo<TXEndianStream>(text->Inner()));
  EXPECT_EQ(Units(text->ReadLine()), u"h\u00E9");

  // Byte order over text: numbers from hexadecimal digits.
  dir.Write("h.txt", "1234\r\n");
  EXPECT_EQ(Open("bigendian::utf8::" + Name("h.txt"), 1, 0)->ReadShort(), 0x1234);

  // Text over text: each outer byte is one decimal line of the inner text.
  dir.Write("n.txt", "104\r\n105\r\n10\r\n");
  auto outer = Open("latin1::utf8::" + Name("n.txt"), 1, 0);
  EXPECT_EQ(Units(outer->ReadLine()), u"hi");
  EXPECT_TRUE(outer->Eof());
}

TEST_F(TextFileTest, AbsurdlyDeepNestingGivesNull) {
  dir.Write("d.txt", "x");
  std::string deep, shallow;
  for (int i = 0; i < 20000; ++i) deep += i % 2 ? "utf8::" : "bigendian::";
  for (int i = 0; i < 8; ++i) shallow += "utf8::";
  EXPECT_FALSE(Open(deep + Name("d.txt"), 1, 0));
  EXPECT_TRUE(Open(shallow + Name("d.txt"), 1, 0));
}

}  // namespace
}  // namespace corvid
