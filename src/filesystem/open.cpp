#include "filesystem/open.h"

#include "memstream/bank.h"
#include "memstream/bank_stream.h"
#include "runtime/module.h"
#include "stream/url.h"

namespace corvid {

Ref<TStream> OpenSeekable(const Ref<Object>& url, Int readable, Int writeable) {
  Ref<TStream> stream = OpenUrl(url, readable, writeable);
  if (!stream || stream->Pos() != -1) return stream;
  // Reading a write-only stream into a bank would read nothing, and every
  // byte written afterwards would land in the bank instead of the stream.
  if (writeable && !readable) return stream;
  return TBankStream::Create(TBank::Load(stream));
}

Ref<TStream> OpenSeekableReader(const Ref<Object>& url) { return OpenSeekable(url, 1, 0); }
Ref<TStream> OpenSeekableWriter(const Ref<Object>& url) { return OpenSeekable(url, 0, 1); }

Int CloseSeekable(const Ref<TStream>& stream) {
  if (stream) stream->Close();
  return 0;
}

void StartFileSystemModule() {
  static ModuleFlag flag;
  if (!flag.Begin()) return;
  StartStdlibModule();
  StartBankStreamModule();
  ModuleStarted("file system");
}

}  // namespace corvid
