#include "net/http.h"

#include <string>

#include "net/socket_stream.h"
#include "runtime/module.h"
#include "runtime/platform.h"
#include "runtime/platform_net.h"

namespace corvid {

namespace {

// Text that goes into the request as it is: a line break or a zero byte
// would end a line early and let the name write request lines of its own.
bool FitsRequestLine(const std::string& bytes) {
  return bytes.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

// Sends every byte, or as many as the peer takes.
void SendAll(TStream& stream, const std::string& bytes) {
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  Int left = static_cast<Int>(bytes.size());
  while (left > 0) {
    Int sent = stream.Write(data, left);
    if (sent <= 0) return;
    data += sent;
    left -= sent;
  }
}

}  // namespace

// The head is looked at in chunks and only its own bytes are taken. A
// server may send anything, so the head is counted, never kept.
bool SkipResponseHead(TStream& stream, Int timeout) {
  const std::uint64_t start = platform::MonotonicMillis();
  auto late = [&] {
    return timeout > 0 && platform::MonotonicMillis() - start >= static_cast<std::uint64_t>(timeout);
  };
  auto* socketStream = CastTo<TSocketStream>(&stream);
  Int headBytes = 0, lineBytes = 0;
  bool lineEmpty = true;
  std::uint8_t chunk[4096];
  while (!stream.Eof()) {
    Ref<TSocket> socket = socketStream ? socketStream->Socket() : nullptr;
    const Int at = stream.Pos();
    Int seen = socket ? socket->Recv(chunk, sizeof chunk, platform::kPeek)
               : at >= 0 ? stream.Read(chunk, sizeof chunk)
                         : stream.Read(chunk, 1);
    if (seen <= 0) {
      // Nothing came: the peer has gone, or kept silent for the whole
      // time-out.
      if (late()) return false;
      stream.Close();
      break;
    }
    Int take = 0;
    bool ended = false;
    while (take < seen && !ended) {
      std::uint8_t byte = chunk[take++];
      if (++headBytes > THTTPStreamFactory::kHeadLimit) return false;
      if (byte == '\n' || byte == 0) {
        ended = lineEmpty;
        lineBytes = 0;
        lineEmpty = true;
      } else {
        if (++lineBytes > THTTPStreamFactory::kHeadLineLimit) return false;
        if (byte != '\r') lineEmpty = false;
      }
    }
    if (socket) {
      for (Int got = 0; got < take;) {
        Int n = stream.Read(chunk + got, take - got);
        if (n <= 0) return true;  // gone after all: an empty body
        got += n;
      }
    } else if (at >= 0 && take < seen) {
      stream.Seek(at + take);
    }
    if (ended) break;
    if (late()) return false;
  }
  return true;
}

Ref<TStream> THTTPStreamFactory::CreateStream(const Ref<Object>&, const Ref<String>& proto,
                                              const Ref<String>& path, Int, Int) {
  if (Text(proto).View() != u"http") return nullptr;
  Ref<String> text = path ? path : String::Empty();
  Int slash = text->IndexOf("/"_s, 0);
  Ref<String> host = slash < 0 ? text : Slice(text, 0, slash);
  Ref<String> document = slash < 0 ? "/"_s : Slice(text, slash, text->Length());
  std::string hostBytes = ToBytes(host), documentBytes = ToBytes(document);
  if (!FitsRequestLine(hostBytes) || !FitsRequestLine(documentBytes)) return nullptr;

  Ref<TStream> stream = Connect(host, 80);
  if (!stream) return nullptr;
  SendAll(*stream, "GET " + documentBytes + " HTTP/1.0\r\nHost: " + hostBytes + "\r\n\r\n");
  if (!SkipResponseHead(*stream, ClientTimeout())) {
    stream->Close();
    return nullptr;
  }
  return stream;
}

Ref<TStream> THTTPStreamFactory::Connect(const Ref<String>& host, Int port) {
  return TSocketStream::CreateClient(host, port);
}

void StartHttpModule() {
  static ModuleFlag flag;
  if (!flag.Begin()) return;
  StartSocketStreamModule();
  MakeRef<THTTPStreamFactory>();
  ModuleStarted("HTTP stream");
}

}  // namespace corvid
