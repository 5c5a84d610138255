#include "runtime/object.h"

#include <cstdio>
#include <functional>

#include "runtime/error.h"
#include "runtime/string.h"

namespace corvid {

Ref<String> Object::ToString() {
  char text[32];
  std::snprintf(text, sizeof text, "%p", static_cast<void*>(this));
  return String::FromNarrowZ(text);
}

Int Object::Compare(const Ref<Object>& other) {
  // Pointers of unrelated objects are ordered through std::less, which is
  // total where the built-in comparison is not.
  const Object* a = this;
  const Object* b = other.Get();
  if (a == b) return 0;
  return std::less<const Object*>()(a, b) ? -1 : 1;
}

Ref<Object> Object::SendMessage(const Ref<Object>&) { return nullptr; }

void Object::Reserved1() { RaiseText("Illegal call to reserved method"); }
void Object::Reserved2() { RaiseText("Illegal call to reserved method"); }
void Object::Reserved3() { RaiseText("Illegal call to reserved method"); }

}  // namespace corvid
