// Tests for arrays: creation and defaults, slicing that grows, concatenation,
// dimensions, the array type test, element access and sorting.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "runtime/array.h"
#include "runtime/error.h"
#include "support/raised.h"

namespace corvid {
namespace {

using testing::RaisedBy;
using testing::Raises;

template <class T>
std::vector<T> Values(const Ref<Array>& a) {
  auto span = a->Elements<T>();
  return std::vector<T>(span.begin(), span.end());
}

Ref<Array> Ints(std::initializer_list<Int> values) {
  Ref<Array> a = Array::Create("i"_s, static_cast<Int>(values.size()));
  std::copy(values.begin(), values.end(), a->Elements<Int>().begin());
  return a;
}

class Thing : public Object {};

TEST(ArrayCreate, SizesOfZeroOrLessGiveTheSharedEmptyArray) {
  EXPECT_EQ(Array::Create("i"_s, 0), Array::Empty());
  EXPECT_EQ(Array::Create("i"_s, -3), Array::Empty());
  EXPECT_EQ(Array::Create("i"_s, {2, 0, 3}), Array::Empty());
  EXPECT_EQ(Array::Empty()->DimSizes(), Array::Empty());
  EXPECT_EQ(Array::Empty()->Count(), 0);
  EXPECT_EQ(Array::Empty()->TypeCode(), String::Empty());
  EXPECT_TRUE(Array::Empty()->Elements<Ref<String>>().empty());
  EXPECT_TRUE(Raises<TArrayBoundsException>([] { Array::Empty()->At<Int>(0); }));
}

TEST(ArrayCreate, DefaultsPerKind) {
  auto strings = Array::Create("$"_s, 2);
  EXPECT_EQ(Values<Ref<String>>(strings), (std::vector<Ref<String>>{String::Empty(), String::Empty()}));
  auto objects = Array::Create(":Object"_s, 2);
  EXPECT_EQ(Values<Ref<Object>>(objects), (std::vector<Ref<Object>>{nullptr, nullptr}));
  auto arrays = Array::Create("[i"_s, 1);
  EXPECT_EQ(arrays->At<Ref<Array>>(0), Array::Empty());
  EXPECT_EQ(Values<Double>(Array::Create("d"_s, 3)), (std::vector<Double>{0, 0, 0}));
  EXPECT_EQ(Values<std::uint8_t>(Array::Create("b"_s, 2)), (std::vector<std::uint8_t>{0, 0}));
  EXPECT_EQ(Array::Create("l"_s, 1)->ElementSize(), 8);
  EXPECT_EQ(Array::Create("s"_s, 1)->ElementSize(), 2);
  EXPECT_TRUE(Raises<TRuntimeException>([] { Array::Create("x"_s, 1); }));
  EXPECT_TRUE(Raises<TRuntimeException>([] { Array::Create(""_s, 1); }));
}

Int Twice(Int v) { return 2 * v; }

TEST(ArrayCreate, FunctionReferences) {
  auto functions = Array::Create("(i)i"_s, 2);
  EXPECT_TRUE(Raises<TNullFunctionException>([&] { functions->At<FunctionRef>(0).Call<Int(Int)>(1); }));
  functions->At<FunctionRef>(1) = &Twice;
  EXPECT_EQ(functions->At<FunctionRef>(1).Call<Int(Int)>(21), 42);
  // Calling through another signature is refused, never attempted.
  EXPECT_TRUE(Raises<TRuntimeException>([&] { functions->At<FunctionRef>(1).Call<Int(Long)>(1); }));
}

TEST(ArrayAccess, TypedAndBoundsChecked) {
  auto a = Ints({1, 2, 3});
  EXPECT_EQ(a->At<Int>(2), 3);
  a->At<Int>(0) = 9;
  EXPECT_EQ(a->At<Int>(0), 9);
  EXPECT_TRUE(Raises<TArrayBoundsException>([&] { a->At<Int>(-1); }));
  EXPECT_TRUE(Raises<TRuntimeException>([&] { a->At<Long>(0); }));
  auto error = RaisedBy([&] { a->At<Int>(3); });
  ASSERT_TRUE(CastTo<TArrayBoundsException>(error));
  EXPECT_TRUE(Equals(error->ToString(), "Attempt to index array element beyond array length"_s));
}

TEST(ArrayAccess, MultiDimensional) {
  auto grid = Array::Create("i"_s, {2, 3});
  EXPECT_EQ(grid->Count(), 6);
  EXPECT_EQ(grid->Dimensions(), 2);
  EXPECT_EQ(Values<Int>(grid->DimSizes()), (std::vector<Int>{2, 3}));
  grid->At<Int>({1, 2}) = 7;
  EXPECT_EQ(grid->At<Int>(5), 7);
  EXPECT_EQ(grid->FlatIndex({1, 0}), 3);
  EXPECT_TRUE(Raises<TArrayBoundsException>([&] { grid->At<Int>({0, 3}); }));
  EXPECT_TRUE(Raises<TArrayBoundsException>([&] { grid->At<Int>({2, 0}); }));
  EXPECT_TRUE(Raises<TArrayBoundsException>([&] { grid->At<Int>({1}); }));
  auto cube = Array::Create("b"_s, {4, 3, 2});
  EXPECT_EQ(Values<Int>(cube->DimSizes()), (std::vector<Int>{4, 3, 2}));
  EXPECT_THROW(Array::Create("b"_s, {65536, 65536}), std::bad_alloc);
}

TEST(ArraySlice, GrowsWithDefaultsOnEitherSide) {
  auto a = Ints({1, 2, 3});
  EXPECT_EQ(Values<Int>(Array::Slice("i"_s, a, 0, 5)), (std::vector<Int>{1, 2, 3, 0, 0}));
  EXPECT_EQ(Values<Int>(Array::Slice("i"_s, a, -1, 2)), (std::vector<Int>{0, 1, 2}));
  EXPECT_EQ(Values<Int>(Array::Slice("i"_s, a, 5, 7)), (std::vector<Int>{0, 0}));
  EXPECT_EQ(Values<Int>(Array::Slice("i"_s, a, -4, -2)), (std::vector<Int>{0, 0}));
  EXPECT_EQ(Array::Slice("i"_s, a, 3, 3), Array::Empty());
  EXPECT_EQ(Array::Slice("i"_s, a, INT32_MAX, INT32_MIN), Array::Empty());
  EXPECT_EQ(Values<Int>(Array::Slice("i"_s, Array::Empty(), 0, 2)), (std::vector<Int>{0, 0}));
  EXPECT_EQ(Values<Int>(Array::Slice("i"_s, nullptr, 0, 1)), (std::vector<Int>{0}));
  // A multi-dimensional source is one flat run.
  auto grid = Array::Create("i"_s, {2, 2});
  grid->At<Int>({1, 1}) = 4;
  EXPECT_EQ(Values<Int>(Array::Slice("i"_s, grid, 2, 4)), (std::vector<Int>{0, 4}));
  EXPECT_TRUE(Raises<TRuntimeException>([&] { Array::Slice("d"_s, a, 0, 1); }));
}

TEST(ArraySlice, StringsAndReferenceCounts) {
  Ref<String> second = String::FormatInt(12345);
  auto a = Array::FromStrings({"one"_s, second});
  Int before = second->RefCount();
  auto slice = Array::Slice("$"_s, a, 1, 4);
  EXPECT_EQ(Values<Ref<String>>(slice), (std::vector<Ref<String>>{second, String::Empty(), String::Empty()}));
  EXPECT_EQ(second->RefCount(), before + 1);
  slice = nullptr;
  a = nullptr;
  EXPECT_EQ(second->RefCount(), before - 1);
}

TEST(ArrayConcat, JoinsElementRuns) {
  auto joined = Array::Concatenate("i"_s, Ints({1, 2}), Ints({3}));
  EXPECT_EQ(Values<Int>(joined), (std::vector<Int>{1, 2, 3}));
  EXPECT_EQ(Array::Concatenate("i"_s, Array::Empty(), nullptr), Array::Empty());
  EXPECT_EQ(Values<Int>(Array::Concatenate("i"_s, Array::Empty(), Ints({4}))), (std::vector<Int>{4}));
  auto thing = MakeRef<Thing>();
  auto objects = Array::Create(":Thing"_s, 1);
  objects->At<Ref<Object>>(0) = thing;
  auto both = Array::Concatenate(":Thing"_s, objects, objects);
  EXPECT_EQ(both->At<Ref<Object>>(1), thing);
  EXPECT_EQ(thing->RefCount(), 4);
  EXPECT_TRUE(Raises<TRuntimeException>([&] { Array::Concatenate("$"_s, Ints({1}), nullptr); }));
}

TEST(ArrayBuild, FromDataAndBuilders) {
  const std::uint32_t words[] = {0x1FF, 0x12345, 0xFFFFFFFF};
  EXPECT_EQ(Values<std::uint8_t>(Array::FromData("b"_s, 3, words)), (std::vector<std::uint8_t>{0xFF, 0x45, 0xFF}));
  EXPECT_EQ(Values<std::uint16_t>(Array::FromData("s"_s, 2, words)), (std::vector<std::uint16_t>{0x1FF, 0x2345}));
  EXPECT_EQ(Values<Int>(Array::FromData("i"_s, 3, words)), (std::vector<Int>{0x1FF, 0x12345, -1}));
  const std::uint32_t one = 0x3F800000;
  EXPECT_EQ(Array::FromData("f"_s, 1, {&one, 1})->At<Float>(0), 1.0f);
  const std::uint32_t longWords[] = {1, 0, 0, 1};
  EXPECT_EQ(Values<Long>(Array::FromData("l"_s, 2, longWords)), (std::vector<Long>{1, Long{1} << 32}));
  EXPECT_TRUE(Raises<TOutOfDataException>([&] { Array::FromData("l"_s, 3, longWords); }));
  EXPECT_TRUE(Raises<TRuntimeException>([&] { Array::FromData("$"_s, 1, words); }));
  EXPECT_EQ(Array::FromData("i"_s, 0, {}), Array::Empty());

  const std::uint8_t bytes[] = {0, 200, 255};
  auto b = Array::FromBytes(bytes);
  EXPECT_TRUE(Equals(b->TypeCode(), "b"_s));
  EXPECT_EQ(Values<std::uint8_t>(b), (std::vector<std::uint8_t>{0, 200, 255}));
  EXPECT_EQ(Array::FromBytes({}), Array::Empty());
  auto s = Array::FromStrings({"a"_s, nullptr});
  EXPECT_EQ(s->At<Ref<String>>(1), String::Empty());
  EXPECT_EQ(Array::FromStrings(std::span<const Ref<String>>()), Array::Empty());
}

TEST(ArrayTypeTest, CastsByTypeCode) {
  auto things = Array::Create(":TList"_s, 1);
  EXPECT_EQ(CastTo(things, ":Object"_s), things);
  EXPECT_EQ(CastTo(Ints({1}), "f"_s), nullptr);
  EXPECT_EQ(CastTo(Ints({1}), "i"_s)->Count(), 1);
  EXPECT_EQ(CastTo(Array::Empty(), "d"_s), Array::Empty());
  EXPECT_EQ(CastTo("text"_s, "$"_s), nullptr);
  EXPECT_EQ(CastTo(Ref<Object>(), "$"_s), nullptr);
  EXPECT_EQ(CastTo(Ints({1}), ":Object"_s), nullptr);
  EXPECT_EQ(CastTo(Array::Create("[i"_s, 1), "[d"_s), nullptr);
}

TEST(ArraySort, NumbersInEitherDirection) {
  auto a = Ints({3, -1, 2});
  a->SortElements(1);
  EXPECT_EQ(Values<Int>(a), (std::vector<Int>{-1, 2, 3}));
  a->SortElements(0);
  EXPECT_EQ(Values<Int>(a), (std::vector<Int>{3, 2, -1}));
  const std::uint8_t bytes[] = {200, 5};
  auto b = Array::FromBytes(bytes);
  b->SortElements(1);
  EXPECT_EQ(Values<std::uint8_t>(b), (std::vector<std::uint8_t>{5, 200}));
  const std::uint32_t shorts[] = {0xFFFF, 1, 0x8000};
  auto s = Array::FromData("s"_s, 3, shorts);
  s->SortElements(1);
  EXPECT_EQ(Values<std::uint16_t>(s), (std::vector<std::uint16_t>{1, 0x8000, 0xFFFF}));
  const std::uint32_t longWords[] = {0, 0x80000000u, 5, 0};
  auto l = Array::FromData("l"_s, 2, longWords);
  l->SortElements(1);
  EXPECT_EQ(Values<Long>(l), (std::vector<Long>{INT64_MIN, 5}));
}

TEST(ArraySort, DuplicatesAndRandomRuns) {
  std::mt19937 random(7);
  for (int size : {2, 3, 4, 5, 16, 17, 100, 1000}) {
    for (int spread : {1, 3, 1000000}) {
      std::uniform_int_distribution<Int> value(-spread, spread);
      std::vector<Int> expected(static_cast<std::size_t>(size));
      for (Int& v : expected) v = value(random);
      auto a = Array::Create("i"_s, size);
      std::copy(expected.begin(), expected.end(), a->Elements<Int>().begin());
      a->SortElements(1);
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(Values<Int>(a), expected) << size << " " << spread;
      a->SortElements(0);
      std::reverse(expected.begin(), expected.end());
      EXPECT_EQ(Values<Int>(a), expected) << size << " " << spread;
    }
  }
}

TEST(ArraySort, LongRunsOfEqualOrOrderedElements) {
  for (int pattern = 0; pattern < 3; ++pattern) {
    auto a = Array::Create("i"_s, 200000);
    auto e = a->Elements<Int>();
    for (std::size_t i = 0; i < e.size(); ++i)
      e[i] = pattern == 0 ? 7 : pattern == 1 ? static_cast<Int>(i) : static_cast<Int>(e.size() - i);
    a->SortElements(1);
    EXPECT_TRUE(std::is_sorted(e.begin(), e.end()));
  }
}

// An adversary for quicksort (after McIlroy): values are fixed only when a
// comparison forces them, always so that the pivot turns out nearly the
// smallest. Against a plain median-of-three quicksort this needs about
// n*n/2 comparisons; the sort must stay near n*log2(n).
struct Adversary {
  std::vector<Int> value;
  Int gas;
  Int solid = 0;
  Int candidate = -1;
  long long comparisons = 0;
  explicit Adversary(Int n) : value(static_cast<std::size_t>(n), n), gas(n) {}
  Int Compare(Int x, Int y) {
    ++comparisons;
    auto& vx = value[static_cast<std::size_t>(x)];
    auto& vy = value[static_cast<std::size_t>(y)];
    if (vx == gas && vy == gas) (x == candidate ? vx : vy) = solid++;
    if (vx == gas) candidate = x;
    else if (vy == gas) candidate = y;
    return vx - vy;
  }
};

class Rigged : public Object {
 public:
  Rigged(Adversary& adversary, Int index) : adversary_(adversary), index_(index) {}
  Int Compare(const Ref<Object>& other) override {
    return adversary_.Compare(index_, CastTo<Rigged>(other)->index_);
  }

 private:
  Adversary& adversary_;
  Int index_;
};

TEST(ArraySort, AdversarialInputStaysNearNLogN) {
  const Int n = 20000;
  Adversary adversary(n);
  auto a = Array::Create(":Rigged"_s, n);
  auto e = a->Elements<Ref<Object>>();
  for (Int i = 0; i < n; ++i) e[static_cast<std::size_t>(i)] = MakeRef<Rigged>(adversary, i);
  a->SortElements(1);
  EXPECT_LT(adversary.comparisons, 40LL * n * 15);
  for (std::size_t i = 1; i < e.size(); ++i) ASSERT_LE(e[i - 1]->Compare(e[i]), 0);
}

TEST(ArraySort, RealsStringsAndObjects) {
  const Double nan = std::numeric_limits<Double>::quiet_NaN();
  auto d = Array::Create("d"_s, 5);
  auto de = d->Elements<Double>();
  Double in[] = {2.5, nan, -1.0, nan, 0.0};
  std::copy(std::begin(in), std::end(in), de.begin());
  d->SortElements(1);
  EXPECT_EQ(de[0], -1.0);
  EXPECT_EQ(de[1], 0.0);
  EXPECT_EQ(de[2], 2.5);
  EXPECT_TRUE(std::isnan(de[3]) && std::isnan(de[4]));

  auto s = Array::FromStrings({"b"_s, "abc"_s, "B"_s, "ab"_s, "b"_s});
  s->SortElements(1);
  std::vector<std::u16string> sorted;
  for (auto& x : s->Elements<Ref<String>>()) sorted.emplace_back(x->View());
  EXPECT_EQ(sorted, (std::vector<std::u16string>{u"B", u"ab", u"abc", u"b", u"b"}));

  auto objects = Array::Create(":Thing"_s, 4);
  auto oe = objects->Elements<Ref<Object>>();
  oe[0] = MakeRef<Thing>();
  oe[2] = MakeRef<Thing>();
  objects->SortElements(1);
  EXPECT_FALSE(oe[0]);
  EXPECT_FALSE(oe[1]);
  EXPECT_LT(oe[2]->Compare(oe[3]), 0);
}

TEST(ArraySort, ArraysAndFunctionsStay) {
  auto arrays = Array::Create("[i"_s, 2);
  auto inner = Ints({1});
  arrays->At<Ref<Array>>(0) = inner;
  arrays->SortElements(1);
  EXPECT_EQ(arrays->At<Ref<Array>>(0), inner);
  Array::Empty()->SortElements(1);
  EXPECT_EQ(Array::Empty()->Count(), 0);
}

}  // namespace
}  // namespace corvid
