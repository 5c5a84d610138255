// Bank and RAM streams: seekable streams over a bank or over a fixed window
// of memory, and the factories that open banks and embedded data by name.
#pragma once

#include <cstdint>

#include "memstream/bank.h"
#include "stream/stream.h"
#include "stream/url.h"

namespace corvid {

/// A stream over a bank, which it keeps alive. Writes past the end grow the
/// bank; the size is the bank's own, read afresh on every call, so holders
/// that share the bank see each other's changes at once. Close and Flush do
/// nothing: the stream stays usable.
class TBankStream : public TStream {
 public:
  /// 1 at or past the end: a bank shrunk by another holder can leave the
  /// position beyond it, with nothing left to read.
  Int Eof() override;
  Int Pos() override;
  Int Size() override;
  /// Clamps `pos` to 0 .. Size(); returns the new position.
  Int Seek(Int pos) override;
  /// Up to `count` bytes from the position; 0 at or past the end.
  Int Read(std::uint8_t* buffer, Int count) override;
  /// Writes at the position, growing the bank when the bytes run past its
  /// end. 0 when the position lies past the end (the bank shrank). A static
  /// bank cannot grow: only the bytes that fit are written.
  Int Write(const std::uint8_t* buffer, Int count) override;
  /// The line TStream::ReadLine gives, taken from the bank in one pass.
  Ref<String> ReadLine() override;

  /// A stream at position 0 over `bank`; Null raises the null-object error.
  static Ref<TBankStream> Create(const Ref<TBank>& bank);

  /// The bank under the stream.
  const Ref<TBank>& Bank() const noexcept { return _bank; }

 private:
  Int _pos = 0;
  Ref<TBank> _bank;
};

/// A stream over a fixed window of memory that it neither owns nor grows.
/// Reads and writes stop at the window's end; a direction whose flag is 0
/// transfers nothing.
class TRamStream : public TStream {
 public:
  Int Pos() override;
  Int Size() override;
  /// Clamps `pos` to 0 .. Size(); returns the new position.
  Int Seek(Int pos) override;
  Int Read(std::uint8_t* buffer, Int count) override;
  Int Write(const std::uint8_t* buffer, Int count) override;
  /// The line TStream::ReadLine gives, taken from the window in one pass.
  Ref<String> ReadLine() override;

  /// A stream at position 0 over `size` bytes at `address`, which must stay
  /// valid while the stream exists (and writable when `writeable` is set).
  /// A negative size, or a null address with a positive size, raises a
  /// runtime error.
  static Ref<TRamStream> Create(std::uint8_t* address, Int size, Int readable, Int writeable);

 private:
  Int Transfer(std::uint8_t* to, const std::uint8_t* from, Int count, Int allowed, bool reading);

  Int _pos = 0;
  Int _size = 0;
  std::uint8_t* _buf = nullptr;
  Int _read = 0;
  Int _write = 0;
};

/// Opens a TBank given as the URL object (whatever the protocol, path and
/// flags) as a bank stream over that bank.
class TBankStreamFactory : public TStreamFactory {
 public:
  Ref<TStream> CreateStream(const Ref<Object>& url, const Ref<String>& proto,
                            const Ref<String>& path, Int readable, Int writeable) override;
};

/// Opens "incbin::" names for reading only: a RAM stream over the embedded
/// block registered under the path.
class TRamStreamFactory : public TStreamFactory {
 public:
  Ref<TStream> CreateStream(const Ref<Object>& url, const Ref<String>& proto,
                            const Ref<String>& path, Int readable, Int writeable) override;
};

/// A bank stream over `bank`, or over a new empty bank when `bank` is Null.
Ref<TBankStream> NewBankStream(const Ref<TBank>& bank);
/// TRamStream::Create.
Ref<TRamStream> NewRamStream(std::uint8_t* address, Int size, Int readable, Int writeable);

/// Starts the module: a TBank given as a name opens as a bank stream.
void StartBankStreamModule();
/// Starts the module: registers the "incbin" protocol with the chain.
void StartRamStreamModule();

}  // namespace corvid
