#include "runtime/array.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace corvid {

namespace {

Array::Storage DefaultStorage(ElementKind kind, Int count) {
  auto n = static_cast<std::size_t>(count);
  switch (kind) {
    case ElementKind::Byte: return std::vector<std::uint8_t>(n);
    case ElementKind::Short: return std::vector<std::uint16_t>(n);
    case ElementKind::Int: return std::vector<Int>(n);
    case ElementKind::Float: return std::vector<Float>(n);
    case ElementKind::Long: return std::vector<Long>(n);
    case ElementKind::Double: return std::vector<Double>(n);
    case ElementKind::String: return std::vector<Ref<String>>(n, String::Empty());
    case ElementKind::Object: return std::vector<Ref<Object>>(n);
    case ElementKind::Array: return std::vector<Ref<Array>>(n, Array::Empty());
    case ElementKind::Function: return std::vector<FunctionRef>(n);
    case ElementKind::None: break;
  }
  return std::monostate{};
}

// The elements of `from` copied into `to` at `at`, when both hold the same
// element type; the empty array (monostate) copies nothing.
void CopyElements(const Array::Storage& from, std::size_t first, std::size_t count,
                  Array::Storage& to, std::size_t at) {
  if (count == 0 || std::holds_alternative<std::monostate>(from)) return;
  if (from.index() != to.index())
    RaiseRuntimeError("Array element type does not match the array type"_s);
  std::visit(
      [&](auto& out) {
        using Vector = std::decay_t<decltype(out)>;
        if constexpr (!std::is_same_v<Vector, std::monostate>) {
          const Vector& in = std::get<Vector>(from);
          std::copy_n(in.begin() + static_cast<std::ptrdiff_t>(first), count,
                      out.begin() + static_cast<std::ptrdiff_t>(at));
        }
      },
      to);
}

}  // namespace

Array::Array(Ref<String> typeCode, ElementKind kind, std::vector<Int> words,
             Storage storage) noexcept
    : typeCode_(std::move(typeCode)),
      kind_(kind),
      words_(std::move(words)),
      storage_(std::move(storage)) {}

const Ref<Array>& Array::Empty() {
  static NoDestroy<Ref<Array>> empty([] {
    // Held by this reference for the whole process, so never freed.
    Ref<Array> a(new Array());
    a->typeCode_ = String::Empty();
    return a;
  }());
  return empty.get();
}

ElementKind Array::KindOf(const Ref<String>& typeCode) noexcept {
  const String& code = Text(typeCode);
  if (code.Length() == 0) return ElementKind::None;
  switch (code[0]) {
    case u'b': return ElementKind::Byte;
    case u's': return ElementKind::Short;
    case u'i': return ElementKind::Int;
    case u'f': return ElementKind::Float;
    case u'l': return ElementKind::Long;
    case u'd': return ElementKind::Double;
    case u'$': return ElementKind::String;
    case u':': return ElementKind::Object;
    case u'[': return ElementKind::Array;
    case u'(': return ElementKind::Function;
    default: return ElementKind::None;
  }
}

void Array::RaiseTypeMismatch() {
  RaiseRuntimeError("Array element type does not match the array type"_s);
}

Ref<Array> Array::Make(const Ref<String>& typeCode, std::vector<Int> words) {
  ElementKind kind = KindOf(typeCode);
  if (kind == ElementKind::None)
    RaiseRuntimeError(Concat("Unknown array element type: "_s, typeCode));
  Int count = words[0];
  return Ref<Array>(new Array(typeCode, kind, std::move(words), DefaultStorage(kind, count)));
}

Ref<Array> Array::Create(const Ref<String>& typeCode, Int size) {
  if (size <= 0) return Empty();
  return Make(typeCode, {size});
}

Ref<Array> Array::Create(const Ref<String>& typeCode, std::span<const Int> sizes) {
  if (sizes.empty()) return Empty();
  for (Int size : sizes)
    if (size <= 0) return Empty();
  std::vector<Int> words(sizes.size());
  Long product = 1;
  for (std::size_t k = sizes.size(); k-- > 0;) {
    product *= sizes[k];
    if (product > INT32_MAX) throw std::bad_alloc();
    words[k] = static_cast<Int>(product);
  }
  return Make(typeCode, std::move(words));
}

Ref<Array> Array::Create(const Ref<String>& typeCode, std::initializer_list<Int> sizes) {
  return Create(typeCode, std::span<const Int>(sizes.begin(), sizes.size()));
}

Ref<Array> Array::Slice(const Ref<String>& typeCode, const Ref<Array>& source, Int begin,
                        Int end) {
  Long n = Long{end} - begin;
  if (n <= 0) return Empty();
  if (n > INT32_MAX) throw std::bad_alloc();
  Ref<Array> result = Make(typeCode, {static_cast<Int>(n)});
  if (!source) return result;
  Long from = std::max<Long>(begin, 0);
  Long to = std::min<Long>(end, source->Count());
  if (from < to)
    CopyElements(source->storage_, static_cast<std::size_t>(from), static_cast<std::size_t>(to - from),
                 result->storage_, static_cast<std::size_t>(from - begin));
  return result;
}

Ref<Array> Array::Concatenate(const Ref<String>& typeCode, const Ref<Array>& a,
                              const Ref<Array>& b) {
  Int countA = a ? a->Count() : 0;
  Int countB = b ? b->Count() : 0;
  Long total = Long{countA} + countB;
  if (total <= 0) return Empty();
  if (total > INT32_MAX) throw std::bad_alloc();
  Ref<Array> result = Make(typeCode, {static_cast<Int>(total)});
  if (countA > 0) CopyElements(a->storage_, 0, static_cast<std::size_t>(countA), result->storage_, 0);
  if (countB > 0)
    CopyElements(b->storage_, 0, static_cast<std::size_t>(countB), result->storage_,
                 static_cast<std::size_t>(countA));
  return result;
}

Ref<Array> Array::FromData(const Ref<String>& typeCode, Int count,
                           std::span<const std::uint32_t> words) {
  if (count <= 0) return Empty();
  Ref<Array> result = Make(typeCode, {count});
  std::size_t n = static_cast<std::size_t>(count);
  std::visit(
      [&](auto& out) {
        using Vector = std::decay_t<decltype(out)>;
        if constexpr (std::is_same_v<Vector, std::monostate>) {
          // Make never builds an array without elements.
        } else if constexpr (std::is_same_v<Vector, std::vector<std::uint8_t>> ||
                      std::is_same_v<Vector, std::vector<std::uint16_t>>) {
          if (words.size() < n) RaiseOutOfData();
          for (std::size_t i = 0; i < n; ++i)
            out[i] = static_cast<typename Vector::value_type>(words[i]);
        } else if constexpr (std::is_arithmetic_v<typename Vector::value_type>) {
          std::size_t bytes = n * sizeof(typename Vector::value_type);
          if (words.size_bytes() < bytes) RaiseOutOfData();
          std::memcpy(out.data(), words.data(), bytes);
        } else {
          // Raw words cannot carry counted references or functions.
          RaiseRuntimeError("Array of this element type cannot be built from data"_s);
        }
      },
      result->storage_);
  return result;
}

Ref<Array> Array::FromBytes(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return Empty();
  if (bytes.size() > INT32_MAX) throw std::bad_alloc();
  std::vector<Int> words{static_cast<Int>(bytes.size())};
  return Ref<Array>(new Array("b"_s, ElementKind::Byte, std::move(words),
                              std::vector<std::uint8_t>(bytes.begin(), bytes.end())));
}

Ref<Array> Array::FromStrings(std::span<const Ref<String>> strings) {
  if (strings.empty()) return Empty();
  if (strings.size() > INT32_MAX) throw std::bad_alloc();
  std::vector<Ref<String>> elements;
  elements.reserve(strings.size());
  for (const Ref<String>& s : strings) elements.push_back(s ? s : String::Empty());
  std::vector<Int> words{static_cast<Int>(strings.size())};
  return Ref<Array>(new Array("$"_s, ElementKind::String, std::move(words), std::move(elements)));
}

Ref<Array> Array::FromStrings(std::initializer_list<Ref<String>> strings) {
  return FromStrings(std::span<const Ref<String>>(strings.begin(), strings.size()));
}

Ref<Array> Array::TypeTest(const Ref<Object>& object, const Ref<String>& typeCode) {
  Array* array = CastTo<Array>(object.Get());
  if (!array) return nullptr;
  if (array == Empty().Get()) return Ref<Array>(array);
  if (Equals(array->typeCode_, typeCode)) return Ref<Array>(array);
  if (array->kind_ == ElementKind::Object && KindOf(typeCode) == ElementKind::Object)
    return Ref<Array>(array);
  return nullptr;
}

Int Array::DimSize(Int k) const {
  if (k < 0 || k >= Dimensions()) RaiseArrayBounds();
  if (words_.empty()) return 0;
  auto i = static_cast<std::size_t>(k);
  return i + 1 < words_.size() ? words_[i] / words_[i + 1] : words_[i];
}

Int Array::ElementSize() const noexcept {
  return std::visit(
      [](const auto& v) -> Int {
        if constexpr (std::is_same_v<std::decay_t<decltype(v)>, std::monostate>) return 0;
        else return static_cast<Int>(sizeof(typename std::decay_t<decltype(v)>::value_type));
      },
      storage_);
}

Int Array::FlatIndex(std::initializer_list<Int> indices) const {
  if (indices.size() != words_.size()) RaiseArrayBounds();
  Long flat = 0;
  std::size_t k = 0;
  for (Int index : indices) {
    if (index < 0 || index >= DimSize(static_cast<Int>(k))) RaiseArrayBounds();
    Long stride = k + 1 < words_.size() ? words_[k + 1] : 1;
    flat += index * stride;
    ++k;
  }
  return static_cast<Int>(flat);
}

Ref<Array> Array::DimSizes() {
  if (Count() == 0) return Empty();
  Ref<Array> sizes = Create("i"_s, Dimensions());
  auto out = sizes->Elements<Int>();
  for (Int k = 0; k < Dimensions(); ++k) out[static_cast<std::size_t>(k)] = DimSize(k);
  return sizes;
}

namespace {

// The element orders of SortElements, before any reversal.
template <class T>
bool Before(const T& a, const T& b) {
  if constexpr (std::is_floating_point_v<T>) {
    // NaN has no place in the order of values; keeping NaNs together after
    // every number gives the sort a consistent order to work with.
    if (std::isnan(b)) return !std::isnan(a);
    return a < b;
  } else {
    return a < b;  // unsigned for Byte and Short, signed for Int and Long
  }
}
inline bool Before(const Ref<String>& a, const Ref<String>& b) {
  return CompareUnits(Text(a), Text(b)) < 0;
}
inline bool Before(const Ref<Object>& a, const Ref<Object>& b) {
  if (!a || !b) return !a && b;  // Null first
  return a->Compare(b) < 0;
}

// Not std::sort: an object's Compare is the program's own code, which need
// not be a strict weak order, and std::sort may then read past the range.
// The scans here are bounded whatever the order says.
//
// Median-of-three quicksort. The pivot is tracked by position, so it may be
// exchanged like any element. The smaller part is sorted by recursion and
// the larger by the loop, which bounds the stack depth by log2(n); after
// `depth` levels of partitioning a range is heap-sorted instead, so input
// built against the median of three cannot make the sort quadratic.
template <class T, class Less>
void QuickSort(T* a, std::ptrdiff_t lo, std::ptrdiff_t hi, const Less& less, int depth) {
  while (hi - lo + 1 > 2) {
    if (depth-- == 0) {
      std::make_heap(a + lo, a + hi + 1, less);
      std::sort_heap(a + lo, a + hi + 1, less);
      return;
    }
    std::ptrdiff_t mid = lo + (hi - lo) / 2;
    if (less(a[mid], a[lo])) std::swap(a[mid], a[lo]);
    if (less(a[hi], a[mid])) {
      std::swap(a[hi], a[mid]);
      if (less(a[mid], a[lo])) std::swap(a[mid], a[lo]);
    }
    std::ptrdiff_t p = mid, i = lo, j = hi;
    while (i <= j) {
      // The scans stop at the pivot itself at the latest; the bounds only
      // guard against an order that is not a strict weak order.
      while (i < hi && less(a[i], a[p])) ++i;
      while (j > lo && less(a[p], a[j])) --j;
      if (i > j) break;
      if (i != j) {
        std::swap(a[i], a[j]);
        if (p == i) p = j;
        else if (p == j) p = i;
      }
      ++i;
      --j;
    }
    if (j - lo < hi - i) {
      QuickSort(a, lo, j, less, depth);
      lo = i;
    } else {
      QuickSort(a, i, hi, less, depth);
      hi = j;
    }
  }
  if (hi - lo + 1 == 2 && less(a[hi], a[lo])) std::swap(a[lo], a[hi]);
}

template <class T, class Less>
void Sort(std::vector<T>& v, const Less& less) {
  int depth = 2;
  for (std::size_t n = v.size(); n > 1; n >>= 1) depth += 2;
  QuickSort(v.data(), 0, static_cast<std::ptrdiff_t>(v.size()) - 1, less, depth);
}

}  // namespace

void Array::SortElements(Int ascending) {
  if (Count() < 2) return;
  std::visit(
      [ascending](auto& v) {
        using Vector = std::decay_t<decltype(v)>;
        if constexpr (!std::is_same_v<Vector, std::monostate> &&
                      !std::is_same_v<Vector, std::vector<Ref<Array>>> &&
                      !std::is_same_v<Vector, std::vector<FunctionRef>>) {
          using T = typename Vector::value_type;
          if (ascending != 0)
            Sort(v, [](const T& a, const T& b) { return Before(a, b); });
          else
            Sort(v, [](const T& a, const T& b) { return Before(b, a); });
        }
      },
      storage_);
}

}  // namespace corvid
