#include "stream/stream_functions.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "stream/url.h"

namespace corvid {

namespace {

// A copy gains nothing from buffers larger than this, and a huge request
// must not fail for want of memory.
constexpr Int kMaxCopyBuffer = 1 << 20;

std::unique_ptr<std::uint8_t[]> CopyBuffer(Int bufSize, Int* used) {
  if (bufSize < 1) RaiseRuntimeError("Copy buffer size must be at least 1"_s);
  *used = std::min(bufSize, kMaxCopyBuffer);
  return std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(*used));
}

using ByteSpan = std::span<const std::uint8_t>;

void WriteAll(TStream& stream, ByteSpan bytes) {
  // WriteBytes counts in Int; a longer span goes in several calls.
  while (!bytes.empty()) {
    std::size_t part = std::min<std::size_t>(bytes.size(), INT32_MAX);
    stream.WriteBytes(bytes.data(), static_cast<Int>(part));
    bytes = bytes.subspan(part);
  }
}

Ref<TStream> OpenForLoad(const Ref<Object>& url) {
  Ref<TStream> stream = OpenUrlReader(url);
  if (!stream) Throw(MakeRef<TStreamReadException>());
  return stream;
}

Ref<TStream> OpenForSave(const Ref<Object>& url) {
  Ref<TStream> stream = OpenUrlWriter(url);
  if (!stream) Throw(MakeRef<TStreamWriteException>());
  return stream;
}

}  // namespace

Int Eof(const Ref<TStream>& stream) { return Deref(stream).Eof(); }
Int StreamPosition(const Ref<TStream>& stream) { return Deref(stream).Pos(); }
Int StreamLength(const Ref<TStream>& stream) { return Deref(stream).Size(); }
Int StreamSeek(const Ref<TStream>& stream, Int pos) { return Deref(stream).Seek(pos); }
Int StreamFlush(const Ref<TStream>& stream) {
  Deref(stream).Flush();
  return 0;
}
Int StreamClose(const Ref<TStream>& stream) {
  Deref(stream).Close();
  return 0;
}

Int ReadByte(const Ref<TStream>& stream) { return Deref(stream).ReadByte(); }
Int ReadShort(const Ref<TStream>& stream) { return Deref(stream).ReadShort(); }
Int ReadInt(const Ref<TStream>& stream) { return Deref(stream).ReadInt(); }
Long ReadLong(const Ref<TStream>& stream) { return Deref(stream).ReadLong(); }
Float ReadFloat(const Ref<TStream>& stream) { return Deref(stream).ReadFloat(); }
Double ReadDouble(const Ref<TStream>& stream) { return Deref(stream).ReadDouble(); }

Int WriteByte(const Ref<TStream>& stream, Int n) {
  Deref(stream).WriteByte(n);
  return 0;
}
Int WriteShort(const Ref<TStream>& stream, Int n) {
  Deref(stream).WriteShort(n);
  return 0;
}
Int WriteInt(const Ref<TStream>& stream, Int n) {
  Deref(stream).WriteInt(n);
  return 0;
}
Int WriteLong(const Ref<TStream>& stream, Long n) {
  Deref(stream).WriteLong(n);
  return 0;
}
Int WriteFloat(const Ref<TStream>& stream, Float n) {
  Deref(stream).WriteFloat(n);
  return 0;
}
Int WriteDouble(const Ref<TStream>& stream, Double n) {
  Deref(stream).WriteDouble(n);
  return 0;
}

Ref<String> ReadString(const Ref<TStream>& stream, Int length) {
  return Deref(stream).ReadString(length);
}
Int WriteString(const Ref<TStream>& stream, const Ref<String>& text) {
  Deref(stream).WriteString(text);
  return 0;
}
Ref<String> ReadLine(const Ref<TStream>& stream) { return Deref(stream).ReadLine(); }
Int WriteLine(const Ref<TStream>& stream, const Ref<String>& text) {
  return Deref(stream).WriteLine(text);
}

Int NextLoadLength(Int length, Int limit) {
  if (length >= limit) RaiseRuntimeError("Stream is too long to load into memory"_s);
  if (length <= 0) return std::min(1024, limit);
  Long next = std::max(Long{length} * 3 / 2, Long{length} + 1);
  return next > limit ? limit : static_cast<Int>(next);
}

LoadedBytes ReadAllAfter(TStream& stream, std::span<const std::uint8_t> head) {
  LoadedBytes loaded;
  const std::uint8_t* kept = head.data();
  loaded.count = ReadToEnd(
      stream,
      [&](Int length, Int count) {
        auto bigger = std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(length));
        if (count > 0) std::memcpy(bigger.get(), kept, static_cast<std::size_t>(count));
        loaded.data = std::move(bigger);
        kept = loaded.data.get();
        return loaded.data.get();
      },
      static_cast<Int>(head.size()));
  if (!loaded.data && loaded.count > 0) {
    loaded.data = std::make_unique_for_overwrite<std::uint8_t[]>(head.size());
    std::memcpy(loaded.data.get(), head.data(), head.size());
  }
  return loaded;
}

Ref<Array> LoadAllBytes(const Ref<Object>& url) {
  Ref<TStream> stream = OpenForLoad(url);
  LoadedBytes loaded = ReadAllAfter(*stream);
  stream->Close();
  return Array::FromBytes({loaded.data.get(), static_cast<std::size_t>(loaded.count)});
}

Ref<String> LoadByteText(const Ref<Object>& url) {
  Ref<Array> bytes = LoadAllBytes(url);
  return String::FromNarrowSpan(bytes->Elements<std::uint8_t>().data(), bytes->Count());
}

Ref<Object> LoadUrlObject(const Ref<Object>& url) {
  Ref<TStream> stream = OpenForLoad(url);
  Ref<Object> object = stream->ReadObject();
  stream->Close();
  return object;
}

Int SaveAllBytes(const Ref<Array>& bytes, const Ref<Object>& url) {
  Ref<TStream> stream = OpenForSave(url);
  WriteAll(*stream, (bytes ? bytes : Array::Empty())->Elements<std::uint8_t>());
  stream->Close();
  return 0;
}

Int SaveByteText(const Ref<String>& text, const Ref<Object>& url) {
  Ref<TStream> stream = OpenForSave(url);
  std::string bytes = ToBytes(text);
  WriteAll(*stream, ByteSpan(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  stream->Close();
  return 0;
}

Int SaveUrlObject(const Ref<Object>& object, const Ref<Object>& url) {
  Ref<TStream> stream = OpenForSave(url);
  stream->WriteObject(object);
  stream->Close();
  return 0;
}

Int CopyToEnd(const Ref<TStream>& from, const Ref<TStream>& to, Int bufSize) {
  TStream& source = Deref(from);
  TStream& target = Deref(to);
  Int size = 0;
  auto buffer = CopyBuffer(bufSize, &size);
  while (!source.Eof()) {
    Int n = source.Read(buffer.get(), size);
    if (n <= 0) break;
    target.WriteBytes(buffer.get(), std::min(n, size));
  }
  return 0;
}

Int CopyCount(const Ref<TStream>& from, const Ref<TStream>& to, Int count, Int bufSize) {
  if (count <= 0) return 0;
  TStream& source = Deref(from);
  TStream& target = Deref(to);
  Int size = 0;
  auto buffer = CopyBuffer(bufSize, &size);
  while (count > 0) {
    Int n = std::min(count, size);
    source.ReadBytes(buffer.get(), n);
    target.WriteBytes(buffer.get(), n);
    count -= n;
  }
  return 0;
}

}  // namespace corvid
