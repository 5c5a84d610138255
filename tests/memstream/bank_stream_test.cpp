#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "memstream/bank.h"
#include "memstream/bank_stream.h"
#include "runtime/incbin.h"
#include "stream/stream_functions.h"
#include "stream/url.h"
#include "support/bank_bytes.h"
#include "support/raised.h"

namespace corvid {
namespace {

using testing::BankOf;
using testing::BytesOf;
using testing::Raises;

Int WriteText(TStream& stream, const std::string& text) {
  return stream.Write(reinterpret_cast<const std::uint8_t*>(text.data()), static_cast<Int>(text.size()));
}

std::string ReadText(TStream& stream, Int count) {
  std::string text(static_cast<std::size_t>(count), '\0');
  Int n = stream.Read(reinterpret_cast<std::uint8_t*>(text.data()), count);
  text.resize(static_cast<std::size_t>(n > 0 ? n : 0));
  return text;
}

TEST(BankStream, WritesGrowTheBankByItsOwnRule) {
  Ref<TBank> bank = NewBank(0);
  Ref<TBankStream> stream = NewBankStream(bank);
  EXPECT_EQ(WriteText(*stream, "12345"), 5);
  EXPECT_EQ(bank->Size(), 5);
  EXPECT_EQ(bank->Capacity(), 5);
  EXPECT_EQ(WriteText(*stream, "678"), 3);
  EXPECT_EQ(bank->Size(), 8);
  EXPECT_EQ(bank->Capacity(), 8);
  EXPECT_EQ(WriteText(*stream, "9"), 1);
  EXPECT_EQ(bank->Size(), 9);
  EXPECT_EQ(bank->Capacity(), 12);
  EXPECT_EQ(BytesOf(bank), "123456789");
  stream->Seek(2);
  EXPECT_EQ(WriteText(*stream, "ab"), 2);
  EXPECT_EQ(BytesOf(bank), "12ab56789");
  EXPECT_EQ(WriteText(*stream, ""), 0);
}

TEST(BankStream, SeeksAreClampedAndEofMeansTheEnd) {
  Ref<TBankStream> stream = NewBankStream(NewBank(6));
  EXPECT_EQ(stream->Seek(-3), 0);
  EXPECT_EQ(stream->Pos(), 0);
  EXPECT_EQ(stream->Eof(), 0);
  EXPECT_EQ(stream->Seek(16), 6);
  EXPECT_EQ(stream->Eof(), 1);
  EXPECT_EQ(stream->Seek(5), 5);
  EXPECT_EQ(stream->Eof(), 0);
}

TEST(BankStream, ReadsStopAtTheEnd) {
  Ref<TBank> bank = BankOf("abcdef");
  Ref<TBankStream> stream = NewBankStream(bank);
  stream->Seek(2);
  EXPECT_EQ(ReadText(*stream, 10), "cdef");
  EXPECT_EQ(stream->Pos(), 6);
  EXPECT_EQ(ReadText(*stream, 10), "");
  stream->Seek(0);
  std::uint8_t byte = 0;
  EXPECT_EQ(stream->Read(&byte, -1), 0);
  EXPECT_EQ(stream->Pos(), 0);
  EXPECT_TRUE(Raises<TStreamReadException>([&] { stream->ReadString(7); }));
}

// Lines are cut from memory in one pass; they must match the byte-by-byte
// reading of the base stream exactly, positions included.
TEST(BankStream, LinesMatchTheByteByByteReading) {
  const std::string samples[] = {
      "a\r\nb",  "ab\rc\n", std::string("ab\0cd\n\n", 7), "", "\n", "\r", "end\xE9", "x\r\r\n\0",
  };
  for (const std::string& bytes : samples) {
    Ref<TBank> bank = BankOf(bytes);
    Ref<TBankStream> fast = NewBankStream(bank);
    Ref<TBankStream> slow = NewBankStream(bank);
    std::array<std::uint8_t, 16> window{};
    std::memcpy(window.data(), bytes.data(), bytes.size());
    Ref<TRamStream> ram = NewRamStream(window.data(), static_cast<Int>(bytes.size()), 1, 0);
    for (int line = 0; line < 5; ++line) {
      Ref<String> expected = slow->TStream::ReadLine();
      EXPECT_EQ(fast->ReadLine()->View(), expected->View()) << "in " << bytes;
      EXPECT_EQ(ram->ReadLine()->View(), expected->View()) << "in " << bytes;
      EXPECT_EQ(fast->Pos(), slow->Pos());
      EXPECT_EQ(ram->Pos(), slow->Pos());
    }
  }
  std::uint8_t text[] = {'n', 'o', '\n'};
  Ref<TRamStream> unreadable = NewRamStream(text, 3, 0, 1);
  EXPECT_EQ(unreadable->ReadLine()->Length(), 0);
  EXPECT_EQ(unreadable->Pos(), 0);
}

TEST(BankStream, SharedBanksShowChangesAtOnce) {
  Ref<TBank> bank = NewBank(0);
  Ref<TBankStream> writer = NewBankStream(bank);
  Ref<TBankStream> reader = NewBankStream(bank);
  WriteText(*writer, "shared");
  EXPECT_EQ(reader->Size(), 6);
  EXPECT_EQ(ReadText(*reader, 6), "shared");

  // Shrunk by another holder: the stream sits past the end, where there is
  // nothing left to read, and moves nothing until it is sought back.
  bank->Resize(3);
  EXPECT_EQ(reader->Pos(), 6);
  EXPECT_EQ(reader->Eof(), 1);
  EXPECT_EQ(ReadText(*reader, 1), "");
  EXPECT_EQ(WriteText(*reader, "x"), 0);
  EXPECT_EQ(reader->Seek(100), 3);
  EXPECT_EQ(WriteText(*reader, "X"), 1);
  EXPECT_EQ(BytesOf(bank), "shaX");
}

TEST(BankStream, CloseLeavesTheStreamUsable) {
  Ref<TBankStream> stream = NewBankStream(nullptr);
  EXPECT_EQ(stream->Size(), 0);
  stream->WriteInt(0x01020304);
  EXPECT_EQ(stream->Close(), 0);
  stream->Seek(0);
  EXPECT_EQ(stream->ReadInt(), 0x01020304);
  EXPECT_TRUE(Raises<TNullObjectException>([] { TBankStream::Create(nullptr); }));
}

TEST(BankStream, StaticBanksTakeOnlyWhatFits) {
  std::array<std::uint8_t, 6> memory{'.', '.', '.', '.', '.', '#'};
  Ref<TBank> bank = NewStaticBank(memory.data(), 5);
  Ref<TBankStream> stream = NewBankStream(bank);
  stream->Seek(3);
  EXPECT_EQ(WriteText(*stream, "abc"), 2);
  EXPECT_EQ(WriteText(*stream, "c"), 0);
  EXPECT_TRUE(Raises<TStreamWriteException>([&] { stream->WriteByte(1); }));
  EXPECT_EQ(std::string(memory.begin(), memory.end()), "...ab#");
  EXPECT_EQ(bank->Buf(), memory.data());

  // Shrunk within its memory, the bank grows back through the stream.
  bank->Resize(1);
  stream->Seek(1);
  EXPECT_EQ(WriteText(*stream, "xyzw"), 4);
  EXPECT_EQ(bank->Size(), 5);
  EXPECT_EQ(std::string(memory.begin(), memory.end()), ".xyzw#");
}

TEST(BankStream, ABankOpensAsAStreamOverItself) {
  StartBankStreamModule();
  Ref<TBank> bank = BankOf("ab");
  Ref<TStream> stream = OpenUrlReader(bank);
  ASSERT_TRUE(CastTo<TBankStream>(stream));
  EXPECT_EQ(stream->Pos(), 0);
  stream->Seek(2);
  EXPECT_EQ(WriteText(*stream, "cd"), 2);
  EXPECT_EQ(BytesOf(bank), "abcd");
  EXPECT_EQ(CastTo<TBankStream>(OpenUrlWriter(bank))->Bank(), bank);

  EXPECT_EQ(ToBytes(LoadByteText(bank)), "abcd");
  EXPECT_FALSE(OpenUrlReader(MakeRef<TRuntimeException>()));
  EXPECT_FALSE(OpenUrlReader("::"_s));
}

TEST(RamStream, WindowLimitsAndFlags) {
  std::array<std::uint8_t, 5> memory{'a', 'b', 'c', 'd', '#'};
  Ref<TRamStream> stream = NewRamStream(memory.data(), 4, 1, 1);
  EXPECT_EQ(stream->Size(), 4);
  EXPECT_EQ(ReadText(*stream, 3), "abc");
  EXPECT_EQ(WriteText(*stream, "XYZ"), 1);
  EXPECT_EQ(WriteText(*stream, "Q"), 0);
  EXPECT_EQ(ReadText(*stream, 1), "");
  EXPECT_EQ(std::string(memory.begin(), memory.end()), "abcX#");
  EXPECT_EQ(stream->Seek(-1), 0);
  EXPECT_EQ(stream->Seek(9), 4);

  Ref<TRamStream> writeOnly = NewRamStream(memory.data(), 4, 0, 1);
  EXPECT_EQ(ReadText(*writeOnly, 2), "");
  EXPECT_EQ(writeOnly->Pos(), 0);
  Ref<TRamStream> readOnly = NewRamStream(memory.data(), 4, 1, 0);
  EXPECT_EQ(WriteText(*readOnly, "zz"), 0);
  EXPECT_EQ(std::string(memory.begin(), memory.end()), "abcX#");

  EXPECT_EQ(NewRamStream(nullptr, 0, 1, 1)->Eof(), 1);
  EXPECT_TRUE(Raises<TRuntimeException>([] { NewRamStream(nullptr, 3, 1, 1); }));
  EXPECT_TRUE(Raises<TRuntimeException>([&] { NewRamStream(memory.data(), -1, 1, 1); }));
}

TEST(Incbin, RegisteredBlocksOpenForReadingOnly) {
  StartRamStreamModule();
  EXPECT_FALSE(OpenUrlReader("incbin::data"_s));

  static const std::uint8_t first[] = {'o', 'n', 'e'};
  static const std::uint8_t second[] = {'t', 'w', 'o'};
  EXPECT_EQ(AddIncbin("data"_s, first, 3), 1);
  EXPECT_EQ(AddIncbin("data"_s, second, 3), 0);
  EXPECT_EQ(AddIncbin("Data"_s, second, 2), 1);
  EXPECT_EQ(FindIncbin("data"_s).address, first);
  EXPECT_EQ(FindIncbin("missing"_s).address, nullptr);
  EXPECT_EQ(FindIncbin("missing"_s).size, 0);

  Ref<TStream> stream = OpenUrlReader("INCBIN::data"_s);
  ASSERT_TRUE(CastTo<TRamStream>(stream));
  EXPECT_EQ(ReadText(*stream, 10), "one");
  EXPECT_EQ(ToBytes(LoadByteText("incbin::Data"_s)), "tw");
  EXPECT_EQ(WriteText(*stream, "x"), 0);
  EXPECT_FALSE(OpenUrlWriter("incbin::data"_s));
  EXPECT_FALSE(OpenUrl("incbin::data"_s, 1, 1));
  EXPECT_FALSE(OpenUrlReader("incbin::dat"_s));

  EXPECT_TRUE(Raises<TRuntimeException>([] { AddIncbin("null"_s, nullptr, 0); }));
  EXPECT_TRUE(Raises<TRuntimeException>([] { AddIncbin("negative"_s, first, -1); }));
}

}  // namespace
}  // namespace corvid
