#include "memstream/xendian.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "stream/cstream.h"
#include "support/memory_stream.h"
#include "support/raised.h"
#include "support/test_support.h"

namespace corvid {
namespace {

using testing::Hex;
using testing::MemoryStream;
using testing::Raises;

// The wrapped stream keeps its bytes in memory, so that the order on the
// wire is seen byte by byte rather than through the host's own order.
struct Wired {
  Ref<MemoryStream> bytes = MakeRef<MemoryStream>();
  Ref<TStream> big = TXEndianStream::BigEndian(bytes);
};

TEST(BigEndianStream, WritesEveryWidthMostSignificantByteFirst) {
  Wired w;
  w.big->WriteShort(0x71234);  // only the low 16 bits count
  w.big->WriteInt(1);
  w.big->WriteLong(0x0102030405060708LL);
  w.big->WriteFloat(1.0f);
  w.big->WriteDouble(1.0);
  EXPECT_EQ(Hex(w.bytes->Bytes(), " "),
            "12 34 "
            "00 00 00 01 "
            "01 02 03 04 05 06 07 08 "
            "3F 80 00 00 "
            "3F F0 00 00 00 00 00 00");
}

TEST(BigEndianStream, ReadsEveryWidthMostSignificantByteFirst) {
  auto bytes = MakeRef<MemoryStream>(std::string(
      "\x12\x34"
      "\xFF\xFE"
      "\x80\x00\x00\x01"
      "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFE"
      "\xC0\x20\x00\x00"
      "\x3F\xF0\x00\x00\x00\x00\x00\x00",
      28));
  auto big = TXEndianStream::BigEndian(bytes);
  EXPECT_EQ(big->ReadShort(), 0x1234);
  EXPECT_EQ(big->ReadShort(), 65534);
  EXPECT_EQ(big->ReadInt(), std::numeric_limits<Int>::min() + 1);
  EXPECT_EQ(big->ReadLong(), -2);
  EXPECT_EQ(big->ReadFloat(), -2.5f);
  EXPECT_EQ(big->ReadDouble(), 1.0);
  EXPECT_TRUE(big->Eof());
}

TEST(BigEndianStream, BytesLinesAndBlocksPassUnchanged) {
  auto plain = MakeRef<MemoryStream>("\x12\x34line\r\nab");
  auto big = TXEndianStream::BigEndian(MakeRef<MemoryStream>(plain->Bytes()));
  EXPECT_EQ(big->ReadByte(), plain->ReadByte());
  EXPECT_EQ(big->ReadByte(), plain->ReadByte());
  EXPECT_TRUE(Equals(big->ReadLine(), plain->ReadLine()));
  std::uint8_t two[2];
  big->ReadBytes(two, 2);
  EXPECT_EQ(two[0], 'a');
  EXPECT_EQ(two[1], 'b');
}

TEST(BigEndianStream, ShortDataRaisesAndNothingHalfIsWritten) {
  auto big = TXEndianStream::BigEndian(MakeRef<MemoryStream>("\x01\x02\x03"));
  EXPECT_TRUE(Raises<TStreamReadException>([&] { big->ReadInt(); }));

  Wired w;
  w.bytes->Limit(0);
  EXPECT_TRUE(Raises<TStreamWriteException>([&] { w.big->WriteLong(1); }));
  EXPECT_EQ(w.bytes->Bytes(), "");
}

TEST(ByteOrderCreation, LittleEndianIsThePlainStreamAndBigEndianANewWrapper) {
  auto bytes = MakeRef<MemoryStream>();
  EXPECT_TRUE(TXEndianStream::LittleEndian(bytes) == bytes);
  EXPECT_TRUE(AsLittleEndian(bytes) == bytes);
  AsLittleEndian(bytes)->WriteInt(1);
  EXPECT_EQ(Hex(bytes->Bytes(), " "), "01 00 00 00");

  Ref<TStream> a = AsBigEndian(bytes);
  ASSERT_TRUE(CastTo<TXEndianStream>(a));
  EXPECT_TRUE(CastTo<TXEndianStream>(a)->Inner() == bytes);
  EXPECT_FALSE(a == AsBigEndian(bytes));

  EXPECT_FALSE(TXEndianStream::Create(nullptr));
  EXPECT_FALSE(TXEndianStream::BigEndian(nullptr));
  EXPECT_FALSE(TXEndianStream::LittleEndian(nullptr));
}

class ByteOrderProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override { StartXEndianModule(); }
  Ref<TStream> Open(const std::string& name) { return OpenUrl(FromBytes(name), 1, 0); }
  testing::TempDir dir;
};

TEST_F(ByteOrderProtocolTest, BigEndianNameSwapsAndLittleEndianNameGivesThePlainFile) {
  auto path = dir.Write("n.bin", "\x12\x34").string();
  Ref<TStream> big = Open("BigEndian::" + path);
  ASSERT_TRUE(CastTo<TXEndianStream>(big));
  EXPECT_EQ(big->ReadShort(), 0x1234);
  Ref<TStream> little = Open("littleendian::" + path);
  ASSERT_TRUE(CastTo<TCStream>(little));
  EXPECT_EQ(little->ReadShort(), 0x3412);
}

TEST_F(ByteOrderProtocolTest, NestedAndFailingNames) {
  auto path = dir.Write("n.bin", "\x12\x34\x56\x78").string();
  Ref<TStream> twice = Open("bigendian::bigendian::" + path);
  ASSERT_TRUE(twice);
  EXPECT_EQ(twice->ReadInt(), 0x12345678);  // the outer swap alone decides
  EXPECT_FALSE(Open("bigendian::" + path + ".missing"));
  EXPECT_FALSE(Open("middleendian::" + path));
}

}  // namespace
}  // namespace corvid
