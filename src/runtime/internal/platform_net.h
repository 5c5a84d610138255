// The platform's sockets: IPv4 stream and datagram handles, readiness
// waits and host-name look-ups. Addresses and ports are host values here;
// only this layer turns them into network order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvid::platform {

/// The system's handle of a socket: a descriptor on POSIX, a SOCKET (a
/// pointer-sized unsigned) on Windows. kNoSocket is the one that names none.
#ifdef _WIN32
using SocketHandle = std::uintptr_t;
#else
using SocketHandle = int;
#endif
inline constexpr SocketHandle kNoSocket = static_cast<SocketHandle>(-1);

/// Starts the system's socket support (Windows Sockets 1.1 on Windows) at
/// the moment the start-up chooses; false when it cannot be started. The
/// first call that needs it starts it too, for a program that never ran
/// the start-up. StopSockets releases it at the end.
bool StartSockets();
void StopSockets();

/// The one address family the layer speaks.
constexpr int kInet = 2;
/// Socket types for SocketOpen.
constexpr int kStreamSocket = 1;
constexpr int kDatagramSocket = 2;
/// Receive flag: look at the waiting bytes without taking them.
constexpr int kPeek = 2;

/// A new blocking IPv4 socket of `type`, not inherited by child processes;
/// kNoSocket on failure.
SocketHandle SocketOpen(int type);
void SocketClose(SocketHandle handle);
/// Binds to any local address and `port`; negative on failure. A family
/// other than kInet gives -1 without asking the system.
int SocketBind(int family, SocketHandle handle, std::uint16_t port);
/// Connects to `ip`:`port`, blocking until done but no longer than the
/// socket's time-out (SocketSetTimeout), also when a signal interrupts the
/// wait; negative on failure. A family other than kInet gives -1 without
/// asking the system.
int SocketConnect(int family, SocketHandle handle, std::uint32_t ip, std::uint16_t port);
int SocketListen(SocketHandle handle, int backlog);
/// The handle of a pending connection (waits for one); kNoSocket on failure.
SocketHandle SocketAccept(SocketHandle handle);
/// Bytes sent, negative on failure. A peer that has gone gives a failure,
/// never a signal.
long SocketSend(SocketHandle handle, const void* buffer, std::size_t count, int flags);
/// Bytes received, 0 when the peer has closed, negative on failure.
long SocketRecv(SocketHandle handle, void* buffer, std::size_t count, int flags);
/// Bytes waiting to be read into `count`; negative on failure.
int SocketBytesWaiting(SocketHandle handle, std::int32_t& count);
/// Makes a receive, a send and a connection attempt on the socket give up
/// after `milliseconds` without progress, failing as the system reports a
/// time-out; 0 waits without limit. The outcome is not reported.
void SocketSetTimeout(SocketHandle handle, std::uint32_t milliseconds);
/// Sets the TCP no-delay option; the outcome is not reported.
void SocketSetNoDelay(SocketHandle handle, std::int32_t enable);
/// The socket's own (`peer` false) or its peer's IPv4 address and port;
/// false when the system has none to give.
bool SocketName(SocketHandle handle, bool peer, std::uint32_t& ip, std::uint16_t& port);

/// One handle of a readiness wait: what to watch for, and what was found.
struct SocketWait {
  SocketHandle handle = kNoSocket;
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
