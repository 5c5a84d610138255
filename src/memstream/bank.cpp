#include "memstream/bank.h"

#include <cstring>

#include "runtime/module.h"
#include "stream/stream_functions.h"
#include "stream/url.h"

namespace corvid {

namespace {

void CheckSize(Int size) {
  if (size < 0) RaiseRuntimeError("Bank size cannot be negative"_s);
}

}  // namespace

TBank::Pin::~Pin() {
  if (--bank_._pins == 0) bank_._retired.clear();
}

Int TBank::_pad() { return 0; }
std::uint8_t* TBank::Buf() { return _buf; }

// Nothing reads the lock count, so unbalanced calls may wrap it; they must
// not overflow.
std::uint8_t* TBank::Lock() {
  _locked = static_cast<Int>(static_cast<std::uint32_t>(_locked) + 1u);
  return _buf;
}

Int TBank::Unlock() {
  _locked = static_cast<Int>(static_cast<std::uint32_t>(_locked) - 1u);
  return 0;
}

Int TBank::Size() { return _size; }
Int TBank::Capacity() { return _capacity; }

Int TBank::Limit() const noexcept { return _capacity < 0 ? _viewLength : INT32_MAX; }

// Bytes past the size are undefined after a move, so only the size's worth
// needs to travel. While pinned the old block must stay where it is.
void TBank::Reallocate(Int capacity) {
  auto bytes = static_cast<std::size_t>(capacity);
  if (_pins > 0 || !_owned) {
    Memory fresh(static_cast<std::uint8_t*>(std::malloc(bytes)));
    if (!fresh) RaiseRuntimeError("Not enough memory for bank"_s);
    if (_owned && _size > 0) std::memcpy(fresh.get(), _owned.get(), static_cast<std::size_t>(_size));
    if (_owned) _retired.push_back(std::move(_owned));
    _owned = std::move(fresh);
  } else {
    void* moved = std::realloc(_owned.get(), bytes);
    if (!moved) RaiseRuntimeError("Not enough memory for bank"_s);
    static_cast<void>(_owned.release());
    _owned.reset(static_cast<std::uint8_t*>(moved));
  }
  _buf = _owned.get();
  _capacity = capacity;
}

// Gives back the slack of a bank that was filled in growing steps.
void TBank::FitCapacity() {
  if (_size == _capacity || _pins > 0) return;
  if (_size == 0) {
    _owned.reset();
  } else if (void* fitted = std::realloc(_owned.get(), static_cast<std::size_t>(_size))) {
    static_cast<void>(_owned.release());
    _owned.reset(static_cast<std::uint8_t*>(fitted));
  } else {
    return;  // keeping the larger block is harmless
  }
  _buf = _owned.get();
  _capacity = _size;
}

// A static bank has capacity -1, so the growth rule alone would move it
// into memory of its own on every resize; it stays on the caller's memory
// instead and refuses to outgrow it.
Int TBank::Resize(Int size) {
  CheckSize(size);
  if (_capacity < 0) {
    if (size > _viewLength) RaiseRuntimeError("A static bank cannot grow beyond its memory"_s);
  } else if (size > _capacity) {
    // Growth by half again, computed wide so that large banks keep growing
    // in steps instead of wrapping to a negative capacity.
    Long grown = Long{_capacity} * 3 / 2;
    if (grown > INT32_MAX) grown = INT32_MAX;
    Reallocate(grown < size ? size : static_cast<Int>(grown));
  }
  _size = size;
  return 0;
}

void TBank::CheckRange(Int offset, Int count) const {
  if (offset < 0 || count < 0 || Long{offset} + count > _size) RaiseArrayBounds();
}

Int TBank::Read(const Ref<TStream>& stream, Int offset, Int count) {
  TStream& from = Deref(stream);
  CheckRange(offset, count);
  Pin pin(*this);
  return from.Read(_buf + offset, count);
}

Int TBank::Write(const Ref<TStream>& stream, Int offset, Int count) {
  TStream& to = Deref(stream);
  CheckRange(offset, count);
  Pin pin(*this);
  return to.Write(_buf + offset, count);
}

template <class T>
T TBank::Peek(Int offset) {
  CheckRange(offset, sizeof(T));
  T value;
  std::memcpy(&value, _buf + offset, sizeof(T));
  return value;
}

template <class T>
Int TBank::Poke(Int offset, T value) {
  CheckRange(offset, sizeof(T));
  std::memcpy(_buf + offset, &value, sizeof(T));
  return 0;
}

Int TBank::PeekByte(Int offset) { return Peek<std::uint8_t>(offset); }
Int TBank::PokeByte(Int offset, Int value) { return Poke(offset, static_cast<std::uint8_t>(value)); }
Int TBank::PeekShort(Int offset) { return Peek<std::uint16_t>(offset); }
Int TBank::PokeShort(Int offset, Int value) { return Poke(offset, static_cast<std::uint16_t>(value)); }
Int TBank::PeekInt(Int offset) { return Peek<Int>(offset); }
Int TBank::PokeInt(Int offset, Int value) { return Poke(offset, value); }
Long TBank::PeekLong(Int offset) { return Peek<Long>(offset); }
Int TBank::PokeLong(Int offset, Long value) { return Poke(offset, value); }
Float TBank::PeekFloat(Int offset) { return Peek<Float>(offset); }
Int TBank::PokeFloat(Int offset, Float value) { return Poke(offset, value); }
Double TBank::PeekDouble(Int offset) { return Peek<Double>(offset); }
Int TBank::PokeDouble(Int offset, Double value) { return Poke(offset, value); }

Int TBank::Save(const Ref<Object>& url) {
  Ref<TStream> stream = OpenUrlWriter(url);
  if (!stream) return 0;
  {
    Pin pin(*this);
    stream->WriteBytes(_buf, _size);
  }
  stream->Close();
  return 1;
}

Ref<TBank> TBank::Load(const Ref<Object>& url) {
  Ref<TStream> stream = OpenUrlReader(url);
  if (!stream) return nullptr;
  auto bank = MakeRef<TBank>();
  // Read straight into the bank's memory: no copy beyond the growth steps.
  Int count = ReadToEnd(*stream, [&bank](Int length, Int kept) {
    bank->_size = kept;
    bank->Reallocate(length);
    return bank->_buf;
  });
  bank->_size = count;
  bank->FitCapacity();
  stream->Close();
  return bank;
}

Ref<TBank> TBank::Create(Int size) {
  CheckSize(size);
  auto bank = MakeRef<TBank>();
  if (size > 0) bank->Reallocate(size);
  bank->_size = size;
  return bank;
}

Ref<TBank> TBank::CreateStatic(void* address, Int size) {
  CheckSize(size);
  if (!address && size > 0) RaiseRuntimeError("A static bank needs memory to view"_s);
  auto bank = MakeRef<TBank>();
  bank->_buf = static_cast<std::uint8_t*>(address);
  bank->_size = size;
  bank->_capacity = -1;
  bank->_viewLength = size;
  return bank;
}

Ref<TBank> NewBank(Int size) { return TBank::Create(size); }
Ref<TBank> NewStaticBank(void* address, Int size) { return TBank::CreateStatic(address, size); }
Ref<TBank> LoadBankFrom(const Ref<Object>& url) { return TBank::Load(url); }
Int SaveBankTo(const Ref<TBank>& bank, const Ref<Object>& url) { return Deref(bank).Save(url); }
std::uint8_t* BankMemory(const Ref<TBank>& bank) { return Deref(bank).Buf(); }
std::uint8_t* BankLock(const Ref<TBank>& bank) { return Deref(bank).Lock(); }

Int BankUnlock(const Ref<TBank>& bank) {
  Deref(bank).Unlock();
  return 0;
}

Int BankLength(const Ref<TBank>& bank) { return Deref(bank).Size(); }
Int BankAllocated(const Ref<TBank>& bank) { return Deref(bank).Capacity(); }

Int BankResize(const Ref<TBank>& bank, Int size) {
  Deref(bank).Resize(size);
  return 0;
}

Int BankCopy(const Ref<TBank>& source, Int sourceOffset, const Ref<TBank>& target,
             Int targetOffset, Int count) {
  TBank& from = Deref(source);
  TBank& to = Deref(target);
  from.CheckRange(sourceOffset, count);
  to.CheckRange(targetOffset, count);
  if (count > 0) {
    std::memmove(to.Buf() + targetOffset, from.Buf() + sourceOffset, static_cast<std::size_t>(count));
  }
  return 0;
}

Int PeekByte(const Ref<TBank>& bank, Int offset) { return Deref(bank).PeekByte(offset); }
Int PeekShort(const Ref<TBank>& bank, Int offset) { return Deref(bank).PeekShort(offset); }
Int PeekInt(const Ref<TBank>& bank, Int offset) { return Deref(bank).PeekInt(offset); }
Long PeekLong(const Ref<TBank>& bank, Int offset) { return Deref(bank).PeekLong(offset); }
Float PeekFloat(const Ref<TBank>& bank, Int offset) { return Deref(bank).PeekFloat(offset); }
Double PeekDouble(const Ref<TBank>& bank, Int offset) { return Deref(bank).PeekDouble(offset); }

Int PokeByte(const Ref<TBank>& bank, Int offset, Int value) {
  Deref(bank).PokeByte(offset, value);
  return 0;
}
Int PokeShort(const Ref<TBank>& bank, Int offset, Int value) {
  Deref(bank).PokeShort(offset, value);
  return 0;
}
Int PokeInt(const Ref<TBank>& bank, Int offset, Int value) {
  Deref(bank).PokeInt(offset, value);
  return 0;
}
Int PokeLong(const Ref<TBank>& bank, Int offset, Long value) {
  Deref(bank).PokeLong(offset, value);
  return 0;
}
Int PokeFloat(const Ref<TBank>& bank, Int offset, Float value) {
  Deref(bank).PokeFloat(offset, value);
  return 0;
}
Int PokeDouble(const Ref<TBank>& bank, Int offset, Double value) {
  Deref(bank).PokeDouble(offset, value);
  return 0;
}

Int BankReadFrom(const Ref<TBank>& bank, const Ref<TStream>& stream, Int offset, Int count) {
  return Deref(bank).Read(stream, offset, count);
}
Int BankWriteTo(const Ref<TBank>& bank, const Ref<TStream>& stream, Int offset, Int count) {
  return Deref(bank).Write(stream, offset, count);
}

void StartBankModule() {
  StartOnce<"bank">([] { StartStreamModule(); });
}

}  // namespace corvid
