#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stream/cstream.h"
#include "stream/stream_functions.h"
#include "stream/url.h"
#include "support/test_support.h"

namespace corvid {
namespace {

using testing::TempDir;

// A stream over bytes in memory. With `positioned` false it behaves like a
// pipe: Pos -1, so its Eof never turns true and its end shows only as a
// Read of nothing.
class ScriptStream : public TStream {
 public:
  explicit ScriptStream(std::string bytes, bool positioned = true)
      : bytes_(std::move(bytes)), positioned_(positioned) {}

  Int Pos() override { return positioned_ ? at_ : -1; }
  Int Size() override { return positioned_ ? static_cast<Int>(bytes_.size()) : 0; }
  Int Read(std::uint8_t* buffer, Int count) override {
    ++reads;
    Int n = std::min<Int>(count, static_cast<Int>(bytes_.size()) - at_);
    std::copy_n(bytes_.data() + at_, n, buffer);
    at_ += n;
    return n;
  }
  Int Write(const std::uint8_t* buffer, Int count) override {
    written.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(count));
    return count;
  }
  Int Close() override {
    ++closes;
    return 0;
  }

  std::string written;
  int reads = 0;
  int closes = 0;

 private:
  std::string bytes_;
  bool positioned_;
  Int at_ = 0;
};

// A stream that accepts nothing: Write gives 0 once `capacity` bytes are in.
class FullStream : public TStream {
 public:
  explicit FullStream(Int capacity) : capacity_(capacity) {}
  Int Write(const std::uint8_t*, Int count) override {
    Int n = std::min(count, capacity_);
    capacity_ -= n;
    return n;
  }

 private:
  Int capacity_;
};

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
    auto stream = MakeRef<ScriptStream>(tag_);
    if (!reopen_) return stream;
    Ref<TStream> inner = OpenUrl(path, readable, writeable);
    if (!inner) return nullptr;
    return MakeRef<ScriptStream>(tag_ + "(" + ToBytes(LoadByteText(inner)) + ")");
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

Ref<String> Name(const std::filesystem::path& path) { return FromBytes(path.string()); }

template <class E, class F>
void ExpectRaised(F&& action) {
  try {
    action();
    ADD_FAILURE() << "nothing was raised";
  } catch (const Raised& raised) {
    EXPECT_TRUE(raised.As<E>()) << "raised something else";
  }
}

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

TEST(OpenUrl, ProtocolIsLowerCasedAndPathKeepsItsCase) {
  auto factory = AddFactory("mixed", "m");
  ASSERT_TRUE(OpenUrlReader("MiXeD::Some/Path"_s));
  const Request& request = factory->requests.back();
  EXPECT_EQ(request.proto, "mixed");
  EXPECT_EQ(request.path, "Some/Path");
}

TEST(OpenUrl, SecondSeparatorStaysInThePath) {
  auto factory = AddFactory("two", "t");
  ASSERT_TRUE(OpenUrlReader("two::a::b"_s));
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
  auto source = MakeRef<ScriptStream>("abcdef");
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
  ExpectRaised<TStreamReadException>([&] { LoadAllBytes(missing); });
  ExpectRaised<TStreamReadException>([&] { LoadByteText(missing); });
  ExpectRaised<TStreamReadException>([&] { LoadUrlObject(missing); });
  Ref<String> unwritable = Name(dir.Path() / "no" / "such" / "dir");
  ExpectRaised<TStreamWriteException>([&] { SaveAllBytes(nullptr, unwritable); });
  ExpectRaised<TStreamWriteException>([&] { SaveByteText("x"_s, unwritable); });
  ExpectRaised<TStreamWriteException>([&] { SaveUrlObject("x"_s, unwritable); });
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
  try {
    LoadUrlObject(Name(path));
    ADD_FAILURE();
  } catch (const Raised& raised) {
    ASSERT_TRUE(raised.As<String>());
    EXPECT_EQ(raised.As<String>()->View(), u"Unable to read object");
  }
}

TEST(WholeStream, LoadingAStreamObjectLeavesItOpenAtItsEnd) {
  auto source = MakeRef<ScriptStream>("abc");
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
  auto pipe = MakeRef<ScriptStream>(bytes, false);
  EXPECT_EQ(LoadAllBytes(pipe)->Count(), static_cast<Int>(bytes.size()));
  auto target = MakeRef<ScriptStream>("");
  auto again = MakeRef<ScriptStream>(bytes, false);
  EXPECT_EQ(CopyToEnd(again, target, 512), 0);
  EXPECT_EQ(target->written, bytes);
}

// A stream addresses at most 2^31-1 bytes: growth stops there.
TEST(WholeStream, LoadBufferGrowthStopsAtTheLargestStream) {
  EXPECT_EQ(NextLoadLength(2000000000), INT32_MAX);
  ExpectRaised<TRuntimeException>([] { NextLoadLength(INT32_MAX); });
}

TEST(Copy, CopyToEndMovesEverythingThroughASmallBuffer) {
  auto source = MakeRef<ScriptStream>("0123456789");
  auto target = MakeRef<ScriptStream>("");
  EXPECT_EQ(CopyToEnd(source, target, 3), 0);
  EXPECT_EQ(target->written, "0123456789");
  EXPECT_EQ(source->reads, 4);
}

TEST(Copy, CopyCountTransfersExactlyTheCount) {
  auto source = MakeRef<ScriptStream>("0123456789");
  auto target = MakeRef<ScriptStream>("");
  EXPECT_EQ(CopyCount(source, target, 7, 3), 0);
  EXPECT_EQ(target->written, "0123456");
  EXPECT_EQ(source->Pos(), 7);
  ExpectRaised<TStreamReadException>([&] { CopyCount(source, target, 4, 3); });
}

TEST(Copy, CopyCountOfNothingTouchesNeitherStream) {
  auto source = MakeRef<ScriptStream>("abc");
  auto target = MakeRef<ScriptStream>("");
  EXPECT_EQ(CopyCount(source, target, 0, 0), 0);
  EXPECT_EQ(CopyCount(nullptr, nullptr, 0, 16), 0);
  EXPECT_EQ(source->reads, 0);
  EXPECT_EQ(target->written, "");
}

TEST(Copy, StalledTargetsAndBadBuffersRaise) {
  auto target = MakeRef<FullStream>(2);
  ExpectRaised<TStreamWriteException>(
      [&] { CopyToEnd(MakeRef<ScriptStream>("abcd"), target, 16); });
  ExpectRaised<TRuntimeException>([] {
    CopyToEnd(MakeRef<ScriptStream>("abcd"), MakeRef<ScriptStream>(""), 0);
  });
  ExpectRaised<TRuntimeException>([] {
    CopyCount(MakeRef<ScriptStream>("abcd"), MakeRef<ScriptStream>(""), 2, -5);
  });
}

TEST(FreeFunctions, ForwardToTheStreamAndRefuseNull) {
  auto stream = MakeRef<ScriptStream>("ab\r\ncd");
  Ref<TStream> handle = stream;
  EXPECT_EQ(StreamLength(handle), 6);
  EXPECT_EQ(ReadLine(handle)->View(), u"ab");
  EXPECT_EQ(StreamPosition(handle), 4);
  EXPECT_EQ(Eof(handle), 0);
  EXPECT_EQ(WriteLine(handle, "x"_s), 1);
  EXPECT_EQ(WriteInt(handle, 1), 0);
  EXPECT_EQ(stream->written, std::string("x\r\n\1\0\0\0", 7));
  EXPECT_EQ(StreamClose(handle), 0);
  EXPECT_EQ(stream->closes, 1);
  ExpectRaised<TNullObjectException>([] { Eof(nullptr); });
  ExpectRaised<TNullObjectException>([] { WriteByte(nullptr, 1); });
}

}  // namespace
}  // namespace corvid
