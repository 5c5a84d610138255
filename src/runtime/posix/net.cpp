// Sockets for the POSIX half.
#include "runtime/internal/platform_net.h"

#include <fcntl.h>
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "runtime/internal/platform.h"

namespace corvid::platform {

static_assert(kPeek == MSG_PEEK);

// A peer that has gone fails the send instead of raising SIGPIPE, where
// the system can say so per call; elsewhere the ignored signal does it.
#ifdef MSG_NOSIGNAL
constexpr int kNoSignal = MSG_NOSIGNAL;
#else
constexpr int kNoSignal = 0;
#endif

namespace {

sockaddr_in InetAddress(std::uint32_t ip, std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(ip);
  return address;
}

// A call cut short by a signal is asked again: the callers block by
// design and know nothing of signals.
template <class Call>
auto Retrying(Call&& call) {
  auto result = call();
  while (result < 0 && errno == EINTR) result = call();
  return result;
}

}  // namespace

bool StartSockets() { return true; }
void StopSockets() {}

namespace {

// Not inherited by child processes: a command the program runs must not
// keep a connection open after the program closed it.
SocketHandle Private(SocketHandle handle) {
#ifndef SOCK_CLOEXEC
  if (handle >= 0) fcntl(handle, F_SETFD, FD_CLOEXEC);
#endif
  return handle;
}

#ifdef SOCK_CLOEXEC
constexpr int kPrivate = SOCK_CLOEXEC;
#else
constexpr int kPrivate = 0;
#endif

}  // namespace

SocketHandle SocketOpen(int type) {
  int kind = type == kStreamSocket ? SOCK_STREAM : type == kDatagramSocket ? SOCK_DGRAM : -1;
  if (kind < 0) return kNoSocket;
  return Private(socket(AF_INET, kind | kPrivate, 0));
}

void SocketClose(SocketHandle handle) {
  if (handle >= 0) close(handle);
}

int SocketBind(int family, SocketHandle handle, std::uint16_t port) {
  if (family != kInet) return -1;
  // Connections of an earlier server that wait out their close on this port
  // do not keep a new one from binding it. A port with a listener stays
  // taken.
  int type = 0;
  socklen_t length = sizeof type;
  if (getsockopt(handle, SOL_SOCKET, SO_TYPE, &type, &length) == 0 && type == SOCK_STREAM) {
    int reuse = 1;
    setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  }
  sockaddr_in address = InetAddress(INADDR_ANY, port);
  return bind(handle, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

int SocketConnect(int family, SocketHandle handle, std::uint32_t ip, std::uint16_t port) {
  if (family != kInet) return -1;
  sockaddr_in address = InetAddress(ip, port);
  // Interrupted, the connection goes on in the background; wait for its
  // outcome rather than starting a second one, and no longer than the
  // socket's send time-out would have let the connect itself wait.
  if (connect(handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return 0;
  if (errno != EINTR) return -1;
  timeval limit{};
  socklen_t limitLength = sizeof limit;
  long long left = -1;
  if (getsockopt(handle, SOL_SOCKET, SO_SNDTIMEO, &limit, &limitLength) == 0 && (limit.tv_sec || limit.tv_usec))
    left = static_cast<long long>(limit.tv_sec) * 1000 + (limit.tv_usec + 999) / 1000;
  pollfd watch{handle, POLLOUT, 0};
  for (;;) {
    timespec before{};
    clock_gettime(CLOCK_MONOTONIC, &before);
    int ready = poll(&watch, 1, left < 0 ? -1 : static_cast<int>(std::min<long long>(left, INT_MAX)));
    if (ready > 0) break;
    if (ready == 0) {
      errno = ETIMEDOUT;
      return -1;
    }
    if (errno != EINTR) return -1;
    if (left >= 0) {
      timespec after{};
      clock_gettime(CLOCK_MONOTONIC, &after);
      left -= (after.tv_sec - before.tv_sec) * 1000LL + (after.tv_nsec - before.tv_nsec) / 1000000;
      if (left < 0) left = 0;
    }
  }
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(handle, SOL_SOCKET, SO_ERROR, &error, &length) < 0 || error != 0) return -1;
  return 0;
}

int SocketListen(SocketHandle handle, int backlog) { return listen(handle, backlog); }

SocketHandle SocketAccept(SocketHandle handle) {
#ifdef __linux__
  return Retrying([&] { return accept4(handle, nullptr, nullptr, SOCK_CLOEXEC); });
#else
  return Private(Retrying([&] { return accept(handle, nullptr, nullptr); }));
#endif
}

long SocketSend(SocketHandle handle, const void* buffer, std::size_t count, int flags) {
  return Retrying([&] { return send(handle, buffer, count, flags | kNoSignal); });
}

long SocketRecv(SocketHandle handle, void* buffer, std::size_t count, int flags) {
  return Retrying([&] { return recv(handle, buffer, count, flags); });
}

int SocketBytesWaiting(SocketHandle handle, std::int32_t& count) {
  int waiting = 0;
  if (ioctl(handle, FIONREAD, &waiting) < 0) return -1;
  count = waiting;
  return 0;
}

void SocketSetTimeout(SocketHandle handle, std::uint32_t milliseconds) {
  timeval limit{};
  limit.tv_sec = static_cast<time_t>(milliseconds / 1000);
  limit.tv_usec = static_cast<suseconds_t>(milliseconds % 1000 * 1000);
  setsockopt(handle, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(handle, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

void SocketSetNoDelay(SocketHandle handle, std::int32_t enable) {
  int value = enable;
  setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, &value, sizeof value);
}

bool SocketName(SocketHandle handle, bool peer, std::uint32_t& ip, std::uint16_t& port) {
  sockaddr_storage record{};
  socklen_t length = sizeof record;
  auto* address = reinterpret_cast<sockaddr*>(&record);
  int result = peer ? getpeername(handle, address, &length) : getsockname(handle, address, &length);
  if (result < 0 || record.ss_family != AF_INET) return false;
  const auto& inet = reinterpret_cast<const sockaddr_in&>(record);
  ip = ntohl(inet.sin_addr.s_addr);
  port = ntohs(inet.sin_port);
  return true;
}

int WaitSockets(SocketWait* waits, std::size_t count, long seconds, long microseconds) {
  // Waits of up to three full select sets need no heap.
  pollfd few[192];
  std::vector<pollfd> many(count > std::size(few) ? count : 0);
  pollfd* watch = many.empty() ? few : many.data();
  for (std::size_t i = 0; i < count; ++i) {
    short events = 0;
    if (waits[i].read) events |= POLLIN;
    if (waits[i].write) events |= POLLOUT;
    if (waits[i].error) events |= POLLPRI;
    watch[i] = {waits[i].handle, events, 0};
  }
  long long limit = seconds < 0 ? -1 : seconds * 1000LL + microseconds / 1000;
  std::uint64_t deadline = MonotonicMillis() + static_cast<std::uint64_t>(std::max(limit, 0LL));
  int ready;
  for (;;) {
    long long left = limit;
    if (limit >= 0) {
      std::uint64_t now = MonotonicMillis();
      left = now >= deadline ? 0 : static_cast<long long>(deadline - now);
    }
    ready = poll(watch, static_cast<nfds_t>(count), static_cast<int>(std::min<long long>(left, INT_MAX)));
    if (ready >= 0 || errno != EINTR) break;
  }
  if (ready < 0) return -1;
  int found = 0;
  for (std::size_t i = 0; i < count; ++i) {
    short seen = watch[i].revents;
    if (seen & POLLNVAL) return -1;
    // A hang-up alone is what a socket that never connected reports; it
    // is neither data nor a closed connection.
    waits[i].readReady = waits[i].read && (seen & (POLLIN | POLLERR));
    waits[i].writeReady = waits[i].write && (seen & (POLLOUT | POLLERR));
    waits[i].errorReady = waits[i].error && (seen & POLLPRI);
    found += waits[i].readReady + waits[i].writeReady + waits[i].errorReady;
  }
  return found;
}

std::vector<std::uint32_t> ResolveIPv4(const char* name) {
  std::vector<std::uint32_t> found;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &list) != 0) return found;
  for (addrinfo* entry = list; entry; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || entry->ai_addrlen < sizeof(sockaddr_in)) continue;
    std::uint32_t ip = ntohl(reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr);
    if (std::find(found.begin(), found.end(), ip) == found.end()) found.push_back(ip);
  }
  freeaddrinfo(list);
  return found;
}

bool ReverseIPv4(std::uint32_t ip, std::string& name) {
  sockaddr_in address = InetAddress(ip, 0);
  char host[NI_MAXHOST];
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof address, host, sizeof host,
                  nullptr, 0, NI_NAMEREQD) != 0)
    return false;
  name = host;
  return true;
}

}  // namespace corvid::platform
