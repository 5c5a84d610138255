// Linked lists: doubly linked rings of objects around a sentinel link, the
// enumerator that walks them, and the plain functions over them.
#pragma once

#include "runtime/array.h"
#include "runtime/object.h"

namespace corvid {

class TList;

/// One link of a list. The links of a list and its sentinel form a ring;
/// the sentinel is the link whose value is the link itself, which is how a
/// link knows the end of its list without knowing the list.
///
/// A removed link holds Null for its value and for both neighbours, so it
/// keeps nothing alive, removing it again does nothing, and it is never a
/// place to insert at.
class TLink : public Object {
 public:
  TLink() = default;

  // Own operations, virtual, in a fixed order: a new one goes at the end,
  // so that a subclass built against an older header keeps its table's
  // layout.

  /// The stored object; Null once the link was removed.
  virtual Ref<Object> Value();
  /// The next link, or Null at the end of the list (and for a removed link).
  virtual Ref<TLink> NextLink();
  /// The previous link, or Null at the start of the list (and for a removed
  /// link).
  virtual Ref<TLink> PrevLink();
  /// Takes the link out of its list and drops its value. Does nothing for a
  /// link that is in no list.
  virtual void Remove();

  /// Whether the link is in a list (the sentinel counts).
  bool Linked() const noexcept { return static_cast<bool>(_succ); }
  /// Whether this is a list's sentinel.
  bool IsSentinel() const noexcept { return _value.Get() == this; }

 private:
  friend class TList;
  friend class TListEnum;

  // Set on every link of a ring while a Sort runs over it, so that a change
  // to the ring from inside a compare comes to light. First, where it fills
  // the padding after the object header instead of growing every link.
  bool _sorting = false;
  Ref<Object> _value;
  Ref<TLink> _succ;
  Ref<TLink> _pred;
};

/// A walk over a list's values in order, as a for-each loop makes it.
class TListEnum : public Object {
 public:
  explicit TListEnum(Ref<TLink> first) noexcept : _link(std::move(first)) {}

  // Own operations, virtual, in a fixed order: a new one goes at the end,
  // so that a subclass built against an older header keeps its table's
  // layout.

  /// 1 while a value is left, else 0. A walk whose next link was removed
  /// from the list, or whose list was destroyed, has nothing left.
  virtual Int HasNext();
  /// The next value, and a step past it; Null when nothing is left.
  virtual Ref<Object> NextObject();

 private:
  Ref<TLink> _link;  // the next link to visit
};

/// The order a list is sorted by: negative, zero or positive as `a` goes
/// before, with or after `b`.
using ListCompare = Int (*)(const Ref<Object>& a, const Ref<Object>& b);

/// `a`.Compare(`b`): text order for strings, identity order for other
/// objects. Null is equal only to Null and goes before every object.
Int DefaultCompare(const Ref<Object>& a, const Ref<Object>& b);

/// A doubly linked list of objects (Null included). Equality inside the list
/// is the values' own Compare giving 0 (DefaultCompare), not identity.
/// Positions are 0-based. No count is kept: Count and the searches walk.
///
/// A C++ range-for walks the values through the enumerator:
///
///   for (const Ref<Object>& value : *list) ...
class TList : public Object {
 public:
  /// An empty list: the sentinel alone, linked to itself.
  TList();
  /// Removes every link, then breaks the sentinel's links to itself, so no
  /// link outlives the list unless someone holds it.
  ~TList() override;

  // Own operations, virtual, in a fixed order: a new one goes at the end,
  // so that a subclass built against an older header keeps its table's
  // layout.

  /// Does nothing. Returns 0.
  virtual Int _pad();
  /// Removes every link.
  virtual void Clear();
  /// 1 when the list holds no link, else 0.
  virtual Int IsEmpty();
  /// 1 when some value equals `value`, else 0.
  virtual Int Contains(const Ref<Object>& value);
  /// A new first link holding `value`.
  virtual Ref<TLink> AddFirst(const Ref<Object>& value);
  /// A new last link holding `value`.
  virtual Ref<TLink> AddLast(const Ref<Object>& value);
  /// The first / last value; Null when the list is empty.
  virtual Ref<Object> First();
  virtual Ref<Object> Last();
  /// Removes the first / last link and returns the value it held; Null when
  /// the list is empty.
  virtual Ref<Object> RemoveFirst();
  virtual Ref<Object> RemoveLast();
  /// The first / last link; Null when the list is empty.
  virtual Ref<TLink> FirstLink();
  virtual Ref<TLink> LastLink();
  /// A new link holding `value`, placed before `succ` in the list `succ` is
  /// in. Raises TNullObjectException for a Null `succ` and a runtime error
  /// for a link that is in no list.
  virtual Ref<TLink> InsertBeforeLink(const Ref<Object>& value, const Ref<TLink>& succ);
  /// The same, placed after `pred`.
  virtual Ref<TLink> InsertAfterLink(const Ref<Object>& value, const Ref<TLink>& pred);
  /// The first link whose value equals `value`, or Null.
  virtual Ref<TLink> FindLink(const Ref<Object>& value);
  /// The value at position `index`. Raises the runtime error "List index
  /// out of range" outside 0 .. Count() - 1.
  virtual Ref<Object> ValueAtIndex(Int index);
  /// The number of links.
  virtual Int Count();
  /// Removes the first link whose value equals `value`; 1 when there was
  /// one, else 0.
  virtual Int Remove(const Ref<Object>& value);
  /// Trades contents with `other` in constant time. Returns 0. Raises
  /// TNullObjectException for a Null `other`.
  virtual Int Swap(const Ref<TList>& other);
  /// A new list of the same values in the same order.
  virtual Ref<TList> Copy();
  /// Reverses the order in place. Returns 0.
  virtual Int Reverse();
  /// A new list of the same values in reverse order.
  virtual Ref<TList> Reversed();
  /// Sorts in place by `compare` (DefaultCompare when Null), ascending when
  /// `ascending` is non-zero, else descending. Stable: equal values keep
  /// their order either way. Links are relinked, never made or freed.
  /// Returns 0. When `compare` raises, the list keeps every link (in an
  /// order partly sorted) and the error passes on. The list is a whole ring
  /// whenever `compare` runs; if `compare` changes it (adds, removes,
  /// reverses or sorts it), the sort stops and raises the runtime error
  /// "List changed while it was being sorted", the list holding its links
  /// then in some order.
  virtual Int Sort(Int ascending, ListCompare compare);
  /// A walk from the first value.
  virtual Ref<TListEnum> ObjectEnumerator();
  /// The values in list order as an object array (":Object"); the shared
  /// empty array when the list is empty.
  virtual Ref<Array> ToArray();

  /// A new list of the elements of an object array, in order. Null reads as
  /// the empty array; an array of another element type raises a runtime
  /// error.
  static Ref<TList> FromArray(const Ref<Array>& array);

  /// The input iterator of a range-for, over ObjectEnumerator.
  class Iterator {
   public:
    struct End {};
    explicit Iterator(Ref<TListEnum> walk) : walk_(std::move(walk)) { Advance(); }
    const Ref<Object>& operator*() const noexcept { return current_; }
    Iterator& operator++() {
      Advance();
      return *this;
    }
    bool operator==(End) const noexcept { return done_; }

   private:
    void Advance();

    Ref<TListEnum> walk_;
    Ref<Object> current_;
    bool done_ = false;
  };
  Iterator begin() { return Iterator(ObjectEnumerator()); }
  Iterator::End end() const noexcept { return {}; }

 private:
  Ref<TLink> Link(const Ref<Object>& value, TLink& pred, TLink& succ);
  static void MoveBefore(TLink& moved, TLink& succ) noexcept;

  Ref<TLink> _head;  // the sentinel
};

/// A new empty list.
Ref<TList> ListNew();
// The plain functions below take the list (or link) first and forward to
// one method, with its result and errors; a Null list or link raises
// TNullObjectException. ListClear is Clear, ListCount Count, ListEmpty
// IsEmpty, ListHas Contains, ListPushFront AddFirst, ListPushBack AddLast,
// ListLinkOf FindLink, ListDrop Remove, ListExchange Swap, ListFlip Reverse,
// ListOrder Sort, ListAsArray ToArray, ListOfArray TList::FromArray and
// LinkDrop TLink::Remove.
void ListClear(const Ref<TList>& list);
Int ListCount(const Ref<TList>& list);
Int ListEmpty(const Ref<TList>& list);
Int ListHas(const Ref<TList>& list, const Ref<Object>& value);
Ref<TLink> ListPushFront(const Ref<TList>& list, const Ref<Object>& value);
Ref<TLink> ListPushBack(const Ref<TList>& list, const Ref<Object>& value);
Ref<TLink> ListLinkOf(const Ref<TList>& list, const Ref<Object>& value);
Int ListDrop(const Ref<TList>& list, const Ref<Object>& value);
Int ListExchange(const Ref<TList>& list, const Ref<TList>& other);
Int ListFlip(const Ref<TList>& list);
Int ListOrder(const Ref<TList>& list, Int ascending, ListCompare compare);
Ref<Array> ListAsArray(const Ref<TList>& list);
Ref<TList> ListOfArray(const Ref<Array>& array);
void LinkDrop(const Ref<TLink>& link);

}  // namespace corvid
