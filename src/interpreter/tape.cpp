#include "interpreter/tape.h"

#include <algorithm>

namespace corvid {

Tape::Tape() : cells_(static_cast<std::size_t>(kInitialCells), 0) {}

void Tape::Grow(Long pos) {
  if (pos < -origin_) origin_ = -pos;
  if (pos >= extent_) extent_ = pos + 1;
  Reserve(-origin_, extent_);
}

// Makes storage cover positions low .. high-1. New storage doubles on the
// side that grows, and every cell outside the existing range is 0, so cells
// that come into existence later already read 0.
void Tape::Reserve(Long low, Long high) {
  Long stored_low = -zero_;
  Long stored_high = static_cast<Long>(cells_.size()) - zero_;
  if (low >= stored_low && high <= stored_high) return;
  Long size = stored_high - stored_low;
  Long new_low = low < stored_low ? std::min(low, stored_low - size) : stored_low;
  Long new_high = high > stored_high ? std::max(high, stored_high + size) : stored_high;
  std::vector<std::uint8_t> cells(static_cast<std::size_t>(new_high - new_low), 0);
  std::copy(cells_.begin(), cells_.end(), cells.begin() + (stored_low - new_low));
  cells_ = std::move(cells);
  zero_ = -new_low;
}

}  // namespace corvid
