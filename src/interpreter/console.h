// The console: a UTF-8 text stream over standard input and output through
// which every message and the final prompt pass.
#pragma once

#include "stream/stream.h"
#include "stream/text_stream.h"

namespace corvid {

/// Standard input and output as a byte stream. It has no position, so its
/// Eof is always false; the end of input shows as a read of nothing.
class TCStandardIO : public TStream {
 public:
  /// Raises TStreamWriteException when standard output cannot be flushed
  /// (FlushStdout).
  Int Flush() override;
  /// Flushes standard output first (raising as Flush does), then reads.
  Int Read(std::uint8_t* buffer, Int count) override;
  /// Returns `count`, or raises TStreamWriteException when standard output
  /// does not take every byte (WriteStdout).
  Int Write(const std::uint8_t* buffer, Int count) override;
};

/// The console text stream (UTF-8 over a TCStandardIO, made with
/// TTextStream::CreateSystemText, so that a name shows as the bytes it was
/// typed as); exists once the console module has started.
const Ref<TTextStream>& ConsoleStream();

/// The text and CR LF to the console, then a flush. Returns 0.
Int PrintLine(const Ref<String>& text);
/// Writes the prompt without a line end, flushes, and reads a line. At end
/// of input raises TStreamReadException.
Ref<String> PromptLine(const Ref<String>& prompt);

/// Starts the console module (and the text-stream module): creates the
/// console stream.
void StartConsoleModule();

}  // namespace corvid
