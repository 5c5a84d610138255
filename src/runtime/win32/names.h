// How the Win32 half spells names for the system: as 16-bit text for the
// wide ("W", "_w") calls when wide-call mode is on, else as the low 8 bits
// of each unit for the 8-bit calls; and back.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvid::platform::win32 {

/// Whether names go to the wide calls. Chosen once at start.
bool WideMode() noexcept;
void SetWideMode(bool wide) noexcept;

/// `name` for a wide call; nothing when it holds U+0000, which would end it
/// early.
std::optional<std::wstring> WideName(std::u16string_view name);
/// `name` for an 8-bit call, a byte per unit; nothing when some unit's low
/// byte is 0.
std::optional<std::string> NarrowName(std::u16string_view name);
/// Names the system gave back.
std::u16string FromWide(std::wstring_view name);
std::u16string FromNarrow(std::string_view name);

/// Calls `wide` with the name as wide text in wide-call mode, else
/// `narrow` with it as bytes; `failed` when the name cannot be spelled.
template <class Result, class Wide, class Narrow>
Result ByName(std::u16string_view name, Result failed, Wide wide, Narrow narrow) {
  if (WideMode()) {
    auto text = WideName(name);
    return text ? wide(text->c_str()) : failed;
  }
  auto bytes = NarrowName(name);
  return bytes ? narrow(bytes->c_str()) : failed;
}

}  // namespace corvid::platform::win32
