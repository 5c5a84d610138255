// Helpers for the network tests: a private network of the test's own,
// loopback servers that follow a script.
#pragma once

#include <functional>
#include <stdexcept>
#include <future>
#include <string>
#include <thread>

#include "net/socket.h"
#include "support/test_support.h"

namespace corvid::testing {

constexpr Int kLoopback = 0x7F000001;

/// Gives the test process a network of its own. On Linux it moves into a
/// network namespace with the loopback interface up, so that any port (80
/// included) is free and no look-up reaches a real name server. Windows has
/// no such thing: the process takes a lock that the suite's processes
/// share, held until it ends, so that they do not contend for the fixed
/// ports, and names go to the machine's resolver. Empty on success, else
/// why the network is unavailable (the caller skips).
std::string EnterPrivateNetwork();

/// Empty when a server of this process can listen on `port`, else why not
/// (the caller skips): a port below 1024 may need privileges, and outside a
/// private network another program may hold it.
inline std::string NeedPort(Int port) {
  Ref<TSocket> probe = TSocket::CreateTCP();
  bool free = probe && probe->Bind(port) && probe->Listen(1);
  if (probe) probe->Close();
  if (free) return "";
  return "needs to listen on port " + std::to_string(port) +
         ", which is taken or needs privileges this process lacks";
}

/// Makes the close of `peer` throw away what was not yet sent and answer
/// with a reset.
void ResetOnClose(TSocket& peer);
/// Whether the system still knows `handle` as an open socket (a descriptor
/// on POSIX).
bool SocketHandleOpen(Int handle);

/// Every byte up to and including the empty line that ends a request head,
/// or up to the peer's close.
inline std::string ReadRequest(TSocket& peer) {
  std::string bytes;
  std::uint8_t byte;
  while (bytes.size() < 65536 && bytes.find("\r\n\r\n") == std::string::npos &&
         peer.Recv(&byte, 1, 0) == 1)
    bytes += static_cast<char>(byte);
  return bytes;
}

/// Sends all of `bytes`; false once the peer takes no more.
inline bool SendAll(TSocket& peer, const std::string& bytes) {
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  for (std::size_t at = 0; at < bytes.size();) {
    Int sent = peer.Send(data + at, static_cast<Int>(bytes.size() - at), 0);
    if (sent <= 0) return false;
    at += static_cast<std::size_t>(sent);
  }
  return true;
}

/// A TCP server on the loopback that serves one connection with `script`
/// on a thread of its own, then closes it. The constructor returns once the
/// server is waiting, so a child process started afterwards is not forked
/// while the thread allocates.
class ScriptedServer {
 public:
  using Script = std::function<void(TSocket& peer)>;

  ScriptedServer(Int port, Script script) : listener_(TSocket::CreateTCP()) {
    if (!listener_ || !listener_->Bind(port) || !listener_->Listen(4)) {
      if (listener_) listener_->Close();
      throw std::runtime_error("test server could not listen");
    }
    std::promise<void> waiting;
    auto ready = waiting.get_future();
    thread_ = std::thread([this, script = std::move(script), &waiting] {
      waiting.set_value();
      if (Ref<TSocket> peer = listener_->Accept(30000)) {
        script(*peer);
        peer->Close();
      }
    });
    ready.wait();
  }
  ~ScriptedServer() {
    Join();
    listener_->Close();
  }
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  Int Port() const { return listener_->LocalPort(); }
  /// Waits until the connection has been served.
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  Ref<TSocket> listener_;
  std::thread thread_;
};

/// Empty when a close made by ResetOnClose reaches the peer as a reset,
/// else why not (the caller skips): under Wine the peer reads the bytes
/// sent and then an orderly end.
std::string NeedResets();

}  // namespace corvid::testing
