// Sockets for the Win32 half: Windows Sockets 1.1 through ws2_32.
#include "runtime/internal/platform_net.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <mutex>

namespace corvid::platform {

static_assert(kPeek == MSG_PEEK);
static_assert(kNoSocket == INVALID_SOCKET);

namespace {

std::mutex startLock;
bool started = false;

bool EnsureStarted() {
  std::lock_guard guard(startLock);
  if (started) return true;
  WSADATA data;
  started = WSAStartup(MAKEWORD(1, 1), &data) == 0;
  return started;
}

sockaddr_in InetAddress(std::uint32_t ip, std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(ip);
  return address;
}

// Not inherited by child processes: a command the program runs must not
// keep a connection open after the program closed it.
SocketHandle Private(SOCKET handle) {
  if (handle != INVALID_SOCKET) SetHandleInformation(reinterpret_cast<HANDLE>(handle), HANDLE_FLAG_INHERIT, 0);
  return handle;
}

int SocketType(SOCKET handle) {
  int type = 0;
  int length = sizeof type;
  if (getsockopt(handle, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length) != 0) return 0;
  return type;
}

}  // namespace

bool StartSockets() { return EnsureStarted(); }

void StopSockets() {
  std::lock_guard guard(startLock);
  if (started) WSACleanup();
  started = false;
}

SocketHandle SocketOpen(int type) {
  int kind = type == kStreamSocket ? SOCK_STREAM : type == kDatagramSocket ? SOCK_DGRAM : -1;
  if (kind < 0 || !EnsureStarted()) return kNoSocket;
  return Private(socket(AF_INET, kind, 0));
}

void SocketClose(SocketHandle handle) {
  if (handle != kNoSocket) closesocket(handle);
}

int SocketBind(int family, SocketHandle handle, std::uint16_t port) {
  if (family != kInet) return -1;
  // On Windows a port bound with address reuse can be taken over by a
  // second process; exclusive use keeps it the listener's. (A port whose
  // earlier connections wait out their close binds anyway here.)
  if (SocketType(handle) == SOCK_STREAM) {
    BOOL exclusive = TRUE;
    setsockopt(handle, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
               sizeof exclusive);
  }
  sockaddr_in address = InetAddress(INADDR_ANY, port);
  return bind(handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? 0 : -1;
}

// Windows ignores the send time-out on a connect: the connect goes on
// without blocking, and a wait bounded by that time-out takes its place.
int SocketConnect(int family, SocketHandle handle, std::uint32_t ip, std::uint16_t port) {
  if (family != kInet) return -1;
  DWORD limit = 0;
  int limitLength = sizeof limit;
  getsockopt(handle, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<char*>(&limit), &limitLength);
  u_long nonBlocking = 1;
  if (ioctlsocket(handle, FIONBIO, &nonBlocking) != 0) return -1;
  sockaddr_in address = InetAddress(ip, port);
  int result = connect(handle, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  if (result != 0 && WSAGetLastError() == WSAEWOULDBLOCK) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(handle, &writable);
    FD_SET(handle, &failed);
    timeval wait{static_cast<long>(limit / 1000), static_cast<long>(limit % 1000 * 1000)};
    int ready = select(0, nullptr, &writable, &failed, limit ? &wait : nullptr);
    result = ready == 1 && FD_ISSET(handle, &writable) ? 0 : -1;
    if (ready == 0) WSASetLastError(WSAETIMEDOUT);
  }
  u_long blocking = 0;
  ioctlsocket(handle, FIONBIO, &blocking);
  return result == 0 ? 0 : -1;
}

int SocketListen(SocketHandle handle, int backlog) { return listen(handle, backlog) == 0 ? 0 : -1; }

SocketHandle SocketAccept(SocketHandle handle) { return Private(accept(handle, nullptr, nullptr)); }

long SocketSend(SocketHandle handle, const void* buffer, std::size_t count, int flags) {
  int chunk = static_cast<int>(std::min<std::size_t>(count, 0x7FFFFFFF));
  int sent = send(handle, static_cast<const char*>(buffer), chunk, flags);
  return sent == SOCKET_ERROR ? -1 : sent;
}

long SocketRecv(SocketHandle handle, void* buffer, std::size_t count, int flags) {
  int chunk = static_cast<int>(std::min<std::size_t>(count, 0x7FFFFFFF));
  int received = recv(handle, static_cast<char*>(buffer), chunk, flags);
  return received == SOCKET_ERROR ? -1 : received;
}

int SocketBytesWaiting(SocketHandle handle, std::int32_t& count) {
  u_long waiting = 0;
  if (ioctlsocket(handle, FIONREAD, &waiting) != 0) return -1;
  count = static_cast<std::int32_t>(std::min<u_long>(waiting, 0x7FFFFFFF));
  return 0;
}

// Time-outs are a DWORD of milliseconds on Windows.
void SocketSetTimeout(SocketHandle handle, std::uint32_t milliseconds) {
  DWORD limit = milliseconds;
  setsockopt(handle, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
  setsockopt(handle, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
}

void SocketSetNoDelay(SocketHandle handle, std::int32_t enable) {
  BOOL value = enable != 0;
  setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&value), sizeof value);
}

bool SocketName(SocketHandle handle, bool peer, std::uint32_t& ip, std::uint16_t& port) {
  sockaddr_in address{};
  int length = sizeof address;
  auto* raw = reinterpret_cast<sockaddr*>(&address);
  int result = peer ? getpeername(handle, raw, &length) : getsockname(handle, raw, &length);
  if (result != 0 || address.sin_family != AF_INET) return false;
  ip = ntohl(address.sin_addr.s_addr);
  port = ntohs(address.sin_port);
  return true;
}

// Winsock's select takes at most FD_SETSIZE (64) handles a set, the limit
// the callers keep to.
int WaitSockets(SocketWait* waits, std::size_t count, long seconds, long microseconds) {
  fd_set sets[3];
  for (fd_set& set : sets) FD_ZERO(&set);
  bool any = false;
  for (std::size_t i = 0; i < count; ++i) {
    bool wanted[3] = {waits[i].read, waits[i].write, waits[i].error};
    for (int s = 0; s < 3; ++s) {
      if (!wanted[s]) continue;
      if (sets[s].fd_count >= FD_SETSIZE) return -1;
      FD_SET(waits[i].handle, &sets[s]);
      any = true;
    }
  }
  if (!any) return -1;
  timeval limit{seconds, microseconds};
  int ready = select(0, &sets[0], &sets[1], &sets[2], seconds < 0 ? nullptr : &limit);
  if (ready == SOCKET_ERROR) return -1;
  int found = 0;
  for (std::size_t i = 0; i < count; ++i) {
    waits[i].readReady = waits[i].read && FD_ISSET(waits[i].handle, &sets[0]);
    waits[i].writeReady = waits[i].write && FD_ISSET(waits[i].handle, &sets[1]);
    waits[i].errorReady = waits[i].error && FD_ISSET(waits[i].handle, &sets[2]);
    found += waits[i].readReady + waits[i].writeReady + waits[i].errorReady;
  }
  return found;
}

std::vector<std::uint32_t> ResolveIPv4(const char* name) {
  std::vector<std::uint32_t> found;
  // An empty name would give the local host's addresses here, and nothing
  // on POSIX; nothing is the answer for no name.
  if (!name[0] || !EnsureStarted()) return found;
  const hostent* host = gethostbyname(name);
  if (!host || host->h_addrtype != AF_INET || host->h_length != 4) return found;
  for (char** entry = host->h_addr_list; *entry; ++entry) {
    std::uint32_t ip = 0;
    for (int k = 0; k < 4; ++k) ip = (ip << 8) | static_cast<unsigned char>((*entry)[k]);
    if (std::find(found.begin(), found.end(), ip) == found.end()) found.push_back(ip);
  }
  return found;
}

bool ReverseIPv4(std::uint32_t ip, std::string& name) {
  if (!EnsureStarted()) return false;
  in_addr address{};
  address.s_addr = htonl(ip);
  const hostent* host = gethostbyaddr(reinterpret_cast<const char*>(&address), sizeof address, AF_INET);
  if (!host || !host->h_name) return false;
  name = host->h_name;
  return true;
}

}  // namespace corvid::platform
