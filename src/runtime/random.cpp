#include "runtime/random.h"

#include <algorithm>
#include <atomic>
#include <cmath>

namespace corvid {

namespace {

constexpr Int kModulus = 2147483647;  // 2^31 - 1
constexpr Int kMultiplier = 48271;
constexpr Int kQuotient = kModulus / kMultiplier;   // 44488
constexpr Int kRemainder = kModulus % kMultiplier;  // 3399
constexpr Int kStartState = 4660;

// Loads and stores without a read-modify-write: racing threads may lose a
// step, as an unlocked generator does, but no access is a data race.
std::atomic<Int> state{kStartState};

// Schrage's method: 48271 * s mod (2^31 - 1) with no product above 31 bits.
Int Step() {
  Int s = state.load(std::memory_order_relaxed);
  s = (s % kQuotient) * kMultiplier - (s / kQuotient) * kRemainder;
  if (s < 0) s += kModulus;
  state.store(s, std::memory_order_relaxed);
  return s;
}

}  // namespace

Float RandomUnitFloat() { return static_cast<Float>(Step() & 0x0FFFFFF0) / 268435456.0f; }

Double RandomUnitDouble() {
  Int a = Step() & 0x1FFFFFFC;
  Int b = Step() & 0x1FFFFFF8;
  return (a + b / 134217728.0) / 536870912.0;
}

Double RandomReal(Double x, Double y) {
  Double u = RandomUnitDouble();
  if (!(y > x)) {
    if (!(x > y)) return y + u * (x - y);  // equal or unordered bounds
    std::swap(x, y);
  }
  Double span = y - x;
  // Bounds of opposite sign may be too far apart for a Double; weighing
  // each bound on its own stays finite.
  Double r = std::isinf(span) && std::isfinite(x) && std::isfinite(y) ? x * (1 - u) + y * u
                                                                      : x + u * span;
  // Rounding may land on the upper bound, which is never drawn.
  return r >= y ? std::nextafter(y, x) : r;
}

Int RandomInt(Int x, Int y) {
  // The span of the two bounds is taken in 64 bits: in 32 it wraps for
  // bounds more than 2^31 apart.
  Long low = std::min(x, y);
  Long span = Long{std::max(x, y)} - low + 1;
  return static_cast<Int>(low + static_cast<Long>(RandomUnitDouble() * static_cast<Double>(span)));
}

void SetRandomSeed(Int seed) {
  Int s = seed & 0x7FFFFFFF;
  state.store(s == 0 || s == kModulus ? kStartState : s, std::memory_order_relaxed);
}

Int GetRandomSeed() { return state.load(std::memory_order_relaxed); }

}  // namespace corvid
