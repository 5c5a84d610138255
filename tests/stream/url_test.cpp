#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stream/cstream.h"
#include "stream/stream_functions.h"
#include "stream/url.h"
#include "support/memory_stream.h"
#include "support/raised.h"
#include "support/test_support.h"

namespace corvid {
namespace {

using testing::MemoryStream;
using testing::Name;
using testing::Raises;
using testing::TempDir;

struct Request {
  Ref<Object> url;
  std::string proto;
  std::string path;
  Int readable;
  Int writeable;
};

// Records every request; answers those of its protocol. With `reopen` it
// opens its path through OpenUrl again, as the wrapping protocols do.
class TestFactory : public TStreamFactory {
 public:
  TestFactory(std::string proto, std::string tag, bool reopen = false)
      : proto_(std::move(proto)), tag_(std::move(tag)), reopen_(reopen) {}

  Ref<TStream> CreateStream(const Ref<Object>& url, const Ref<String>& proto,
                            const Ref<String>& path, Int readable, Int writeable) override {
    requests.push_back({url, ToBytes(proto), ToBytes(path), readable, writeable});
    if (ToBytes(proto) != proto_) return nullptr;
    auto stream = MakeRef<MemoryStream>(tag_);
    if (!reopen_) return stream;
    Ref<TStream> inner = OpenUrl(path, readable, writeable);
    if (!inner) return nullptr;
    return MakeRef<MemoryStream>(tag_ + "(" + ToBytes(LoadByteText(inner)) + ")");
  }

  std::vector<Request> requests;

 private:
  std::string proto_;
  std::string tag_;
  bool reopen_;
};

Ref<TestFactory> AddFactory(std::string proto, std::string tag, bool reopen = false) {
  return MakeRef<TestFactory>(std::move(proto), std::move(tag), reopen);
}

std::string ReadAll(const Ref<TStream>& stream) { return ToBytes(LoadByteText(stream)); }

TEST(FactoryChain, NewestFactoryIsAskedFirstAndWins) {
  auto older = AddFactory("order", "older");
  auto newer = AddFactory("order", "newer");
  EXPECT_EQ(FactoryChain(), newer);
  EXPECT_EQ(newer->Next(), older);
  EXPECT_EQ(ReadAll(OpenUrlReader("order::x"_s)), "newer");
  EXPECT_TRUE(older->requests.empty());
}

TEST(FactoryChain, EveryFactoryIsAskedUntilOneAnswers) {
  auto answering = AddFactory("deep", "deep");
  auto declining = AddFactory("other", "other");
  EXPECT_EQ(ReadAll(OpenUrl("deep::p"_s, 1, 1)), "deep");
  ASSERT_EQ(declining->requests.size(), 1u);
  ASSERT_EQ(answering->requests.size(), 1u);
  EXPECT_EQ(answering->requests[0].readable, 1);
  EXPECT_EQ(answering->requests[0].writeable, 1);
}

TEST(FactoryChain, ProtocolsNestFromLeftToRight) {
  TempDir dir;
  auto file = dir.Write("inner.txt", "file");
  AddFactory("outer", "O", true);
  AddFactory("middle", "M", true);
  Ref<String> name = Concat("outer::middle::"_s, Name(file));
  EXPECT_EQ(ReadAll(OpenUrlReader(name)), "O(M(file))");
}

TEST(OpenUrl, ProtocolIsLowerCasedAndThePathIsTheRestAsItStands) {
  auto factory = AddFactory("mixed", "m");
  ASSERT_TRUE(OpenUrlReader("MiXeD::Some/Path"_s));
  EXPECT_EQ(factory->requests.back().proto, "mixed");
  EXPECT_EQ(factory->requests.back().path, "Some/Path");
  ASSERT_TRUE(OpenUrlReader("mixed::a::b"_s));
  EXPECT_EQ(factory->requests.back().path, "a::b");
}

TEST(OpenUrl, NamesThatNoFactoryTakesGiveNull) {
  auto recorder = AddFactory("unused", "u");
  EXPECT_FALSE(OpenUrlReader("::path"_s));
  EXPECT_FALSE(OpenUrlReader(String::Empty()));
  EXPECT_FALSE(OpenUrlReader("nobody::x"_s));
  EXPECT_FALSE(OpenUrlReader(Ref<Object>()));
  Ref<Object> other = MakeRef<TRuntimeException>();
  EXPECT_FALSE(OpenUrlReader(other));
  ASSERT_EQ(recorder->requests.size(), 5u);
  EXPECT_EQ(recorder->requests[1].proto, "");
  EXPECT_EQ(recorder->requests[1].path, "");
  // The object itself reaches the factories, so they can recognise it.
  EXPECT_EQ(recorder->requests[4].url, other);
  EXPECT_EQ(recorder->requests[4].proto, "");
}

TEST(OpenUrl, PlainNamesOpenAsFilesWithoutAskingFactories) {
  TempDir dir;
  auto file = dir.Write("plain", "bytes");
  auto recorder = AddFactory(dir.Path().string().substr(0, 4), "claimed");
  EXPECT_EQ(ReadAll(OpenUrlReader(Name(file))), "bytes");
  // A single colon, as in a drive name, is no separator.
  EXPECT_FALSE(OpenUrlReader(Name(dir.Path() / "C:missing")));
  EXPECT_TRUE(recorder->requests.empty());
  EXPECT_TRUE(CastTo<TCStream>(OpenUrlReader(Name(file))));
}

TEST(OpenUrl, StreamObjectGivesAFreshHandleEachTime) {
  auto source = MakeRef<MemoryStream>("abcdef");
  Ref<TStream> first = OpenUrl(source, 0, 0);
  Ref<TStream> second = OpenUrlWriter(source);
  ASSERT_TRUE(CastTo<TStreamStream>(first));
  ASSERT_TRUE(CastTo<TStreamStream>(second));
  EXPECT_NE(first, second);
  EXPECT_EQ(first->ReadString(2)->View(), u"ab");
  first->Close();
  EXPECT_EQ(source->closes, 0);
  EXPECT_EQ(second->ReadString(2)->View(), u"cd");
  EXPECT_EQ(source->ReadByte(), 'e');
}

TEST(WholeStream, LoadsEmptyAndLongFiles) {
  TempDir dir;
  EXPECT_EQ(LoadAllBytes(Name(dir.Write("empty", ""))), Array::Empty());
  std::string long_bytes;
  for (int i = 0; i < 1025; ++i) long_bytes.push_back(static_cast<char>(i * 7));
  Ref<Array> array = LoadAllBytes(Name(dir.Write("long", long_bytes)));
  auto loaded = array->Elements<std::uint8_t>();
  EXPECT_EQ(std::string(loaded.begin(), loaded.end()), long_bytes);
  Ref<String> text = LoadByteText(Name(dir.Write("text", "\xE9t\xE9")));
  EXPECT_EQ(text->View(), u"\u00E9t\u00E9");
}

TEST(WholeStream, MissingSourcesAndTargetsRaise) {
  TempDir dir;
  Ref<String> missing = Name(dir.Path() / "missing");
  EXPECT_TRUE(Raises<TStreamReadException>([&] { LoadAllBytes(missing); }));
  EXPECT_TRUE(Raises<TStreamReadException>([&] { LoadByteText(missing); }));
  EXPECT_TRUE(Raises<TStreamReadException>([&] { LoadUrlObject(missing); }));
  Ref<String> unwritable = Name(dir.Path() / "no" / "such" / "dir");
  EXPECT_TRUE(Raises<TStreamWriteException>([&] { SaveAllBytes(nullptr, unwritable); }));
  EXPECT_TRUE(Raises<TStreamWriteException>([&] { SaveByteText("x"_s, unwritable); }));
  EXPECT_TRUE(Raises<TStreamWriteException>([&] { SaveUrlObject("x"_s, unwritable); }));
}

TEST(WholeStream, SavesBytesAndLowBytesOfText) {
  TempDir dir;
  auto path = dir.Path() / "saved";
  const std::uint8_t bytes[] = {0, 1, 255, 10};
  EXPECT_EQ(SaveAllBytes(Array::FromBytes(bytes), Name(path)), 0);
  EXPECT_EQ(testing::ReadFileBytes(path), std::string("\0\1\xFF\n", 4));
  EXPECT_EQ(SaveByteText(u"A\u0141z"_s, Name(path)), 0);
  EXPECT_EQ(testing::ReadFileBytes(path), "AAz");
}

TEST(WholeStream, ObjectsNeedAStreamThatCanCarryThem) {
  TempDir dir;
  auto path = dir.Write("object", "x");
  auto text = CastTo<String>(testing::RaisedBy([&] { LoadUrlObject(Name(path)); }));
  ASSERT_TRUE(text);
  EXPECT_EQ(text->View(), u"Unable to read object");
}

TEST(WholeStream, LoadingAStreamObjectLeavesItOpenAtItsEnd) {
  auto source = MakeRef<MemoryStream>("abc");
  Ref<Array> array = LoadAllBytes(source);
  auto loaded = array->Elements<std::uint8_t>();
  EXPECT_EQ(std::string(loaded.begin(), loaded.end()), "abc");
  EXPECT_EQ(source->closes, 0);
  EXPECT_EQ(source->Eof(), 1);
}

// Without a position the source's Eof never turns true; a Read of nothing
// must end the load instead of spinning.
TEST(WholeStream, SourcesWithoutAnEndInEofStillFinish) {
  std::string bytes(3000, 'p');
  auto pipe = MemoryStream::Pipe(bytes);
  EXPECT_EQ(LoadAllBytes(pipe)->Count(), static_cast<Int>(bytes.size()));
  auto target = MakeRef<MemoryStream>();
  auto again = MemoryStream::Pipe(bytes);
  EXPECT_EQ(CopyToEnd(again, target, 512), 0);
  EXPECT_EQ(target->Bytes(), bytes);
}

// A stream addresses at most 2^31-1 bytes: growth stops there, and a
// longer stream is refused rather than cut short or counted negative. The
// same loop is run here against small limits.
TEST(WholeStream, LoadBufferGrowthStopsAtTheLargestStream) {
  EXPECT_EQ(NextLoadLength(2000000000), INT32_MAX);
  EXPECT_TRUE(Raises<TRuntimeException>([] { NextLoadLength(INT32_MAX); }));
  struct Case {
    Int kept, stream;  // bytes already in place, bytes the stream holds
    bool pipe;
    Int limit;
    bool refused;
  } cases[] = {
      {0, 100, false, 100, false}, {0, 100, true, 100, false}, {3, 97, true, 100, false},
      {0, 101, false, 100, true},  {0, 101, true, 100, true},  {3, 98, false, 100, true},
      {0, 5000, true, INT32_MAX, false},
  };
  for (const Case& c : cases) {
    std::string bytes(static_cast<std::size_t>(c.stream), 's');
    Ref<MemoryStream> source = c.pipe ? MemoryStream::Pipe(bytes) : MakeRef<MemoryStream>(bytes);
    std::string memory(static_cast<std::size_t>(c.kept), 'k');
    auto grow = [&](Int length, Int) {
      EXPECT_LE(length, c.limit);
      memory.resize(static_cast<std::size_t>(length));
      return reinterpret_cast<std::uint8_t*>(memory.data());
    };
    auto error = CastTo<TRuntimeException>(testing::RaisedBy(
        [&] { memory.resize(static_cast<std::size_t>(ReadToEnd(*source, grow, c.kept, c.limit))); }));
    EXPECT_EQ(static_cast<bool>(error), c.refused) << c.stream << " bytes, limit " << c.limit;
    const std::string loaded = std::string(static_cast<std::size_t>(c.kept), 'k') + bytes;
    EXPECT_EQ(error ? ToBytes(error->ToString()) : memory,
              error ? "Stream is too long to load into memory" : loaded);
  }
}

TEST(Copy, CopyToEndMovesEverythingThroughASmallBuffer) {
  auto source = MakeRef<MemoryStream>("0123456789");
  auto target = MakeRef<MemoryStream>();
  EXPECT_EQ(CopyToEnd(source, target, 3), 0);
  EXPECT_EQ(target->Bytes(), "0123456789");
  EXPECT_EQ(source->reads, 4);
}

TEST(Copy, CopyCountTransfersExactlyTheCount) {
  auto source = MakeRef<MemoryStream>("0123456789");
  auto target = MakeRef<MemoryStream>();
  EXPECT_EQ(CopyCount(source, target, 7, 3), 0);
  EXPECT_EQ(target->Bytes(), "0123456");
  EXPECT_EQ(source->Pos(), 7);
  EXPECT_TRUE(Raises<TStreamReadException>([&] { CopyCount(source, target, 4, 3); }));
}

TEST(Copy, CopyCountOfNothingTouchesNeitherStream) {
  auto source = MakeRef<MemoryStream>("abc");
  auto target = MakeRef<MemoryStream>();
  EXPECT_EQ(CopyCount(source, target, 0, 0), 0);
  EXPECT_EQ(CopyCount(nullptr, nullptr, 0, 16), 0);
  EXPECT_EQ(source->reads, 0);
  EXPECT_EQ(target->Bytes(), "");
}

TEST(Copy, StalledTargetsAndBadBuffersRaise) {
  auto target = MakeRef<MemoryStream>();
  target->Limit(2);
  EXPECT_TRUE(Raises<TStreamWriteException>([&] { CopyToEnd(MakeRef<MemoryStream>("abcd"), target, 16); }));
  EXPECT_TRUE(Raises<TRuntimeException>(
      [] { CopyToEnd(MakeRef<MemoryStream>("abcd"), MakeRef<MemoryStream>(), 0); }));
  EXPECT_TRUE(Raises<TRuntimeException>(
      [] { CopyCount(MakeRef<MemoryStream>("abcd"), MakeRef<MemoryStream>(), 2, -5); }));
}

TEST(FreeFunctions, ForwardToTheStreamAndRefuseNull) {
  auto stream = MakeRef<MemoryStream>("ab\r\ncd");
  Ref<TStream> handle = stream;
  EXPECT_EQ(StreamLength(handle), 6);
  EXPECT_EQ(ReadLine(handle)->View(), u"ab");
  EXPECT_EQ(StreamPosition(handle), 4);
  EXPECT_EQ(Eof(handle), 0);
  EXPECT_EQ(WriteLine(handle, "x"_s), 1);
  EXPECT_EQ(WriteInt(handle, 1), 0);
  EXPECT_EQ(stream->Bytes(), std::string("ab\r\nx\r\n\1\0\0\0", 11));
  EXPECT_EQ(StreamClose(handle), 0);
  EXPECT_EQ(stream->closes, 1);
  EXPECT_TRUE(Raises<TNullObjectException>([] { Eof(nullptr); }));
  EXPECT_TRUE(Raises<TNullObjectException>([] { WriteByte(nullptr, 1); }));
}

}  // namespace
}  // namespace corvid
