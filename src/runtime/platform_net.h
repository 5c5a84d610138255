// The platform's sockets: IPv4 stream and datagram handles, readiness
// waits and host-name look-ups. Addresses and ports are host values here;
// only this layer turns them into network order. Sockets need no start-up
// or clean-up here: they work from the first call on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvid::platform {

/// The one address family the layer speaks.
constexpr int kInet = 2;
/// Socket types for SocketOpen.
constexpr int kStreamSocket = 1;
constexpr int kDatagramSocket = 2;
/// Receive flag: look at the waiting bytes without taking them.
constexpr int kPeek = 2;

/// A new blocking IPv4 socket of `type`, not inherited by child processes;
/// -1 on failure.
int SocketOpen(int type);
void SocketClose(int handle);
/// Binds to any local address and `port`; negative on failure. A family
/// other than kInet gives -1 without asking the system.
int SocketBind(int family, int handle, std::uint16_t port);
/// Connects to `ip`:`port`, blocking until done but no longer than the
/// socket's time-out (SocketSetTimeout), also when a signal interrupts the
/// wait; negative on failure. A family other than kInet gives -1 without
/// asking the system.
int SocketConnect(int family, int handle, std::uint32_t ip, std::uint16_t port);
int SocketListen(int handle, int backlog);
/// The handle of a pending connection (waits for one); negative on failure.
int SocketAccept(int handle);
/// Bytes sent, negative on failure. A peer that has gone gives a failure,
/// never a signal.
long SocketSend(int handle, const void* buffer, std::size_t count, int flags);
/// Bytes received, 0 when the peer has closed, negative on failure.
long SocketRecv(int handle, void* buffer, std::size_t count, int flags);
/// Bytes waiting to be read into `count`; negative on failure.
int SocketBytesWaiting(int handle, std::int32_t& count);
/// Makes a receive, a send and a connection attempt on the socket give up
/// after `milliseconds` without progress, failing as the system reports a
/// time-out; 0 waits without limit. The outcome is not reported.
void SocketSetTimeout(int handle, std::uint32_t milliseconds);
/// Sets the TCP no-delay option; the outcome is not reported.
void SocketSetNoDelay(int handle, std::int32_t enable);
/// The socket's own (`peer` false) or its peer's IPv4 address and port;
/// false when the system has none to give.
bool SocketName(int handle, bool peer, std::uint32_t& ip, std::uint16_t& port);

/// One handle of a readiness wait: what to watch for, and what was found.
struct SocketWait {
  int handle = -1;
  bool read = false;   ///< data, a pending connection, a closed connection
  bool write = false;  ///< room to send
  bool error = false;  ///< urgent data
  bool readReady = false;
  bool writeReady = false;
  bool errorReady = false;
};
/// Waits until one of `waits` is ready, at most `seconds` and
/// `microseconds` (no limit when `seconds` is negative). Returns the number
/// of conditions found ready (0 at the time limit), or negative when the
/// wait failed, for instance over a handle that is not open. Any handle
/// value an open descriptor can have is watched.
int WaitSockets(SocketWait* waits, std::size_t count, long seconds, long microseconds);

/// The IPv4 addresses of `name`, in the order the resolver gives them,
/// each once; empty when there are none.
std::vector<std::uint32_t> ResolveIPv4(const char* name);
/// The host name registered for `ip`; false when there is none.
bool ReverseIPv4(std::uint32_t ip, std::string& name);

}  // namespace corvid::platform
