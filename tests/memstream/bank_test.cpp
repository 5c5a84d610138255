#include <gtest/gtest.h>

#include <array>
#include <string>

#include "memstream/bank.h"
#include "memstream/bank_stream.h"
#include "stream/cstream.h"
#include "stream/url.h"
#include "support/bank_bytes.h"
#include "support/raised.h"
#include "support/test_support.h"

namespace corvid {
namespace {

using testing::BankOf;
using testing::BytesOf;
using testing::Name;
using testing::Raises;
using testing::TempDir;

TEST(BankGrowth, CapacityGrowsByHalfAgainOrToTheSize) {
  Ref<TBank> empty = NewBank(0);
  EXPECT_EQ(BankLength(empty), 0);
  EXPECT_EQ(BankAllocated(empty), 0);
  EXPECT_EQ(BankResize(empty, 1), 0);
  EXPECT_EQ(BankAllocated(empty), 1);
  BankResize(empty, 2);
  EXPECT_EQ(BankAllocated(empty), 2);

  Ref<TBank> ten = BankOf("0123456789");
  ten->Resize(11);
  EXPECT_EQ(ten->Capacity(), 15);
  EXPECT_EQ(BytesOf(ten).substr(0, 10), "0123456789");

  Ref<TBank> jump = NewBank(10);
  jump->Resize(100);
  EXPECT_EQ(jump->Capacity(), 100);
}

TEST(BankGrowth, ShrinkingKeepsMemoryAndBytes) {
  Ref<TBank> bank = BankOf("0123456789ABCDE");
  std::uint8_t* memory = bank->Buf();
  bank->Resize(5);
  bank->Resize(12);
  EXPECT_EQ(bank->Buf(), memory);
  EXPECT_EQ(bank->Capacity(), 15);
  EXPECT_EQ(BytesOf(bank), "0123456789AB");
}

TEST(BankGrowth, NegativeSizesAreRefused) {
  EXPECT_TRUE(Raises<TRuntimeException>([] { NewBank(-1); }));
  Ref<TBank> bank = BankOf("abc");
  EXPECT_TRUE(Raises<TRuntimeException>([&] { bank->Resize(-2); }));
  EXPECT_EQ(BytesOf(bank), "abc");
}

TEST(BankAccess, PeeksAndPokesUseLittleEndianAtAnyOffset) {
  Ref<TBank> bank = NewBank(16);
  EXPECT_EQ(PokeShort(bank, 0, 70000), 0);
  EXPECT_EQ(PeekShort(bank, 0), 4464);
  EXPECT_EQ(PeekByte(bank, 0), 0x70);
  EXPECT_EQ(PeekByte(bank, 1), 0x11);
  PokeByte(bank, 0, -1);
  EXPECT_EQ(PeekByte(bank, 0), 255);
  PokeShort(bank, 0, -1);
  EXPECT_EQ(PeekShort(bank, 0), 65535);

  PokeInt(bank, 1, 0x01020304);
  EXPECT_EQ(BytesOf(bank).substr(1, 4), "\x04\x03\x02\x01");
  EXPECT_EQ(PeekInt(bank, 1), 0x01020304);
  PokeLong(bank, 3, -1234567890123LL);
  EXPECT_EQ(PeekLong(bank, 3), -1234567890123LL);
  PokeFloat(bank, 5, 1.5f);
  EXPECT_EQ(PeekFloat(bank, 5), 1.5f);
  PokeDouble(bank, 7, -0.25);
  EXPECT_EQ(PeekDouble(bank, 7), -0.25);
}

TEST(BankAccess, EveryAccessOutsideTheBankRaises) {
  Ref<TBank> bank = BankOf("0123456789");
  EXPECT_TRUE(Raises<TArrayBoundsException>([&] { bank->PeekByte(-1); }));
  EXPECT_TRUE(Raises<TArrayBoundsException>([&] { bank->PeekByte(10); }));
  EXPECT_TRUE(Raises<TArrayBoundsException>([&] { bank->PokeShort(9, 1); }));
  EXPECT_TRUE(Raises<TArrayBoundsException>([&] { bank->PeekInt(7); }));
  EXPECT_TRUE(Raises<TArrayBoundsException>([&] { bank->PokeLong(3, 1); }));
  EXPECT_TRUE(Raises<TArrayBoundsException>([&] { bank->PeekDouble(INT32_MAX); }));
  EXPECT_TRUE(Raises<TArrayBoundsException>([&] { bank->PokeFloat(INT32_MIN, 1); }));
  EXPECT_EQ(bank->PeekShort(8), '8' | '9' << 8);

  // Shrinking moves the limit even though the bytes are still allocated.
  bank->Resize(4);
  EXPECT_TRUE(Raises<TArrayBoundsException>([&] { bank->PeekByte(4); }));
  EXPECT_EQ(BytesOf(bank), "0123");

  EXPECT_TRUE(Raises<TArrayBoundsException>([&] { BankCopy(bank, 2, bank, 0, 3); }));
  EXPECT_TRUE(Raises<TArrayBoundsException>([&] { BankCopy(bank, 0, bank, 2, 3); }));
  EXPECT_TRUE(Raises<TArrayBoundsException>([&] { BankCopy(bank, 0, bank, 0, -1); }));
  EXPECT_TRUE(Raises<TArrayBoundsException>([&] { bank->Read(NewBankStream(nullptr), 1, 4); }));
  EXPECT_TRUE(Raises<TArrayBoundsException>([&] { bank->Write(NewBankStream(nullptr), -1, 1); }));
  EXPECT_EQ(BytesOf(bank), "0123");
}

TEST(BankAccess, CopyBetweenAndWithinBanks) {
  Ref<TBank> source = BankOf("abcdef");
  Ref<TBank> target = BankOf("......");
  EXPECT_EQ(BankCopy(source, 1, target, 2, 4), 0);
  EXPECT_EQ(BytesOf(target), "..bcde");
  BankCopy(source, 0, source, 2, 4);
  EXPECT_EQ(BytesOf(source), "ababcd");
  BankCopy(source, 0, target, 6, 0);  // nothing at the very end is in range
}

TEST(BankAccess, NullBanksRaiseTheNullObjectError) {
  Ref<TBank> none;
  EXPECT_TRUE(Raises<TNullObjectException>([&] { BankLength(none); }));
  EXPECT_TRUE(Raises<TNullObjectException>([&] { PokeByte(none, 0, 1); }));
  EXPECT_TRUE(Raises<TNullObjectException>([&] { BankCopy(none, 0, NewBank(1), 0, 0); }));
  EXPECT_TRUE(Raises<TNullObjectException>([] { NewBank(1)->Read(nullptr, 0, 1); }));
}

TEST(StaticBank, ViewsTheCallersMemoryAndNeverFreesIt) {
  std::array<std::uint8_t, 8> memory{1, 2, 3, 4, 5, 6, 7, 8};
  {
    Ref<TBank> bank = NewStaticBank(memory.data(), 6);
    EXPECT_EQ(BankAllocated(bank), -1);
    EXPECT_EQ(BankLength(bank), 6);
    EXPECT_EQ(BankMemory(bank), memory.data());
    PokeByte(bank, 0, 9);
    EXPECT_EQ(memory[0], 9);
    EXPECT_TRUE(Raises<TArrayBoundsException>([&] { bank->PeekByte(6); }));

    // Resizing stays within the view; the memory never moves.
    bank->Resize(2);
    bank->Resize(6);
    EXPECT_EQ(bank->PeekByte(5), 6);
    EXPECT_TRUE(Raises<TRuntimeException>([&] { bank->Resize(7); }));
    EXPECT_EQ(bank->Size(), 6);
    EXPECT_EQ(bank->Buf(), memory.data());
  }
  EXPECT_EQ(memory[7], 8);
  EXPECT_TRUE(Raises<TRuntimeException>([] { NewStaticBank(nullptr, 4); }));
  EXPECT_EQ(NewStaticBank(nullptr, 0)->Size(), 0);
}

TEST(BankStreams, ReadAndWriteAreOneCallOfTheStream) {
  TempDir dir;
  auto path = dir.Write("data", "hello");
  Ref<TBank> bank = NewBank(8);
  Ref<TStream> in = TCStream::OpenFile(Name(path), 1, 0);
  EXPECT_EQ(BankReadFrom(bank, in, 2, 6), 5);
  EXPECT_EQ(BytesOf(bank).substr(2, 5), "hello");
  auto out = NewBankStream(nullptr);
  EXPECT_EQ(BankWriteTo(bank, out, 3, 4), 4);
  EXPECT_EQ(BytesOf(out->Bank()), "ello");
}

TEST(BankLoadSave, LoadsWholeStreamsAndFitsTheCapacity) {
  TempDir dir;
  EXPECT_FALSE(LoadBankFrom(Name(dir.Path() / "missing")));
  Ref<TBank> empty = LoadBankFrom(Name(dir.Write("empty", "")));
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->Size(), 0);

  std::string bytes(5000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i % 251);
  Ref<TBank> bank = TBank::Load(Name(dir.Write("long", bytes)));
  ASSERT_TRUE(bank);
  EXPECT_EQ(bank->Size(), 5000);
  EXPECT_EQ(bank->Capacity(), 5000);
  EXPECT_EQ(BytesOf(bank), bytes);
}

TEST(BankLoadSave, LoadingAStreamLeavesItOpen) {
  TempDir dir;
  Ref<TStream> stream = TCStream::OpenFile(Name(dir.Write("f", "abcdef")), 1, 0);
  stream->SkipBytes(2);
  Ref<TBank> bank = TBank::Load(stream);
  EXPECT_EQ(BytesOf(bank), "cdef");
  EXPECT_EQ(stream->Eof(), 1);
  EXPECT_EQ(stream->Seek(1), 1);
  EXPECT_EQ(stream->ReadByte(), 'b');
}

TEST(BankLoadSave, SavesItsBytesOrReportsZero) {
  TempDir dir;
  Ref<TBank> bank = BankOf(std::string("a\0b", 3));
  auto path = dir.Path() / "saved";
  EXPECT_EQ(SaveBankTo(bank, Name(path)), 1);
  EXPECT_EQ(testing::ReadFileBytes(path), std::string("a\0b", 3));
  EXPECT_EQ(bank->Save(Name(dir.Path() / "no" / "dir")), 0);
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "no"));
}

// The bank grows while its own bytes are being written into it; the
// memory they come from must stay valid until they are copied.
TEST(BankLoadSave, SavingABankIntoItselfAppendsACopy) {
  StartBankStreamModule();
  Ref<TBank> bank = BankOf("abcdefgh");
  Ref<TBankStream> end = NewBankStream(bank);
  end->Seek(8);
  EXPECT_EQ(bank->Save(end), 1);
  EXPECT_EQ(BytesOf(bank), "abcdefghabcdefgh");
  EXPECT_EQ(bank->Save(bank), 1);  // a bank as URL: over itself from 0
  EXPECT_EQ(BytesOf(bank), "abcdefghabcdefgh");
  EXPECT_EQ(bank->Write(end, 0, 16), 16);
  EXPECT_EQ(BytesOf(bank), "abcdefghabcdefghabcdefghabcdefgh");
}

}  // namespace
}  // namespace corvid
