// HTTP streams: the "http" protocol, a document fetched with an HTTP/1.0
// GET request and read as a socket stream.
#pragma once

#include "stream/stream.h"
#include "stream/url.h"

namespace corvid {

/// Opens "http" names, host or host "/" path, from port 80 of the host:
/// the request is "GET " path " HTTP/1.0", "Host: " host and an empty
/// line; the response head is skipped whatever its status, so the stream
/// stands at the first byte of the body. When the head gives
/// Content-Length, the body ends after that many bytes: what follows is
/// never read, and a connection that ends before is a read failure (see
/// TSocketStream::EndAfter); without it, the body ends where the server
/// closes in order. Null when the host does not answer, when the host or
/// path holds a line break or a zero byte (it would change the request),
/// when the connection ends or breaks off before the head's empty line,
/// when the head has a line longer than kHeadLineLimit bytes or is longer
/// than kHeadLimit bytes in all, when its Content-Length is no number or
/// given twice with different values, or when the whole head takes longer
/// than the client time-out (ClientTimeout).
class THTTPStreamFactory : public TStreamFactory {
 public:
  static constexpr Int kHeadLineLimit = 64 * 1024;
  static constexpr Int kHeadLimit = 1024 * 1024;

  Ref<TStream> CreateStream(const Ref<Object>& url, const Ref<String>& proto,
                            const Ref<String>& path, Int readable, Int writeable) override;

 protected:
  /// The connection the request goes over: a client socket stream to
  /// `host`:`port`, or Null.
  virtual Ref<TStream> Connect(const Ref<String>& host, Int port);
};

/// Reads the response head of `stream` up to and including its first empty
/// line, with the line rules of ReadLine (a line ends at LF or a zero
/// byte; CR is dropped anywhere), and not one byte of the body: a socket
/// stream's bytes are looked at before they are taken, a stream with a
/// position is read ahead and sought back, any other is read byte by byte.
/// True when the stream stands at the body; `bodyLength`, when given, then
/// receives the head's Content-Length, or -1 when it has none. False when
/// the stream ends before the empty line, when the head runs past
/// kHeadLineLimit or kHeadLimit, when its Content-Length cannot be trusted
/// (no number, or two that differ), or when it is not over within
/// `timeout` milliseconds (0: no limit).
bool SkipResponseHead(TStream& stream, Int timeout, Long* bodyLength = nullptr);

/// Starts the module: registers the "http" protocol with the chain.
void StartHttpModule();

}  // namespace corvid
