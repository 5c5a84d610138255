// Fuzz target: decoding text. FromUtf8Z, the text stream's reads in every
// encoding (lines, whole texts, fixed lengths, single characters and
// hexadecimal blocks), the byte-level line reader of plain and file
// streams, and LoadTextFile's mark detection, each checked against the
// rules written out here on their own; then writing and reading back.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "check.h"
#include "memstream/bank.h"
#include "memstream/bank_stream.h"
#include "runtime/error.h"
#include "stream/cstream.h"
#include "stream/text_stream.h"

namespace {

using namespace corvid;

Ref<TBankStream> StreamOver(const std::string& bytes) {
  Ref<TBank> bank = TBank::Create(static_cast<Int>(bytes.size()));
  if (!bytes.empty()) std::memcpy(bank->Buf(), bytes.data(), bytes.size());
  return TBankStream::Create(bank);
}

std::u16string Units(const Ref<String>& s) { return std::u16string(Text(s).View()); }

// What an operation gave: units, or the error it raised.
enum class Raise { None, ReadError, Malformed, Other };
struct Outcome {
  std::u16string units;
  Raise raised = Raise::None;
  bool operator==(const Outcome&) const = default;
};

template <class Body>
Outcome Run(Body&& body) {
  Outcome outcome;
  try {
    outcome.units = body();
  } catch (const Raised& raised) {
    if (raised.As<TStreamReadException>()) {
      outcome.raised = Raise::ReadError;
    } else if (auto text = raised.As<String>(); text && Equals(text, "Malformed line terminator"_s)) {
      outcome.raised = Raise::Malformed;
    } else {
      outcome.raised = Raise::Other;
    }
    outcome.units.clear();
  }
  return outcome;
}

// A text stream over the bytes as the rules describe it: a position, an
// encoding and the count of the open hexadecimal line.
class Model {
 public:
  Model(std::string bytes, Int encoding) : bytes_(std::move(bytes)), encoding_(encoding) {}

  bool AtEnd() const { return at_ >= bytes_.size(); }

  std::u16string ReadLine() {
    FlushRead();
    std::u16string line;
    while (!AtEnd()) {
      char16_t c = ReadChar();
      if (c == 10 || c == 0) break;
      if (c != 13) line += c;
    }
    return line;
  }
  std::u16string ReadFile() {
    FlushRead();
    std::u16string text;
    while (!AtEnd()) text += ReadChar();
    return text;
  }
  std::u16string ReadString(Int length) {
    FlushRead();
    std::u16string text;
    for (Int i = 0; i < length; ++i) text += ReadChar();
    return text;
  }
  std::u16string ReadHex(Int count) {
    std::u16string block;
    for (Int i = 0; i < count; ++i) {
      if (hexCount_ == 32) FlushRead();
      unsigned high = HexValue(Byte()), low = HexValue(Byte());
      block += static_cast<char16_t>(((high << 4) + low) & 0xFF);
      ++hexCount_;
    }
    return block;
  }
  char16_t ReadChar() {
    unsigned b0 = Byte();
    switch (encoding_) {
      case TTextStream::LATIN1:
        return static_cast<char16_t>(b0);
      case TTextStream::UTF8: {
        if (b0 < 0x80) return static_cast<char16_t>(b0);
        unsigned b1 = Byte();
        if (b0 < 0xE0) return static_cast<char16_t>((b0 - 0xC0) * 64 + b1 - 0x80);
        unsigned b2 = Byte();
        if (b0 < 0xF0) return static_cast<char16_t>((b0 - 0xE0) * 4096 + (b1 - 0x80) * 64 + b2 - 0x80);
        return 0;
      }
      case TTextStream::UTF16BE:
        return static_cast<char16_t>(b0 * 256 + Byte());
      case TTextStream::UTF16LE:
        return static_cast<char16_t>(b0 + Byte() * 256);
      default:
        return 0;
    }
  }

 private:
  unsigned Byte() {
    if (AtEnd()) Throw(MakeRef<TStreamReadException>());
    return static_cast<unsigned char>(bytes_[at_++]);
  }
  static unsigned HexValue(unsigned byte) { return byte <= 57 ? byte - 48 : byte - 55; }
  void FlushRead() {
    if (hexCount_ == 0) return;
    hexCount_ = 0;
    unsigned byte = Byte();
    if (byte == 13) byte = Byte();
    if (byte != 10) Throw("Malformed line terminator"_s);
  }

  std::string bytes_;
  std::size_t at_ = 0;
  Int encoding_;
  Int hexCount_ = 0;
};

constexpr Int kUnknownEncoding = 7;
constexpr Int kEncodings[] = {TTextStream::LATIN1, TTextStream::UTF8, TTextStream::UTF16BE,
                              TTextStream::UTF16LE, kUnknownEncoding};

// Operations in the order the input chooses, on the stream and on the
// model side by side, up to the first error.
void CheckTextStream(FuzzedDataProvider& data, const std::string& bytes) {
  Int encoding = data.PickValueInArray(kEncodings);
  auto stream = TTextStream::Create(StreamOver(bytes), encoding);
  Model model(bytes, encoding);
  for (int step = 0; step < 64 && data.remaining_bytes() > 0; ++step) {
    Int count = data.ConsumeIntegralInRange<Int>(0, 80);
    Outcome got, expected;
    switch (data.ConsumeIntegralInRange(0, 4)) {
      case 0:
        got = Run([&] { return Units(stream->ReadLine()); });
        expected = Run([&] { return model.ReadLine(); });
        break;
      case 1:
        got = Run([&] { return Units(stream->ReadFile()); });
        expected = Run([&] { return model.ReadFile(); });
        break;
      case 2:
        got = Run([&] { return Units(stream->ReadString(count)); });
        expected = Run([&] { return model.ReadString(count); });
        break;
      case 3:
        got = Run([&] { return std::u16string(1, static_cast<char16_t>(stream->ReadChar())); });
        expected = Run([&] { return std::u16string(1, model.ReadChar()); });
        break;
      default:
        got = Run([&] {
          std::vector<std::uint8_t> block(static_cast<std::size_t>(count));
          Check(stream->Read(block.data(), count) == count, "hex Read count");
          return std::u16string(block.begin(), block.end());
        });
        expected = Run([&] { return model.ReadHex(count); });
        break;
    }
    Check(got == expected, "text stream against the rules");
    Check((stream->Eof() != 0) == model.AtEnd(), "end of the text stream");
    if (got.raised != Raise::None) break;
  }
}

// The byte-level lines: a line ends at LF, a zero byte or the end of the
// data; CR is dropped anywhere.
std::vector<std::string> ByteLines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::string line;
  std::size_t at = 0;
  do {
    line.clear();
    for (; at < bytes.size(); ++at) {
      char c = bytes[at];
      if (c == '\n' || c == 0) {
        ++at;
        break;
      }
      if (c != '\r') line += c;
    }
    lines.push_back(line);
  } while (at < bytes.size());
  return lines;
}

std::vector<std::string> LinesOf(TStream& stream) {
  std::vector<std::string> lines;
  do lines.push_back(ToBytes(stream.ReadLine()));
  while (!stream.Eof() && lines.size() <= 100000);
  return lines;
}

void CheckByteLines(const std::string& bytes) {
  std::vector<std::string> expected = ByteLines(bytes);
  Check(LinesOf(*StreamOver(bytes)) == expected, "lines of a bank stream");
  // The file stream's own line reader, over the same bytes in memory.
  std::string copy = bytes;
  if (std::FILE* file = fmemopen(copy.data(), copy.size(), "rb")) {
    auto stream = TCStream::CreateWithCStream(file, TCStream::MODE_READ);
    Check(LinesOf(*stream) == expected, "lines of a file stream");
    stream->Close();
  }
}

// UTF-8 as FromUtf8Z reads it: up to the zero byte, no pattern tests, the
// bits of a sequence cut by the zero byte read as zero, and a code point
// above U+FFFF refused.
std::optional<std::u16string> FromUtf8(const char* p) {
  std::u16string units;
  auto next = [&p]() -> unsigned { return *p ? *reinterpret_cast<const unsigned char*>(p++) & 0x3F : 0; };
  while (*p) {
    unsigned x = *reinterpret_cast<const unsigned char*>(p++);
    unsigned code;
    if (x <= 0x7F) {
      code = x;
    } else if (x <= 0xDF) {
      code = (x & 0x1F) << 6 | next();
    } else if (x <= 0xEF) {
      code = (x & 0x0F) << 12;
      code |= next() << 6;
      code |= next();
    } else {
      code = (x & 7) << 18;
      code |= next() << 12;
      code |= next() << 6;
      code |= next();
      if (code >= 0x10000) return std::nullopt;
    }
    units += static_cast<char16_t>(code);
  }
  return units;
}

void CheckUtf8(const std::string& bytes) {
  // Exactly the bytes and their zero, so that a read beyond is caught.
  std::vector<char> text(bytes.begin(), bytes.end());
  text.push_back(0);
  std::optional<std::u16string> expected = FromUtf8(text.data());
  Outcome got = Run([&] { return Units(String::FromUtf8Z(text.data())); });
  if (expected) {
    Check(got.raised == Raise::None && got.units == *expected, "FromUtf8Z");
    // Every unit comes back from its own encoding, up to a zero unit.
    Ref<String> decoded = String::FromUtf8Z(text.data());
    std::u16string kept = expected->substr(0, expected->find(u'\0'));
    Check(Units(String::FromUtf8Z(decoded->ToUtf8Z().get())) == kept, "ToUtf8Z read back");
  } else {
    Check(got.raised == Raise::Other, "FromUtf8Z out of range");
  }
}

// LoadTextFile: a leading mark chooses the encoding and is dropped;
// without one, each byte is a unit.
void CheckLoadTextFile(const std::string& bytes) {
  Outcome expected;
  auto withMark = [&](Int encoding, std::size_t markLength) {
    Model model(bytes.substr(markLength), encoding);
    expected = Run([&] { return model.ReadFile(); });
  };
  if (bytes.starts_with("\xFE\xFF")) {
    withMark(TTextStream::UTF16BE, 2);
  } else if (bytes.starts_with("\xFF\xFE")) {
    withMark(TTextStream::UTF16LE, 2);
  } else if (bytes.starts_with("\xEF\xBB\xBF")) {
    withMark(TTextStream::UTF8, 3);
  } else {
    expected.units.assign(bytes.begin(), bytes.end());
    for (char16_t& u : expected.units) u &= 0xFF;
  }
  Outcome got = Run([&] { return Units(LoadTextFile(StreamOver(bytes))); });
  Check(got == expected, "LoadTextFile");
}

// What the text stream writes, it reads back: text in each encoding (the
// low bytes in Latin-1), blocks as hexadecimal lines.
void CheckWriteAndRead(FuzzedDataProvider& data) {
  Int encoding = data.PickValueInArray(kEncodings);
  std::u16string units;
  while (units.size() < 64 && data.remaining_bytes() > 1) units += data.ConsumeIntegral<char16_t>();
  std::string block = data.ConsumeRandomLengthString(200);
  auto bank = StreamOver("");
  auto stream = TTextStream::Create(bank, encoding);
  Ref<String> text = String::FromWideSpan(units.data(), static_cast<Int>(units.size()));
  stream->WriteString(text);
  stream->Write(reinterpret_cast<const std::uint8_t*>(block.data()), static_cast<Int>(block.size()));
  stream->WriteLine(""_s);
  bank->Seek(0);
  if (encoding != kUnknownEncoding) {  // which writes no text at all
    std::u16string expected = units;
    if (encoding == TTextStream::LATIN1)
      for (char16_t& u : expected) u &= 0xFF;
    Check(Units(stream->ReadString(static_cast<Int>(units.size()))) == expected, "text read back");
  }
  std::string back(block.size(), '\0');
  stream->Read(reinterpret_cast<std::uint8_t*>(back.data()), static_cast<Int>(back.size()));
  Check(back == block, "block read back");
  Check(stream->ReadLine()->Length() == 0 && stream->Eof(), "line end after the block");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider data(bytes, size);
  std::string text = data.ConsumeRandomLengthString(1024);
  CheckUtf8(text);
  CheckByteLines(text);
  CheckLoadTextFile(text);
  CheckTextStream(data, text);
  CheckWriteAndRead(data);
  return 0;
}
