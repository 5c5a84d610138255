#include "filesystem/open.h"

#include "memstream/bank.h"
#include "memstream/bank_stream.h"
#include "runtime/module.h"
#include "stream/url.h"

namespace corvid {

namespace {

// The layers the protocols of one name stacked over the stream that came
// from its path: walked down to the stream at the bottom, whose bytes are
// the raw ones. A TStreamStream ends the walk, since what lies under it is
// the caller's own stream, not layers this open made.
struct Bottom {
  Ref<TStreamWrapper> over;  ///< the layer right above `stream`; Null when there is none
  Ref<TStream> stream;
};

Bottom FindBottom(const Ref<TStream>& top) {
  Bottom bottom{nullptr, top};
  while (auto layer = CastTo<TStreamWrapper>(bottom.stream)) {
    if (CastTo<TStreamStream>(layer) || !layer->Inner()) break;
    bottom = {layer, layer->Inner()};
  }
  return bottom;
}

}  // namespace

Ref<TStream> OpenSeekable(const Ref<Object>& url, Int readable, Int writeable) {
  Ref<TStream> stream = OpenUrl(url, readable, writeable);
  if (!stream || stream->Pos() != -1) return stream;
  // Reading a write-only stream into a bank would read nothing, and every
  // byte written afterwards would land in the bank instead of the stream.
  if (writeable && !readable) return stream;
  // The bank takes the raw bytes of the stream without a position, below
  // the protocol layers: read through a text layer, they would come as
  // hexadecimal blocks; the layers stay and now stand over the bank.
  Bottom bottom = FindBottom(stream);
  try {
    if (!bottom.over || bottom.stream->Pos() != -1) return TBankStream::Create(TBank::Load(stream));
    bottom.over->SetStream(TBankStream::Create(TBank::Load(bottom.stream)));
  } catch (const Raised& raised) {
    // A socket is released only by Close: dropped here, it would stay open
    // for the rest of the process.
    stream->Close();
    // A stream that broke off gave part of its data, which is no stream
    // to hand out: the open fails as one that never connected does.
    if (raised.As<TStreamReadException>()) return nullptr;
    throw;
  } catch (...) {
    stream->Close();
    throw;
  }
  return stream;
}

Ref<TStream> OpenSeekableReader(const Ref<Object>& url) { return OpenSeekable(url, 1, 0); }
Ref<TStream> OpenSeekableWriter(const Ref<Object>& url) { return OpenSeekable(url, 0, 1); }

Int CloseSeekable(const Ref<TStream>& stream) {
  if (stream) stream->Close();
  return 0;
}

void StartFileSystemModule() {
  StartOnce<"file system">([] {
    StartStdlibModule();
    StartBankStreamModule();
  });
}

}  // namespace corvid
