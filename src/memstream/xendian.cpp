#include "memstream/xendian.h"

#include <bit>
#include <cstring>
#include <utility>

#include "runtime/module.h"

namespace corvid {

Int TXEndianStream::Swap2(std::uint8_t* address) {
  std::swap(address[0], address[1]);
  return 0;
}

Int TXEndianStream::Swap4(std::uint8_t* address) {
  std::swap(address[0], address[3]);
  std::swap(address[1], address[2]);
  return 0;
}

Int TXEndianStream::Swap8(std::uint8_t* address) {
  std::swap(address[0], address[7]);
  std::swap(address[1], address[6]);
  std::swap(address[2], address[5]);
  std::swap(address[3], address[4]);
  return 0;
}

// Host order and stream order differ exactly when the host is
// little-endian; the swap goes through the slots so that a subclass's
// own swaps take part.
void TXEndianStream::ToStreamOrder(std::uint8_t* bytes, std::size_t width) {
  if constexpr (std::endian::native == std::endian::big) return;
  switch (width) {
    case 2:
      Swap2(bytes);
      break;
    case 4:
      Swap4(bytes);
      break;
    default:
      Swap8(bytes);
      break;
  }
}

template <class T>
T TXEndianStream::ReadSwapped() {
  std::uint8_t bytes[sizeof(T)] = {};
  ReadBytes(bytes, sizeof(T));
  ToStreamOrder(bytes, sizeof(T));
  T value;
  std::memcpy(&value, bytes, sizeof(T));
  return value;
}

template <class T>
Int TXEndianStream::WriteSwapped(T value) {
  std::uint8_t bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  ToStreamOrder(bytes, sizeof(T));
  WriteBytes(bytes, sizeof(T));
  return 0;
}

Int TXEndianStream::ReadShort() { return ReadSwapped<std::uint16_t>(); }
Int TXEndianStream::WriteShort(Int n) { return WriteSwapped(static_cast<std::uint16_t>(n)); }
Int TXEndianStream::ReadInt() { return ReadSwapped<Int>(); }
Int TXEndianStream::WriteInt(Int n) { return WriteSwapped(n); }
Long TXEndianStream::ReadLong() { return ReadSwapped<Long>(); }
Int TXEndianStream::WriteLong(Long n) { return WriteSwapped(n); }
Float TXEndianStream::ReadFloat() { return ReadSwapped<Float>(); }
Int TXEndianStream::WriteFloat(Float n) { return WriteSwapped(n); }
Double TXEndianStream::ReadDouble() { return ReadSwapped<Double>(); }
Int TXEndianStream::WriteDouble(Double n) { return WriteSwapped(n); }

Ref<TXEndianStream> TXEndianStream::Create(const Ref<TStream>& stream) {
  if (!stream) return nullptr;
  auto wrapper = MakeRef<TXEndianStream>();
  wrapper->SetStream(stream);
  return wrapper;
}

Ref<TStream> TXEndianStream::BigEndian(const Ref<TStream>& stream) { return Create(stream); }

// The plain stream's typed values are little-endian already.
Ref<TStream> TXEndianStream::LittleEndian(const Ref<TStream>& stream) { return stream; }

Ref<TStream> AsBigEndian(const Ref<TStream>& stream) { return TXEndianStream::BigEndian(stream); }

Ref<TStream> AsLittleEndian(const Ref<TStream>& stream) {
  return TXEndianStream::LittleEndian(stream);
}

namespace {

}  // namespace

Ref<TStream> TXEndianStreamFactory::CreateStream(const Ref<Object>&, const Ref<String>& proto,
                                                 const Ref<String>& path, Int readable,
                                                 Int writeable) {
  std::u16string_view name = Text(proto).View();
  bool big = name == u"bigendian";
  if (!big && name != u"littleendian") return nullptr;
  Ref<TStream> inner = OpenUrl(path, readable, writeable);
  return big ? TXEndianStream::BigEndian(inner) : TXEndianStream::LittleEndian(inner);
}

void StartXEndianModule() {
  StartOnce<"byte-order stream">([] {
    StartStreamModule();
    MakeRef<TXEndianStreamFactory>();
  });
}

}  // namespace corvid
