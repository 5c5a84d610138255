// Byte-order streams: typed values in big-endian order over any stream, and
// the "bigendian" and "littleendian" protocols.
#pragma once

#include <cstdint>

#include "stream/stream.h"
#include "stream/url.h"

namespace corvid {

/// Carries 2-, 4- and 8-byte typed values most significant byte first over
/// the inner stream. Single bytes, raw blocks, text and objects pass
/// unchanged (the wrapper's forwarding). A typed read that meets the end
/// raises TStreamReadException, a typed write that stalls
/// TStreamWriteException; nothing is returned or written half.
class TXEndianStream : public TStreamWrapper {
 public:
  /// Reverse the bytes at `address` in place. Return 0.
  virtual Int Swap2(std::uint8_t* address);
  virtual Int Swap4(std::uint8_t* address);
  virtual Int Swap8(std::uint8_t* address);

  /// 0..65535, never negative.
  Int ReadShort() override;
  /// The low 16 bits of `n`.
  Int WriteShort(Int n) override;
  Int ReadInt() override;
  Int WriteInt(Int n) override;
  Long ReadLong() override;
  Int WriteLong(Long n) override;
  Float ReadFloat() override;
  Int WriteFloat(Float n) override;
  Double ReadDouble() override;
  Int WriteDouble(Double n) override;

  /// A byte-order stream over `stream`; Null for Null.
  static Ref<TXEndianStream> Create(const Ref<TStream>& stream);
  /// `stream` with big-endian typed values: a new wrapper; Null for Null.
  static Ref<TStream> BigEndian(const Ref<TStream>& stream);
  /// `stream` with little-endian typed values: the plain stream's own
  /// order, so `stream` itself.
  static Ref<TStream> LittleEndian(const Ref<TStream>& stream);

 private:
  template <class T>
  T ReadSwapped();
  template <class T>
  Int WriteSwapped(T value);
  void ToStreamOrder(std::uint8_t* bytes, std::size_t width);
};

/// TXEndianStream::BigEndian and TXEndianStream::LittleEndian.
Ref<TStream> AsBigEndian(const Ref<TStream>& stream);
Ref<TStream> AsLittleEndian(const Ref<TStream>& stream);

/// Opens "bigendian" and "littleendian" names: the path is opened with
/// OpenUrl (so it may carry a protocol of its own) and given that byte
/// order. Null for any other protocol or when the path does not open.
class TXEndianStreamFactory : public TStreamFactory {
 public:
  Ref<TStream> CreateStream(const Ref<Object>& url, const Ref<String>& proto,
                            const Ref<String>& path, Int readable, Int writeable) override;
};

/// Starts the module: registers the byte-order protocols with the chain.
void StartXEndianModule();

}  // namespace corvid
