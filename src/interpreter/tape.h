// The tape: byte cells at signed positions, grown on access in both
// directions.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/object.h"

namespace corvid {

/// Cells -Origin() .. Extent()-1 exist; every cell reads 0 until written and
/// keeps its value and position for the tape's life. Growth is observably
/// exact (an access makes just the cells up to the accessed position
/// exist), while the storage behind it grows geometrically, so walking
/// outward costs amortised constant time per cell.
class Tape {
 public:
  static constexpr Long kInitialCells = 64;

  /// kInitialCells zero cells at positions 0 and above.
  Tape();

  /// Value 0..255 of the cell at `pos`, growing the tape to reach it.
  Int Read(Long pos) {
    if (pos < -origin_ || pos >= extent_) Grow(pos);
    return cells_[static_cast<std::size_t>(pos + zero_)];
  }
  /// Stores `value` at `pos`, growing the tape to reach it.
  void Write(Long pos, std::uint8_t value) {
    if (pos < -origin_ || pos >= extent_) Grow(pos);
    cells_[static_cast<std::size_t>(pos + zero_)] = value;
  }

  /// Number of cells at positions 0 and above.
  Long Extent() const noexcept { return extent_; }
  /// Number of cells at negative positions.
  Long Origin() const noexcept { return origin_; }

 private:
  void Grow(Long pos);
  void Reserve(Long low, Long high);

  std::vector<std::uint8_t> cells_;  // storage; position p lives at p + zero_
  Long zero_ = 0;
  Long origin_ = 0;
  Long extent_ = kInitialCells;
};

}  // namespace corvid
