// Banks: resizable blocks of raw bytes, addressed by byte offsets, filled
// from and written to streams.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "stream/stream.h"

namespace corvid {

/// A block of bytes that the bank either owns (created with a size, grows
/// on demand) or only views (static: the caller's memory, never freed or
/// moved by the bank).
///
/// Every offset and count is checked: a peek, poke, Read or Write that does
/// not lie wholly within 0 .. Size() raises TArrayBoundsException, and a
/// negative size raises a runtime error. Values travel in the machine's own
/// byte order (little-endian) at any alignment.
class TBank : public Object {
 public:
  /// An empty owning bank; TBank::Create is the usual way in.
  TBank() = default;

  /// Does nothing. Returns 0.
  virtual Int _pad();
  /// Start of the bank's memory. Valid until the bank next grows beyond
  /// its capacity.
  virtual std::uint8_t* Buf();
  /// Counts a lock and returns Buf(). Nothing else reads the count.
  virtual std::uint8_t* Lock();
  /// Lowers the lock count. Returns 0.
  virtual Int Unlock();
  /// Bytes in the bank.
  virtual Int Size();
  /// Bytes allocated; -1 for a static bank.
  virtual Int Capacity();
  /// Sets the size. An owning bank that needs more than its capacity moves
  /// to a block of capacity * 3 / 2 bytes, or of `size` bytes when that is
  /// more, keeping its bytes; it never shrinks its memory. A static bank
  /// resizes within the memory it was created over and raises a runtime
  /// error beyond it. Memory that cannot be had raises the runtime error
  /// "Not enough memory for bank", leaving the bank as it was. Returns 0.
  virtual Int Resize(Int size);
  /// One Read of `stream` into the bank at `offset`; returns what it gives.
  virtual Int Read(const Ref<TStream>& stream, Int offset, Int count);
  /// One Write of `stream` from the bank at `offset`; returns what it gives.
  virtual Int Write(const Ref<TStream>& stream, Int offset, Int count);
  /// Peeks give the value stored at `offset` (PeekByte 0..255, PeekShort
  /// 0..65535); pokes store `value` there (the low 8 or 16 bits for
  /// PokeByte and PokeShort) and return 0.
  virtual Int PeekByte(Int offset);
  virtual Int PokeByte(Int offset, Int value);
  virtual Int PeekShort(Int offset);
  virtual Int PokeShort(Int offset, Int value);
  virtual Int PeekInt(Int offset);
  virtual Int PokeInt(Int offset, Int value);
  virtual Long PeekLong(Int offset);
  virtual Int PokeLong(Int offset, Long value);
  virtual Float PeekFloat(Int offset);
  virtual Int PokeFloat(Int offset, Float value);
  virtual Double PeekDouble(Int offset);
  virtual Int PokeDouble(Int offset, Double value);
  /// Writes the bank's bytes to `url` opened for writing and closes it.
  /// 0 when `url` does not open, else 1; stream errors pass through.
  virtual Int Save(const Ref<Object>& url);

  /// A bank holding every byte `url` yields (read as LoadAllBytes reads),
  /// with capacity equal to size; Null when `url` does not open. A stream
  /// given as `url` is read to its end and stays open.
  static Ref<TBank> Load(const Ref<Object>& url);
  /// An owning bank of `size` bytes whose contents are undefined. A
  /// negative size raises a runtime error.
  static Ref<TBank> Create(Int size);
  /// A bank over `size` bytes at `address`, which the caller keeps alive
  /// and frees after the bank is gone. A null address is allowed only with
  /// size 0.
  static Ref<TBank> CreateStatic(void* address, Int size);

  /// The largest size Resize accepts: the view's length for a static bank.
  Int Limit() const noexcept;
  /// Raises TArrayBoundsException unless `count` bytes from `offset` lie
  /// within 0 .. Size().
  void CheckRange(Int offset, Int count) const;

  /// Keeps the bank's current memory alive while it exists, even if the
  /// bank moves to a larger block meanwhile; for code that holds a pointer
  /// into the bank across calls that may grow it.
  class Pin {
   public:
    explicit Pin(TBank& bank) noexcept : bank_(bank) { ++bank_._pins; }
    ~Pin();
    Pin(const Pin&) = delete;
    Pin& operator=(const Pin&) = delete;

   private:
    TBank& bank_;
  };

 private:
  struct FreeMemory {
    void operator()(std::uint8_t* memory) const noexcept { std::free(memory); }
  };
  using Memory = std::unique_ptr<std::uint8_t, FreeMemory>;

  void Reallocate(Int capacity);
  void FitCapacity();
  template <class T>
  T Peek(Int offset);
  template <class T>
  Int Poke(Int offset, T value);

  std::uint8_t* _buf = nullptr;
  Int _size = 0;
  Int _capacity = 0;
  Int _locked = 0;
  Memory _owned;           // the memory of an owning bank; empty when static
  Int _viewLength = 0;     // a static bank's memory length
  Int _pins = 0;
  std::vector<Memory> _retired;  // blocks left while pinned
};

/// TBank::Create, TBank::CreateStatic and TBank::Load.
Ref<TBank> NewBank(Int size);
Ref<TBank> NewStaticBank(void* address, Int size);
Ref<TBank> LoadBankFrom(const Ref<Object>& url);
// The forms below take the bank first and forward to its method; a Null
// bank raises the null-object error. BankUnlock, BankResize, BankCopy and
// the pokes return 0 whatever the method returns.
Int SaveBankTo(const Ref<TBank>& bank, const Ref<Object>& url);
std::uint8_t* BankMemory(const Ref<TBank>& bank);
std::uint8_t* BankLock(const Ref<TBank>& bank);
Int BankUnlock(const Ref<TBank>& bank);
Int BankLength(const Ref<TBank>& bank);
Int BankAllocated(const Ref<TBank>& bank);
Int BankResize(const Ref<TBank>& bank, Int size);
/// Copies `count` bytes between the banks (overlapping ranges of one bank
/// included, as if through a temporary). Both ranges must lie within their
/// banks, else TArrayBoundsException.
Int BankCopy(const Ref<TBank>& source, Int sourceOffset, const Ref<TBank>& target,
             Int targetOffset, Int count);
Int PeekByte(const Ref<TBank>& bank, Int offset);
Int PeekShort(const Ref<TBank>& bank, Int offset);
Int PeekInt(const Ref<TBank>& bank, Int offset);
Long PeekLong(const Ref<TBank>& bank, Int offset);
Float PeekFloat(const Ref<TBank>& bank, Int offset);
Double PeekDouble(const Ref<TBank>& bank, Int offset);
Int PokeByte(const Ref<TBank>& bank, Int offset, Int value);
Int PokeShort(const Ref<TBank>& bank, Int offset, Int value);
Int PokeInt(const Ref<TBank>& bank, Int offset, Int value);
Int PokeLong(const Ref<TBank>& bank, Int offset, Long value);
Int PokeFloat(const Ref<TBank>& bank, Int offset, Float value);
Int PokeDouble(const Ref<TBank>& bank, Int offset, Double value);
Int BankReadFrom(const Ref<TBank>& bank, const Ref<TStream>& stream, Int offset, Int count);
Int BankWriteTo(const Ref<TBank>& bank, const Ref<TStream>& stream, Int offset, Int count);

/// Starts the bank module (and the stream module).
void StartBankModule();

}  // namespace corvid
