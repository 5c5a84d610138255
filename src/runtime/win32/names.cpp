#include "runtime/win32/names.h"

#include <atomic>

#include "runtime/internal/platform.h"

namespace corvid::platform::win32 {

namespace {
std::atomic<bool> wideMode{false};
}

bool WideMode() noexcept { return wideMode.load(std::memory_order_relaxed); }
void SetWideMode(bool wide) noexcept { wideMode.store(wide, std::memory_order_relaxed); }

// wchar_t is 16 bits on Windows: a unit is a unit.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

std::optional<std::wstring> WideName(std::u16string_view name) {
  if (name.find(u'\0') != std::u16string_view::npos) return std::nullopt;
  return std::wstring(name.begin(), name.end());
}

std::optional<std::string> NarrowName(std::u16string_view name) {
  std::string bytes;
  bytes.reserve(name.size());
  for (char16_t unit : name) {
    char byte = static_cast<char>(unit & 0xFF);
    if (byte == 0) return std::nullopt;
    bytes += byte;
  }
  return bytes;
}

std::u16string FromWide(std::wstring_view name) { return std::u16string(name.begin(), name.end()); }

std::u16string FromNarrow(std::string_view name) {
  std::u16string units;
  units.reserve(name.size());
  for (char byte : name) units += static_cast<char16_t>(static_cast<unsigned char>(byte));
  return units;
}

}  // namespace corvid::platform::win32

namespace corvid::platform {

// Names are 16-bit text here (or a byte per unit for the 8-bit calls), so
// no unit stands for a byte that is not text.
int NameByteOfUnit(char16_t) noexcept { return -1; }

}  // namespace corvid::platform
