// Looking at what a call raised through the runtime's error mechanism.
#pragma once

#include "runtime/error.h"

namespace corvid::testing {

/// The object `body` raised, or Null when it returned normally.
template <class Body>
Ref<Object> RaisedBy(Body&& body) {
  try {
    body();
  } catch (const Raised& raised) {
    return raised.Error();
  }
  return nullptr;
}

/// Whether `body` raised an object of class `E` (or a subclass).
template <class E, class Body>
bool Raises(Body&& body) {
  return static_cast<bool>(CastTo<E>(RaisedBy(body)));
}

}  // namespace corvid::testing
