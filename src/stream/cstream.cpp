#include "stream/cstream.h"

#include <vector>

#include "runtime/internal/platform.h"

namespace corvid {

namespace {

Int ClampToInt(long value) {
  if (value > INT32_MAX) return INT32_MAX;
  if (value < -1) return -1;
  return static_cast<Int>(value);
}

}  // namespace

// Dropping a stream has nobody to tell of a failure, and a destructor must
// not raise: what its close reports goes unheard there.
TCStream::~TCStream() { CloseFile(); }

Int TCStream::Eof() {
  if (_pos < 0 || _pos < _size) return 0;
  // Closed, or writing only: the size is all there is to go by.
  if (!_cstream || RefusesReading()) return 1;
  Turn(Direction::Reading);
  return platform::FilePeekByte(_cstream) >= 0 ? 0 : 1;
}

Int TCStream::Pos() { return _pos; }
Int TCStream::Size() { return _size; }

Int TCStream::Seek(Int pos) {
  if (!_cstream) return _pos;
  platform::FileSeek(_cstream, pos, SEEK_SET);
  _direction = Direction::None;
  _pos = ClampToInt(platform::FileTell(_cstream));
  return _pos;
}

// A stream addresses at most 2^31-1 bytes: the position stops there rather
// than wrapping; Eof still finds the data that follows, so a larger file
// does not pass for one of 2^31-1 bytes. A file without a position (a pipe)
// keeps Pos -1 and Size 0, so its end shows only as a read of nothing.
//
// Bytes read prove the file that long. No byte at the position proves only
// that the file ends there or before: the end of a run of bytes read, or a
// place inside the size (a file that shrank), but past the size it may be a
// seek beyond the end, and the size stays what the bytes showed.
void TCStream::Advance(std::size_t count, bool endOfData) {
  if (_pos < 0) return;
  Long pos = Long{_pos} + static_cast<Long>(count);
  _pos = pos > INT32_MAX ? INT32_MAX : static_cast<Int>(pos);
  if (count > 0 && _pos > _size) _size = _pos;
  if (endOfData && _pos < _size) _size = _pos;
}

void TCStream::Turn(Direction direction) {
  if (_direction != direction && _direction != Direction::None) platform::FileSeek(_cstream, 0, SEEK_CUR);
  _direction = direction;
}

Int TCStream::Read(std::uint8_t* buffer, Int count) {
  if (!_cstream || count <= 0 || RefusesReading()) return 0;
  Turn(Direction::Reading);
  if (count == 1) {
    // Text streams read one byte at a time; spare them the block machinery.
    int byte = platform::FileReadByte(_cstream);
    if (byte >= 0) *buffer = static_cast<std::uint8_t>(byte);
    Advance(byte >= 0 ? 1 : 0, byte < 0);
    return byte >= 0 ? 1 : 0;
  }
  std::size_t n = platform::FileRead(_cstream, buffer, static_cast<std::size_t>(count));
  Advance(n, n == 0);
  return static_cast<Int>(n);
}

Int TCStream::ReadByte() {
  std::uint8_t byte = 0;
  if (Read(&byte, 1) <= 0) Throw(MakeRef<TStreamReadException>());
  return byte;
}

Int TCStream::Write(const std::uint8_t* buffer, Int count) {
  if (!_cstream || count <= 0) return 0;
  Turn(Direction::Writing);
  std::size_t n = platform::FileWrite(_cstream, buffer, static_cast<std::size_t>(count));
  Advance(n, false);
  if (_pos > _size) _size = _pos;
  return static_cast<Int>(n);
}

// Bytes that the C library held back and could not write (a full disk)
// are bytes lost: that is a failed write, not a quiet success.
Int TCStream::Flush() {
  if (_cstream && platform::FileFlush(_cstream) != 0 && Writes())
    Throw(MakeRef<TStreamWriteException>());
  return 0;
}

Int TCStream::Close() {
  if (!CloseFile()) Throw(MakeRef<TStreamWriteException>());
  return 0;
}

bool TCStream::CloseFile() noexcept {
  if (!_cstream) return true;
  bool flushed = platform::FileFlush(_cstream) == 0;
  bool closed = platform::FileClose(_cstream) == 0;
  _cstream = nullptr;
  _pos = 0;
  _size = 0;
  return !Writes() || (flushed && closed);
}

Ref<String> TCStream::ReadLine() {
  if (!_cstream || RefusesReading()) return String::Empty();
  Turn(Direction::Reading);
  std::vector<std::uint8_t> line;
  bool ended = false;
  std::size_t consumed = platform::FileReadLine(_cstream, line, ended);
  Advance(consumed, ended);
  return String::FromNarrowSpan(line.data(), static_cast<Int>(line.size()));
}

Ref<TCStream> TCStream::OpenFile(const Ref<String>& path, Int readable, Int writeable) {
  const char* mode = "rb";
  Int bits = MODE_READ;
  if (readable && writeable) {
    mode = "r+b";
    bits = MODE_READ | MODE_WRITE;
  } else if (writeable) {
    mode = "wb";
    bits = MODE_WRITE;
  }
  Ref<String> name = Text(path).Length() ? path->ReplaceAll("\\"_s, "/"_s) : String::Empty();
  platform::File* file = platform::FileOpen(Text(name).View(), mode);
  if (!file) return nullptr;
  return CreateWithCStream(file, bits);
}

Ref<TCStream> TCStream::CreateWithCStream(platform::File* file, Int mode) {
  auto stream = MakeRef<TCStream>();
  stream->_cstream = file;
  stream->_pos = ClampToInt(platform::FileTell(file));
  if (stream->_pos >= 0) {
    platform::FileSeek(file, 0, SEEK_END);
    stream->_size = ClampToInt(platform::FileTell(file));
    platform::FileSeek(file, stream->_pos, SEEK_SET);
    if (stream->_size < 0) stream->_size = 0;
  }
  stream->_mode = mode;
  return stream;
}

}  // namespace corvid
