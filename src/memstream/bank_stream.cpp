#include "memstream/bank_stream.h"

#include <cstring>

#include "runtime/incbin.h"
#include "runtime/module.h"

namespace corvid {

namespace {

Int Clamp(Int pos, Int size) {
  if (pos < 0) return 0;
  return pos > size ? size : pos;
}

// The caller's buffer may lie inside the same memory (a bank read into or
// written from itself), so copies allow overlap.
void CopyBytes(std::uint8_t* to, const std::uint8_t* from, Int count) {
  std::memmove(to, from, static_cast<std::size_t>(count));
}

// The line at `pos` in `size` bytes of memory, cut as TStream::ReadLine
// cuts it (up to LF or a zero byte, which is consumed; CR dropped
// anywhere), without a call per byte. Advances `pos` past what it consumed.
Ref<String> LineAt(const std::uint8_t* data, Int size, Int& pos) {
  if (pos >= size) return String::Empty();
  const std::uint8_t* begin = data + pos;
  const std::uint8_t* end = data + size;
  const std::uint8_t* stop = begin;
  Int carriageReturns = 0;
  for (; stop < end && *stop != 10 && *stop != 0; ++stop) carriageReturns += *stop == 13;
  pos += static_cast<Int>(stop - begin) + (stop < end ? 1 : 0);
  Int length = static_cast<Int>(stop - begin) - carriageReturns;
  return String::Build(length, [&](char16_t* out) {
    for (const std::uint8_t* at = begin; at < stop; ++at) {
      if (*at != 13) *out++ = *at;
    }
  });
}

}  // namespace

Int TBankStream::Eof() { return _pos >= _bank->Size() ? 1 : 0; }
Int TBankStream::Pos() { return _pos; }
Int TBankStream::Size() { return _bank->Size(); }

Int TBankStream::Seek(Int pos) {
  _pos = Clamp(pos, _bank->Size());
  return _pos;
}

Int TBankStream::Read(std::uint8_t* buffer, Int count) {
  Int size = _bank->Size();
  if (count <= 0 || _pos >= size) return 0;
  if (count > size - _pos) count = size - _pos;
  CopyBytes(buffer, _bank->Buf() + _pos, count);
  _pos += count;
  return count;
}

Int TBankStream::Write(const std::uint8_t* buffer, Int count) {
  Int size = _bank->Size();
  if (count <= 0 || _pos > size) return 0;
  Int room = _bank->Limit() - _pos;
  if (count > room) count = room;
  if (count == 0) return 0;
  // `buffer` may point into the bank itself; the pin keeps that memory
  // alive while the bank moves to a larger block.
  TBank::Pin pin(*_bank);
  if (count > size - _pos) _bank->Resize(_pos + count);
  CopyBytes(_bank->Buf() + _pos, buffer, count);
  _pos += count;
  return count;
}

Ref<String> TBankStream::ReadLine() { return LineAt(_bank->Buf(), _bank->Size(), _pos); }

Ref<TBankStream> TBankStream::Create(const Ref<TBank>& bank) {
  if (!bank) RaiseNullObject();
  auto stream = MakeRef<TBankStream>();
  stream->_bank = bank;
  return stream;
}

Int TRamStream::Pos() { return _pos; }
Int TRamStream::Size() { return _size; }

Int TRamStream::Seek(Int pos) {
  _pos = Clamp(pos, _size);
  return _pos;
}

Int TRamStream::Transfer(std::uint8_t* to, const std::uint8_t* from, Int count, Int allowed,
                         bool reading) {
  if (count <= 0 || !allowed) return 0;
  if (count > _size - _pos) count = _size - _pos;
  if (count == 0) return 0;
  if (reading) {
    CopyBytes(to, from + _pos, count);
  } else {
    CopyBytes(to + _pos, from, count);
  }
  _pos += count;
  return count;
}

Int TRamStream::Read(std::uint8_t* buffer, Int count) {
  return Transfer(buffer, _buf, count, _read, true);
}

Int TRamStream::Write(const std::uint8_t* buffer, Int count) {
  return Transfer(_buf, buffer, count, _write, false);
}

Ref<String> TRamStream::ReadLine() {
  if (!_read) return String::Empty();
  return LineAt(_buf, _size, _pos);
}

Ref<TRamStream> TRamStream::Create(std::uint8_t* address, Int size, Int readable, Int writeable) {
  if (size < 0) RaiseRuntimeError("A memory stream cannot have a negative size"_s);
  if (!address && size > 0) RaiseRuntimeError("A memory stream needs memory to view"_s);
  auto stream = MakeRef<TRamStream>();
  stream->_size = size;
  stream->_buf = address;
  stream->_read = readable;
  stream->_write = writeable;
  return stream;
}

Ref<TStream> TBankStreamFactory::CreateStream(const Ref<Object>& url, const Ref<String>&,
                                              const Ref<String>&, Int, Int) {
  if (auto bank = CastTo<TBank>(url)) return NewBankStream(bank);
  return nullptr;
}

Ref<TStream> TRamStreamFactory::CreateStream(const Ref<Object>&, const Ref<String>& proto,
                                             const Ref<String>& path, Int readable, Int writeable) {
  if (writeable || !Equals(proto, "incbin"_s)) return nullptr;
  IncbinBlock block = FindIncbin(path);
  if (!block.address) return nullptr;
  // The write flag is 0, so the stream never writes through this pointer.
  return TRamStream::Create(const_cast<std::uint8_t*>(block.address), block.size, readable, 0);
}

Ref<TBankStream> NewBankStream(const Ref<TBank>& bank) {
  return TBankStream::Create(bank ? bank : TBank::Create(0));
}

Ref<TRamStream> NewRamStream(std::uint8_t* address, Int size, Int readable, Int writeable) {
  return TRamStream::Create(address, size, readable, writeable);
}

void StartBankStreamModule() {
  StartOnce<"bank stream">([] {
    StartBankModule();
    MakeRef<TBankStreamFactory>();
  });
}

void StartRamStreamModule() {
  StartOnce<"RAM stream">([] {
    StartStreamModule();
    MakeRef<TRamStreamFactory>();
  });
}

}  // namespace corvid
