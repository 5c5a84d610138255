#include "stream/text_stream.h"

#include <algorithm>
#include <string>
#include <type_traits>

#include "runtime/module.h"
#include "runtime/internal/platform.h"
#include "runtime/internal/utf8.h"
#include "stream/stream_functions.h"

namespace corvid {

namespace {

// Beyond this many units the collection buffer is given back after a line,
// so that one huge line does not pin its memory for the stream's life.
constexpr std::size_t kKeptCollectCapacity = 1 << 16;

// A ReadString of a huge length reserves no more than this up front; the
// buffer grows only with characters actually read.
constexpr std::size_t kMaxStringReserve = 1 << 16;

constexpr Int kBytesPerHexLine = 32;

// Decoders see any Int from the inner stream (its ReadByte may itself be a
// text stream's decimal line), so characters are cut to 16 bits here.
Int Unit(unsigned value) { return static_cast<Int>(value & 0xFFFFu); }

bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

Int HexDigit(unsigned value) { return static_cast<Int>(value <= 9 ? value + '0' : value - 10 + 'A'); }

// Only 0-9 and A-F mean what they look like; any other byte gives what the
// formula yields, and the pair is added, not or-ed, before it is cut to a
// byte, so that a lower-case low digit cannot pass for a capital one.
unsigned HexValue(Int byte) {
  unsigned b = static_cast<unsigned>(byte);
  return byte <= '9' ? b - '0' : b - ('A' - 10);
}

// The chain hands the protocol over in lower case; it is matched exactly.
Int EncodingOf(std::u16string_view proto) {
  if (proto == u"latin1") return TTextStream::LATIN1;
  if (proto == u"utf8") return TTextStream::UTF8;
  if (proto == u"utf16be") return TTextStream::UTF16BE;
  if (proto == u"utf16le") return TTextStream::UTF16LE;
  return 0;
}

}  // namespace

Ref<TTextStream> TTextStream::Create(const Ref<TStream>& stream, Int encoding) {
  auto text = MakeRef<TTextStream>();
  text->_encoding = encoding;
  text->SetStream(stream);
  return text;
}

Ref<TTextStream> TTextStream::CreateSystemText(const Ref<TStream>& stream) {
  Ref<TTextStream> text = Create(stream, UTF8);
  text->_systemText = true;
  return text;
}

Int TTextStream::ReadRawByte() { return TStreamWrapper::ReadByte(); }

Int TTextStream::WriteRawByte(Int n) { return TStreamWrapper::WriteByte(n); }

Int TTextStream::FlushRead() {
  if (_bufcount == 0) return 0;
  // The line is over whatever follows, so a caller that catches the error
  // goes on from where the stream stands.
  _bufcount = 0;
  Int byte = ReadRawByte();
  if (byte == 13) byte = ReadRawByte();
  if (byte != 10) Throw("Malformed line terminator"_s);
  return 0;
}

Int TTextStream::FlushWrite() {
  if (_bufcount == 0) return 0;
  WriteRawByte(13);
  WriteRawByte(10);
  _bufcount = 0;
  return 0;
}

Int TTextStream::Read(std::uint8_t* buffer, Int count) {
  if (count <= 0) return 0;
  for (Int i = 0; i < count; ++i) {
    if (_bufcount == kBytesPerHexLine) FlushRead();
    unsigned high = HexValue(ReadRawByte());
    unsigned low = HexValue(ReadRawByte());
    buffer[i] = static_cast<std::uint8_t>(((high << 4) + low) & 0xFFu);
    ++_bufcount;
  }
  return count;
}

Int TTextStream::Write(const std::uint8_t* buffer, Int count) {
  if (count <= 0) return 0;
  for (Int i = 0; i < count; ++i) {
    WriteRawByte(HexDigit(buffer[i] >> 4));
    WriteRawByte(HexDigit(buffer[i] & 0xFu));
    if (++_bufcount == kBytesPerHexLine) FlushWrite();
  }
  return count;
}

namespace {

// A typed value on a text stream is a line of its text.
template <class T>
T Parse(String& line) {
  if constexpr (std::is_same_v<T, Long>) return line.ParseLong();
  else if constexpr (std::is_same_v<T, Float>) return line.ParseFloat();
  else if constexpr (std::is_same_v<T, Double>) return line.ParseDouble();
  else return line.ParseInt();
}

Ref<String> Format(Int n) { return String::FormatInt(n); }
Ref<String> Format(Long n) { return String::FormatLong(n); }
Ref<String> Format(Float n) { return String::FormatFloat(n); }
Ref<String> Format(Double n) { return String::FormatDouble(n); }

}  // namespace

template <class T>
T TTextStream::ReadValue() {
  FlushRead();
  return Parse<T>(*ReadLine());
}

template <class T>
Int TTextStream::WriteValue(T n) {
  FlushWrite();
  WriteLine(Format(n));
  return 0;
}

Int TTextStream::ReadByte() { return ReadValue<Int>(); }
Int TTextStream::WriteByte(Int n) { return WriteValue(n); }
Int TTextStream::ReadShort() { return ReadValue<Int>(); }
Int TTextStream::WriteShort(Int n) { return WriteValue(n); }
Int TTextStream::ReadInt() { return ReadValue<Int>(); }
Int TTextStream::WriteInt(Int n) { return WriteValue(n); }
Long TTextStream::ReadLong() { return ReadValue<Long>(); }
Int TTextStream::WriteLong(Long n) { return WriteValue(n); }
Float TTextStream::ReadFloat() { return ReadValue<Float>(); }
Int TTextStream::WriteFloat(Float n) { return WriteValue(n); }
Double TTextStream::ReadDouble() { return ReadValue<Double>(); }
Int TTextStream::WriteDouble(Double n) { return WriteValue(n); }

Int TTextStream::DecodeUtf8() {
  // No validation: a stray continuation byte leads a two-byte form, and a
  // lead of 0xF0 or more stands for three bytes giving 0.
  Int b0 = ReadRawByte();
  if (b0 < 0x80) return Unit(static_cast<unsigned>(b0));
  unsigned b1 = static_cast<unsigned>(ReadRawByte());
  unsigned u0 = static_cast<unsigned>(b0);
  if (b0 < 0xE0) return Unit(((u0 - 0xC0u) << 6) + (b1 - 0x80u));
  unsigned b2 = static_cast<unsigned>(ReadRawByte());
  if (b0 < 0xF0) return Unit(((u0 - 0xE0u) << 12) + ((b1 - 0x80u) << 6) + (b2 - 0x80u));
  return 0;
}

Int TTextStream::ReadChar() {
  switch (_encoding) {
    case LATIN1:
      return Unit(static_cast<unsigned>(ReadRawByte()));
    case UTF8:
      return DecodeUtf8();
    case UTF16BE: {
      unsigned high = static_cast<unsigned>(ReadRawByte());
      unsigned low = static_cast<unsigned>(ReadRawByte());
      return Unit(high << 8 | low);
    }
    case UTF16LE: {
      unsigned low = static_cast<unsigned>(ReadRawByte());
      unsigned high = static_cast<unsigned>(ReadRawByte());
      return Unit(low | high << 8);
    }
    default:
      ReadRawByte();
      return 0;
  }
}

void TTextStream::EncodeUtf8(char32_t c) {
  PutUtf8(c, [this](char32_t byte) { WriteRawByte(static_cast<Int>(byte)); });
}

Int TTextStream::WriteChar(Int unit) {
  unsigned u = static_cast<unsigned>(unit) & 0xFFFFu;
  switch (_encoding) {
    case LATIN1:
      WriteRawByte(static_cast<Int>(u & 0xFFu));
      break;
    case UTF8:
      if (int byte = _systemText ? platform::NameByteOfUnit(static_cast<char16_t>(u)) : -1; byte >= 0) {
        WriteRawByte(byte);
      } else {
        EncodeUtf8(u);  // surrogates one by one, three bytes each
      }
      break;
    case UTF16BE:
      WriteRawByte(static_cast<Int>(u >> 8));
      WriteRawByte(static_cast<Int>(u & 0xFFu));
      break;
    case UTF16LE:
      WriteRawByte(static_cast<Int>(u & 0xFFu));
      WriteRawByte(static_cast<Int>(u >> 8));
      break;
    default:
      break;
  }
  return 0;
}

Ref<String> TTextStream::TakeCollected() {
  Ref<String> text = String::FromWideSpan(_collected.data(), static_cast<Int>(_collected.size()));
  if (_collected.capacity() > kKeptCollectCapacity) {
    std::vector<char16_t>().swap(_collected);
  } else {
    _collected.clear();
  }
  return text;
}

// A String holds at most 2^31-1 units; a longer line or text is refused
// rather than cut or wrapped to a negative length.
void TTextStream::Collect(const char16_t* units, std::size_t count) {
  if (count > static_cast<std::size_t>(INT32_MAX) - _collected.size()) {
    _collected = {};
    RaiseRuntimeError("Stream is too long to load into memory"_s);
  }
  _collected.insert(_collected.end(), units, units + count);
}

namespace {

// The characters of a line or text, a few hundred at a time before they
// join the collection, so that a character costs a store.
constexpr std::size_t kGathered = 256;

}  // namespace

Ref<String> TTextStream::ReadLine() {
  FlushRead();
  _collected.clear();
  char16_t units[kGathered];
  std::size_t count = 0;
  while (!Eof()) {
    Int c = ReadChar();
    if (c == 10 || c == 0) break;
    if (c == 13) continue;
    units[count++] = static_cast<char16_t>(c);
    if (count == kGathered) {
      Collect(units, count);
      count = 0;
    }
  }
  Collect(units, count);
  return TakeCollected();
}

Ref<String> TTextStream::ReadFile() {
  FlushRead();
  _collected.clear();
  char16_t units[kGathered];
  std::size_t count = 0;
  while (!Eof()) {
    units[count++] = static_cast<char16_t>(ReadChar());
    if (count == kGathered) {
      Collect(units, count);
      count = 0;
    }
  }
  Collect(units, count);
  return TakeCollected();
}

Ref<String> TTextStream::ReadString(Int length) {
  FlushRead();
  if (length <= 0) return String::Empty();
  _collected.clear();
  _collected.reserve(std::min(static_cast<std::size_t>(length), kMaxStringReserve));
  for (Int i = 0; i < length; ++i) _collected.push_back(static_cast<char16_t>(ReadChar()));
  return TakeCollected();
}

Int TTextStream::WriteString(const Ref<String>& text) {
  FlushWrite();
  std::u16string_view units = Text(text).View();
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char32_t unit = units[i];
    if (_systemText && IsHighSurrogate(unit) && i + 1 < units.size() && IsLowSurrogate(units[i + 1])) {
      const char32_t low = units[++i];
      EncodeUtf8(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
      continue;
    }
    WriteChar(unit);
  }
  return 0;
}

Int TTextStream::WriteLine(const Ref<String>& text) {
  FlushWrite();
  WriteString(text);
  WriteString("\r\n"_s);
  return 0;
}

Ref<TStream> TTextStreamFactory::CreateStream(const Ref<Object>&, const Ref<String>& proto,
                                              const Ref<String>& path, Int readable,
                                              Int writeable) {
  Int encoding = EncodingOf(Text(proto).View());
  if (encoding == 0) return nullptr;
  Ref<TStream> inner = OpenUrl(path, readable, writeable);
  if (!inner) return nullptr;
  return TTextStream::Create(inner, encoding);
}

namespace {

enum class Mark { kNone, kUtf16Be, kUtf16Le, kUtf8 };

// A stream without a known end (Pos -1) never reports Eof; its end shows as
// a read that gives nothing, which ReadByte raises. Both count as the end.
bool NextByte(TStream& stream, Int& byte) {
  if (stream.Eof()) return false;
  try {
    byte = stream.ReadByte();
  } catch (const Raised& raised) {
    if (!raised.As<TStreamReadException>()) throw;
    return false;
  }
  return true;
}

// Reads up to three bytes; the ones that are not a mark stay in `head`.
Mark ReadMark(TStream& stream, std::string& head) {
  Int byte = 0;
  if (!NextByte(stream, byte)) return Mark::kNone;
  head.push_back(static_cast<char>(byte));
  if (!NextByte(stream, byte)) return Mark::kNone;
  head.push_back(static_cast<char>(byte));
  if (head == "\xFE\xFF") return Mark::kUtf16Be;
  if (head == "\xFF\xFE") return Mark::kUtf16Le;
  if (head != "\xEF\xBB" || !NextByte(stream, byte)) return Mark::kNone;
  head.push_back(static_cast<char>(byte));
  return head == "\xEF\xBB\xBF" ? Mark::kUtf8 : Mark::kNone;
}

// The rest of the stream after `head`, one code unit per byte. A read that
// gives nothing ends the text even while Eof is false, so a source that
// never reports its end (or shrank under us) cannot hold the loop forever;
// a text longer than a String can hold raises the too-long runtime error.
Ref<String> ReadBytesAfter(TStream& stream, const std::string& head) {
  LoadedBytes loaded =
      ReadAllAfter(stream, {reinterpret_cast<const std::uint8_t*>(head.data()), head.size()});
  return String::FromNarrowSpan(loaded.data.get(), loaded.count);
}

Int EncodingOf(Mark mark) {
  switch (mark) {
    case Mark::kUtf16Be:
      return TTextStream::UTF16BE;
    case Mark::kUtf16Le:
      return TTextStream::UTF16LE;
    default:
      return TTextStream::UTF8;
  }
}

Ref<String> LoadOpened(const Ref<TStream>& stream) {
  std::string head;
  Mark mark = ReadMark(*stream, head);
  if (mark == Mark::kNone) {
    Ref<String> text = ReadBytesAfter(*stream, head);
    stream->Close();
    return text;
  }
  auto reader = TTextStream::Create(stream, EncodingOf(mark));
  Ref<String> text = reader->ReadFile();
  reader->Close();
  stream->Close();
  return text;
}

// A failed load or save still gives its file back at once, not only when
// the last reference goes.
template <class Body>
auto ClosingOnFailure(const Ref<TStream>& stream, Body&& body) {
  try {
    return body();
  } catch (...) {
    stream->Close();
    throw;
  }
}

}  // namespace

Ref<String> LoadTextFile(const Ref<Object>& url) {
  Ref<TStream> stream = OpenUrlReader(url);
  if (!stream) Throw(MakeRef<TStreamReadException>());
  return ClosingOnFailure(stream, [&] { return LoadOpened(stream); });
}

Int SaveTextFile(const Ref<String>& text, const Ref<Object>& url) {
  std::u16string_view units = Text(text).View();
  if (std::all_of(units.begin(), units.end(), [](char16_t u) { return u <= 0xFF; })) {
    SaveByteText(text, url);
    return 1;
  }
  Ref<TStream> stream = OpenUrlWriter(url);
  if (!stream) Throw(MakeRef<TStreamWriteException>());
  return ClosingOnFailure(stream, [&] {
    stream->WriteByte(0xFF);
    stream->WriteByte(0xFE);
    auto writer = TTextStream::Create(stream, TTextStream::UTF16LE);
    writer->WriteString(text);
    writer->Close();
    stream->Close();
    return 1;
  });
}

void StartTextStreamModule() {
  StartOnce<"text stream">([] {
    StartStreamModule();
    MakeRef<TTextStreamFactory>();
  });
}

}  // namespace corvid
