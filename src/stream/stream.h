// The stream interface: TIO and TStream with typed and text operations over
// the Read/Write primitives, and wrappers over other streams. The stream
// exceptions come with the runtime's errors (runtime/error.h).
#pragma once

#include <cstdint>

#include "runtime/error.h"
#include "runtime/object.h"
#include "runtime/string.h"

namespace corvid {

/// Positions, sizes and counts are Int: a stream addresses at most 2^31-1
/// bytes. Truth values are 1 and 0.
class TIO : public Object {
 public:
  /// 1 when Pos() equals Size(), each asked through the object, else 0.
  virtual Int Eof();
  /// The position in bytes; -1 when the stream has none (the base).
  virtual Int Pos();
  /// The size in bytes; the base gives 0.
  virtual Int Size();
  /// Moves to `pos`; returns the new position, or -1 when the stream
  /// cannot seek (the base).
  virtual Int Seek(Int pos);
  /// Hands buffered output on; the base does nothing. Returns 0.
  virtual Int Flush();
  /// Releases what the stream holds; the base does nothing. Returns 0.
  virtual Int Close();
  /// Transfers up to `count` bytes; returns how many (0: none could be).
  /// The base raises "Stream is not readable".
  virtual Int Read(std::uint8_t* buffer, Int count);
  /// The base raises "Stream is not writeable".
  virtual Int Write(const std::uint8_t* buffer, Int count);
};

/// Typed values travel as their little-endian bytes through ReadBytes and
/// WriteBytes; text travels one byte per code unit.
class TStream : public TIO {
 public:
  /// Exactly `count` bytes or TStreamReadException.
  virtual Int ReadBytes(std::uint8_t* buffer, Int count);
  /// Exactly `count` bytes or TStreamWriteException.
  virtual Int WriteBytes(const std::uint8_t* buffer, Int count);
  /// Reads and drops exactly `count` bytes; returns `count`. A stream that
  /// runs dry first raises TStreamReadException.
  virtual Int SkipBytes(Int count);
  /// Typed reads: the value from its bytes, read with ReadBytes, so a stream
  /// that runs dry raises TStreamReadException. ReadByte gives 0..255 and
  /// ReadShort 0..65535.
  virtual Int ReadByte();
  /// Typed writes: the value's bytes with WriteBytes (the low 8 or 16 bits
  /// for WriteByte and WriteShort), so a stream that stops taking bytes
  /// raises TStreamWriteException. Return 0.
  virtual Int WriteByte(Int n);
  virtual Int ReadShort();
  virtual Int WriteShort(Int n);
  virtual Int ReadInt();
  virtual Int WriteInt(Int n);
  virtual Long ReadLong();
  virtual Int WriteLong(Long n);
  virtual Float ReadFloat();
  virtual Int WriteFloat(Float n);
  virtual Double ReadDouble();
  virtual Int WriteDouble(Double n);
  /// Bytes up to LF or a zero byte (consumed, not kept), CR dropped
  /// anywhere; at the end of the data whatever was collected. Never raises
  /// at the end and never asks Eof.
  virtual Ref<String> ReadLine();
  /// The text's bytes with one Write, then CR LF with another; 1 when both
  /// went through whole, else 0.
  virtual Int WriteLine(const Ref<String>& text);
  /// Exactly `length` bytes, one unit each (empty for `length` <= 0); a
  /// stream that runs dry first raises TStreamReadException, having taken
  /// memory only for the bytes that came.
  virtual Ref<String> ReadString(Int length);
  /// The low byte of each unit with WriteBytes, no terminator; a stream
  /// that stops taking bytes raises TStreamWriteException. Returns 0.
  virtual Int WriteString(const Ref<String>& text);
  /// The base raises the String "Unable to read object".
  virtual Ref<Object> ReadObject();
  /// The base raises the String "Unable to write object".
  virtual Int WriteObject(const Ref<Object>& object);
};

/// A stream over another stream, which it owns. Everything but the block
/// loops (ReadBytes, WriteBytes, SkipBytes) and ReadLong/WriteLong is
/// forwarded, with the inner stream's results and errors; the forwarded
/// writes, Flush and Close return 0. Without an inner stream, forwarding
/// raises TNullObjectException.
class TStreamWrapper : public TStream {
 public:
  Int Eof() override;
  Int Pos() override;
  Int Size() override;
  Int Seek(Int pos) override;
  Int Flush() override;
  Int Close() override;
  Int Read(std::uint8_t* buffer, Int count) override;
  Int Write(const std::uint8_t* buffer, Int count) override;
  Int ReadByte() override;
  Int WriteByte(Int n) override;
  Int ReadShort() override;
  Int WriteShort(Int n) override;
  Int ReadInt() override;
  Int WriteInt(Int n) override;
  Float ReadFloat() override;
  Int WriteFloat(Float n) override;
  Double ReadDouble() override;
  Int WriteDouble(Double n) override;
  Ref<String> ReadLine() override;
  Int WriteLine(const Ref<String>& text) override;
  Ref<String> ReadString(Int length) override;
  Int WriteString(const Ref<String>& text) override;
  Ref<Object> ReadObject() override;
  Int WriteObject(const Ref<Object>& object) override;

  /// Replaces the inner stream; setting the same stream again is safe.
  /// Returns 0.
  virtual Int SetStream(const Ref<TStream>& stream);
  /// The inner stream; Null when there is none.
  const Ref<TStream>& Inner() const noexcept { return _stream; }

 protected:
  /// The inner stream; raises TNullObjectException when there is none.
  TStream& Target();

  Ref<TStream> _stream;
};

/// A second handle on a stream: Close drops the reference and leaves the
/// stream itself open.
class TStreamStream : public TStreamWrapper {
 public:
  Int Close() override;
  /// A new handle on `stream`.
  static Ref<TStreamStream> Create(const Ref<TStream>& stream);
};

/// Starts the stream module (and the runtime's); plain file names open
/// without it, protocols need their own modules.
void StartStreamModule();

}  // namespace corvid
