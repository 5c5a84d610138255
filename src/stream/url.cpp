#include "stream/url.h"

#include "stream/cstream.h"

namespace corvid {

namespace {

// Never destroyed: factories are asked while the process exits, too.
Ref<TStreamFactory>& ChainHead() {
  static NoDestroy<Ref<TStreamFactory>> head;
  return head.get();
}

// Factories that open their path through OpenUrl again make protocols nest
// ("utf8::bigendian::file"). Names nested deeper than this are refused: each
// level copies the rest of the name and goes down the chain once more, so a
// hostile name would cost stack and memory without end.
constexpr Int kMaxNesting = 64;
thread_local Int nesting = 0;

class NestingGuard {
 public:
  NestingGuard() noexcept { ++nesting; }
  ~NestingGuard() { --nesting; }
  NestingGuard(const NestingGuard&) = delete;
  NestingGuard& operator=(const NestingGuard&) = delete;
  bool TooDeep() const noexcept { return nesting > kMaxNesting; }
};

}  // namespace

TStreamFactory::TStreamFactory() : _succ(ChainHead()) { ChainHead() = Ref<TStreamFactory>(this); }

Ref<TStream> TStreamFactory::CreateStream(const Ref<Object>&, const Ref<String>&,
                                          const Ref<String>&, Int, Int) {
  RaiseAbstractMethod();
}

const Ref<TStreamFactory>& FactoryChain() { return ChainHead(); }

Ref<TStream> OpenUrl(const Ref<Object>& url, Int readable, Int writeable) {
  if (auto stream = CastTo<TStream>(url)) return TStreamStream::Create(stream);
  Ref<String> text = CastTo<String>(url);
  if (!text) text = String::Empty();
  Ref<String> proto = String::Empty();
  Ref<String> path = String::Empty();
  if (text->Length() > 0) {
    Int at = text->IndexOf("::"_s, 0);
    if (at < 0) return TCStream::OpenFile(text, readable, writeable);
    proto = String::FromWideSpan(text->Data(), at)->Lowercased();
    path = String::FromWideSpan(text->Data() + at + 2, text->Length() - at - 2);
  }
  NestingGuard guard;
  if (guard.TooDeep()) return nullptr;
  for (Ref<TStreamFactory> factory = ChainHead(); factory; factory = factory->Next()) {
    if (Ref<TStream> stream = factory->CreateStream(url, proto, path, readable, writeable)) return stream;
  }
  return nullptr;
}

Ref<TStream> OpenUrlReader(const Ref<Object>& url) { return OpenUrl(url, 1, 0); }
Ref<TStream> OpenUrlWriter(const Ref<Object>& url) { return OpenUrl(url, 0, 1); }

}  // namespace corvid
