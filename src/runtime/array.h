// Arrays: typed one- or multi-dimensional element sequences with default
// values, slicing that grows, concatenation, sorting and the array type test.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <utility>
#include <variant>
#include <vector>

#include "runtime/error.h"
#include "runtime/object.h"
#include "runtime/string.h"

namespace corvid {

/// Element kinds, each named by the first character of a type code.
enum class ElementKind : char {
  None = 0,  ///< only the shared empty array, whose type code is empty
  Byte = 'b',
  Short = 's',
  Int = 'i',
  Float = 'f',
  Long = 'l',
  Double = 'd',
  String = '$',
  Object = ':',  ///< followed by the class name, as in ":TList"
  Array = '[',
  Function = '(',
};

/// Signature decomposition for FunctionRef: `R(A...)`.
template <class Sig>
struct FunctionSignature;
template <class R, class... A>
struct FunctionSignature<R(A...)> {
  using Pointer = R (*)(A...);
  using Result = R;
};

/// An element of a function-reference array: a plain function of any
/// signature. It remembers the signature it was stored with, so calling it
/// through another one raises instead of jumping into the wrong code. An
/// unset element raises TNullFunctionException when called.
class FunctionRef {
 public:
  /// An unset reference.
  constexpr FunctionRef() noexcept = default;
  /// A reference to `fn`; unset when `fn` is null.
  template <class R, class... A>
  FunctionRef(R (*fn)(A...)) noexcept
      : fn_(reinterpret_cast<void (*)()>(fn)), signature_(fn ? SignatureTag<R(A...)>() : nullptr) {}

  /// Whether a function is stored.
  bool IsSet() const noexcept { return fn_ != nullptr; }
  bool operator==(const FunctionRef&) const noexcept = default;

  /// The stored function as a `Sig` pointer (e.g. `Target<Int(Int)>()`).
  /// Raises TNullFunctionException when unset, and a runtime error when it
  /// was stored with another signature.
  template <class Sig>
  typename FunctionSignature<Sig>::Pointer Target() const {
    if (!fn_) RaiseNullFunction();
    if (signature_ != SignatureTag<Sig>())
      RaiseRuntimeError("Function reference called with a different signature"_s);
    return reinterpret_cast<typename FunctionSignature<Sig>::Pointer>(fn_);
  }
  /// Calls the stored function: `f.Call<Int(Int)>(5)`.
  template <class Sig, class... Args>
  typename FunctionSignature<Sig>::Result Call(Args&&... args) const {
    return Target<Sig>()(std::forward<Args>(args)...);
  }

 private:
  template <class Sig>
  static const void* SignatureTag() noexcept {
    static const char tag = 0;
    return &tag;
  }

  void (*fn_)() = nullptr;
  const void* signature_ = nullptr;
};

/// The array object. Elements sit contiguously in row-major order, typed by
/// the element kind: Byte std::uint8_t, Short std::uint16_t, Int, Float,
/// Long, Double, String Ref<String>, Object Ref<Object>, Array Ref<Array>,
/// Function FunctionRef. References are counted.
///
/// Every request for an array with no elements yields the one shared empty
/// array (Array::Empty()); it has the empty type code, passes every array
/// type test and reads as an empty span of any element type.
///
/// C++ callers reach elements through the typed, bounds-checked At<T>() or
/// the span from Elements<T>(); naming the wrong element type raises a
/// runtime error, an index outside the array raises TArrayBoundsException.
class Array final : public Object {
 public:
  // Own operations, virtual, in a fixed order: a new one goes at the end,
  // so that a subclass built against an older header keeps its table's
  // layout.

  /// Sorts the whole element run in place (a multi-dimensional array as one
  /// flat run); descending when `ascending` is 0. Arrays of arrays and of
  /// function references stay as they are. Not stable.
  virtual void SortElements(Int ascending);
  /// Size of each dimension as an Int array; the shared empty array when
  /// this array has no elements.
  virtual Ref<Array> DimSizes();

  // Class functions.

  /// The shared empty array.
  static const Ref<Array>& Empty();
  /// A new one-dimensional array of `size` default elements; the shared
  /// empty array when `size` <= 0. Raises a runtime error for an unknown
  /// type code.
  static Ref<Array> Create(const Ref<String>& typeCode, Int size);
  /// A new array with the given dimension sizes (at least one); the shared
  /// empty array when any size is <= 0.
  static Ref<Array> Create(const Ref<String>& typeCode, std::span<const Int> sizes);
  static Ref<Array> Create(const Ref<String>& typeCode, std::initializer_list<Int> sizes);
  /// One-dimensional array of `end` - `begin` elements: the elements of
  /// `source` (taken as one flat run) where the position lies inside it,
  /// defaults elsewhere; so slicing past either end grows. `source` may be
  /// Null or the empty array; otherwise its elements must be of the kind of
  /// `typeCode`.
  static Ref<Array> Slice(const Ref<String>& typeCode, const Ref<Array>& source, Int begin,
                          Int end);
  /// The elements of `a` followed by those of `b`; the shared empty array
  /// when both are empty. Null reads as the empty array.
  static Ref<Array> Concatenate(const Ref<String>& typeCode, const Ref<Array>& a,
                                const Ref<Array>& b);
  /// `count` elements from 32-bit words: the low byte of each word for Byte,
  /// the low 16 bits for Short, the raw bytes otherwise (two words per Long
  /// or Double element). Only numeric kinds; raises TOutOfDataException when
  /// `words` is too short.
  static Ref<Array> FromData(const Ref<String>& typeCode, Int count,
                             std::span<const std::uint32_t> words);
  /// Byte array ("b") holding `bytes`.
  static Ref<Array> FromBytes(std::span<const std::uint8_t> bytes);
  /// String array ("$") holding `strings`; Null entries become empty strings.
  static Ref<Array> FromStrings(std::span<const Ref<String>> strings);
  static Ref<Array> FromStrings(std::initializer_list<Ref<String>> strings);
  /// The type test for casting `object` to an array of `typeCode`: the
  /// object itself when it is the shared empty array, or an array whose
  /// type code equals `typeCode`, or an object array (":...") when
  /// `typeCode` names one too; Null otherwise.
  static Ref<Array> TypeTest(const Ref<Object>& object, const Ref<String>& typeCode);

  /// The kind selected by a type code's first character; None for an empty
  /// or unknown code.
  static ElementKind KindOf(const Ref<String>& typeCode) noexcept;

  /// The type code the array was created with; empty for the shared empty
  /// array.
  const Ref<String>& TypeCode() const noexcept { return typeCode_; }
  /// The element kind of the type code.
  ElementKind Kind() const noexcept { return kind_; }
  /// Total number of elements.
  Int Count() const noexcept { return words_.empty() ? 0 : words_[0]; }
  /// Number of dimensions (1 for the shared empty array).
  Int Dimensions() const noexcept { return words_.empty() ? 1 : static_cast<Int>(words_.size()); }
  /// Size of dimension `k`; raises TArrayBoundsException outside 0 .. Dimensions()-1.
  Int DimSize(Int k) const;
  /// Bytes per element in this build (references are pointer-sized here).
  Int ElementSize() const noexcept;
  /// Bytes of element data.
  Long DataSize() const noexcept { return Long{Count()} * ElementSize(); }

  /// All elements as a span of T, in storage order. Raises a runtime error
  /// when T is not this array's element type (the empty array fits any).
  template <class T>
  std::span<T> Elements();
  template <class T>
  std::span<const T> Elements() const;
  /// Element `index` of the flat run; raises TArrayBoundsException outside it.
  template <class T>
  T& At(Int index);
  template <class T>
  const T& At(Int index) const;
  /// Element at one index per dimension, each checked against its dimension.
  template <class T>
  T& At(std::initializer_list<Int> indices) {
    return Elements<T>()[static_cast<std::size_t>(FlatIndex(indices))];
  }
  /// Flat position of one index per dimension; raises TArrayBoundsException
  /// when the count of indices or any index is out of range.
  Int FlatIndex(std::initializer_list<Int> indices) const;

  using Storage = std::variant<std::monostate, std::vector<std::uint8_t>, std::vector<std::uint16_t>,
                               std::vector<Int>, std::vector<Float>, std::vector<Long>,
                               std::vector<Double>, std::vector<Ref<String>>,
                               std::vector<Ref<Object>>, std::vector<Ref<Array>>,
                               std::vector<FunctionRef>>;

 private:
  Array() noexcept = default;
  Array(Ref<String> typeCode, ElementKind kind, std::vector<Int> words, Storage storage) noexcept;
  static Ref<Array> Make(const Ref<String>& typeCode, std::vector<Int> words);
  [[noreturn]] static void RaiseTypeMismatch();

  Ref<String> typeCode_;
  ElementKind kind_ = ElementKind::None;
  /// Word k: the product of the sizes of dimensions k .. n-1.
  std::vector<Int> words_;
  Storage storage_;
};

template <class T>
std::span<T> Array::Elements() {
  if (auto* v = std::get_if<std::vector<T>>(&storage_)) return {v->data(), v->size()};
  if (std::holds_alternative<std::monostate>(storage_)) return {};
  RaiseTypeMismatch();
}

template <class T>
std::span<const T> Array::Elements() const {
  if (auto* v = std::get_if<std::vector<T>>(&storage_)) return {v->data(), v->size()};
  if (std::holds_alternative<std::monostate>(storage_)) return {};
  RaiseTypeMismatch();
}

template <class T>
T& Array::At(Int index) {
  std::span<T> all = Elements<T>();
  if (index < 0 || static_cast<std::size_t>(index) >= all.size()) RaiseArrayBounds();
  return all[static_cast<std::size_t>(index)];
}

template <class T>
const T& Array::At(Int index) const {
  std::span<const T> all = Elements<T>();
  if (index < 0 || static_cast<std::size_t>(index) >= all.size()) RaiseArrayBounds();
  return all[static_cast<std::size_t>(index)];
}

/// The array type test in the CastTo family: `object` as an array of
/// `typeCode`, or Null (see Array::TypeTest).
inline Ref<Array> CastTo(const Ref<Object>& object, const Ref<String>& typeCode) {
  return Array::TypeTest(object, typeCode);
}

}  // namespace corvid
