// Free-function forms of the stream methods, and the functions that load,
// save or copy a whole stream.
#pragma once

#include <memory>
#include <span>

#include "runtime/array.h"
#include "stream/stream.h"

namespace corvid {

// Each forwards to the method of the same role through the object; a Null
// stream raises the null-object error. The writes and StreamFlush and
// StreamClose return 0 whatever the method returns.
Int Eof(const Ref<TStream>& stream);
Int StreamPosition(const Ref<TStream>& stream);
Int StreamLength(const Ref<TStream>& stream);
Int StreamSeek(const Ref<TStream>& stream, Int pos);
Int StreamFlush(const Ref<TStream>& stream);
Int StreamClose(const Ref<TStream>& stream);
Int ReadByte(const Ref<TStream>& stream);
Int ReadShort(const Ref<TStream>& stream);
Int ReadInt(const Ref<TStream>& stream);
Long ReadLong(const Ref<TStream>& stream);
Float ReadFloat(const Ref<TStream>& stream);
Double ReadDouble(const Ref<TStream>& stream);
Int WriteByte(const Ref<TStream>& stream, Int n);
Int WriteShort(const Ref<TStream>& stream, Int n);
Int WriteInt(const Ref<TStream>& stream, Int n);
Int WriteLong(const Ref<TStream>& stream, Long n);
Int WriteFloat(const Ref<TStream>& stream, Float n);
Int WriteDouble(const Ref<TStream>& stream, Double n);
Ref<String> ReadString(const Ref<TStream>& stream, Int length);
Int WriteString(const Ref<TStream>& stream, const Ref<String>& text);
Ref<String> ReadLine(const Ref<TStream>& stream);
/// 1 when the line and its CR LF went through whole, else 0.
Int WriteLine(const Ref<TStream>& stream, const Ref<String>& text);

/// Every byte `url` yields, read until its Eof turns true or a Read gives
/// nothing (so a source whose Eof never turns true, such as a pipe, still
/// ends). The stream is closed afterwards; a stream object given as `url`
/// is read through a second handle and stays open. Raises
/// TStreamReadException when `url` does not open. The bytes come as a byte
/// array ("b"); the shared empty array when there were none.
Ref<Array> LoadAllBytes(const Ref<Object>& url);
/// LoadAllBytes as text, one code unit (0..255) per byte.
Ref<String> LoadByteText(const Ref<Object>& url);
/// ReadObject of the opened stream, which is then closed. Raises
/// TStreamReadException when `url` does not open.
Ref<Object> LoadUrlObject(const Ref<Object>& url);
/// Writes all of the byte array `bytes` (Null reads as empty) to `url`
/// opened for writing and closes it. Raises TStreamWriteException when `url`
/// does not open or stops taking bytes. Returns 0.
Int SaveAllBytes(const Ref<Array>& bytes, const Ref<Object>& url);
/// The low byte of each code unit, as SaveAllBytes. Returns 0.
Int SaveByteText(const Ref<String>& text, const Ref<Object>& url);
/// WriteObject to the opened stream, which is then closed. Raises
/// TStreamWriteException when `url` does not open. Returns 0.
Int SaveUrlObject(const Ref<Object>& object, const Ref<Object>& url);

/// Copies from `from` to `to` in reads of up to `bufSize` bytes until Eof of
/// `from` turns true or a Read gives nothing. A destination that stops
/// taking bytes raises TStreamWriteException. A `bufSize` below 1 raises a
/// runtime error. Opens and closes nothing. Returns 0.
Int CopyToEnd(const Ref<TStream>& from, const Ref<TStream>& to, Int bufSize);
/// Copies exactly `count` bytes in passes of up to `bufSize`; a source that
/// runs dry raises TStreamReadException. A `count` of 0 or less touches
/// neither stream; otherwise a `bufSize` below 1 raises a runtime error.
/// Returns 0.
Int CopyCount(const Ref<TStream>& from, const Ref<TStream>& to, Int count, Int bufSize);

/// The length of the next buffer when reading a stream whole: 1024 first,
/// then half again (1536, 2304, ...), at most `limit`. Raises the runtime
/// error "Stream is too long to load into memory" when `length` is already
/// `limit`; by default that is 2^31-1, the most a stream can address.
Int NextLoadLength(Int length, Int limit = INT32_MAX);

/// The reading loop of LoadAllBytes, for callers that keep the bytes in
/// memory of their own. `kept` bytes may already stand at the start.
/// `grow(length, kept)` must provide room for `length` bytes with the first
/// `kept` bytes read so far in place and return its start. Reads until Eof
/// turns true or a Read gives nothing; returns the number of bytes in place,
/// `kept` included. A stream that holds more than `limit` bytes in all
/// raises the runtime error of NextLoadLength, before memory for them is
/// taken.
template <class Grow>
Int ReadToEnd(TStream& stream, Grow&& grow, Int kept = 0, Int limit = INT32_MAX) {
  Int length = 0;
  Int count = kept;
  std::uint8_t* data = nullptr;
  while (!stream.Eof()) {
    if (count >= length) {
      if (count >= limit) {
        // Full: the stream fits only when nothing follows, which a stream
        // without a position tells only by a read of nothing.
        std::uint8_t probe;
        if (stream.Read(&probe, 1) <= 0) break;
      }
      do {
        length = NextLoadLength(length, limit);
      } while (length <= count);
      data = grow(length, count);
    }
    Int room = length - count;
    Int n = stream.Read(data + count, room);
    if (n <= 0) break;
    count += n < room ? n : room;
  }
  return count;
}

/// Bytes read whole from a stream.
struct LoadedBytes {
  std::unique_ptr<std::uint8_t[]> data;
  Int count = 0;
};
/// `head`, then everything ReadToEnd gets from `stream`.
LoadedBytes ReadAllAfter(TStream& stream, std::span<const std::uint8_t> head = {});

}  // namespace corvid
