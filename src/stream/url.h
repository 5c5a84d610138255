// Opening streams by name: stream factories, their chain, and OpenUrl.
#pragma once

#include "stream/stream.h"

namespace corvid {

/// A maker of streams for names of the form protocol "::" path. Creating a
/// factory registers it: it goes to the head of the chain, so the newest is
/// asked first. Factories live until the process ends; create them with
/// MakeRef.
class TStreamFactory : public Object {
 public:
  TStreamFactory();

  /// A new stream when the request is this factory's, else Null; never
  /// raises for a request that is not its own. `url` is the object that was
  /// opened, `proto` its protocol in lower case, `path` the rest.
  virtual Ref<TStream> CreateStream(const Ref<Object>& url, const Ref<String>& proto,
                                    const Ref<String>& path, Int readable, Int writeable);

  const Ref<TStreamFactory>& Next() const noexcept { return _succ; }

 private:
  Ref<TStreamFactory> _succ;
};

/// Head of the factory chain (Null before any factory exists).
const Ref<TStreamFactory>& FactoryChain();

/// A stream object gives a new TStreamStream over it; a String without "::"
/// opens as a file; anything else is offered to the factories in chain
/// order. Null when nothing opens it; never raises for that.
Ref<TStream> OpenUrl(const Ref<Object>& url, Int readable, Int writeable);
Ref<TStream> OpenUrlReader(const Ref<Object>& url);
Ref<TStream> OpenUrlWriter(const Ref<Object>& url);

}  // namespace corvid
