// Socket streams, the "tcp" protocol and the "http" protocol against
// servers on the loopback of a private network, where port 80 is free.
#include "net/http.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "filesystem/open.h"
#include "memstream/bank_stream.h"
#include "net/socket_stream.h"
#include "support/bank_bytes.h"
#include "support/network.h"

namespace corvid {
namespace {

using testing::kLoopback;
using testing::ScriptedServer;

class PrivateNetwork : public ::testing::Test {
 protected:
  void SetUp() override {
    StartHttpModule();
    StartFileSystemModule();
    if (auto why = testing::EnterPrivateNetwork(); !why.empty()) GTEST_SKIP() << why;
    descriptors_ = testing::OpenDescriptors();
  }
  // Whatever the peer did, every descriptor the test opened is closed again.
  void TearDown() override {
    if (descriptors_ >= 0) {
      EXPECT_EQ(testing::OpenDescriptors(), descriptors_);
    }
  }

  int descriptors_ = -1;
};

// The whole body as the interpreter's loader sees it, or nullopt when the
// open gave no stream.
std::optional<std::string> LoadBody(const std::string& url) {
  auto stream = CastTo<TBankStream>(OpenSeekableReader(FromBytes(url)));
  if (!stream) return std::nullopt;
  return testing::BytesOf(stream->Bank());
}

using SocketStreams = PrivateNetwork;

TEST_F(SocketStreams, TcpNamesConnectToTheirPortOrPort80) {
  const std::pair<const char*, Int> cases[] = {
      {"tcp::127.0.0.1", 80}, {"TCP::localhost:8080", 8080}, {"tcp::127.0.0.1:8080xyz", 8080}};
  for (const auto& [url, port] : cases) {
    SCOPED_TRACE(url);
    ScriptedServer server(port, [](TSocket& peer) { testing::SendAll(peer, "hi\r\n"); });
    Ref<TStream> stream = OpenUrl(FromBytes(url), 1, 0);
    ASSERT_TRUE(CastTo<TSocketStream>(stream));
    EXPECT_EQ(ToBytes(stream->ReadLine()), "hi");
    stream->Close();
  }
  for (const char* url : {"tcp::no-such-host.invalid", "tcp::127.0.0.1:9", "tcp::127.0.0.1:"})
    EXPECT_FALSE(OpenUrl(FromBytes(url), 1, 0)) << url;
}

TEST_F(SocketStreams, EofClosesOnlyWhenThePeerHasGoneAndNothingWaits) {
  std::promise<void> read;
  ScriptedServer server(0, [&](TSocket& peer) {
    testing::SendAll(peer, "ab");
    read.get_future().wait();
  });
  Ref<TSocketStream> stream = TSocketStream::CreateClient("127.0.0.1"_s, server.Port());
  ASSERT_TRUE(stream);
  EXPECT_EQ(stream->Pos(), -1);
  EXPECT_EQ(stream->Size(), 0);
  std::uint8_t two[2];
  EXPECT_EQ(stream->ReadBytes(two, 2), 2);
  EXPECT_EQ(stream->Eof(), 0);  // live and idle: no waiting
  read.set_value();
  server.Join();
  Ref<TSocket> socket = stream->Socket();
  Int watch[1] = {socket->Socket()};
  ASSERT_EQ(SelectSockets(1, watch, 0, nullptr, 0, nullptr, 5000), 1);
  EXPECT_EQ(stream->Eof(), 1);
  EXPECT_FALSE(stream->Socket());
  EXPECT_EQ(socket->Socket(), -1);
  EXPECT_EQ(stream->Close(), 0);
}

TEST_F(SocketStreams, AnEmptyReadEndsTheStreamAndAStreamThatDoesNotOwnItsSocketLeavesItOpen) {
  for (Int autoClose : {1, 0}) {
    ScriptedServer server(0, [](TSocket&) {});
    Ref<TSocket> socket = TSocket::CreateTCP();
    ASSERT_EQ(socket->Connect(kLoopback, server.Port()), 1);
    Int handle = socket->Socket();
    Ref<TSocketStream> stream = NewSocketStream(socket, autoClose);
    std::uint8_t byte;
    EXPECT_EQ(stream->Read(&byte, 1), 0);  // waits for the peer's close
    EXPECT_FALSE(SocketOfStream(stream));
    EXPECT_EQ(stream->Eof(), 1);
    EXPECT_EQ(socket->Socket(), autoClose ? -1 : handle);
    socket->Close();
  }
}

// What reached the server, for each form of name.
TEST_F(PrivateNetwork, HttpRequestHoldsExactlyTheLineAndTheHost) {
  const std::pair<const char*, const char*> cases[] = {
      {"http::127.0.0.1", "GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n"},
      {"HTTP::localhost/dir/page", "GET /dir/page HTTP/1.0\r\nHost: localhost\r\n\r\n"},
  };
  for (const auto& [url, request] : cases) {
    std::string seen;
    ScriptedServer server(80, [&](TSocket& peer) {
      seen = testing::ReadRequest(peer);
      testing::SendAll(peer, "HTTP/1.0 200 OK\r\nServer: test\r\n\r\nhello\r\nrest");
    });
    Ref<TStream> stream = OpenUrl(FromBytes(url), 1, 0);
    ASSERT_TRUE(stream) << url;
    EXPECT_EQ(ToBytes(stream->ReadLine()), "hello");
    stream->Close();
    server.Join();
    EXPECT_EQ(seen, request);
  }
}

// Names that would change the request, or that name no host, make no
// connection at all.
TEST_F(PrivateNetwork, HttpNamesThatCannotBeAskedForOpenNothing) {
  Ref<TSocket> listener = TSocket::CreateTCP();
  ASSERT_EQ(listener->Bind(80), 1);
  ASSERT_EQ(listener->Listen(4), 1);
  for (const char* url : {"http::127.0.0.1:80/a", "http::127.0.0.1/a HTTP/1.0\r\nX: y", "http::127.0.0.1\n/a"})
    EXPECT_FALSE(OpenUrl(FromBytes(url), 1, 0)) << url;
  EXPECT_FALSE(OpenUrl(FromBytes(std::string("http::127.0.0.1/a\0b", 19)), 1, 0));
  EXPECT_FALSE(listener->Accept(0));
  listener->Close();
}

struct Reply {
  const char* name;
  std::string bytes;
  std::string endless;  // sent over and over after `bytes` until the client stops taking it
  bool trickle;         // one byte at a time
  std::optional<std::string> body;
};

const std::string kHead = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n";

std::string HeadLine(std::size_t bytes) { return "HTTP/1.0 200 OK\r\nX: " + std::string(bytes - 4, 'a') + "\r\n\r\n"; }

std::string Repeat(const std::string& text, int times) {
  std::string all;
  while (times-- > 0) all += text;
  return all;
}

class HostileServers : public PrivateNetwork, public ::testing::WithParamInterface<Reply> {};

TEST_P(HostileServers, GiveTheBodyThatArrivedOrNoStream) {
  const Reply& reply = GetParam();
  ScriptedServer server(80, [&](TSocket& peer) {
    testing::ReadRequest(peer);
    if (reply.trickle) {
      for (char byte : reply.bytes) {
        if (!testing::SendAll(peer, std::string(1, byte))) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    } else if (!testing::SendAll(peer, reply.bytes)) {
      return;
    }
    while (!reply.endless.empty() && testing::SendAll(peer, reply.endless)) {
    }
  });
  EXPECT_EQ(LoadBody("http::127.0.0.1/code.txt"), reply.body);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, HostileServers,
    ::testing::Values(
        Reply{"HeadLinesEndingInBareLf", "HTTP/1.0 200 OK\nServer: x\n\n+.\n", "", false, "+.\n"},
        Reply{"ClosedAfterTheHead", kHead, "", false, ""},
        Reply{"ClosedBeforeTheEmptyLine", "HTTP/1.0 200 OK\r\nServer: x\r\n", "", false, ""},
        Reply{"ClosedWithoutAnswering", "", "", false, ""},
        Reply{"ClosedMidBody", "HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n+++", "", false, "+++"},
        Reply{"Trickle", kHead + "+.+.", "", true, "+.+."},
        Reply{"HeadLineAtTheLimit", HeadLine(65536) + "+", "", false, "+"},
        Reply{"HeadLineOverTheLimit", HeadLine(65537) + "+", "", false, std::nullopt},
        Reply{"EndlessHeadLine", "HTTP/1.0 200 OK\r\nX: ", std::string(4096, 'a'), false, std::nullopt},
        Reply{"EndlessHead", "HTTP/1.0 200 OK\r\n", Repeat("X: y\r\n", 700), false, std::nullopt},
        Reply{"EndlessCarriageReturns", "HTTP/1.0 200 OK\r\n", std::string(4096, '\r'), false, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace corvid
