#include "runtime/list.h"

#include <cstdint>
#include <utility>

#include "runtime/error.h"

namespace corvid {

namespace {

// Counts the changes made to rings that a Sort runs over, by anything but
// that Sort; a compare after which it moved has changed some sorted ring.
thread_local std::uint64_t sortedRingChanges = 0;

}  // namespace

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
  if (_sorting) {
    ++sortedRingChanges;
    _sorting = false;
  }
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
  if (pred._sorting) ++sortedRingChanges;
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
  if (_head->_sorting) ++sortedRingChanges;
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

// Takes `moved` out of the ring and puts it back just before `succ`, by
// rotating references between the five links concerned: every link keeps
// as many references from its neighbours as before, so none is released,
// and no count changes on the way.
void TList::MoveBefore(TLink& moved, TLink& succ) noexcept {
  TLink& pred = *succ._pred;
  TLink& movedPred = *moved._pred;
  TLink& movedSucc = *moved._succ;
  std::swap(pred._succ, movedPred._succ);
  std::swap(movedPred._succ, moved._succ);
  std::swap(succ._pred, movedSucc._pred);
  std::swap(movedSucc._pred, moved._pred);
}

namespace {

const Ref<String>& ChangedWhileSorted() {
  static const Ref<String> message = "List changed while it was being sorted"_s;
  return message;
}

}  // namespace

// Bottom-up merge sort over the ring: each pass merges neighbouring runs of
// k links into runs of 2k, until a pass makes at most one merge. A merge
// moves each link of the second run that goes first to just before the
// head of the first run, so the ring is whole whenever the compare runs,
// which may be foreign code that reads the list or changes it. A change
// ends the sort before the walk goes on through links that may have left
// the ring. Until then the ring holds every link the walk stands on, so
// the walk holds no references of its own.
Int TList::Sort(Int ascending, ListCompare compare) {
  if (!compare) compare = DefaultCompare;
  const Ref<TLink> head = _head;
  TLink* const end = head.Get();
  if (end->_sorting) RaiseRuntimeError(ChangedWhileSorted());
  TLink* link = end;
  do {
    link->_sorting = true;
    link = link->_succ.Get();
  } while (link != end);
  // However the sort ends. A compare that destroyed the list left the
  // sentinel without a ring, and every other link already unmarked.
  struct Unmark {
    TLink* end;
    ~Unmark() {
      TLink* link = end;
      do {
        link->_sorting = false;
        link = link->_succ.Get();
      } while (link && link != end);
    }
  } unmark{end};

  const std::uint64_t changes = sortedRingChanges;
  auto secondFirst = [&](const TLink& p, const TLink& q) {
    // Copies, so the values stay what they were while the compare runs,
    // even if it takes their links out of the list.
    Ref<Object> a = p._value, b = q._value;
    Int order = compare(a, b);
    if (sortedRingChanges != changes) RaiseRuntimeError(ChangedWhileSorted());
    // Tested by sign rather than by negating, which would wrap for the
    // most negative Int.
    return ascending != 0 ? order > 0 : order < 0;
  };
  for (Long k = 1;; k *= 2) {
    TLink* p = end->_succ.Get();
    Int merges = 0;
    while (p != end) {
      ++merges;
      TLink* q = p->_succ.Get();
      Long pn = 1;
      while (pn < k && q != end) {
        ++pn;
        q = q->_succ.Get();
      }
      Long qn = k;
      while (pn > 0 && qn > 0 && q != end) {
        if (secondFirst(*p, *q)) {
          TLink* next = q->_succ.Get();
          MoveBefore(*q, *p);
          q = next;
          --qn;
        } else {
          p = p->_succ.Get();
          --pn;
        }
      }
      // What is left of either run already stands in place, the first
      // run's rest just before q.
      while (qn > 0 && q != end) {
        q = q->_succ.Get();
        --qn;
      }
      p = q;
    }
    if (merges <= 1) break;
  }
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
