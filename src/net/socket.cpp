#include "net/socket.h"

#include <string>

#include "runtime/module.h"
#include "runtime/internal/platform_net.h"

namespace corvid {

namespace {

constexpr int kSetLimit = 64;

std::uint16_t PortBits(Int port) { return static_cast<std::uint16_t>(port & 0xFFFF); }

// A socket keeps its handle in an Int, as the library's callers see it:
// the system's handles for this process fit there (a Windows SOCKET is a
// 32-bit value in a 32-bit process), and the one naming no socket is -1.
static_assert(sizeof(platform::SocketHandle) <= sizeof(Int));
platform::SocketHandle HandleOf(Int socket) { return static_cast<platform::SocketHandle>(socket); }
Int IntOf(platform::SocketHandle handle) { return static_cast<Int>(handle); }

}  // namespace

Ref<String> TSocketException::ToString() { return "Internal socket error"_s; }

Int TSocket::Send(const std::uint8_t* buffer, Int count, Int flags) {
  if (_socket < 0 || count <= 0) return 0;
  long sent = platform::SocketSend(HandleOf(_socket), buffer, static_cast<std::size_t>(count), flags);
  return sent < 0 ? 0 : static_cast<Int>(sent);
}

Int TSocket::Recv(std::uint8_t* buffer, Int count, Int flags) {
  if (_socket < 0 || count <= 0) return 0;
  long received = platform::SocketRecv(HandleOf(_socket), buffer, static_cast<std::size_t>(count), flags);
  return received < 0 ? 0 : static_cast<Int>(received);
}

Int TSocket::Close() {
  if (_socket < 0) return 0;
  if (_autoClose) platform::SocketClose(HandleOf(_socket));
  _socket = _localIp = _localPort = _remoteIp = _remotePort = -1;
  return 0;
}

Int TSocket::Connected() {
  if (_socket < 0) return 0;
  Int watch[1] = {_socket};
  if (SelectSockets(1, watch, 0, nullptr, 0, nullptr, 0) != 1) return 1;
  if (ReadAvail() != 0) return 1;
  Close();
  return 0;
}

Int TSocket::Bind(Int port) {
  if (platform::SocketBind(platform::kInet, HandleOf(_socket), PortBits(port)) < 0) return 0;
  UpdateLocalName();
  return 1;
}

Int TSocket::Connect(Int ip, Int port) {
  if (platform::SocketConnect(platform::kInet, HandleOf(_socket), static_cast<std::uint32_t>(ip),
                              PortBits(port)) < 0)
    return 0;
  UpdateLocalName();
  UpdateRemoteName();
  return 1;
}

Int TSocket::Listen(Int backlog) { return platform::SocketListen(HandleOf(_socket), backlog) >= 0 ? 1 : 0; }

Ref<TSocket> TSocket::Accept(Int timeout) {
  // A closed socket can never become ready: waiting on it would wait out
  // the whole time-out, or for ever.
  if (_socket < 0) return nullptr;
  Int watch[1] = {_socket};
  if (SelectSockets(1, watch, 0, nullptr, 0, nullptr, timeout) != 1) return nullptr;
  // Handle 0 is an ordinary descriptor here; only a negative one fails.
  return Create(IntOf(platform::SocketAccept(HandleOf(_socket))), 1);
}

Int TSocket::ReadAvail() {
  std::int32_t waiting = 0;
  if (_socket < 0 || platform::SocketBytesWaiting(HandleOf(_socket), waiting) < 0) return 0;
  return waiting;
}

Int TSocket::SetTCPNoDelay(Int enable) {
  if (_socket >= 0) platform::SocketSetNoDelay(HandleOf(_socket), enable);
  return 0;
}

Int TSocket::Socket() { return _socket; }
Int TSocket::LocalIp() { return _localIp; }
Int TSocket::LocalPort() { return _localPort; }
Int TSocket::RemoteIp() { return _remoteIp; }
Int TSocket::RemotePort() { return _remotePort; }

namespace {

void StoreName(Int handle, bool peer, Int& ip, Int& port) {
  std::uint32_t address = 0;
  std::uint16_t number = 0;
  if (handle < 0 || !platform::SocketName(HandleOf(handle), peer, address, number)) address = number = 0;
  ip = static_cast<Int>(address);
  port = number;
}

}  // namespace

Int TSocket::UpdateLocalName() {
  StoreName(_socket, false, _localIp, _localPort);
  return 0;
}

Int TSocket::UpdateRemoteName() {
  StoreName(_socket, true, _remoteIp, _remotePort);
  return 0;
}

Ref<TSocket> TSocket::Create(Int handle, Int autoClose) {
  if (handle < 0) return nullptr;
  auto socket = MakeRef<TSocket>();
  socket->_socket = handle;
  socket->_autoClose = autoClose;
  socket->UpdateLocalName();
  socket->UpdateRemoteName();
  return socket;
}

Ref<TSocket> TSocket::CreateUDP() { return Create(IntOf(platform::SocketOpen(platform::kDatagramSocket)), 1); }
Ref<TSocket> TSocket::CreateTCP() { return Create(IntOf(platform::SocketOpen(platform::kStreamSocket)), 1); }

Ref<TSocket> NewUdpSocket() { return TSocket::CreateUDP(); }
Ref<TSocket> NewTcpSocket() { return TSocket::CreateTCP(); }

Int SocketClose(const Ref<TSocket>& socket) {
  Deref(socket).Close();
  return 0;
}

Int SocketBind(const Ref<TSocket>& socket, Int port) { return Deref(socket).Bind(port); }
Int SocketConnect(const Ref<TSocket>& socket, Int ip, Int port) {
  return Deref(socket).Connect(ip, port);
}
Int SocketListen(const Ref<TSocket>& socket, Int backlog) { return Deref(socket).Listen(backlog); }
Ref<TSocket> SocketAccept(const Ref<TSocket>& socket, Int timeout) {
  return Deref(socket).Accept(timeout);
}
Int SocketIsConnected(const Ref<TSocket>& socket) { return Deref(socket).Connected(); }
Int SocketWaiting(const Ref<TSocket>& socket) { return Deref(socket).ReadAvail(); }
Int SocketOwnIp(const Ref<TSocket>& socket) { return Deref(socket).LocalIp(); }
Int SocketOwnPort(const Ref<TSocket>& socket) { return Deref(socket).LocalPort(); }
Int SocketPeerIp(const Ref<TSocket>& socket) { return Deref(socket).RemoteIp(); }
Int SocketPeerPort(const Ref<TSocket>& socket) { return Deref(socket).RemotePort(); }

Ref<Array> ResolveHostAll(const Ref<String>& name) {
  if (HoldsNarrowZero(name)) return Array::Empty();
  std::vector<std::uint32_t> found = platform::ResolveIPv4(TempNarrowZ(name));
  Ref<Array> addresses = Array::Create("i"_s, static_cast<Int>(found.size()));
  auto elements = addresses->Elements<Int>();
  for (std::size_t i = 0; i < found.size(); ++i) elements[i] = static_cast<Int>(found[i]);
  return addresses;
}

Int ResolveHost(const Ref<String>& name, Int index) {
  if (index < 0) return 0;
  Ref<Array> addresses = ResolveHostAll(name);
  return index < addresses->Count() ? addresses->At<Int>(index) : 0;
}

Ref<String> ReverseLookup(Int ip) {
  std::string name;
  if (!platform::ReverseIPv4(static_cast<std::uint32_t>(ip), name)) return String::Empty();
  return String::FromNarrowZ(name.c_str());
}

Ref<String> FormatIp(Int ip) {
  auto bits = static_cast<std::uint32_t>(ip);
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    if (!text.empty()) text += '.';
    text += std::to_string((bits >> shift) & 0xFF);
  }
  return FromBytes(text);
}

namespace {

// One list's set: its first distinct handles, at most kSetLimit.
struct HandleSet {
  Int handles[kSetLimit];
  int count = 0;

  bool Has(Int handle) const {
    for (int i = 0; i < count; ++i)
      if (handles[i] == handle) return true;
    return false;
  }
  void Fill(Int listCount, const Int* list) {
    for (Int i = 0; list && i < listCount && count < kSetLimit; ++i)
      if (!Has(list[i])) handles[count++] = list[i];
  }
};

}  // namespace

Int SelectSockets(Int readCount, Int* readList, Int writeCount, Int* writeList, Int errorCount,
                  Int* errorList, Int milliseconds) {
  HandleSet sets[3];
  sets[0].Fill(readCount, readList);
  sets[1].Fill(writeCount, writeList);
  sets[2].Fill(errorCount, errorList);

  // One wait entry per distinct handle, carrying what each set asks of it.
  platform::SocketWait waits[3 * kSetLimit];
  int used = 0;
  for (int s = 0; s < 3; ++s) {
    for (int i = 0; i < sets[s].count; ++i) {
      Int handle = sets[s].handles[i];
      if (handle < 0) return -1;
      int at = 0;
      while (at < used && waits[at].handle != HandleOf(handle)) ++at;
      if (at == used) waits[used++].handle = HandleOf(handle);
      (s == 0 ? waits[at].read : s == 1 ? waits[at].write : waits[at].error) = true;
    }
  }
  // Nothing to watch is an error, not a sleep that may never end.
  if (used == 0) return -1;

  long seconds = -1, microseconds = 0;
  if (milliseconds >= 0) {
    seconds = milliseconds / 1000;
    microseconds = (milliseconds % 1000) * 1000L;
  }
  int ready = platform::WaitSockets(waits, static_cast<std::size_t>(used), seconds, microseconds);
  if (ready < 0) return ready;

  auto clearUnready = [&](int s, Int listCount, Int* list) {
    for (Int i = 0; list && i < listCount; ++i) {
      bool found = false;
      for (int at = 0; at < used && !found; ++at) {
        if (waits[at].handle != HandleOf(list[i]) || !sets[s].Has(list[i])) continue;
        found = s == 0 ? waits[at].readReady : s == 1 ? waits[at].writeReady : waits[at].errorReady;
      }
      if (!found) list[i] = 0;
    }
  };
  clearUnready(0, readCount, readList);
  clearUnready(1, writeCount, writeList);
  clearUnready(2, errorCount, errorList);
  return ready;
}

void StartSocketModule() {
  StartOnce<"socket">([] { StartStdlibModule(); });
}

}  // namespace corvid
