#include "runtime/list.h"

#include <exception>
#include <utility>

#include "runtime/error.h"

namespace corvid {

Ref<Object> TLink::Value() { return _value; }

Ref<TLink> TLink::NextLink() {
  if (!_succ || _succ->IsSentinel()) return nullptr;
  return _succ;
}

Ref<TLink> TLink::PrevLink() {
  if (!_pred || _pred->IsSentinel()) return nullptr;
  return _pred;
}

void TLink::Remove() {
  // The sentinel leaves its ring only when its list goes.
  if (!Linked() || IsSentinel()) return;
  // The neighbours may hold the only references to this link.
  Ref<TLink> self(this);
  Ref<TLink> succ = std::move(_succ);
  Ref<TLink> pred = std::move(_pred);
  succ->_pred = pred;
  pred->_succ = std::move(succ);
  // Last, so that whatever the value's release runs finds the ring whole.
  _value = nullptr;
}

Int TListEnum::HasNext() { return _link && _link->Linked() && !_link->IsSentinel() ? 1 : 0; }

Ref<Object> TListEnum::NextObject() {
  if (!HasNext()) return nullptr;
  Ref<Object> value = _link->_value;
  _link = _link->_succ;
  return value;
}

void TList::Iterator::Advance() {
  done_ = !walk_->HasNext();
  current_ = done_ ? nullptr : walk_->NextObject();
}

Int DefaultCompare(const Ref<Object>& a, const Ref<Object>& b) {
  if (!a) return b ? -1 : 0;
  return a->Compare(b);
}

TList::TList() : _head(MakeRef<TLink>()) {
  _head->_value = _head;
  _head->_succ = _head;
  _head->_pred = _head;
}

TList::~TList() {
  Clear();
  _head->_value = nullptr;
  _head->_succ = nullptr;
  _head->_pred = nullptr;
}

Int TList::_pad() { return 0; }

void TList::Clear() {
  while (_head->_succ != _head) _head->_succ->Remove();
}

Int TList::IsEmpty() { return _head->_succ == _head ? 1 : 0; }

Int TList::Contains(const Ref<Object>& value) { return FindLink(value) ? 1 : 0; }

Ref<TLink> TList::Link(const Ref<Object>& value, TLink& pred, TLink& succ) {
  Ref<TLink> link = MakeRef<TLink>();
  link->_value = value;
  link->_pred = Ref<TLink>(&pred);
  link->_succ = Ref<TLink>(&succ);
  pred._succ = link;
  succ._pred = link;
  return link;
}

Ref<TLink> TList::AddFirst(const Ref<Object>& value) { return Link(value, *_head, *_head->_succ); }

Ref<TLink> TList::AddLast(const Ref<Object>& value) { return Link(value, *_head->_pred, *_head); }

Ref<Object> TList::First() { return IsEmpty() ? nullptr : _head->_succ->_value; }
Ref<Object> TList::Last() { return IsEmpty() ? nullptr : _head->_pred->_value; }

Ref<Object> TList::RemoveFirst() {
  if (IsEmpty()) return nullptr;
  Ref<TLink> link = _head->_succ;
  Ref<Object> value = link->_value;
  link->Remove();
  return value;
}

Ref<Object> TList::RemoveLast() {
  if (IsEmpty()) return nullptr;
  Ref<TLink> link = _head->_pred;
  Ref<Object> value = link->_value;
  link->Remove();
  return value;
}

Ref<TLink> TList::FirstLink() { return IsEmpty() ? nullptr : _head->_succ; }
Ref<TLink> TList::LastLink() { return IsEmpty() ? nullptr : _head->_pred; }

namespace {

// A place to insert at must be in a list: a removed link has no neighbours
// to join the new one to.
TLink& Anchor(const Ref<TLink>& link) {
  TLink& anchor = Deref(link);
  if (!anchor.Linked()) RaiseRuntimeError("Link is not in a list"_s);
  return anchor;
}

}  // namespace

Ref<TLink> TList::InsertBeforeLink(const Ref<Object>& value, const Ref<TLink>& succ) {
  TLink& anchor = Anchor(succ);
  return Link(value, *anchor._pred, anchor);
}

Ref<TLink> TList::InsertAfterLink(const Ref<Object>& value, const Ref<TLink>& pred) {
  TLink& anchor = Anchor(pred);
  return Link(value, anchor, *anchor._succ);
}

Ref<TLink> TList::FindLink(const Ref<Object>& value) {
  // A value's Compare is foreign code and may change the list; the walk
  // holds the link it stands on and ends if that link leaves the list.
  Ref<TLink> head = _head;
  for (Ref<TLink> link = head->_succ; link && link != head; link = link->_succ)
    if (DefaultCompare(link->_value, value) == 0) return link;
  return nullptr;
}

Ref<Object> TList::ValueAtIndex(Int index) {
  const TLink* head = _head.Get();
  const TLink* link = head->_succ.Get();
  for (Int i = 0; i < index && link != head; ++i) link = link->_succ.Get();
  if (index < 0 || link == head) RaiseRuntimeError("List index out of range"_s);
  return link->_value;
}

Int TList::Count() {
  Int n = 0;
  for (const TLink* link = _head->_succ.Get(); link != _head.Get(); link = link->_succ.Get()) ++n;
  return n;
}

Int TList::Remove(const Ref<Object>& value) {
  Ref<TLink> link = FindLink(value);
  if (!link) return 0;
  link->Remove();
  return 1;
}

Int TList::Swap(const Ref<TList>& other) {
  std::swap(_head, Deref(other)._head);
  return 0;
}

Ref<TList> TList::Copy() {
  Ref<TList> copy = MakeRef<TList>();
  for (const TLink* link = _head->_succ.Get(); link != _head.Get(); link = link->_succ.Get())
    copy->AddLast(link->_value);
  return copy;
}

Int TList::Reverse() {
  TLink* link = _head.Get();
  do {
    std::swap(link->_succ, link->_pred);
    link = link->_pred.Get();  // the former successor
  } while (link != _head.Get());
  return 0;
}

Ref<TList> TList::Reversed() {
  Ref<TList> reversed = MakeRef<TList>();
  for (const TLink* link = _head->_succ.Get(); link != _head.Get(); link = link->_succ.Get())
    reversed->AddFirst(link->_value);
  return reversed;
}

// Bottom-up merge sort over the ring: each pass merges neighbouring runs of
// k links into runs of 2k, appending the taken links one by one after the
// tail, until a pass makes at most one merge. The run heads are held in
// Refs because relinking may drop the ring's last references to them while
// they wait.
Int TList::Sort(Int ascending, ListCompare compare) {
  if (!compare) compare = DefaultCompare;
  const Ref<TLink> head = _head;
  // After a raising compare the pass ends without comparing (taking the
  // runs in their current order), so the ring is closed before the error
  // passes on.
  std::exception_ptr failure;
  auto secondFirst = [&](const Ref<Object>& a, const Ref<Object>& b) {
    if (failure) return false;
    try {
      Int order = compare(a, b);
      // Tested by sign rather than by negating, which would wrap for the
      // most negative Int.
      return ascending != 0 ? order > 0 : order < 0;
    } catch (...) {
      failure = std::current_exception();
      return false;
    }
  };
  for (Long k = 1;; k *= 2) {
    Ref<TLink> tail = head;
    Ref<TLink> p = head->_succ;
    Int merges = 0;
    while (p != head) {
      ++merges;
      Ref<TLink> q = p->_succ;
      Long pn = 1;
      while (pn < k && q != head) {
        ++pn;
        q = q->_succ;
      }
      Long qn = k;
      for (;;) {
        Ref<TLink> taken;
        bool qLeft = qn > 0 && q != head;
        if (pn > 0 && (!qLeft || !secondFirst(p->_value, q->_value))) {
          taken = p;
          p = p->_succ;
          --pn;
        } else if (qLeft) {
          taken = q;
          q = q->_succ;
          --qn;
        } else {
          break;
        }
        taken->_pred = tail;
        tail->_succ = taken;
        tail = std::move(taken);
      }
      p = q;
    }
    tail->_succ = head;
    head->_pred = std::move(tail);
    if (merges <= 1 || failure) break;
  }
  if (failure) std::rethrow_exception(failure);
  return 0;
}

Ref<TListEnum> TList::ObjectEnumerator() { return MakeRef<TListEnum>(_head->_succ); }

Ref<Array> TList::ToArray() {
  Int n = Count();
  if (n == 0) return Array::Empty();
  Ref<Array> array = Array::Create(":Object"_s, n);
  auto out = array->Elements<Ref<Object>>();
  std::size_t i = 0;
  for (const TLink* link = _head->_succ.Get(); link != _head.Get(); link = link->_succ.Get())
    out[i++] = link->_value;
  return array;
}

Ref<TList> TList::FromArray(const Ref<Array>& array) {
  Ref<TList> list = MakeRef<TList>();
  if (!array) return list;
  for (const Ref<Object>& value : array->Elements<Ref<Object>>()) list->AddLast(value);
  return list;
}

Ref<TList> ListNew() { return MakeRef<TList>(); }
void ListClear(const Ref<TList>& list) { Deref(list).Clear(); }
Int ListCount(const Ref<TList>& list) { return Deref(list).Count(); }
Int ListEmpty(const Ref<TList>& list) { return Deref(list).IsEmpty(); }
Int ListHas(const Ref<TList>& list, const Ref<Object>& value) { return Deref(list).Contains(value); }

Ref<TLink> ListPushFront(const Ref<TList>& list, const Ref<Object>& value) {
  return Deref(list).AddFirst(value);
}

Ref<TLink> ListPushBack(const Ref<TList>& list, const Ref<Object>& value) {
  return Deref(list).AddLast(value);
}

Ref<TLink> ListLinkOf(const Ref<TList>& list, const Ref<Object>& value) {
  return Deref(list).FindLink(value);
}

Int ListDrop(const Ref<TList>& list, const Ref<Object>& value) { return Deref(list).Remove(value); }

Int ListExchange(const Ref<TList>& list, const Ref<TList>& other) {
  return Deref(list).Swap(other);
}

Int ListFlip(const Ref<TList>& list) { return Deref(list).Reverse(); }

Int ListOrder(const Ref<TList>& list, Int ascending, ListCompare compare) {
  return Deref(list).Sort(ascending, compare);
}

Ref<Array> ListAsArray(const Ref<TList>& list) { return Deref(list).ToArray(); }
Ref<TList> ListOfArray(const Ref<Array>& array) { return TList::FromArray(array); }
void LinkDrop(const Ref<TLink>& link) { Deref(link).Remove(); }

}  // namespace corvid
