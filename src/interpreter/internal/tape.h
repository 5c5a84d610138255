// The tape: byte cells at signed positions, grown on access in both
// directions.
#pragma once

#include <cstdint>
#include <memory>

#include "runtime/object.h"

namespace corvid {

/// Cells -Origin() .. Extent()-1 exist; every cell reads 0 until written and
/// keeps its value and position for the tape's life. Growth is observably
/// exact (an access makes just the cells up to the accessed position
/// exist), while the storage behind it grows geometrically on the side that
/// grows, so walking outward costs amortised constant time per cell. Storage
/// beyond what was ever touched comes from fresh zero pages, so it costs
/// address space rather than memory.
class Tape {
 public:
  static constexpr Long kInitialCells = 64;

  /// kInitialCells zero cells at positions 0 and above.
  Tape();

  /// Value 0..255 of the cell at `pos`, growing the tape to reach it.
  Int Read(Long pos) {
    if (pos < -origin_ || pos >= extent_) Grow(pos, pos);
    return cells_[pos + zero_];
  }
  /// Stores `value` at `pos`, growing the tape to reach it.
  void Write(Long pos, std::uint8_t value) {
    if (pos < -origin_ || pos >= extent_) Grow(pos, pos);
    cells_[pos + zero_] = value;
  }

  /// Makes every position from `low` to `high` (inclusive, low <= high)
  /// exist, as accesses to both ends would.
  void Reach(Long low, Long high) {
    if (low < -origin_ || high >= extent_) Grow(low, high);
  }

  /// Number of cells at positions 0 and above.
  Long Extent() const noexcept { return extent_; }
  /// Number of cells at negative positions.
  Long Origin() const noexcept { return origin_; }

  /// The storage: the cell at an existing position p is Storage()[p + Zero()].
  /// Both change when the tape grows.
  std::uint8_t* Storage() noexcept { return cells_.get(); }
  Long Zero() const noexcept { return zero_; }

 private:
  struct Free {
    void operator()(std::uint8_t* p) const noexcept;
  };

  void Grow(Long low, Long high);

  std::unique_ptr<std::uint8_t[], Free> cells_;  // storage; position p lives at p + zero_
  Long stored_ = 0;                              // storage size in cells
  Long zero_ = 0;
  Long origin_ = 0;
  Long extent_ = kInitialCells;
};

}  // namespace corvid
