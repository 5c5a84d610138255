// Text streams: characters in one of four encodings over a byte stream, the
// protocols that open them by name, and whole-text load and save.
#pragma once

#include <vector>

#include "stream/stream.h"
#include "stream/url.h"

namespace corvid {

/// Reads and writes characters of `_encoding` over the inner byte stream.
/// Positions and sizes are those of the inner stream; Eof, Pos, Size, Seek,
/// Flush, Close and the object operations are forwarded to it.
///
/// Text and typed values pass through the encoding; typed values travel as
/// decimal lines. Raw blocks (Read, Write, and so ReadBytes, WriteBytes,
/// SkipBytes) travel as lines of up to 64 capital hexadecimal digits, whatever
/// the encoding; a block line still open is ended by the next text or typed
/// operation, not by Flush or Close.
///
/// An encoding code other than the four constants reads every byte as the
/// character 0 and writes nothing.
///
/// The class is final so that the character loops reach ReadChar and the raw
/// byte operations without a virtual call per character.
class TTextStream final : public TStreamWrapper {
 public:
  static constexpr Int LATIN1 = 1;
  static constexpr Int UTF8 = 2;
  static constexpr Int UTF16BE = 3;
  static constexpr Int UTF16LE = 4;

  /// Fills `buffer` from hexadecimal digit pairs, reading the terminator of a
  /// full line before the next byte. Returns `count` (0 when `count` <= 0).
  /// Raises TStreamReadException when the data ends inside a pair, and the
  /// String "Malformed line terminator" when a full line is not followed by
  /// CR LF or LF.
  Int Read(std::uint8_t* buffer, Int count) override;
  /// Writes two capital hexadecimal digits per byte, CR LF after every 32
  /// bytes. Returns `count` (0 when `count` <= 0).
  Int Write(const std::uint8_t* buffer, Int count) override;
  /// Typed reads: one line converted with the String parsers, no range
  /// reduction (a line "300" reads as 300 through ReadByte).
  Int ReadByte() override;
  /// Typed writes: the decimal text of the full argument, then CR LF. All
  /// return 0.
  Int WriteByte(Int n) override;
  Int ReadShort() override;
  Int WriteShort(Int n) override;
  Int ReadInt() override;
  Int WriteInt(Int n) override;
  Long ReadLong() override;
  Int WriteLong(Long n) override;
  Float ReadFloat() override;
  Int WriteFloat(Float n) override;
  Double ReadDouble() override;
  Int WriteDouble(Double n) override;
  /// Characters up to LF or a zero character (consumed, not kept), CR
  /// dropped anywhere; stops early when Eof turns true before a character.
  /// A text that ends inside a character raises TStreamReadException.
  Ref<String> ReadLine() override;
  /// The text, then CR LF, encoded. Returns 0.
  Int WriteLine(const Ref<String>& text) override;
  /// Exactly `length` characters with no end test; the end of the inner
  /// stream raises TStreamReadException.
  Ref<String> ReadString(Int length) override;
  /// Each code unit encoded; no terminator. Returns 0.
  Int WriteString(const Ref<String>& text) override;

  /// Every character up to Eof, line ends and zeros included. A text of
  /// more than 2^31-1 characters raises a runtime error.
  virtual Ref<String> ReadFile();
  /// One character decoded from the inner stream (0..65535).
  virtual Int ReadChar();
  /// The low 16 bits of `unit` encoded to the inner stream. Returns 0.
  virtual Int WriteChar(Int unit);
  /// A text stream over `stream`; the encoding code is taken as given.
  static Ref<TTextStream> Create(const Ref<TStream>& stream, Int encoding);
  /// A UTF8 stream for the console, where text meets the names the system
  /// gave, written so that a name comes out as the bytes it was typed as:
  /// WriteString and WriteLine write a surrogate pair as the four bytes of
  /// its character, and every write writes a unit that carries a byte of a
  /// name (on POSIX U+DC80..U+DCFF, for the bytes of a name that are no
  /// part of valid UTF-8) as that byte. Every other unit, a lone
  /// surrogate too, and every read are as with UTF8.
  static Ref<TTextStream> CreateSystemText(const Ref<TStream>& stream);

  /// The encoding code the stream was created with.
  Int Encoding() const noexcept { return _encoding; }

 protected:
  Int _encoding = 0;
  Int _bufcount = 0;
  bool _systemText = false;

 private:
  /// One raw byte of the inner stream (0..255); the end of the inner stream
  /// raises TStreamReadException.
  virtual Int ReadRawByte();
  /// One raw byte (low 8 bits of `n`) to the inner stream. Returns 0.
  virtual Int WriteRawByte(Int n);
  /// Consumes the terminator of an open hexadecimal line. Returns 0.
  virtual Int FlushRead();
  /// Writes the terminator of an open hexadecimal line. Returns 0.
  virtual Int FlushWrite();

  Int DecodeUtf8();
  void Collect(const char16_t* units, std::size_t count);
  /// A typed value as a line of its text, after an open hexadecimal line.
  template <class T>
  T ReadValue();
  template <class T>
  Int WriteValue(T n);
  /// `c` up to U+10FFFF in UTF-8; a surrogate as three bytes of its own.
  void EncodeUtf8(char32_t c);
  /// The collected units as a String; gives back memory a huge line took.
  Ref<String> TakeCollected();

  /// Collects the characters of ReadLine and ReadFile; kept between calls so
  /// that reading line after line allocates only the result strings.
  std::vector<char16_t> _collected;
};

/// Opens "latin1", "utf8", "utf16be" and "utf16le" names: the path is opened
/// with OpenUrl (so it may carry a protocol of its own) and wrapped in a text
/// stream of that encoding. Null for any other protocol or when the path
/// does not open.
class TTextStreamFactory : public TStreamFactory {
 public:
  Ref<TStream> CreateStream(const Ref<Object>& url, const Ref<String>& proto,
                            const Ref<String>& path, Int readable, Int writeable) override;
};

/// The whole text behind `url`. A leading mark FE FF, FF FE or EF BB BF
/// selects UTF-16BE, UTF-16LE or UTF-8 and is not part of the text; without
/// one each byte is one code unit. Raises TStreamReadException when `url`
/// does not open, and the runtime error "Stream is too long to load into
/// memory" for a text of more than 2^31-1 bytes, the most a String holds.
Ref<String> LoadTextFile(const Ref<Object>& url);
/// Writes `text` one byte per code unit when every unit fits in 8 bits, else
/// as the mark FF FE and UTF-16LE. Returns 1. Raises TStreamWriteException
/// when `url` does not open for writing.
Int SaveTextFile(const Ref<String>& text, const Ref<Object>& url);

/// Starts the module: registers the text protocols with the factory chain.
void StartTextStreamModule();

}  // namespace corvid
