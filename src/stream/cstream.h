// File streams: TCStream, a stream over an open C runtime file.
#pragma once

#include <cstdio>

#include "stream/stream.h"

namespace corvid {

/// A stream over a C file. Position and size are tracked by the stream
/// itself: the size is measured when the stream is created and grows by its
/// own writes. A file may change under the stream, or report a size that is
/// not its length (files under /proc report 0), so the size also grows to
/// cover the bytes that reads find, and shrinks to a place inside it where a
/// read finds no byte. Finding nothing past the size (after a seek beyond
/// the end) leaves it alone. A stream opened for writing only refuses reads:
/// they transfer nothing and say nothing about the end. Destroying the
/// stream closes it; only an explicit Flush or Close can report bytes that
/// were lost.
class TCStream : public TStream {
 public:
  static constexpr Int MODE_READ = 1;
  static constexpr Int MODE_WRITE = 2;

  ~TCStream() override;

  /// 0 while the position is inside the size (no call into the C library).
  /// At or past it, a readable file is asked whether a byte follows: none
  /// means the end, and Eof is 1; one means the file holds more than was
  /// measured, and Eof is 0. Without a position (a pipe) always 0.
  Int Eof() override;
  Int Pos() override;
  Int Size() override;
  Int Seek(Int pos) override;
  Int Read(std::uint8_t* buffer, Int count) override;
  /// The same byte as TStream::ReadByte, without the typed-value machinery:
  /// a text stream reads its file a byte at a time.
  Int ReadByte() override;
  Int Write(const std::uint8_t* buffer, Int count) override;
  /// Hands what the C library buffered to the system. For a stream opened
  /// for writing, bytes that cannot be written (a full disk) raise
  /// TStreamWriteException. Returns 0.
  Int Flush() override;
  /// Flushes and closes the file; the file is closed even when the flush
  /// fails. For a stream opened for writing, a flush or close that fails
  /// then raises TStreamWriteException, since written bytes were lost.
  /// Returns 0; a second Close does nothing.
  Int Close() override;
  /// The same line as TStream::ReadLine, read in one pass over the file.
  Ref<String> ReadLine() override;

  /// "r+b" when both flags are set, "wb" for writing only, else "rb".
  /// Backslashes in `path` become "/"; the name goes to the system as the
  /// system spells names (UTF-8 on POSIX, 16-bit text on Windows). Null when
  /// the file cannot be opened, and for a name the system cannot take (one
  /// holding U+0000, which would cut it short to another name).
  static Ref<TCStream> OpenFile(const Ref<String>& path, Int readable, Int writeable);
  /// Takes over `file`, starting wherever it stands.
  static Ref<TCStream> CreateWithCStream(std::FILE* file, Int mode);

  /// MODE_READ, MODE_WRITE or both, as opened.
  Int Mode() const noexcept { return _mode; }

 private:
  void Advance(std::size_t count, bool endOfData);
  bool RefusesReading() const noexcept { return _mode == MODE_WRITE; }
  bool Writes() const noexcept { return (_mode & MODE_WRITE) != 0; }
  /// Closes the file; false when written bytes were lost on the way.
  bool CloseFile() noexcept;
  enum class Direction { None, Reading, Writing };
  void Turn(Direction direction);

  Int _pos = 0;
  Int _size = 0;
  std::FILE* _cstream = nullptr;
  Int _mode = 0;
  // The C library needs a seek between reading and writing on one file.
  Direction _direction = Direction::None;
};

}  // namespace corvid
