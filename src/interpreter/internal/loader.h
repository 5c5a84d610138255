// Program loading: the code file's command characters, in file order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "interpreter/internal/commands.h"
#include "runtime/string.h"

namespace corvid {

/// How many commands at most a sink may leave at the end of a block.
inline constexpr std::size_t kCommandLookahead = 64;

/// Where the loader hands the command characters it finds, as bytes (the
/// low byte of each, which for the commands is its ASCII code), block by
/// block.
class CommandSink {
 public:
  virtual ~CommandSink() = default;
  /// About `bytes` bytes of code follow, commands and commentary: a hint,
  /// given before the first block when the code's size is known.
  virtual void Expect(std::uint64_t bytes) { (void)bytes; }
  /// `commands` follow those taken before. Takes commands from their front
  /// and returns how many: all of them when `last` (none follow), else all
  /// but at most kCommandLookahead, which come again at the front of the
  /// next block with more after them.
  virtual std::size_t Take(const std::uint8_t* commands, std::size_t count, bool last) = 0;
};

/// All the commands, kept: for tests and tools that look at them.
struct CodeStore final : CommandSink {
  std::vector<std::uint8_t> commands;

  /// Number of kept commands.
  Long Length() const noexcept { return static_cast<Long>(commands.size()); }
  std::size_t Take(const std::uint8_t* bytes, std::size_t count, bool) override {
    commands.insert(commands.end(), bytes, bytes + count);
    return count;
  }
};

/// How many bytes of a plain file the loader reads at a time.
inline constexpr std::size_t kLoadBlock = std::size_t{1} << 18;

/// Opens `codeFile` for reading through the stream layer, reads it to its
/// end and hands its command characters to `sink` in file order, in blocks
/// of what `block` bytes of the file hold (a stream without a position, or
/// with a protocol, as lines, `block` commands at a time at most). False
/// (and nothing handed over) when no stream opens; stream errors pass to the
/// caller.
bool LoadProgram(const Ref<String>& codeFile, CommandSink& sink, std::size_t block = kLoadBlock);
/// The same into `store`, which is emptied first.
bool LoadProgram(const Ref<String>& codeFile, CodeStore& store);

}  // namespace corvid
