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
///
/// The data ends only where the peer closes the connection in order, or
/// after the length set by EndAfter. A connection that breaks off instead
/// (a reset, a receive error, a peer silent past the client time-out, a
/// close before that length) is a read failure: the Read that meets it
/// closes the stream and raises TStreamReadException, so a reader that goes
/// on until Eof never takes part of the data for all of it.
class TSocketStream : public TStream {
 public:
  /// 1 once the stream is closed, or once its data has ended and nothing is
  /// left to read (the stream then closes itself, and the socket too when
  /// the peer has gone); 0 at once otherwise, without waiting for data. A
  /// connection that has broken off gives 0, so that the next Read reports
  /// the failure.
  Int Eof() override;
  /// Drops the socket, closing it first when the stream owns it. Returns 0.
  Int Close() override;
  /// One receive: at least one byte, waiting for it, or 0 when the data has
  /// ended. The connection is then over, so the stream closes itself at
  /// once: a reader that stops at the first empty read leaves no socket
  /// behind. A connection that has broken off closes the stream and raises
  /// TStreamReadException. 0 on a closed stream.
  Int Read(std::uint8_t* buffer, Int count) override;
  /// One send; 0 on failure or on a closed stream.
  Int Write(const std::uint8_t* buffer, Int count) override;
  /// The socket; Null once the stream is closed.
  virtual Ref<TSocket> Socket();
  /// Makes the data end after the next `count` bytes (a negative `count`:
  /// where the peer closes, as at first): Read takes no byte beyond them,
  /// and a peer that closes before they have all come has broken off.
  /// Returns 0.
  Int EndAfter(Long count);

  /// A stream over `socket` (not checked for Null), which it closes on
  /// Close when `autoClose` is nonzero.
  static Ref<TSocketStream> Create(const Ref<TSocket>& socket, Int autoClose);
  /// A stream owning a new TCP connection to the first address of `host`;
  /// Null, with no socket left open, when the name does not resolve or the
  /// connection fails. The connection attempt, and every later receive or
  /// send on it, gives up after ClientTimeout() of silence: a receive then
  /// fails as a broken connection does, a send transfers nothing.
  static Ref<TSocketStream> CreateClient(const Ref<String>& host, Int port);

 private:
  Ref<TSocket> _socket;
  Int _autoClose = 0;
  /// Bytes still to come before the data ends; -1: until the peer closes.
  Long _left = -1;
  /// Eof found the connection broken off; the next Read reports it.
  bool _broken = false;
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
