#include "interpreter/loader.h"

#include <array>

#include "filesystem/open.h"

namespace corvid {

namespace {

// Membership of the command set for the ASCII range, so that no character
// of the source needs a search or an allocation.
constexpr std::array<bool, 128> MakeCommandTable() {
  std::array<bool, 128> table{};
  for (const char* c = kCommandSet; *c; ++c) table[static_cast<unsigned char>(*c)] = true;
  return table;
}

constexpr std::array<bool, 128> kIsCommand = MakeCommandTable();

}  // namespace

bool IsCommand(char16_t unit) { return unit < 128 && kIsCommand[unit]; }

bool LoadProgram(const Ref<String>& codeFile, CodeStore& store) {
  store.commands.clear();
  Ref<TStream> stream = OpenSeekableReader(codeFile);
  if (!stream) return false;
  // One line is always read, even from an empty stream; the end test comes
  // after each line.
  do {
    Ref<String> line = stream->ReadLine();
    for (char16_t unit : line->View()) {
      if (IsCommand(unit)) store.commands.push_back(static_cast<std::uint8_t>(unit));
    }
  } while (!stream->Eof());
  CloseSeekable(stream);
  return true;
}

}  // namespace corvid
