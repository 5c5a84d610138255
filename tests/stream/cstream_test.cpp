#include "stream/cstream.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

#include "stream/stream_functions.h"
#include "stream/text_stream.h"
#include "support/raised.h"
#include "support/test_support.h"

namespace corvid {
namespace {

using testing::Name;
using testing::Raises;
using testing::ReadFileBytes;
using testing::TempDir;

TEST(FileStream, ReadsLinesUntilTheSizeMeasuredAtOpening) {
  TempDir dir;
  auto path = dir.Write("lines.txt", "a\r\nb");
  auto s = TCStream::OpenFile(Name(path), 1, 0);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Mode(), TCStream::MODE_READ);
  EXPECT_EQ(s->Size(), 4);
  EXPECT_EQ(ToBytes(s->ReadLine()), "a");
  EXPECT_FALSE(s->Eof());
  EXPECT_EQ(ToBytes(s->ReadLine()), "b");
  EXPECT_TRUE(s->Eof());
  EXPECT_EQ(s->ReadLine()->Length(), 0);
  EXPECT_EQ(s->Pos(), 4);
}

TEST(FileStream, FastLineReaderAgreesWithTheByteByByteRules) {
  TempDir dir;
  std::string bytes("x\ry\0z\n\n\r\r\nlast", 15);
  auto path = dir.Write("mixed.bin", bytes);
  auto fast = TCStream::OpenFile(Name(path), 0, 0);
  auto slow = TCStream::OpenFile(Name(path), 0, 0);
  while (!fast->Eof()) {
    Ref<String> expected = slow->TStream::ReadLine();
    EXPECT_EQ(ToBytes(fast->ReadLine()), ToBytes(expected));
    EXPECT_EQ(fast->Pos(), slow->Pos());
  }
  EXPECT_TRUE(slow->Eof());
}

TEST(FileStream, OpenModes) {
  TempDir dir;
  auto path = dir.Write("data.bin", "0123456789");
  // Neither flag opens for reading.
  auto neither = TCStream::OpenFile(Name(path), 0, 0);
  ASSERT_TRUE(neither);
  EXPECT_EQ(neither->ReadByte(), '0');
  EXPECT_EQ(neither->Write(reinterpret_cast<const std::uint8_t*>("x"), 1), 0);
  neither->Close();

  auto both = TCStream::OpenFile(Name(path), 1, 1);
  ASSERT_TRUE(both);
  EXPECT_EQ(both->Mode(), TCStream::MODE_READ | TCStream::MODE_WRITE);
  EXPECT_EQ(both->Size(), 10);
  both->Seek(8);
  both->WriteString("AB"_s);
  both->Close();
  EXPECT_EQ(ReadFileBytes(path), "01234567AB");
}

// A zero unit would cut the name short at the system, to the existing
// file "a"; a lone surrogate has no spelling there. Neither opens. A unit
// whose low byte is 0 is no zero byte: it names a file of its own.
TEST(FileStream, MissingFilesDirectoriesAndNamesWithoutASpellingDoNotOpen) {
  TempDir dir;
  dir.Write("a", "short name");
  const Ref<String> a = Name(dir.Path() / "a");
  const Ref<String> names[] = {Name(dir.Path() / "missing"), Name(dir.Path()),
                               Concat(a, String::FromWideSpan(u"\0b", 2)),
                               Concat(a, String::FromWideSpan(u"\xD800", 1))};
  for (const Ref<String>& name : names) {
    EXPECT_FALSE(TCStream::OpenFile(name, 1, 0)) << ToBytes(name);
    EXPECT_FALSE(TCStream::OpenFile(name, 1, 1)) << ToBytes(name);
  }
  const std::u16string leaves[] = {u"a\u0100zz", u"a\u4200"};
  for (const std::u16string& leaf : leaves) {
    const Ref<String> name = Concat(Name(dir.Path()), String::FromWideZ((u"/" + leaf).c_str()));
    EXPECT_FALSE(TCStream::OpenFile(name, 1, 0)) << ToBytes(name);
    auto created = TCStream::OpenFile(name, 0, 1);
    ASSERT_TRUE(created) << ToBytes(name);
    created->Close();
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / leaf)) << ToBytes(name);
  }
  EXPECT_EQ(ReadFileBytes(dir.Path() / "a"), "short name");
}

TEST(FileStream, WritingTruncatesAndTracksPositionAndSize) {
  TempDir dir;
  auto path = dir.Write("out.bin", "old contents here");
  auto s = TCStream::OpenFile(Name(path), 0, 1);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Mode(), TCStream::MODE_WRITE);
  EXPECT_EQ(s->Size(), 0);
  s->WriteString("0123456789"_s);
  EXPECT_EQ(s->Pos(), 10);
  EXPECT_EQ(s->Size(), 10);
  EXPECT_EQ(s->Seek(4), 4);
  s->WriteString("xy"_s);
  EXPECT_EQ(s->Size(), 10);
  EXPECT_EQ(s->Pos(), 6);
  s->Close();
  EXPECT_EQ(ReadFileBytes(path), "0123xy6789");
}

TEST(FileStream, ReadsAndWritesInterleaveOnOneFile) {
  TempDir dir;
  auto path = dir.Write("both.bin", "abcdefgh");
  auto s = TCStream::OpenFile(Name(path), 1, 1);
  EXPECT_EQ(s->ReadByte(), 'a');
  s->WriteByte('B');
  EXPECT_EQ(s->ReadByte(), 'c');
  s->WriteString("DE"_s);
  EXPECT_EQ(ToBytes(s->ReadLine()), "fgh");
  EXPECT_EQ(s->Pos(), 8);
  s->Close();
  EXPECT_EQ(ReadFileBytes(path), "aBcDEfgh");
}

// Every separator may be either; on Windows the directory starts with a
// drive ("C:\\...").
TEST(FileStream, BackslashesSeparateLikeSlashes) {
  TempDir dir;
  std::filesystem::create_directory(dir.Path() / "sub");
  dir.Write("sub/f.txt", "inside");
  std::u16string slashed = testing::Units(testing::Name(dir.Path())), backslashed = slashed;
  std::replace(slashed.begin(), slashed.end(), u'\\', u'/');
  std::replace(backslashed.begin(), backslashed.end(), u'/', u'\\');
  for (const std::u16string& name :
       {slashed + u"/sub/f.txt", backslashed + u"\\sub\\f.txt", backslashed + u"/sub\\f.txt"}) {
    auto s = TCStream::OpenFile(FromUnits(name), 1, 0);
    ASSERT_TRUE(s) << ToBytes(FromUnits(name));
    EXPECT_EQ(ToBytes(s->ReadLine()), "inside");
  }
}

TEST(FileStream, CloseIsIdempotentAndLeavesAnEmptyStream) {
  TempDir dir;
  auto s = TCStream::OpenFile(Name(dir.Write("f", "abc")), 1, 0);
  EXPECT_EQ(s->Close(), 0);
  EXPECT_EQ(s->Close(), 0);
  EXPECT_TRUE(s->Eof());
  EXPECT_EQ(s->Pos(), 0);
  EXPECT_EQ(s->Size(), 0);
  std::uint8_t byte;
  EXPECT_EQ(s->Read(&byte, 1), 0);
  EXPECT_EQ(s->Write(&byte, 1), 0);
  EXPECT_EQ(s->ReadLine()->Length(), 0);
}

// The C library may already hold part of the old contents in its buffer;
// what matters is that the reader comes to an end, with Eof true.
TEST(FileStream, ShrunkFileEndsInsteadOfReadingForever) {
  TempDir dir;
  std::string lines;
  for (int i = 0; i < 20000; ++i) lines += "line\n";
  auto path = dir.Write("shrinks.txt", lines);
  auto s = TCStream::OpenFile(Name(path), 1, 0);
  ASSERT_TRUE(s);
  std::filesystem::resize_file(path, 4);
  int read = 0;
  while (!s->Eof() && read < 20000) {
    s->ReadLine();
    ++read;
  }
  EXPECT_LT(read, 20000);
  EXPECT_TRUE(s->Eof());
  EXPECT_EQ(s->Size(), s->Pos());
  EXPECT_LT(s->Size(), 100000);

  std::uint8_t buffer[4096];
  while (s->Read(buffer, sizeof buffer) > 0) {
  }
  EXPECT_TRUE(s->Eof());
}

// Files whose length is not the size measured at opening: the reader must
// see every byte and then the end, with the size where the reading stopped.
TEST(FileStream, EndIsWhereTheDataStopsNotTheSizeMeasuredAtOpening) {
  TempDir dir;
  struct Case {
    const char* what;
    std::filesystem::path path;
    std::string appended;  // after opening
    std::string lines;     // every line read, each followed by "|"
  };
  std::vector<Case> cases = {
      {"grew after opening", dir.Write("grows.txt", "ab\n"), "cd\nef", "ab|cd|ef|"},
      {"empty, then grew", dir.Write("empty.txt", ""), "x", "x|"},
  };
#ifndef _WIN32
  // Windows has no files like these.
  std::string procText;
  std::getline(std::ifstream("/proc/version"), procText);
  ASSERT_FALSE(procText.empty());
  cases.push_back({"size 0 at opening", "/proc/version", "", procText + "|"});
#endif
  for (const Case& c : cases) {
    auto s = TCStream::OpenFile(Name(c.path), 1, 0);
    ASSERT_TRUE(s) << c.what;
    if (!c.appended.empty()) std::ofstream(c.path, std::ios::app) << c.appended;
    std::string lines;
    for (int i = 0; i < 100 && !s->Eof(); ++i) lines += ToBytes(s->ReadLine()) + "|";
    EXPECT_EQ(lines, c.lines) << c.what;
    EXPECT_TRUE(s->Eof()) << c.what;
    EXPECT_EQ(s->Size(), s->Pos()) << c.what;
  }
}

// Past the end there is nothing to read, and finding nothing there says
// only that the file ends at or before that place: the size stays what the
// bytes are, and the end is found again where the bytes stop.
TEST(FileStream, LookingPastTheEndLeavesTheSizeAlone) {
  TempDir dir;
  auto path = dir.Write("ten.bin", "0123456789");
  std::uint8_t buffer[4];
  struct Case {
    const char* what;
    std::function<void(TCStream&)> steps;
    Int pos;
  } cases[] = {
      {"Eof past the end", [](TCStream& s) { EXPECT_EQ(s.Eof(), 1); }, 20},
      {"back at the end after Eof past it",
       [](TCStream& s) {
         s.Eof();
         s.Seek(10);
       },
       10},
      {"block read past the end", [&](TCStream& s) { EXPECT_EQ(s.Read(buffer, 4), 0); }, 20},
      {"byte read past the end", [&](TCStream& s) { EXPECT_EQ(s.Read(buffer, 1), 0); }, 20},
      {"line read past the end", [](TCStream& s) { EXPECT_EQ(s.ReadLine()->Length(), 0); }, 20},
      {"reading up to the end after a read past it",
       [&](TCStream& s) {
         s.Read(buffer, 4);
         s.Seek(8);
         EXPECT_EQ(s.Read(buffer, 2), 2);
       },
       10},
  };
  for (const Case& c : cases) {
    auto s = TCStream::OpenFile(Name(path), 1, 0);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->Seek(20), 20) << c.what;
    c.steps(*s);
    EXPECT_EQ(s->Pos(), c.pos) << c.what;
    EXPECT_EQ(s->Eof(), 1) << c.what;
    EXPECT_EQ(s->Size(), 10) << c.what;
  }
}

// Reading is refused on a stream opened for writing only; that is no end.
TEST(FileStream, RefusedReadLeavesSizeAndEndAlone) {
  TempDir dir;
  auto s = TCStream::OpenFile(Name(dir.Path() / "w.bin"), 0, 1);
  s->WriteString("0123456789"_s);
  s->Seek(4);
  std::uint8_t buffer[8];
  EXPECT_EQ(s->Read(buffer, 8), 0);
  EXPECT_EQ(s->Read(buffer, 1), 0);
  EXPECT_EQ(s->ReadLine()->Length(), 0);
  EXPECT_EQ(s->Size(), 10);
  EXPECT_EQ(s->Pos(), 4);
  EXPECT_EQ(s->Eof(), 0);
}

TEST(FileStream, PipeHasNoPositionAndEndsByAnEmptyRead) {
  TempDir dir;
  testing::FedPipe pipe(dir, "piped\n");
  auto s = TCStream::OpenFile(FromBytes(pipe.Name()), 1, 0);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Pos(), -1);
  EXPECT_EQ(s->Size(), 0);
  EXPECT_FALSE(s->Eof());
  EXPECT_EQ(ToBytes(s->ReadLine()), "piped");
  std::uint8_t byte;
  EXPECT_EQ(s->Read(&byte, 1), 0);
  EXPECT_EQ(s->Pos(), -1);
}

TEST(FileStream, DestroyingTheStreamFlushesAndClosesTheFile) {
  TempDir dir;
  auto path = dir.Path() / "dropped.txt";
  {
    auto s = TCStream::OpenFile(Name(path), 0, 1);
    s->WriteLine("kept"_s);
  }
  EXPECT_EQ(ReadFileBytes(path), "kept\r\n");
}

#ifdef _WIN32
constexpr char kNoFullDevice[] = "Windows has no device that takes every open and refuses every write (/dev/full)";
#endif

// A full disk takes bytes into the C library's buffer and refuses them
// only when the buffer goes to the system: on the explicit Flush or Close
// that loss is the stream write error, never a quiet success, and the file
// is released all the same.
TEST(FileStream, BytesTheSystemRefusesAtFlushOrCloseRaiseTheWriteError) {
#ifdef _WIN32
  GTEST_SKIP() << kNoFullDevice;
#endif
  StartTextStreamModule();
  // A line written to the full device, into the C library's buffer.
  auto written = [](Int readable) {
    auto s = TCStream::OpenFile("/dev/full"_s, readable, 1);
    s->WriteLine("x"_s);
    return s;
  };
  const std::uint8_t two[] = {1, 2};
  const struct {
    const char* what;
    std::function<void()> body;
  } cases[] = {
      {"Flush", [&] { written(0)->Flush(); }},
      {"Close", [&] { written(0)->Close(); }},
      {"Close, opened both ways", [&] { written(1)->Close(); }},
      {"SaveAllBytes", [&] { SaveAllBytes(Array::FromBytes(two), "/dev/full"_s); }},
      {"SaveByteText", [] { SaveByteText("abc"_s, "/dev/full"_s); }},
      {"SaveTextFile", [] { SaveTextFile(u"\u20AC"_s, "/dev/full"_s); }},
      {"Close of a text layer",
       [] {
         auto s = OpenUrlWriter("utf8::/dev/full"_s);
         s->WriteLine("x"_s);
         s->Close();
       }},
  };
  int descriptors = testing::OpenDescriptors();
  for (const auto& c : cases) EXPECT_TRUE(Raises<TStreamWriteException>(c.body)) << c.what;
  EXPECT_EQ(testing::OpenDescriptors(), descriptors);
}

TEST(FileStream, AfterAFailedCloseTheStreamIsClosed) {
#ifdef _WIN32
  GTEST_SKIP() << kNoFullDevice;
#endif
  auto s = TCStream::OpenFile("/dev/full"_s, 0, 1);
  s->WriteString("abc"_s);
  EXPECT_TRUE(Raises<TStreamWriteException>([&] { s->Close(); }));
  EXPECT_EQ(s->Close(), 0);
  EXPECT_EQ(s->Flush(), 0);
  EXPECT_EQ(s->Pos(), 0);
}

// Reading ends as it should when the file goes while open: removed, the
// open file keeps its bytes; cut short, the reader stops where the bytes
// stop (ShrunkFileEndsInsteadOfReadingForever). Neither raises.
TEST(FileStream, ARemovedFileIsReadToItsEnd) {
  TempDir dir;
  auto path = dir.Write("gone.txt", "a\nb\nc");
  auto s = TCStream::OpenFile(Name(path), 1, 0);
  ASSERT_TRUE(s);
  std::error_code error;
  // Windows keeps an open file: the C runtime opens it without the sharing
  // that removal needs.
#ifdef _WIN32
  EXPECT_FALSE(std::filesystem::remove(path, error));
#else
  EXPECT_TRUE(std::filesystem::remove(path, error));
#endif
  std::string lines;
  while (!s->Eof()) lines += ToBytes(s->ReadLine()) + "|";
  EXPECT_EQ(lines, "a|b|c|");
  EXPECT_EQ(s->Close(), 0);
}

}  // namespace
}  // namespace corvid
