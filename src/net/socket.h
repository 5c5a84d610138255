// Sockets: IPv4 TCP and UDP sockets, their free functions, host look-ups
// and the readiness wait.
#pragma once

#include <cstdint>

#include "runtime/array.h"
#include "runtime/object.h"
#include "runtime/string.h"

namespace corvid {

/// The socket module's error type. Nothing raises it.
class TSocketException : public Object {
 public:
  /// "Internal socket error".
  Ref<String> ToString() override;
};

/// One platform socket. An IPv4 address is an Int whose top byte is the
/// first dotted number; of a port only the low 16 bits count. Failures come
/// back as 0, -1 or Null, never raised. The socket is released only by
/// Close: dropping the last reference leaves it open.
class TSocket : public Object {
 public:
  /// One send of `count` bytes; the number sent, 0 on failure (a closed
  /// peer included).
  virtual Int Send(const std::uint8_t* buffer, Int count, Int flags);
  /// One receive of up to `count` bytes; the number received, 0 when the
  /// peer has closed or on failure.
  virtual Int Recv(std::uint8_t* buffer, Int count, Int flags);
  /// Releases the platform socket (when owned) and sets the handle and the
  /// four address fields to -1. A second call does nothing. Returns 0.
  virtual Int Close();
  /// 1 while the connection may be alive: nothing readable yet, or data
  /// waiting. When it is readable with nothing waiting the peer has gone:
  /// the socket is closed and 0 returned. 0 for a closed socket.
  virtual Int Connected();
  /// Binds to any local address; 1 (names refreshed) or 0.
  virtual Int Bind(Int port);
  /// Connects, blocking; 1 (names refreshed) or 0 (nothing changed).
  virtual Int Connect(Int ip, Int port);
  /// Starts listening for connections; 1 or 0.
  virtual Int Listen(Int backlog);
  /// The next pending connection, waiting at most `timeout` ms (negative:
  /// no limit, 0: a poll); Null on time-out or failure, and at once for a
  /// closed socket.
  virtual Ref<TSocket> Accept(Int timeout);
  /// Bytes waiting to be read; 0 when unknown.
  virtual Int ReadAvail();
  /// Returns 0 whatever the platform says.
  virtual Int SetTCPNoDelay(Int enable);
  /// The platform handle; -1 once closed.
  virtual Int Socket();
  /// The addresses and ports stored by the last Update...Name (Bind,
  /// Connect and Create refresh them); -1 once closed.
  virtual Int LocalIp();
  virtual Int LocalPort();
  virtual Int RemoteIp();
  virtual Int RemotePort();
  /// Stores the socket's local address and port (0 and 0 when unknown).
  /// Returns 0.
  virtual Int UpdateLocalName();
  /// The same for the peer.
  virtual Int UpdateRemoteName();

  /// A socket object over `handle` with its names filled; Null for a
  /// negative handle.
  static Ref<TSocket> Create(Int handle, Int autoClose);
  /// A new UDP or TCP socket, closed by Close; Null when the platform gives
  /// none.
  static Ref<TSocket> CreateUDP();
  static Ref<TSocket> CreateTCP();

 private:
  Int _socket = 0;
  Int _autoClose = 0;
  Int _localIp = 0;
  Int _localPort = 0;
  Int _remoteIp = 0;
  Int _remotePort = 0;
};

/// TSocket::CreateUDP and TSocket::CreateTCP.
Ref<TSocket> NewUdpSocket();
Ref<TSocket> NewTcpSocket();
// Free forms: the socket first, forwarded to its method with its result; a
// Null socket raises TNullObjectException. SocketIsConnected is Connected,
// SocketWaiting ReadAvail, SocketOwnIp/Port LocalIp/Port and
// SocketPeerIp/Port RemoteIp/Port.
/// Closes and returns 0.
Int SocketClose(const Ref<TSocket>& socket);
Int SocketBind(const Ref<TSocket>& socket, Int port);
Int SocketConnect(const Ref<TSocket>& socket, Int ip, Int port);
Int SocketListen(const Ref<TSocket>& socket, Int backlog);
Ref<TSocket> SocketAccept(const Ref<TSocket>& socket, Int timeout);
Int SocketIsConnected(const Ref<TSocket>& socket);
Int SocketWaiting(const Ref<TSocket>& socket);
Int SocketOwnIp(const Ref<TSocket>& socket);
Int SocketOwnPort(const Ref<TSocket>& socket);
Int SocketPeerIp(const Ref<TSocket>& socket);
Int SocketPeerPort(const Ref<TSocket>& socket);

/// Every IPv4 address of `name` as an Int array, in the resolver's order,
/// each once; the empty array when there is none. A name holding a unit
/// whose low byte is 0 has none: narrowed, it would name another host.
Ref<Array> ResolveHostAll(const Ref<String>& name);
/// Address `index` of `name`; 0 when `index` is negative (no look-up) or
/// past the last address.
Int ResolveHost(const Ref<String>& name, Int index);
/// The host name registered for `ip`, or "".
Ref<String> ReverseLookup(Int ip);
/// "w.x.y.z", each byte unsigned, most significant first.
Ref<String> FormatIp(Int ip);

/// Waits until a handle of the lists is ready: readable, writable or with
/// urgent data, at most `milliseconds` (negative: no limit). Each list
/// watches at most its first 64 distinct handles. Returns the number of
/// handles found ready, counted once per list, and sets every entry not
/// found ready (the ones left out included) to 0; a negative result when
/// the wait failed (no handle to watch, a negative one, one that is not
/// open) leaves the lists as they were. A Null list reads as empty.
Int SelectSockets(Int readCount, Int* readList, Int writeCount, Int* writeList, Int errorCount,
                  Int* errorList, Int milliseconds);

/// Starts the socket module (and the standard-library bindings).
void StartSocketModule();

}  // namespace corvid
