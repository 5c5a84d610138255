#include "net/socket_stream.h"

#include "runtime/module.h"
#include "runtime/internal/platform_net.h"

namespace corvid {

// A peer that has closed and a connection that has broken off both show
// as readable with nothing waiting; only a receive tells them apart, and it
// tells a failure once. So the next byte is looked at, not taken, and a
// failure seen is kept for the Read that must report it.
Int TSocketStream::Eof() {
  if (!_socket) return 1;
  if (_left == 0) {
    Close();
    return 1;
  }
  if (_broken) return 0;
  if (Int handle = _socket->Socket(); handle >= 0) {
    Int watch[1] = {handle};
    if (SelectSockets(1, watch, 0, nullptr, 0, nullptr, 0) != 1) return 0;
    std::uint8_t next;
    long seen = platform::SocketRecv(static_cast<platform::SocketHandle>(handle), &next, 1, platform::kPeek);
    if (seen > 0) return 0;
    if (seen < 0 || _left > 0) {
      _broken = true;
      return 0;
    }
  }
  if (_socket->Connected()) return 0;
  Close();
  return 1;
}

Int TSocketStream::Close() {
  if (!_socket) return 0;
  if (_autoClose) _socket->Close();
  _socket = nullptr;
  return 0;
}

Int TSocketStream::Read(std::uint8_t* buffer, Int count) {
  if (!_socket || count <= 0) return 0;
  if (_left == 0) {
    Close();
    return 0;
  }
  if (_left > 0 && count > _left) count = static_cast<Int>(_left);
  // A socket closed under the stream by its owner has ended, not failed.
  Int handle = _socket->Socket();
  long received = _broken     ? -1
                  : handle < 0 ? 0
                               : platform::SocketRecv(static_cast<platform::SocketHandle>(handle), buffer,
                                                     static_cast<std::size_t>(count), 0);
  if (received > 0) {
    if (_left > 0) _left -= received;
    return static_cast<Int>(received);
  }
  Close();
  // Only a peer that closes in order, owing no bytes, ends the data.
  if (received < 0 || _left > 0) Throw(MakeRef<TStreamReadException>());
  return 0;
}

Int TSocketStream::Write(const std::uint8_t* buffer, Int count) {
  return _socket ? _socket->Send(buffer, count, 0) : 0;
}

Ref<TSocket> TSocketStream::Socket() { return _socket; }

Int TSocketStream::EndAfter(Long count) {
  _left = count < 0 ? -1 : count;
  return 0;
}

Ref<TSocketStream> TSocketStream::Create(const Ref<TSocket>& socket, Int autoClose) {
  auto stream = MakeRef<TSocketStream>();
  stream->_socket = socket;
  stream->_autoClose = autoClose;
  return stream;
}

namespace {

Int clientTimeout = kDefaultClientTimeout;

}  // namespace

void SetClientTimeout(Int milliseconds) { clientTimeout = milliseconds < 0 ? 0 : milliseconds; }
Int ClientTimeout() { return clientTimeout; }

Ref<TSocketStream> TSocketStream::CreateClient(const Ref<String>& host, Int port) {
  Int address = ResolveHost(host, 0);
  if (address == 0) return nullptr;
  Ref<TSocket> socket = TSocket::CreateTCP();
  if (!socket) return nullptr;
  // Sockets block by design; without a bound, a server that accepts and
  // then says nothing would hold the reader for ever.
  platform::SocketSetTimeout(static_cast<platform::SocketHandle>(socket->Socket()), static_cast<std::uint32_t>(clientTimeout));
  if (socket->Connect(address, port)) return Create(socket, 1);
  socket->Close();
  return nullptr;
}

Ref<TSocketStream> NewSocketStream(const Ref<TSocket>& socket, Int autoClose) {
  return TSocketStream::Create(socket, autoClose);
}

Ref<TSocket> SocketOfStream(const Ref<TSocketStream>& stream) { return Deref(stream).Socket(); }

Ref<TStream> TSocketStreamFactory::CreateStream(const Ref<Object>&, const Ref<String>& proto,
                                                const Ref<String>& path, Int, Int) {
  if (Text(proto).View() != u"tcp") return nullptr;
  Ref<String> text = path ? path : String::Empty();
  Int colon = text->IndexOf(":"_s, 0);
  if (colon < 0) return TSocketStream::CreateClient(text, 80);
  return TSocketStream::CreateClient(Slice(text, 0, colon),
                                     Slice(text, colon + 1, text->Length())->ParseInt());
}

void StartSocketStreamModule() {
  StartOnce<"socket stream">([] {
    StartSocketModule();
    StartStreamModule();
    MakeRef<TSocketStreamFactory>();
  });
}

}  // namespace corvid
