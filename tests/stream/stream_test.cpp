#include "stream/stream.h"

#include <gtest/gtest.h>

#include <functional>

#include "stream/stream_functions.h"
#include "stream/text_stream.h"
#include "support/memory_stream.h"
#include "support/raised.h"
#include "support/test_support.h"

namespace corvid {
namespace {

using testing::MemoryStream;
using testing::RaisedBy;

TEST(StreamLines, CutAtLineFeedOrZeroDroppingCarriageReturns) {
  auto s = MakeRef<MemoryStream>(std::string("a\r\nb", 4));
  EXPECT_EQ(ToBytes(s->ReadLine()), "a");
  EXPECT_EQ(ToBytes(s->ReadLine()), "b");
  EXPECT_TRUE(s->Eof());
  EXPECT_EQ(s->ReadLine()->Length(), 0);

  auto lone = MakeRef<MemoryStream>("ab\rc\n");
  EXPECT_EQ(ToBytes(lone->ReadLine()), "abc");

  auto zero = MakeRef<MemoryStream>(std::string("ab\0cd\n", 6));
  EXPECT_EQ(ToBytes(zero->ReadLine()), "ab");
  EXPECT_EQ(ToBytes(zero->ReadLine()), "cd");

  // Each byte becomes the unit of the same value.
  EXPECT_EQ(testing::Units(MakeRef<MemoryStream>("\xE9\xFF\n")->ReadLine()), u"\u00E9\u00FF");
}

TEST(StreamLines, WriteLineKeepsLowBytesAndEndsWithCrLf) {
  auto s = MakeRef<MemoryStream>();
  EXPECT_EQ(s->WriteLine(String::Empty()), 1);
  EXPECT_EQ(s->WriteLine(String::FromWideZ(u"\u0141x")), 1);
  EXPECT_EQ(s->Bytes(), "\r\nAx\r\n");
}

TEST(StreamLines, ShortWriteIsReportedNotRaised) {
  auto s = MakeRef<MemoryStream>("", 2);
  EXPECT_EQ(s->WriteLine("abc"_s), 0);
  EXPECT_EQ(s->Bytes(), "ab");
}

TEST(StreamTyped, LittleEndianBytesAndUnsignedSmallValues) {
  auto s = MakeRef<MemoryStream>();
  s->WriteInt(1);
  s->WriteShort(0x1FFFF);
  s->WriteByte(-1);
  s->WriteLong(-2);
  s->WriteDouble(1.0);
  s->WriteFloat(-0.5f);
  EXPECT_EQ(s->Bytes().substr(0, 7), std::string("\x01\0\0\0\xFF\xFF\xFF", 7));
  s->Seek(0);
  EXPECT_EQ(s->ReadInt(), 1);
  EXPECT_EQ(s->ReadShort(), 65535);
  EXPECT_EQ(s->ReadByte(), 255);
  EXPECT_EQ(s->ReadLong(), -2);
  EXPECT_EQ(s->ReadDouble(), 1.0);
  EXPECT_EQ(s->ReadFloat(), -0.5f);
  EXPECT_TRUE(s->Eof());
}

TEST(StreamTyped, ShortDataRaisesAfterConsumingWhatWasThere) {
  auto s = MakeRef<MemoryStream>("abc", 1);
  auto error = RaisedBy([&] { s->ReadInt(); });
  EXPECT_TRUE(CastTo<TStreamReadException>(error));
  EXPECT_EQ(ToBytes(error->ToString()), "Error reading from stream");
  EXPECT_EQ(s->Pos(), 3);
}

TEST(StreamBlocks, ExactTransfersLoopOverShortOnes) {
  auto s = MakeRef<MemoryStream>("", 3);
  std::uint8_t data[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  EXPECT_EQ(s->WriteBytes(data, 10), 10);
  s->Seek(0);
  std::uint8_t back[10] = {};
  EXPECT_EQ(s->ReadBytes(back, 10), 10);
  EXPECT_EQ(std::vector<int>(back, back + 10), std::vector<int>(data, data + 10));
  s->Seek(1);
  EXPECT_EQ(s->SkipBytes(8), 8);
  EXPECT_EQ(s->ReadByte(), 10);
  EXPECT_TRUE(CastTo<TStreamReadException>(RaisedBy([&] { s->SkipBytes(1); })));
  EXPECT_EQ(s->ReadString(0)->Length(), 0);
}

// The count is the caller's word, not the stream's: memory follows the
// bytes that arrive, so a short stream fails at once instead of first
// taking 2 GiB.
TEST(StreamBlocks, HugeCountsTakeMemoryOnlyForTheBytesThatCome) {
  struct Case {
    const char* what;
    std::function<void(const Ref<TStream>&)> call;
  } cases[] = {
      {"ReadString", [](const Ref<TStream>& s) { s->ReadString(INT32_MAX); }},
      {"text ReadString",
       [](const Ref<TStream>& s) { TTextStream::Create(s, TTextStream::LATIN1)->ReadString(INT32_MAX); }},
      {"CopyCount", [](const Ref<TStream>& s) { CopyCount(s, MakeRef<MemoryStream>(), INT32_MAX, INT32_MAX); }},
  };
  for (const Case& c : cases) {
    auto source = MakeRef<MemoryStream>("abc");
    long before = testing::PeakMemoryKilobytes();
    EXPECT_TRUE(CastTo<TStreamReadException>(RaisedBy([&] { c.call(source); }))) << c.what;
    EXPECT_LT(testing::PeakMemoryKilobytes() - before, 64 * 1024) << c.what;
    EXPECT_EQ(source->Pos(), 3) << c.what;
  }
  std::string bytes(10000, 'x');
  bytes.back() = 'z';
  EXPECT_EQ(ToBytes(MakeRef<MemoryStream>(bytes, 777)->ReadString(10000)), bytes);
}

TEST(StreamBlocks, StalledWriteRaises) {
  auto s = MakeRef<MemoryStream>("", 0);
  EXPECT_TRUE(CastTo<TStreamWriteException>(RaisedBy([&] { s->WriteString("x"_s); })));
  EXPECT_EQ(ToBytes(MakeRef<TStreamWriteException>()->ToString()), "Error writing to stream");
}

TEST(StreamBase, WithoutPrimitivesRaisesRuntimeErrors) {
  auto io = MakeRef<TStream>();
  EXPECT_EQ(io->Pos(), -1);
  EXPECT_EQ(io->Size(), 0);
  EXPECT_FALSE(io->Eof());
  EXPECT_EQ(io->Seek(5), -1);
  auto read = CastTo<TRuntimeException>(RaisedBy([&] { io->ReadByte(); }));
  ASSERT_TRUE(read);
  EXPECT_EQ(ToBytes(read->ToString()), "Stream is not readable");
  auto write = CastTo<TRuntimeException>(RaisedBy([&] { io->WriteByte(1); }));
  ASSERT_TRUE(write);
  EXPECT_EQ(ToBytes(write->ToString()), "Stream is not writeable");
}

TEST(StreamBase, ObjectsCannotBeSerialisedAndTheErrorIsAString) {
  auto s = MakeRef<MemoryStream>();
  auto read = CastTo<String>(RaisedBy([&] { s->ReadObject(); }));
  ASSERT_TRUE(read);
  EXPECT_EQ(ToBytes(read), "Unable to read object");
  auto write = CastTo<String>(RaisedBy([&] { s->WriteObject(s); }));
  ASSERT_TRUE(write);
  EXPECT_EQ(ToBytes(write), "Unable to write object");
}

TEST(StreamWrappers, SecondHandleLeavesTheStreamOpen) {
  auto inner = MakeRef<MemoryStream>("hello\nworld");
  auto handle = TStreamStream::Create(inner);
  EXPECT_EQ(inner->RefCount(), 2);
  EXPECT_EQ(ToBytes(handle->ReadLine()), "hello");
  EXPECT_EQ(handle->Pos(), 6);
  EXPECT_EQ(handle->Close(), 0);
  EXPECT_EQ(handle->Close(), 0);
  EXPECT_EQ(inner->RefCount(), 1);
  EXPECT_EQ(ToBytes(inner->ReadLine()), "world");
}

TEST(StreamWrappers, WithoutInnerStreamRaisesNullObject) {
  auto wrapper = MakeRef<TStreamWrapper>();
  auto error = RaisedBy([&] { wrapper->ReadLine(); });
  EXPECT_TRUE(CastTo<TNullObjectException>(error));
}

TEST(StreamWrappers, SetStreamToTheSameStreamKeepsIt) {
  auto inner = MakeRef<MemoryStream>("x");
  auto wrapper = MakeRef<TStreamWrapper>();
  wrapper->SetStream(inner);
  wrapper->SetStream(wrapper->Inner());
  EXPECT_EQ(wrapper->ReadByte(), 'x');
}

// ReadLong and the block loops run over the wrapper's own Read, so a
// subclass that changes Read changes them too.
TEST(StreamWrappers, LongAndBlocksGoThroughTheWrappersRead) {
  struct CountingWrapper : TStreamWrapper {
    int reads = 0;
    Int Read(std::uint8_t* buffer, Int count) override {
      ++reads;
      return TStreamWrapper::Read(buffer, count);
    }
  };
  auto wrapper = MakeRef<CountingWrapper>();
  wrapper->SetStream(MakeRef<MemoryStream>(std::string(16, '\x01'), 4));
  EXPECT_EQ(wrapper->ReadLong(), 0x0101010101010101);
  EXPECT_EQ(wrapper->reads, 2);
  wrapper->ReadInt();  // forwarded whole to the inner stream
  EXPECT_EQ(wrapper->reads, 2);
}

}  // namespace
}  // namespace corvid
