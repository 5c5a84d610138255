#include "net/socket_stream.h"

#include "runtime/module.h"
#include "runtime/platform_net.h"

namespace corvid {

Int TSocketStream::Eof() {
  if (!_socket) return 1;
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
  Int received = _socket->Recv(buffer, count, 0);
  if (received == 0) Close();
  return received;
}

Int TSocketStream::Write(const std::uint8_t* buffer, Int count) {
  return _socket ? _socket->Send(buffer, count, 0) : 0;
}

Ref<TSocket> TSocketStream::Socket() { return _socket; }

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
  static ModuleFlag flag;
  if (!flag.Begin()) return;
  StartSocketModule();
  StartStreamModule();
  MakeRef<TSocketStreamFactory>();
  ModuleStarted("socket stream");
}

}  // namespace corvid
