// Errors: any object can be raised; the runtime's error classes, the raise
// helpers, catching by class, and the hooks for uncaught errors.
#pragma once

#include "runtime/object.h"
#include "runtime/string.h"

namespace corvid {

/// The C++ exception that carries a raised object. Catch it and test the
/// class with As<T>(), which follows the class chain; rethrow what does not
/// match so that it passes outward:
///
///   try { ... }
///   catch (const Raised& raised) {
///     auto error = raised.As<TStreamReadException>();
///     if (!error) throw;
///     ...
///   }
///
/// `As<Object>()` matches everything, a raised String included.
class Raised {
 public:
  explicit Raised(Ref<Object> error) noexcept : error_(std::move(error)) {}
  /// The raised object (Throw never raises Null).
  const Ref<Object>& Error() const noexcept { return error_; }
  /// The raised object as a T, or Null when its class is not T or derived
  /// from T.
  template <class T>
  Ref<T> As() const {
    return CastTo<T>(error_);
  }

 private:
  Ref<Object> error_;
};

/// Raises `error` (any object). Never returns. Null is not an object a
/// catch can match, so raising Null raises a TNullObjectException instead.
[[noreturn]] void Throw(const Ref<Object>& error);

/// Root of the runtime's error classes. ToString is Object's (the address).
class TCorvidException : public Object {};

/// A Null object was used: "Attempt to access field or method of Null
/// object".
class TNullObjectException : public TCorvidException {
 public:
  Ref<String> ToString() override;
};

/// An abstract method was called: "Attempt to call abstract method".
class TNullMethodException : public TCorvidException {
 public:
  Ref<String> ToString() override;
};

/// An unset function reference was called: "Attempt to call uninitialized
/// function pointer".
class TNullFunctionException : public TCorvidException {
 public:
  Ref<String> ToString() override;
};

/// An index outside an array or a bank: "Attempt to index array element
/// beyond array length".
class TArrayBoundsException : public TCorvidException {
 public:
  Ref<String> ToString() override;
};

/// Data ran out: "Attempt to read beyond end of data".
class TOutOfDataException : public TCorvidException {
 public:
  Ref<String> ToString() override;
};

/// A library failure with a message.
class TRuntimeException : public TCorvidException {
 public:
  TRuntimeException() : error(String::Empty()) {}
  /// The message.
  Ref<String> ToString() override;
  /// A new error carrying `message`.
  static Ref<TRuntimeException> Create(const Ref<String>& message);

  Ref<String> error;
};

/// The stream errors. They stand apart from TCorvidException and are raised
/// as objects; callers catch them by class. They live with the runtime's
/// errors because standard output, written below the stream layer, raises
/// the write error too.
class TStreamException : public Object {};
/// "Error reading from stream".
class TStreamReadException : public TStreamException {
 public:
  Ref<String> ToString() override;
};
/// "Error writing to stream".
class TStreamWriteException : public TStreamException {
 public:
  Ref<String> ToString() override;
};

// Each raises a new error object of one class and never returns.

/// A TRuntimeException carrying `message`.
[[noreturn]] void RaiseRuntimeError(const Ref<String>& message);
/// A TNullObjectException.
[[noreturn]] void RaiseNullObject();
/// A TNullMethodException.
[[noreturn]] void RaiseAbstractMethod();
/// A TNullFunctionException.
[[noreturn]] void RaiseNullFunction();
/// A TArrayBoundsException.
[[noreturn]] void RaiseArrayBounds();
/// A TOutOfDataException.
[[noreturn]] void RaiseOutOfData();
/// Raises the narrow text as a String (the runtime's internal failures).
[[noreturn]] void RaiseText(const char* text);

/// The object behind `ref`; Null raises TNullObjectException.
template <class T>
T& Deref(const Ref<T>& ref) {
  if (!ref) RaiseNullObject();
  return *ref;
}

/// Signatures of the replaceable hooks below.
using ErrorHook = void (*)(const Ref<Object>& error);
using StopHook = void (*)();
using LogHook = void (*)(const Ref<String>& message);

/// Called with an error that nothing caught. The default writes the error's
/// ToString, each unit narrowed to its low 8 bits, to standard error with no
/// line end, flushes it and ends the process through the normal exit with
/// status 255 (end functions run). A replacement should not return; if it
/// does, the process ends as the default would.
extern ErrorHook UnhandledErrorHook;
/// Called by DebugStop and after a platform fault is reported; does nothing
/// by default. After a fault it runs inside a signal handler, so a
/// replacement must keep to async-signal-safe calls.
extern StopHook DebugStopHook;
/// Called by DebugLog; does nothing by default.
extern LogHook DebugLogHook;

/// Calls DebugStopHook.
void DebugStop();
/// Calls DebugLogHook with `message`.
void DebugLog(const Ref<String>& message);

/// Hands an uncaught error to UnhandledErrorHook; never returns.
[[noreturn]] void ReportUnhandled(const Ref<Object>& error);

}  // namespace corvid
