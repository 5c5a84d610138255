// Opening streams by name: stream factories, their chain, and OpenUrl.
#pragma once

#include "stream/stream.h"

namespace corvid {

/// A maker of streams for names of the form protocol "::" path. Creating a
/// factory registers it: it goes to the head of the chain, so the newest is
/// asked first. Factories live until the process ends and cannot be
/// removed; create them with MakeRef, never on the stack.
class TStreamFactory : public Object {
 public:
  /// Puts the new factory at the head of the chain.
  TStreamFactory();

  /// A new stream when the request is this factory's, else Null; never
  /// raises for a request that is not its own. `url` is the object that was
  /// opened, `proto` its protocol in lower case, `path` the rest. The base
  /// raises the abstract-method error.
  virtual Ref<TStream> CreateStream(const Ref<Object>& url, const Ref<String>& proto,
                                    const Ref<String>& path, Int readable, Int writeable);

  /// The factory registered before this one; Null for the oldest.
  const Ref<TStreamFactory>& Next() const noexcept { return _succ; }

 private:
  Ref<TStreamFactory> _succ;
};

/// Head of the factory chain (Null before any factory exists).
const Ref<TStreamFactory>& FactoryChain();

/// A stream object gives a new TStreamStream over it (the flags are
/// ignored); a non-empty String without "::" opens as a file and no factory
/// is asked; anything else is offered to the factories, newest first, with
/// the protocol (before the first "::", lower-cased) and the path (the rest,
/// unchanged). The flags are passed on, not checked. Null when nothing
/// opens it; never raises for that. Names whose protocols nest more than 64
/// deep open nothing.
Ref<TStream> OpenUrl(const Ref<Object>& url, Int readable, Int writeable);
/// OpenUrl(url, 1, 0).
Ref<TStream> OpenUrlReader(const Ref<Object>& url);
/// OpenUrl(url, 0, 1).
Ref<TStream> OpenUrlWriter(const Ref<Object>& url);

}  // namespace corvid
