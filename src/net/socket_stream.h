// Socket streams: a connected socket read and written as a stream, and the
// "tcp" protocol.
#pragma once

#include <cstdint>

#include "net/socket.h"
#include "stream/stream.h"
#include "stream/url.h"

namespace corvid {

/// A stream over a connected socket. It has no position (Pos -1) and no
/// size, so the seekable openers copy it into a bank. Dropping the stream
/// leaves the socket open; Close closes it when the stream owns it.
class TSocketStream : public TStream {
 public:
  /// 1 once the stream is closed or the peer has gone with nothing left to
  /// read (the stream then closes itself); 0 at once otherwise, without
  /// waiting for data.
  Int Eof() override;
  /// Drops the socket, closing it first when the stream owns it. Returns 0.
  Int Close() override;
  /// One receive: at least one byte, waiting for it, or 0 when the peer
  /// has gone. The connection is then over, so the stream closes itself at
  /// once: a reader that stops at the first empty read leaves no socket
  /// behind. 0 on a closed stream.
  Int Read(std::uint8_t* buffer, Int count) override;
  /// One send; 0 on failure or on a closed stream.
  Int Write(const std::uint8_t* buffer, Int count) override;
  /// The socket; Null once the stream is closed.
  virtual Ref<TSocket> Socket();

  /// A stream over `socket` (not checked for Null), which it closes on
  /// Close when `autoClose` is nonzero.
  static Ref<TSocketStream> Create(const Ref<TSocket>& socket, Int autoClose);
  /// A stream owning a new TCP connection to the first address of `host`;
  /// Null, with no socket left open, when the name does not resolve or the
  /// connection fails. The connection attempt, and every later receive or
  /// send on it, gives up after ClientTimeout() of silence: a receive then
  /// ends the stream like a peer that has gone, a send transfers nothing.
  static Ref<TSocketStream> CreateClient(const Ref<String>& host, Int port);

 private:
  Ref<TSocket> _socket;
  Int _autoClose = 0;
};

/// How long, in milliseconds, a client stream of CreateClient (and so of
/// the "tcp" and "http" protocols) waits for a peer that sends or takes
/// nothing; 0 waits without limit. Applies to connections made afterwards.
inline constexpr Int kDefaultClientTimeout = 60 * 1000;
void SetClientTimeout(Int milliseconds);
Int ClientTimeout();

/// TSocketStream::Create.
Ref<TSocketStream> NewSocketStream(const Ref<TSocket>& socket, Int autoClose);
/// The stream's socket; a Null stream raises the null-object error.
Ref<TSocket> SocketOfStream(const Ref<TSocketStream>& stream);

/// Opens "tcp" names: host, or host ":" port (digits read as ParseInt
/// reads them); without a port, 80. Always readable and writable.
class TSocketStreamFactory : public TStreamFactory {
 public:
  Ref<TStream> CreateStream(const Ref<Object>& url, const Ref<String>& proto,
                            const Ref<String>& path, Int readable, Int writeable) override;
};

/// Starts the module: registers the "tcp" protocol with the chain.
void StartSocketStreamModule();

}  // namespace corvid
