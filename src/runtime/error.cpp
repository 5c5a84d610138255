#include "runtime/error.h"

#include "runtime/app.h"
#include "runtime/internal/platform.h"

namespace corvid {

void Throw(const Ref<Object>& error) {
  if (!error) throw Raised(MakeRef<TNullObjectException>());
  throw Raised(error);
}

Ref<String> TNullObjectException::ToString() {
  return "Attempt to access field or method of Null object"_s;
}
Ref<String> TNullMethodException::ToString() { return "Attempt to call abstract method"_s; }
Ref<String> TNullFunctionException::ToString() {
  return "Attempt to call uninitialized function pointer"_s;
}
Ref<String> TArrayBoundsException::ToString() {
  return "Attempt to index array element beyond array length"_s;
}
Ref<String> TOutOfDataException::ToString() { return "Attempt to read beyond end of data"_s; }
Ref<String> TRuntimeException::ToString() { return error ? error : String::Empty(); }
Ref<String> TStreamReadException::ToString() { return "Error reading from stream"_s; }
Ref<String> TStreamWriteException::ToString() { return "Error writing to stream"_s; }

Ref<TRuntimeException> TRuntimeException::Create(const Ref<String>& message) {
  auto e = MakeRef<TRuntimeException>();
  e->error = message;
  return e;
}

void RaiseRuntimeError(const Ref<String>& message) { Throw(TRuntimeException::Create(message)); }
void RaiseNullObject() { Throw(MakeRef<TNullObjectException>()); }
void RaiseAbstractMethod() { Throw(MakeRef<TNullMethodException>()); }
void RaiseNullFunction() { Throw(MakeRef<TNullFunctionException>()); }
void RaiseArrayBounds() { Throw(MakeRef<TArrayBoundsException>()); }
void RaiseOutOfData() { Throw(MakeRef<TOutOfDataException>()); }
void RaiseText(const char* text) { Throw(String::FromNarrowZ(text)); }

namespace {

// An error whose own ToString raises is still reported, by its address.
Ref<String> ErrorText(const Ref<Object>& error) {
  if (!error) return "Null"_s;
  try {
    return error->ToString();
  } catch (const Raised&) {
    return error->Object::ToString();
  }
}

void DefaultUnhandledError(const Ref<Object>& error) {
  PutStderr(ErrorText(error));
  platform::ExitProcess(platform::kUncaughtErrorStatus);
}

void NoStop() {}
void NoLog(const Ref<String>&) {}

}  // namespace

ErrorHook UnhandledErrorHook = DefaultUnhandledError;
StopHook DebugStopHook = NoStop;
LogHook DebugLogHook = NoLog;

void DebugStop() { DebugStopHook(); }
void DebugLog(const Ref<String>& message) { DebugLogHook(message); }

void ReportUnhandled(const Ref<Object>& error) {
  UnhandledErrorHook(error);
  // A hook that returns must still not let the program go on.
  platform::ExitProcess(platform::kUncaughtErrorStatus);
}

}  // namespace corvid
