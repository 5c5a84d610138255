// Text streams: characters in one of four encodings over a byte stream.
#pragma once

#include "stream/stream.h"

namespace corvid {

/// Reads and writes characters of `_encoding` over the inner byte stream.
/// Positions and sizes are those of the inner stream.
class TTextStream : public TStreamWrapper {
 public:
  static constexpr Int LATIN1 = 1;
  static constexpr Int UTF8 = 2;
  static constexpr Int UTF16BE = 3;
  static constexpr Int UTF16LE = 4;

  /// Line of characters up to LF or a zero character, CR dropped anywhere;
  /// at the end of the stream what was collected. A text that ends inside a
  /// character raises TStreamReadException.
  Ref<String> ReadLine() override;
  /// The text, then CR LF, encoded. Returns 0.
  Int WriteLine(const Ref<String>& text) override;
  Int WriteString(const Ref<String>& text) override;

  /// One character decoded from the inner stream.
  virtual Int ReadChar();
  /// One code unit encoded to the inner stream.
  virtual Int WriteChar(Int unit);
  static Ref<TTextStream> Create(const Ref<TStream>& stream, Int encoding);
  /// One raw byte of the inner stream (0..255).
  virtual Int _ReadByte();
  /// One raw byte (low 8 bits of `n`) to the inner stream.
  virtual Int _WriteByte(Int n);
  /// Ends an open line of hexadecimal digits on reading; nothing to end yet.
  virtual Int _FlushRead();
  /// Ends an open line of hexadecimal digits on writing; nothing to end yet.
  virtual Int _FlushWrite();

  Int Encoding() const noexcept { return _encoding; }

 protected:
  Int _encoding = 0;
  Int _bufcount = 0;
};

void StartTextStreamModule();

}  // namespace corvid
