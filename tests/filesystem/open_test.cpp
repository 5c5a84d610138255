#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <string>

#include "filesystem/open.h"
#include "memstream/bank_stream.h"
#include "memstream/xendian.h"
#include "stream/cstream.h"
#include "stream/text_stream.h"
#include "support/memory_stream.h"
#include "support/test_support.h"

namespace corvid {
namespace {

using testing::MemoryStream;
using testing::Name;
using testing::TempDir;

#ifndef _WIN32
// Both ends of a pipe, closed when the test is done.
struct Pipe {
  Pipe() { EXPECT_EQ(pipe(fds), 0); }
  ~Pipe() {
    CloseRead();
    CloseWrite();
  }
  void CloseRead() {
    if (fds[0] >= 0) close(fds[0]);
    fds[0] = -1;
  }
  void CloseWrite() {
    if (fds[1] >= 0) close(fds[1]);
    fds[1] = -1;
  }
  std::string Path(int end) const { return "/dev/fd/" + std::to_string(fds[end]); }
  int fds[2] = {-1, -1};
};
#endif

TEST(OpenSeekable, FilesComeBackAsTheyAreAndMissingOnesAsNull) {
  TempDir dir;
  auto path = dir.Write("code.txt", "+-");
  Ref<TStream> stream = OpenSeekableReader(Name(path));
  ASSERT_TRUE(CastTo<TCStream>(stream));
  EXPECT_EQ(stream->Size(), 2);
  EXPECT_EQ(CloseSeekable(stream), 0);
  EXPECT_EQ(stream->Eof(), 1);
  EXPECT_FALSE(OpenSeekableReader(Name(dir.Path() / "missing")));
}

TEST(OpenSeekable, AStreamWithoutPositionIsReadIntoABank) {
  std::string bytes(2500, 'x');
  bytes[0] = 'a';
  auto source = MemoryStream::Pipe(bytes);
  Ref<TStream> stream = OpenSeekable(source, 1, 0);
  ASSERT_TRUE(CastTo<TBankStream>(stream));
  EXPECT_EQ(stream->Size(), 2500);
  EXPECT_EQ(stream->Pos(), 0);
  EXPECT_EQ(stream->ReadByte(), 'a');
  EXPECT_EQ(source->closes, 0);
  EXPECT_EQ(source->RefCount(), 1);
}

TEST(OpenSeekable, APipeBecomesASeekableCopyOfItsBytes) {
  TempDir dir;
  const std::string bytes = "line one\nline two\n";
  testing::FedPipe pipe(dir, bytes);
  Ref<TStream> stream = OpenSeekableReader(FromBytes(pipe.Name()));
  ASSERT_TRUE(CastTo<TBankStream>(stream));
  EXPECT_EQ(stream->Size(), static_cast<Int>(bytes.size()));
  EXPECT_EQ(stream->Pos(), 0);
  EXPECT_EQ(stream->ReadLine()->View(), u"line one");
  stream->Seek(5);
  EXPECT_EQ(stream->ReadLine()->View(), u"one");
}

TEST(OpenSeekable, AnEmptyPipeGivesAnEmptyStream) {
  TempDir dir;
  testing::FedPipe pipe(dir, "");
  Ref<TStream> stream = OpenSeekableReader(FromBytes(pipe.Name()));
  ASSERT_TRUE(stream);
  EXPECT_EQ(stream->Size(), 0);
  EXPECT_EQ(stream->Eof(), 1);
}

// Read through the text layer, the pipe's bytes would arrive as hexadecimal
// blocks; the bank takes them raw and the layers stand over it.
TEST(OpenSeekable, ProtocolLayersStayOverABankOfThePipesRawBytes) {
  StartXEndianModule();
  StartTextStreamModule();
  TempDir dir;
  const std::string bytes = "\xC3\xA9t\xC3\xA9\n\x01\x02";
  testing::FedPipe pipe(dir, bytes);
  Ref<TStream> stream = OpenSeekableReader(FromBytes("utf8::bigendian::" + pipe.Name()));
  auto text = CastTo<TTextStream>(stream);
  ASSERT_TRUE(text);
  auto order = CastTo<TXEndianStream>(text->Inner());
  ASSERT_TRUE(order);
  EXPECT_TRUE(CastTo<TBankStream>(order->Inner()));
  EXPECT_EQ(stream->Size(), static_cast<Int>(bytes.size()));
  EXPECT_EQ(text->ReadLine()->View(), u"\u00E9t\u00E9");
  EXPECT_EQ(order->ReadShort(), 0x0102);
}

// Loading a write-only pipe into a bank would swallow everything written.
TEST(OpenSeekable, AWriterWithoutPositionIsHandedOutAsItIs) {
#ifdef _WIN32
  testing::DrainedPipe pipe;
  Ref<TStream> stream = OpenSeekableWriter(FromBytes(pipe.Name()));
#else
  Pipe pipe;
  Ref<TStream> stream = OpenSeekableWriter(Name(pipe.Path(1)));
#endif
  ASSERT_TRUE(CastTo<TCStream>(stream));
  EXPECT_EQ(stream->Pos(), -1);
  EXPECT_EQ(stream->WriteLine("sent"_s), 1);
  CloseSeekable(stream);
#ifdef _WIN32
  EXPECT_EQ(pipe.Received(), "sent\r\n");
#else
  pipe.CloseWrite();
  char received[16] = {};
  EXPECT_EQ(read(pipe.fds[0], received, sizeof received), 6);
  EXPECT_EQ(std::string(received), "sent\r\n");
#endif
}

}  // namespace
}  // namespace corvid
