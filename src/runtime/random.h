// Random numbers: one process-wide minimal-standard generator, with reals
// and integers in ranges and access to its state.
#pragma once

#include "runtime/object.h"

namespace corvid {

/// The generator's state is one value in 1 .. 2147483646, 4660 when the
/// process starts, so an unseeded program draws the same numbers every run.
/// Each step multiplies it by 48271 modulo 2147483647. Threads share it
/// without a lock: concurrent draws may repeat or lose steps, never break
/// the state.

/// One step; the state's bits 4 .. 27 as a fraction: 0 up to 1 - 2^-24.
Float RandomUnitFloat();
/// Two steps; a fraction from 0 up to below 1 with 53 bits of precision.
Double RandomUnitDouble();
/// Two steps; uniform from the lower bound (included) up to the upper bound
/// (excluded), the bounds in either order. Equal bounds give that value.
Double RandomReal(Double x, Double y);
/// Two steps; uniform over the integers between the bounds, both included,
/// the bounds in either order.
Int RandomInt(Int x, Int y);
/// Sets the state to the low 31 bits of `seed`, or to 4660 when those are
/// all zeros or all ones (states the generator cannot have).
void SetRandomSeed(Int seed);
/// The state, unchanged.
Int GetRandomSeed();

}  // namespace corvid
