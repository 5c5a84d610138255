#include "interpreter/internal/tape.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace corvid {

namespace {

// Zeroed storage. Large blocks come straight from fresh pages, so the parts
// of a grown tape that are never touched are never made resident.
std::uint8_t* AllocateZeroed(Long cells) {
  // A 32-bit process cannot even count the cells of a tape across the
  // head's whole range: the size must not wrap to a small block.
  if (static_cast<std::uint64_t>(cells) > std::numeric_limits<std::size_t>::max()) throw std::bad_alloc();
  void* p = std::calloc(static_cast<std::size_t>(cells), 1);
  if (!p) throw std::bad_alloc();
  return static_cast<std::uint8_t*>(p);
}

}  // namespace

void Tape::Free::operator()(std::uint8_t* p) const noexcept { std::free(p); }

Tape::Tape() : cells_(AllocateZeroed(kInitialCells)), stored_(kInitialCells) {}

// The observable extent takes in exactly the accessed range. The storage, if
// too small, at least doubles on the side that grows; every stored cell
// outside the existing range is 0, so cells that come into existence later
// already read 0.
// Nothing changes where the storage cannot grow, so that a run that meets
// the failure again later finds the tape as it was.
void Tape::Grow(Long low, Long high) {
  const Long origin = std::max(origin_, -low);
  const Long extent = std::max(extent_, high + 1);
  Long storedLow = -zero_;
  Long storedHigh = stored_ - zero_;
  if (-origin < storedLow || extent > storedHigh) {
    Long newLow = -origin < storedLow ? std::min(-origin, storedLow - stored_) : storedLow;
    Long newHigh = extent > storedHigh ? std::max(extent, storedHigh + stored_) : storedHigh;
    std::uint8_t* cells = AllocateZeroed(newHigh - newLow);
    std::memcpy(cells + (storedLow - newLow), cells_.get(), static_cast<std::size_t>(stored_));
    cells_.reset(cells);
    stored_ = newHigh - newLow;
    zero_ = -newLow;
  }
  origin_ = origin;
  extent_ = extent;
}

}  // namespace corvid
