#include "stream/stream.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "runtime/module.h"

namespace corvid {

Int TIO::Eof() { return Pos() == Size() ? 1 : 0; }
Int TIO::Pos() { return -1; }
Int TIO::Size() { return 0; }
Int TIO::Seek(Int) { return -1; }
Int TIO::Flush() { return 0; }
Int TIO::Close() { return 0; }
Int TIO::Read(std::uint8_t*, Int) { RaiseRuntimeError("Stream is not readable"_s); }
Int TIO::Write(const std::uint8_t*, Int) { RaiseRuntimeError("Stream is not writeable"_s); }

Int TStream::ReadBytes(std::uint8_t* buffer, Int count) {
  for (Int left = count; left > 0;) {
    Int n = Read(buffer, left);
    if (n <= 0) Throw(MakeRef<TStreamReadException>());
    left -= n;
    buffer += n;
  }
  return count;
}

Int TStream::WriteBytes(const std::uint8_t* buffer, Int count) {
  for (Int left = count; left > 0;) {
    Int n = Write(buffer, left);
    if (n <= 0) Throw(MakeRef<TStreamWriteException>());
    left -= n;
    buffer += n;
  }
  return count;
}

Int TStream::SkipBytes(Int count) {
  std::uint8_t scratch[1024];
  for (Int left = count; left > 0;) {
    Int n = Read(scratch, left < 1024 ? left : 1024);
    if (n <= 0) Throw(MakeRef<TStreamReadException>());
    left -= n;
  }
  return count;
}

namespace {

template <class T>
T ReadRaw(TStream& stream) {
  std::uint8_t bytes[sizeof(T)] = {};
  stream.ReadBytes(bytes, sizeof(T));
  T value;
  std::memcpy(&value, bytes, sizeof(T));
  return value;
}

template <class T>
Int WriteRaw(TStream& stream, T value) {
  std::uint8_t bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  stream.WriteBytes(bytes, sizeof(T));
  return 0;
}

}  // namespace

// Typed values are stored in host order. Files of typed values are
// little-endian wherever they were written, so only such hosts are built for.
static_assert(std::endian::native == std::endian::little);

Int TStream::ReadByte() { return ReadRaw<std::uint8_t>(*this); }
Int TStream::WriteByte(Int n) { return WriteRaw(*this, static_cast<std::uint8_t>(n)); }
Int TStream::ReadShort() { return ReadRaw<std::uint16_t>(*this); }
Int TStream::WriteShort(Int n) { return WriteRaw(*this, static_cast<std::uint16_t>(n)); }
Int TStream::ReadInt() { return ReadRaw<Int>(*this); }
Int TStream::WriteInt(Int n) { return WriteRaw(*this, n); }
Long TStream::ReadLong() { return ReadRaw<Long>(*this); }
Int TStream::WriteLong(Long n) { return WriteRaw(*this, n); }
Float TStream::ReadFloat() { return ReadRaw<Float>(*this); }
Int TStream::WriteFloat(Float n) { return WriteRaw(*this, n); }
Double TStream::ReadDouble() { return ReadRaw<Double>(*this); }
Int TStream::WriteDouble(Double n) { return WriteRaw(*this, n); }

Ref<String> TStream::ReadLine() {
  std::vector<std::uint8_t> line;
  line.reserve(1024);
  std::uint8_t byte;
  while (Read(&byte, 1) == 1) {
    if (byte == 10 || byte == 0) break;
    if (byte != 13) line.push_back(byte);
  }
  return String::FromNarrowSpan(line.data(), static_cast<Int>(line.size()));
}

Int TStream::WriteLine(const Ref<String>& text) {
  std::string bytes = ToBytes(text);
  Int length = static_cast<Int>(bytes.size());
  if (Write(reinterpret_cast<const std::uint8_t*>(bytes.data()), length) != length) return 0;
  static const std::uint8_t kEnd[2] = {13, 10};
  return Write(kEnd, 2) == 2 ? 1 : 0;
}

// The length is the caller's word, not the stream's: the buffer grows with
// the bytes that arrive, so a short stream fails at once without first
// taking memory for all of them.
Ref<String> TStream::ReadString(Int length) {
  if (length <= 0) return String::Empty();
  constexpr Int kFirstPart = 4096;
  std::vector<std::uint8_t> bytes;
  for (Int got = 0; got < length;) {
    Int part = std::min(length - got, std::max(got, kFirstPart));
    bytes.resize(static_cast<std::size_t>(got) + static_cast<std::size_t>(part));
    ReadBytes(bytes.data() + got, part);
    got += part;
  }
  return String::FromNarrowSpan(bytes.data(), length);
}

Int TStream::WriteString(const Ref<String>& text) {
  std::string bytes = ToBytes(text);
  WriteBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), static_cast<Int>(bytes.size()));
  return 0;
}

Ref<Object> TStream::ReadObject() { Throw("Unable to read object"_s); }
Int TStream::WriteObject(const Ref<Object>&) { Throw("Unable to write object"_s); }

TStream& TStreamWrapper::Target() { return Deref(_stream); }

Int TStreamWrapper::Eof() { return Target().Eof(); }
Int TStreamWrapper::Pos() { return Target().Pos(); }
Int TStreamWrapper::Size() { return Target().Size(); }
Int TStreamWrapper::Seek(Int pos) { return Target().Seek(pos); }
Int TStreamWrapper::Flush() {
  Target().Flush();
  return 0;
}
Int TStreamWrapper::Close() {
  Target().Close();
  return 0;
}
Int TStreamWrapper::Read(std::uint8_t* buffer, Int count) { return Target().Read(buffer, count); }
Int TStreamWrapper::Write(const std::uint8_t* buffer, Int count) {
  return Target().Write(buffer, count);
}
Int TStreamWrapper::ReadByte() { return Target().ReadByte(); }
Int TStreamWrapper::WriteByte(Int n) {
  Target().WriteByte(n);
  return 0;
}
Int TStreamWrapper::ReadShort() { return Target().ReadShort(); }
Int TStreamWrapper::WriteShort(Int n) {
  Target().WriteShort(n);
  return 0;
}
Int TStreamWrapper::ReadInt() { return Target().ReadInt(); }
Int TStreamWrapper::WriteInt(Int n) {
  Target().WriteInt(n);
  return 0;
}
Float TStreamWrapper::ReadFloat() { return Target().ReadFloat(); }
Int TStreamWrapper::WriteFloat(Float n) {
  Target().WriteFloat(n);
  return 0;
}
Double TStreamWrapper::ReadDouble() { return Target().ReadDouble(); }
Int TStreamWrapper::WriteDouble(Double n) {
  Target().WriteDouble(n);
  return 0;
}
Ref<String> TStreamWrapper::ReadLine() { return Target().ReadLine(); }
Int TStreamWrapper::WriteLine(const Ref<String>& text) { return Target().WriteLine(text); }
Ref<String> TStreamWrapper::ReadString(Int length) { return Target().ReadString(length); }
Int TStreamWrapper::WriteString(const Ref<String>& text) {
  Target().WriteString(text);
  return 0;
}
Ref<Object> TStreamWrapper::ReadObject() { return Target().ReadObject(); }
Int TStreamWrapper::WriteObject(const Ref<Object>& object) {
  Target().WriteObject(object);
  return 0;
}

Int TStreamWrapper::SetStream(const Ref<TStream>& stream) {
  _stream = stream;  // Ref assignment takes the new reference before dropping the old
  return 0;
}

Int TStreamStream::Close() {
  SetStream(nullptr);
  return 0;
}

Ref<TStreamStream> TStreamStream::Create(const Ref<TStream>& stream) {
  auto wrapper = MakeRef<TStreamStream>();
  wrapper->SetStream(stream);
  return wrapper;
}

void StartStreamModule() {
  StartOnce<"stream">([] {
    StartRuntimeModule();
    StartStdlibModule();
  });
}

}  // namespace corvid
