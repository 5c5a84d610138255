// Object model: the reference-counted root class, the owning pointer Ref<T>
// and the one helper for type tests and casts.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

namespace corvid {

using Int = std::int32_t;
using Long = std::int64_t;
using Float = float;
using Double = double;

class String;
template <class T> class Ref;

/// Root of every class. Carries an intrusive reference count; an object is
/// destroyed when its last Ref goes. Objects that live for the whole process
/// (string literals, the shared empty string and array) start with a count
/// so high that it never returns to zero.
class Object {
 public:
  Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  virtual ~Object() = default;

  /// Text form of the object; for Object itself the address as "%p" writes it.
  virtual Ref<String> ToString();
  /// Ordering against another object: negative, zero or positive. Object
  /// orders by address.
  virtual Int Compare(const Ref<Object>& other);
  /// Generic message hook; the root answers Null.
  virtual Ref<Object> SendMessage(const Ref<Object>& message);
  /// Reserved slots every class carries; calling one raises the String
  /// "Illegal call to reserved method".
  virtual void Reserved1();
  virtual void Reserved2();
  virtual void Reserved3();

  /// Takes one more reference; Ref does this, code rarely needs to.
  void AddRef() const noexcept { count_.fetch_add(1, std::memory_order_relaxed); }
  /// Drops one reference, destroying the object when it was the last.
  void Release() const noexcept {
    if (count_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }
  /// The number of references held (a large number for objects that are
  /// never freed).
  Int RefCount() const noexcept { return count_.load(std::memory_order_relaxed); }

 protected:
  struct ImmortalTag {};
  static constexpr ImmortalTag kImmortal{};
  /// For objects with static storage: never freed by reference counting.
  explicit constexpr Object(ImmortalTag) noexcept : count_(1 << 30) {}

 private:
  mutable std::atomic<Int> count_{0};
};

/// Owning pointer to an Object. An empty Ref is Null.
template <class T>
class Ref {
 public:
  constexpr Ref() noexcept = default;
  constexpr Ref(std::nullptr_t) noexcept {}
  /// Takes a new reference to `p` (which may be null).
  Ref(T* p) noexcept : p_(p) {
    if (p_) p_->AddRef();
  }
  Ref(const Ref& other) noexcept : Ref(other.p_) {}
  Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  Ref(const Ref<U>& other) noexcept : Ref(other.Get()) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  Ref(Ref<U>&& other) noexcept : p_(other.Detach()) {}
  ~Ref() {
    if (p_) p_->Release();
  }

  Ref& operator=(Ref other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }

  /// The object, or nullptr for Null. Access through a Null Ref is
  /// undefined; test first, or use Deref (runtime/error.h), which raises.
  T* Get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  bool IsNull() const noexcept { return p_ == nullptr; }

  /// Gives up ownership without releasing; for moves between Ref types.
  T* Detach() noexcept { return std::exchange(p_, nullptr); }

  /// Identity: both name the same object, or both are Null.
  template <class U>
  bool operator==(const Ref<U>& other) const noexcept {
    return static_cast<const Object*>(p_) == static_cast<const Object*>(other.Get());
  }
  bool operator==(std::nullptr_t) const noexcept { return p_ == nullptr; }

 private:
  T* p_ = nullptr;
};

/// Creates a new object of class T and hands out the first reference.
template <class T, class... Args>
Ref<T> MakeRef(Args&&... args) {
  return Ref<T>(new T(std::forward<Args>(args)...));
}

/// The type test of the object model: `obj` as a T when its class is T or
/// derives from T, else Null. Null stays Null.
template <class T, class U>
Ref<T> CastTo(const Ref<U>& obj) {
  return Ref<T>(dynamic_cast<T*>(obj.Get()));
}
template <class T, class U>
T* CastTo(U* obj) {
  return dynamic_cast<T*>(obj);
}

/// Storage for an object that is built on first use and never destroyed, so
/// that it stays valid while the process exits.
template <class T>
class NoDestroy {
 public:
  template <class... Args>
  explicit NoDestroy(Args&&... args) {
    new (storage_) T(std::forward<Args>(args)...);
  }
  /// The object.
  T& get() noexcept { return *std::launder(reinterpret_cast<T*>(storage_)); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace corvid
