// Tests for linked lists: answers of the empty list, positions, equality by
// Compare, removal, sorting, reversal, swapping, links at the ends, arrays,
// the range-for walk and what a destroyed list leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <utility>
#include <vector>

#include "runtime/array.h"
#include "runtime/error.h"
#include "runtime/list.h"
#include "support/raised.h"

namespace corvid {
namespace {

using testing::RaisedBy;
using testing::Raises;
using Values = std::vector<Ref<Object>>;

// A value with a sort key that counts the living objects of its class.
class Item : public Object {
 public:
  explicit Item(Int key = 0) : key(key) { ++live; }
  ~Item() override { --live; }
  const Int key;
  static inline int live = 0;
};

Ref<Object> I(Int key) { return MakeRef<Item>(key); }
Ref<Object> S(const char* text) { return String::FromNarrowZ(text); }

Int KeyOf(const Ref<Object>& v) { return CastTo<Item>(v)->key; }
Int ByKey(const Ref<Object>& a, const Ref<Object>& b) { return KeyOf(a) - KeyOf(b); }

Ref<TList> ListOf(const Values& values) {
  Ref<TList> list = ListNew();
  for (const auto& v : values) list->AddLast(v);
  return list;
}

// The values front to back; the walk back from the last link must agree,
// and so must Count.
Values Contents(const Ref<TList>& list) {
  Values forward, backward;
  for (const Ref<Object>& v : *list) forward.push_back(v);
  for (Ref<TLink> l = list->LastLink(); l; l = l->PrevLink()) backward.insert(backward.begin(), l->Value());
  EXPECT_EQ(forward, backward);
  EXPECT_EQ(list->Count(), static_cast<Int>(forward.size()));
  EXPECT_EQ(list->IsEmpty(), forward.empty() ? 1 : 0);
  return forward;
}

bool OutOfRange(const Ref<Object>& error) {
  auto runtime = CastTo<TRuntimeException>(error);
  return runtime && Equals(runtime->error, "List index out of range"_s);
}

TEST(List, EmptyListAnswers) {
  Ref<TList> list = ListNew();
  EXPECT_EQ(list->First(), nullptr);
  EXPECT_EQ(list->Last(), nullptr);
  EXPECT_EQ(list->RemoveFirst(), nullptr);
  EXPECT_EQ(list->RemoveLast(), nullptr);
  EXPECT_EQ(list->FirstLink(), nullptr);
  EXPECT_EQ(list->LastLink(), nullptr);
  EXPECT_EQ(list->ToArray(), Array::Empty());
  EXPECT_EQ(list->ObjectEnumerator()->NextObject(), nullptr);
  EXPECT_TRUE(Contents(list).empty());
  EXPECT_TRUE(OutOfRange(RaisedBy([&] { list->ValueAtIndex(0); })));
}

TEST(List, ValueAtIndex) {
  Values v = {I(1), I(2), I(3)};
  Ref<TList> list = ListOf(v);
  for (Int index : {0, 1, 2}) EXPECT_EQ(list->ValueAtIndex(index), v[static_cast<size_t>(index)]);
  for (Int index : {-1, 3, INT32_MIN, INT32_MAX})
    EXPECT_TRUE(OutOfRange(RaisedBy([&] { list->ValueAtIndex(index); }))) << index;
}

TEST(List, EqualityIsCompareNotIdentity) {
  Ref<Object> a = S("a"), thing = MakeRef<Object>();
  Ref<TList> list = ListOf({S("b"), a, thing, nullptr, S("a")});
  struct Row {
    Ref<Object> probe;
    Ref<Object> found;  // Null: not in the list
  } rows[] = {
      {S("a"), a},  // another object, the same text
      {S("c"), nullptr},
      {thing, thing},
      {MakeRef<Object>(), nullptr},  // other objects match only themselves
      {nullptr, nullptr},            // the stored Null
  };
  for (const Row& row : rows) {
    Ref<TLink> link = list->FindLink(row.probe);
    bool expected = row.found || !row.probe;
    EXPECT_EQ(list->Contains(row.probe), expected ? 1 : 0);
    ASSERT_EQ(static_cast<bool>(link), expected);
    if (link) {
      EXPECT_EQ(link->Value(), row.found);
    }
  }
  // Only the first match goes.
  EXPECT_EQ(list->Remove(S("a")), 1);
  EXPECT_EQ(Contents(list).size(), 4u);
  EXPECT_TRUE(Equals(CastTo<String>(list->Last()), "a"_s));
  EXPECT_EQ(list->Remove(S("c")), 0);
}

std::vector<std::pair<Int, Int>> calls;
Int LoggedByKey(const Ref<Object>& a, const Ref<Object>& b) {
  calls.emplace_back(KeyOf(a), KeyOf(b));
  return ByKey(a, b);
}
Int MostNegativeWhenBefore(const Ref<Object>& a, const Ref<Object>& b) {
  Int order = ByKey(a, b);
  return order < 0 ? INT32_MIN : order;
}

TEST(ListSort, StableBothWaysWithTheEarlierRunFirst) {
  Ref<Object> a1 = S("a"), a2 = S("a");
  Ref<Object> b = S("b"), d = S("d");
  Ref<TList> up = ListOf({b, a1, d, a2}), down = ListOf({b, a1, d, a2});
  up->Sort(1, nullptr);
  down->Sort(0, DefaultCompare);
  EXPECT_EQ(Contents(up), (Values{a1, a2, b, d}));
  EXPECT_EQ(Contents(down), (Values{d, b, a1, a2}));
  // Null goes before every object.
  up->AddFirst(nullptr);
  up->Sort(0, nullptr);
  EXPECT_EQ(up->Last(), nullptr);

  struct Row {
    Int ascending;
    std::vector<std::pair<Int, Int>> calls;
    std::vector<Int> sorted;
  } rows[] = {
      {1, {{3, 1}, {1, 2}, {3, 2}}, {1, 2, 3}},
      {0, {{3, 1}, {3, 2}, {1, 2}}, {3, 2, 1}},
  };
  for (const Row& row : rows) {
    Ref<TList> list = ListOf({I(3), I(1), I(2)});
    calls.clear();
    list->Sort(row.ascending, LoggedByKey);
    EXPECT_EQ(calls, row.calls);
    std::vector<Int> keys;
    for (const auto& v : Contents(list)) keys.push_back(KeyOf(v));
    EXPECT_EQ(keys, row.sorted);
    // The most negative order still means "before" when descending.
    list->Sort(0, MostNegativeWhenBefore);
    EXPECT_EQ(KeyOf(list->First()), 3);
    EXPECT_EQ(KeyOf(list->Last()), 1);
  }
}

Int RaisesOnThird(const Ref<Object>& a, const Ref<Object>& b) {
  if (calls.size() == 2) RaiseRuntimeError("no order"_s);
  return LoggedByKey(a, b);
}

TEST(ListSort, RaisingCompareKeepsEveryLink) {
  Values v;
  for (Int key : {5, 3, 8, 1, 9, 2, 7}) v.push_back(I(key));
  Ref<TList> list = ListOf(v);
  calls.clear();
  EXPECT_TRUE(Raises<TRuntimeException>([&] { list->Sort(1, RaisesOnThird); }));
  Values after = Contents(list);
  EXPECT_TRUE(std::is_permutation(after.begin(), after.end(), v.begin(), v.end()));
}

// The list a compare works on, and what it does at its third call, once
// some links have moved.
Ref<TList> sorting;
std::function<void()> atThirdCompare;
Int ChangesAtThird(const Ref<Object>& a, const Ref<Object>& b) {
  if (calls.size() == 2 && atThirdCompare) atThirdCompare();
  return LoggedByKey(a, b);
}

// A compare that changes the list it orders leaves Sort nothing sound to
// go on: the sort stops with an error, and the list keeps a whole ring of
// the links it then holds. Reading the list, or changing another, is no
// such change.
TEST(ListSort, CompareThatChangesTheListStopsTheSort) {
  Values v;
  for (Int key : {5, 3, 8, 1, 9, 2, 7}) v.push_back(I(key));
  Values removed, added;
  Ref<TList> other = ListNew();
  struct Row {
    const char* what;
    std::function<void()> change;
    bool raises;
  } rows[] = {
      {"Clear",
       [&] {
         removed = v;
         sorting->Clear();
       },
       true},
      {"RemoveFirst", [&] { removed.push_back(sorting->RemoveFirst()); }, true},
      {"removes the value it compares, adds another",
       [&] {
         removed.push_back(v[4]);
         sorting->Remove(v[4]);
         added.push_back(I(4));
         sorting->AddLast(added.back());
       },
       true},
      {"Reverse", [] { sorting->Reverse(); }, true},
      {"sorts it again", [] { sorting->Sort(1, ByKey); }, true},
      {"reads it", [] { EXPECT_EQ(Contents(sorting).size(), 7u); }, false},
      {"changes another list",
       [&] {
         other->AddLast(I(0));
         other->RemoveFirst();
         sorting->Copy()->Clear();
       },
       false},
  };
  for (const Row& row : rows) {
    sorting = ListOf(v);
    removed.clear();
    added.clear();
    calls.clear();
    atThirdCompare = row.change;
    Ref<Object> error = RaisedBy([] { sorting->Sort(1, ChangesAtThird); });
    atThirdCompare = nullptr;
    auto runtime = CastTo<TRuntimeException>(error);
    EXPECT_EQ(static_cast<bool>(runtime), row.raises) << row.what;
    if (runtime) {
      EXPECT_TRUE(Equals(runtime->error, "List changed while it was being sorted"_s)) << row.what;
    }

    Values expected = v;
    for (const auto& gone : removed)
      expected.erase(std::find(expected.begin(), expected.end(), gone));
    expected.insert(expected.end(), added.begin(), added.end());
    Values after = Contents(sorting);
    EXPECT_TRUE(std::is_permutation(after.begin(), after.end(), expected.begin(), expected.end()))
        << row.what;
    // Still a list that sorts.
    sorting->Sort(1, ByKey);
    std::sort(expected.begin(), expected.end(),
              [](const auto& x, const auto& y) { return ByKey(x, y) < 0; });
    EXPECT_EQ(Contents(sorting), expected) << row.what;
  }
  sorting = nullptr;
}

TEST(List, ReverseSwapAndEnds) {
  Values v = {I(1), I(2), I(3)};
  Ref<TList> list = ListOf(v);
  EXPECT_EQ(Contents(list->Reversed()), (Values{v[2], v[1], v[0]}));
  EXPECT_EQ(Contents(list), v);
  list->Reverse();
  EXPECT_EQ(Contents(list), (Values{v[2], v[1], v[0]}));
  list->Reverse();
  EXPECT_EQ(Contents(list), v);
  EXPECT_EQ(Contents(list->Copy()), v);

  EXPECT_EQ(list->FirstLink()->PrevLink(), nullptr);
  EXPECT_EQ(list->LastLink()->NextLink(), nullptr);
  EXPECT_EQ(list->FirstLink()->NextLink()->NextLink(), list->LastLink());

  Ref<TList> empty = ListNew();
  EXPECT_EQ(list->Swap(empty), 0);
  EXPECT_TRUE(Contents(list).empty());
  EXPECT_EQ(Contents(empty), v);
}

TEST(ListLink, RemovingTwiceLeavesTheListAlone) {
  Ref<Object> a = I(1), b = I(2), c = I(3), x = I(4);
  Ref<TList> list = ListOf({a, b, c});
  Ref<TLink> link = list->FindLink(b);
  LinkDrop(link);
  list->InsertAfterLink(x, list->FirstLink());
  link->Remove();
  EXPECT_EQ(Contents(list), (Values{a, x, c}));
  EXPECT_EQ(link->Value(), nullptr);
  EXPECT_EQ(link->NextLink(), nullptr);
  EXPECT_EQ(link->PrevLink(), nullptr);
  // A removed link is no place to insert at.
  EXPECT_TRUE(Raises<TRuntimeException>([&] { list->InsertBeforeLink(b, link); }));
  EXPECT_TRUE(Raises<TNullObjectException>([&] { list->InsertAfterLink(b, nullptr); }));
  EXPECT_EQ(Contents(list), (Values{a, x, c}));
}

TEST(List, ArraysBothWays) {
  Values v = {I(1), nullptr, S("s")};
  Ref<Array> array = ListOf(v)->ToArray();
  EXPECT_TRUE(Equals(array->TypeCode(), ":Object"_s));
  auto elements = array->Elements<Ref<Object>>();
  EXPECT_EQ(Values(elements.begin(), elements.end()), v);
  EXPECT_EQ(Contents(TList::FromArray(array)), v);
  EXPECT_TRUE(Contents(ListOfArray(Array::Empty())).empty());
  EXPECT_TRUE(Contents(ListOfArray(nullptr)).empty());
  EXPECT_TRUE(Raises<TRuntimeException>([] { ListOfArray(Array::FromStrings({"a"_s})); }));
}

// Every operation against a vector that does the same.
TEST(List, RandomOperationsMatchAVector) {
  std::mt19937 random(12);
  Ref<TList> list = ListNew(), other = ListNew();
  Values model, otherModel;
  for (int step = 0; step < 3000; ++step) {
    Ref<Object> v = I(static_cast<Int>(random() % 8));
    auto at = model.begin() + static_cast<long>(model.empty() ? 0 : random() % model.size());
    Int ascending = static_cast<Int>(random() % 2);
    switch (random() % 10) {
      case 0:
        ListPushFront(list, v);
        model.insert(model.begin(), v);
        break;
      case 1:
      case 2:
        ListPushBack(list, v);
        model.push_back(v);
        break;
      case 3:
        EXPECT_EQ(list->RemoveFirst(), model.empty() ? nullptr : model.front());
        if (!model.empty()) model.erase(model.begin());
        break;
      case 4:
        EXPECT_EQ(list->RemoveLast(), model.empty() ? nullptr : model.back());
        if (!model.empty()) model.pop_back();
        break;
      case 5:
        if (model.empty()) break;
        EXPECT_EQ(ListDrop(list, *at), 1);
        model.erase(at);
        break;
      case 6:
        if (model.empty()) break;
        if (ascending) {
          list->InsertAfterLink(v, ListLinkOf(list, *at));
          ++at;
        } else {
          list->InsertBeforeLink(v, ListLinkOf(list, *at));
        }
        model.insert(at, v);
        break;
      case 7:
        ListFlip(list);
        std::reverse(model.begin(), model.end());
        break;
      case 8:
        ListOrder(list, ascending, ByKey);
        std::stable_sort(model.begin(), model.end(), [&](const auto& x, const auto& y) {
          return ascending ? ByKey(x, y) < 0 : ByKey(x, y) > 0;
        });
        break;
      case 9:
        ListExchange(list, other);
        std::swap(model, otherModel);
        if (random() % 10 == 0) {
          ListClear(list);
          model.clear();
        }
        break;
    }
    ASSERT_EQ(Contents(list), model) << "step " << step;
  }
}

TEST(ListLifetime, DestroyingAListFreesEveryLinkAndValue) {
  int living = Item::live;
  Ref<TLink> kept;
  Ref<TListEnum> walk;
  {
    Ref<TList> list = ListNew(), other = ListNew(), outer = ListNew();
    for (Int i = 0; i < 1000; ++i) list->AddLast(I(i % 10));
    list->Sort(0, ByKey);
    list->Reverse();
    list->Swap(other);
    outer->AddLast(other);  // a list inside a list
    kept = other->FirstLink();
    walk = other->ObjectEnumerator();
    walk->NextObject();
  }
  EXPECT_EQ(Item::live, living);
  EXPECT_EQ(kept->RefCount(), 1);
  EXPECT_EQ(kept->Value(), nullptr);
  EXPECT_EQ(walk->HasNext(), 0);
  EXPECT_EQ(walk->NextObject(), nullptr);
  // A long list goes link by link, not by a chain of nested releases.
  kept = nullptr;
  {
    Ref<TList> list = ListNew();
    for (Int i = 0; i < 1000000; ++i) list->AddLast(nullptr);
    kept = list->FirstLink();
  }
  EXPECT_EQ(kept->RefCount(), 1);
}

}  // namespace
}  // namespace corvid
