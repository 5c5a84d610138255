#include "net/socket.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/network.h"

namespace corvid {
namespace {

using testing::kLoopback;
using testing::SendAll;

// A listener on a port of the system's choice, a client connected to it
// and the server's end of that connection.
struct Connection {
  Ref<TSocket> listener = TSocket::CreateTCP();
  Ref<TSocket> client = TSocket::CreateTCP();
  Ref<TSocket> server;

  Connection() {
    EXPECT_EQ(listener->Bind(0) + listener->Listen(4), 2);
    EXPECT_EQ(client->Connect(kLoopback, listener->LocalPort()), 1);
    server = listener->Accept(5000);
    EXPECT_TRUE(server);
  }
  ~Connection() {
    for (const auto& socket : {listener, client, server})
      if (socket) socket->Close();
  }
};

void WaitReadable(TSocket& socket) {
  Int watch[1] = {socket.Socket()};
  ASSERT_EQ(SelectSockets(1, watch, 0, nullptr, 0, nullptr, 5000), 1);
}

std::string Receive(TSocket& socket, Int count) {
  std::string bytes(static_cast<std::size_t>(count), '\0');
  bytes.resize(static_cast<std::size_t>(socket.Recv(reinterpret_cast<std::uint8_t*>(bytes.data()), count, 0)));
  return bytes;
}

std::vector<Int> Names(TSocket& s) { return {s.LocalIp(), s.LocalPort(), s.RemoteIp(), s.RemotePort()}; }

TEST(Socket, ConnectionOverLoopback) {
  Ref<TSocket> fresh = TSocket::CreateTCP();
  EXPECT_EQ(Names(*fresh), std::vector<Int>(4, 0));
  fresh->Close();

  Connection c;
  Int port = c.listener->LocalPort();
  EXPECT_GT(port, 0);
  EXPECT_EQ(Names(*c.client), std::vector<Int>({kLoopback, c.client->LocalPort(), kLoopback, port}));
  EXPECT_EQ(Names(*c.server), std::vector<Int>({kLoopback, port, kLoopback, c.client->LocalPort()}));

  EXPECT_TRUE(SendAll(*c.client, "hello"));
  WaitReadable(*c.server);
  EXPECT_EQ(c.server->ReadAvail(), 5);
  EXPECT_EQ(Receive(*c.server, 3), "hel");
  EXPECT_EQ(c.server->ReadAvail(), 2);
  EXPECT_EQ(Receive(*c.server, 10), "lo");
}

TEST(Socket, ConnectedTellsLiveIdleAndGonePeers) {
  struct {
    const char* name;
    std::string sent;
    bool peerCloses;
    Int beforeReading, afterReading;
  } const cases[] = {
      {"idle live peer", "", false, 1, 1},
      {"live peer with data", "ab", false, 1, 1},
      {"peer sent data and closed", "ab", true, 1, 0},
      {"peer closed", "", true, 0, 0},
  };
  for (const auto& row : cases) {
    SCOPED_TRACE(row.name);
    Connection c;
    SendAll(*c.server, row.sent);
    if (row.peerCloses) c.server->Close();
    if (!row.sent.empty() || row.peerCloses) WaitReadable(*c.client);
    EXPECT_EQ(c.client->Connected(), row.beforeReading);
    if (!row.sent.empty()) {
      EXPECT_EQ(Receive(*c.client, 10), row.sent);
    }
    EXPECT_EQ(c.client->Connected(), row.afterReading);
    EXPECT_EQ(c.client->Socket() < 0, row.afterReading == 0);
  }
}

TEST(Socket, SendingToAGonePeerGivesZeroInsteadOfEndingTheProcess) {
#ifndef _WIN32
  signal(SIGPIPE, SIG_DFL);
#endif
  Connection c;
  c.server->Close();
  const std::uint8_t byte = 'x';
  Int sent = 1;
  for (int tries = 0; tries < 1000 && sent != 0; ++tries) sent = c.client->Send(&byte, 1, 0);
  EXPECT_EQ(sent, 0);
}

TEST(Socket, AcceptWaitsOnlyAsLongAsAsked) {
  Connection c;
  EXPECT_FALSE(c.listener->Accept(0));
  EXPECT_FALSE(c.listener->Accept(30));
  Ref<TSocket> second = TSocket::CreateTCP();
  ASSERT_EQ(second->Connect(kLoopback, c.listener->LocalPort()), 1);
  Ref<TSocket> accepted = c.listener->Accept(-1);
  ASSERT_TRUE(accepted);
  EXPECT_EQ(accepted->RemotePort(), second->LocalPort());
  accepted->Close();
  second->Close();
  c.listener->Close();
  EXPECT_FALSE(c.listener->Accept(-1));  // a closed listener is never waited on
}

TEST(Socket, CloseReleasesOnceAndOnlyAnOwnedHandle) {
  Ref<TSocket> socket = TSocket::CreateTCP();
  EXPECT_EQ(socket->Close(), 0);
  EXPECT_EQ(socket->Socket(), -1);
  EXPECT_EQ(Names(*socket), std::vector<Int>(4, -1));
  EXPECT_EQ(socket->Close(), 0);
  EXPECT_EQ(socket->Connected(), 0);

  Ref<TSocket> owner = TSocket::CreateTCP();
  TSocket::Create(owner->Socket(), 0)->Close();
  EXPECT_TRUE(testing::SocketHandleOpen(owner->Socket()));
  owner->Close();
  EXPECT_FALSE(TSocket::Create(-1, 1));
}

TEST(SelectSockets, WatchesTheFirst64DistinctHandlesOfAList) {
  std::vector<Ref<TSocket>> sockets;
  std::vector<Int> list;
  for (int i = 0; i < 70; ++i) {
    sockets.push_back(TSocket::CreateUDP());  // always writable
    list.push_back(sockets.back()->Socket());
  }
  list.insert(list.begin() + 1, list[0]);  // a duplicate takes no place of its own
  std::vector<Int> expected = list;
  std::fill(expected.begin() + 65, expected.end(), 0);
  EXPECT_EQ(SelectSockets(0, nullptr, static_cast<Int>(list.size()), list.data(), 0, nullptr, 1000), 64);
  EXPECT_EQ(list, expected);
  for (const auto& socket : sockets) socket->Close();
}

TEST(SelectSockets, EachListKeepsItsReadyEntries) {
  Connection c;
  SendAll(*c.server, "x");
  WaitReadable(*c.client);
  Int reads[] = {c.server->Socket(), c.client->Socket()}, writes[] = {c.server->Socket()},
      errors[] = {c.client->Socket()};
  EXPECT_EQ(SelectSockets(2, reads, 1, writes, 1, errors, 0), 2);
  EXPECT_EQ(std::vector<Int>({reads[0], reads[1], writes[0], errors[0]}),
            std::vector<Int>({0, c.client->Socket(), c.server->Socket(), 0}));
  Int idle[] = {c.server->Socket()};
  EXPECT_EQ(SelectSockets(1, idle, 0, nullptr, 0, nullptr, 20), 0);
  EXPECT_EQ(idle[0], 0);
}

TEST(SelectSockets, HandlesThatAreNotOpenFailTheWaitAndLeaveTheList) {
  Ref<TSocket> closed = TSocket::CreateUDP();
  Int number = closed->Socket();
  closed->Close();
  for (Int handle : {-1, number}) {
    Int list[] = {handle};
    EXPECT_LT(SelectSockets(0, nullptr, 1, list, 0, nullptr, -1), 0);
    EXPECT_EQ(list[0], handle);
  }
  EXPECT_LT(SelectSockets(0, nullptr, 0, nullptr, 0, nullptr, -1), 0);  // would sleep for ever
}

TEST(SelectSockets, WatchesHandlesAbove1023) {
#ifdef _WIN32
  GTEST_SKIP() << "Winsock's select takes handles of any value; its limit, 64 a set, is "
                  "WatchesTheFirst64DistinctHandlesOfAList's";
#else
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = std::max<rlim_t>(limit.rlim_cur, std::min<rlim_t>(limit.rlim_max, 1100));
  setrlimit(RLIMIT_NOFILE, &limit);
  Ref<TSocket> udp = TSocket::CreateUDP();
  int high = fcntl(udp->Socket(), F_DUPFD_CLOEXEC, 1024);
  udp->Close();
  if (high < 0) GTEST_SKIP() << "no descriptor above 1023 allowed";
  Int list[] = {high};
  EXPECT_EQ(SelectSockets(0, nullptr, 1, list, 0, nullptr, 1000), 1);
  EXPECT_EQ(list[0], high);
  close(high);
#endif
}

TEST(HostLookup, FormatIpWritesEachByteUnsigned) {
  EXPECT_EQ(Text(FormatIp(static_cast<Int>(0xC0A80001u))).View(), u"192.168.0.1");
  EXPECT_EQ(Text(FormatIp(-1)).View(), u"255.255.255.255");
  EXPECT_EQ(Text(FormatIp(0x0A00FF01)).View(), u"10.0.255.1");
}

// In a private network no look-up reaches a name server, so names that do
// not resolve fail at once.
TEST(HostLookup, NamesAndAddresses) {
  if (auto why = testing::EnterPrivateNetwork(); !why.empty()) GTEST_SKIP() << why;
  Ref<Array> all = ResolveHostAll("localhost"_s);
  ASSERT_GT(all->Count(), 0);
  EXPECT_EQ(all->At<Int>(0), kLoopback);
  std::vector<Int> addresses(all->Elements<Int>().begin(), all->Elements<Int>().end());
  std::sort(addresses.begin(), addresses.end());
  EXPECT_EQ(std::adjacent_find(addresses.begin(), addresses.end()), addresses.end());
  EXPECT_EQ(ResolveHost("127.0.0.1"_s, 0), kLoopback);

  const std::pair<Ref<String>, Int> none[] = {
      {"localhost"_s, -1},
      {"localhost"_s, all->Count()},
      {"no-such-host.invalid"_s, 0},
      {u"local\u0100host"_s, 0},  // narrowed, the name would end after "local"
  };
  for (const auto& [name, index] : none) EXPECT_EQ(ResolveHost(name, index), 0) << ToBytes(name);

  EXPECT_EQ(Text(ReverseLookup(kLoopback)).View(), u"localhost");
  EXPECT_EQ(Text(ReverseLookup(0x0A0000FE)).View(), u"");
}

}  // namespace
}  // namespace corvid
