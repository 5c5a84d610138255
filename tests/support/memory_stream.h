// A stream over a byte vector for tests: seekable, with an optional cap on
// how many bytes one Read or Write may move, to exercise short transfers.
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

  Int Pos() override { return pos_; }
  Int Size() override { return static_cast<Int>(bytes_.size()); }
  Int Seek(Int pos) override {
    pos_ = std::clamp<Int>(pos, 0, Size());
    return pos_;
  }
  Int Read(std::uint8_t* buffer, Int count) override {
    Int n = std::min({count, chunk_, Size() - pos_});
    if (n <= 0) return 0;
    std::copy_n(bytes_.begin() + pos_, n, buffer);
    pos_ += n;
    return n;
  }
  Int Write(const std::uint8_t* buffer, Int count) override {
    Int n = std::min(count, chunk_);
    if (n <= 0) return 0;
    if (pos_ + n > Size()) bytes_.resize(static_cast<std::size_t>(pos_ + n));
    std::copy_n(buffer, n, bytes_.begin() + pos_);
    pos_ += n;
    return n;
  }

  std::string Bytes() const { return std::string(bytes_.begin(), bytes_.end()); }

 private:
  std::vector<std::uint8_t> bytes_;
  Int pos_ = 0;
  Int chunk_;
};

}  // namespace corvid::testing
