// The file-system module's opening functions: streams that always have a
// position and a size.
#pragma once

#include "stream/stream.h"

namespace corvid {

/// OpenUrl, except that a stream without a position (Pos -1) is read whole
/// into a bank and handed out as a bank stream. Null when nothing opens.
Ref<TStream> OpenSeekable(const Ref<Object>& url, Int readable, Int writeable);
Ref<TStream> OpenSeekableReader(const Ref<Object>& url);
Ref<TStream> OpenSeekableWriter(const Ref<Object>& url);
/// Closes the stream. Returns 0.
Int CloseSeekable(const Ref<TStream>& stream);

void StartFileSystemModule();

}  // namespace corvid
