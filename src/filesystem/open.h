// The file-system module's opening functions: streams that always have a
// position and a size.
#pragma once

#include "stream/stream.h"

namespace corvid {

/// OpenUrl, except that a stream without a position (Pos -1: a pipe, a
/// socket) opened for reading is read whole into a bank and handed out as a
/// bank stream at position 0 whose size is the number of bytes read. When
/// protocols of the name (text, byte order) stand over the stream without a
/// position, its raw bytes go into the bank and the protocol layers are
/// kept over the bank stream, so a name reads the same from a pipe or a
/// socket as from a file. The unseekable stream is released, not closed,
/// unless reading it raises an error: then it is closed, and a read
/// failure (TStreamReadException: the data broke off) gives Null while any
/// other error passes on. A stream opened for writing only is handed out as
/// it is, so that what is written reaches it. Null when nothing opens.
Ref<TStream> OpenSeekable(const Ref<Object>& url, Int readable, Int writeable);
/// OpenSeekable(url, 1, 0).
Ref<TStream> OpenSeekableReader(const Ref<Object>& url);
/// OpenSeekable(url, 0, 1).
Ref<TStream> OpenSeekableWriter(const Ref<Object>& url);
/// Closes the stream (Null is let pass). Returns 0.
Int CloseSeekable(const Ref<TStream>& stream);

/// Starts the file-system module (and the bank-stream module its
/// fallback needs).
void StartFileSystemModule();

}  // namespace corvid
