// HTTP streams: the "http" protocol, a document fetched with an HTTP/1.0
// GET request and read as a socket stream.
#pragma once

#include "stream/stream.h"
#include "stream/url.h"

namespace corvid {

/// Opens "http" names, host or host "/" path, from port 80 of the host:
/// the request is "GET " path " HTTP/1.0", "Host: " host and an empty
/// line; the response head is skipped whatever its status, so the stream
/// stands at the first byte of the body. A server that closes before the
/// head ends gives a closed stream (an empty body). Null when the host does
/// not answer, when the host or path holds a line break or a zero byte (it
/// would change the request), or when the head has a line longer than
/// kHeadLineLimit bytes or is longer than kHeadLimit bytes in all.
class THTTPStreamFactory : public TStreamFactory {
 public:
  static constexpr Int kHeadLineLimit = 64 * 1024;
  static constexpr Int kHeadLimit = 1024 * 1024;

  Ref<TStream> CreateStream(const Ref<Object>& url, const Ref<String>& proto,
                            const Ref<String>& path, Int readable, Int writeable) override;
};

/// Starts the module: registers the "http" protocol with the chain.
void StartHttpModule();

}  // namespace corvid
