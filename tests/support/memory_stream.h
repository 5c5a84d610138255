// A stream over a byte vector for tests: seekable, with an optional cap on
// how many bytes one Read or Write may move, to exercise short transfers,
// an optional limit on its size, and a pipe-like form without a position.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "stream/stream.h"

namespace corvid::testing {

class MemoryStream : public TStream {
 public:
  explicit MemoryStream(std::string bytes = {}, Int chunk = INT32_MAX)
      : bytes_(bytes.begin(), bytes.end()), chunk_(chunk) {}

  /// A stream that cannot tell its position, like a pipe or a socket: Pos
  /// -1 and Size 0, so its Eof never turns true and its end shows only as a
  /// Read of nothing.
  static Ref<MemoryStream> Pipe(std::string bytes) {
    auto stream = MakeRef<MemoryStream>(std::move(bytes));
    stream->positioned_ = false;
    return stream;
  }

  /// Writes stop taking bytes once the stream holds `size` of them.
  void Limit(Int size) { limit_ = size; }

  Int Pos() override { return positioned_ ? pos_ : -1; }
  Int Size() override { return positioned_ ? Length() : 0; }
  Int Seek(Int pos) override {
    pos_ = std::clamp<Int>(pos, 0, Length());
    return pos_;
  }
  Int Read(std::uint8_t* buffer, Int count) override {
    ++reads;
    Int n = std::min({count, chunk_, Length() - pos_});
    if (n <= 0) return 0;
    std::copy_n(bytes_.begin() + pos_, n, buffer);
    pos_ += n;
    return n;
  }
  Int Write(const std::uint8_t* buffer, Int count) override {
    Int n = std::min({count, chunk_, limit_ - pos_});
    if (n <= 0) return 0;
    if (pos_ + n > Length()) bytes_.resize(static_cast<std::size_t>(pos_ + n));
    std::copy_n(buffer, n, bytes_.begin() + pos_);
    pos_ += n;
    return n;
  }

  Int Close() override {
    ++closes;
    return 0;
  }

  std::string Bytes() const { return std::string(bytes_.begin(), bytes_.end()); }

  int reads = 0;   ///< calls of Read
  int closes = 0;  ///< calls of Close

 private:
  Int Length() const { return static_cast<Int>(bytes_.size()); }

  std::vector<std::uint8_t> bytes_;
  Int pos_ = 0;
  Int chunk_;
  Int limit_ = INT32_MAX;
  bool positioned_ = true;
};

}  // namespace corvid::testing
