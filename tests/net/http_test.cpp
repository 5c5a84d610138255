// Socket streams, the "tcp" protocol and the "http" protocol against
// servers on the loopback of a private network, where port 80 is free.
#include "net/http.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "filesystem/open.h"
#include "memstream/bank_stream.h"
#include "net/socket_stream.h"
#include "support/bank_bytes.h"
#include "support/network.h"
#include "support/raised.h"

namespace corvid {
namespace {

using testing::kLoopback;
using testing::ScriptedServer;

// The client time-out of these tests: long beside the loopback's delays,
// short beside the suite's time.
constexpr Int kTimeout = 400;

class PrivateNetwork : public ::testing::Test {
 protected:
  void SetUp() override {
    StartHttpModule();
    StartFileSystemModule();
    if (auto why = testing::EnterPrivateNetwork(); !why.empty()) GTEST_SKIP() << why;
    SetClientTimeout(kTimeout);
    descriptors_ = testing::OpenDescriptors();
  }
  // Whatever the peer did, every descriptor the test opened is closed again.
  void TearDown() override {
    SetClientTimeout(kDefaultClientTimeout);
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

// How the server's side of the connection ends once it has sent.
enum class Ending { Close, Silence, Reset };

using SocketStreams = PrivateNetwork;

TEST_F(SocketStreams, TcpNamesConnectToTheirPortOrPort80) {
  if (auto why = testing::NeedPort(80); !why.empty()) GTEST_SKIP() << why;
  if (auto why = testing::NeedPort(8080); !why.empty()) GTEST_SKIP() << why;
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

// A peer that keeps silent, or takes nothing, fails the read or the write
// after the client time-out instead of holding the stream for ever.
TEST_F(SocketStreams, ASilentPeerFailsReadsAndWritesAfterTheTimeOut) {
  std::promise<void> done;
  ScriptedServer server(0, [&](TSocket&) { done.get_future().wait(); });
  Ref<TStream> stream = OpenUrl(FromBytes("tcp::127.0.0.1:" + std::to_string(server.Port())), 1, 1);
  ASSERT_TRUE(stream);
  std::string block(1 << 20, 'x');
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(block.data());
  EXPECT_TRUE(testing::Raises<TStreamWriteException>([&] {
    for (int i = 0; i < 256; ++i) stream->WriteBytes(bytes, static_cast<Int>(block.size()));
  }));
  std::uint8_t byte;
  EXPECT_TRUE(testing::Raises<TStreamReadException>([&] { stream->Read(&byte, 1); }));
  EXPECT_EQ(stream->Eof(), 1);
  done.set_value();
}

// How a connection ends, as a reader that goes on until Eof sees it: the
// bytes it got, and whether a read failed. Only a close in order, or the
// end of the length set with EndAfter, ends the data; a connection that
// breaks off fails the read that meets it, and Eof is 1 only afterwards.
struct ConnectionEnd {
  const char* name;
  std::string sent;
  Ending ending;
  Long length;  // for EndAfter; -1: none
  bool fails;
};

void PrintTo(const ConnectionEnd& end, std::ostream* out) { *out << end.name; }

class ConnectionEnds : public PrivateNetwork, public ::testing::WithParamInterface<ConnectionEnd> {};

TEST_P(ConnectionEnds, FailTheReadUnlessTheDataIsWhole) {
  const ConnectionEnd& end = GetParam();
  if (auto why = end.ending == Ending::Reset ? testing::NeedResets() : ""; !why.empty()) GTEST_SKIP() << why;
  std::promise<void> done;
  ScriptedServer server(0, [&](TSocket& peer) {
    testing::SendAll(peer, end.sent);
    if (end.ending == Ending::Silence) done.get_future().wait();
    if (end.ending == Ending::Reset) testing::ResetOnClose(peer);
  });
  struct Release {
    std::promise<void>& done;
    ~Release() { done.set_value(); }
  } release{done};
  Ref<TSocketStream> stream = TSocketStream::CreateClient("127.0.0.1"_s, server.Port());
  ASSERT_TRUE(stream);
  stream->EndAfter(end.length);
  // The end is on its way before the first look, so that Eof meets it.
  if (end.ending != Ending::Silence) server.Join();
  std::string got;
  bool failed = false;
  try {
    while (!stream->Eof()) {
      std::uint8_t buffer[16];
      Int n = stream->Read(buffer, sizeof buffer);
      got.append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(n));
    }
  } catch (const Raised& raised) {
    if (!raised.As<TStreamReadException>()) throw;
    failed = true;
  }
  EXPECT_EQ(got, end.sent.substr(0, end.length < 0 ? std::string::npos : static_cast<std::size_t>(end.length)));
  EXPECT_EQ(failed, end.fails);
  EXPECT_EQ(stream->Eof(), 1);
  EXPECT_FALSE(stream->Socket());
}

INSTANTIATE_TEST_SUITE_P(
    Ends, ConnectionEnds,
    ::testing::Values(ConnectionEnd{"ClosedInOrder", "abc", Ending::Close, -1, false},
                      ConnectionEnd{"Reset", "abc", Ending::Reset, -1, true},
                      ConnectionEnd{"SilentPastTheTimeOut", "abc", Ending::Silence, -1, true},
                      ConnectionEnd{"ClosedShortOfItsLength", "abc", Ending::Close, 5, true},
                      ConnectionEnd{"LongerThanItsLength", "abcdef", Ending::Silence, 3, false}),
    [](const auto& info) { return std::string(info.param.name); });

// A listener whose queue is full drops further attempts unanswered, so
// only the time-out ends a connect to it, even one that signals keep
// interrupting. Should the wait outlast the time-out by far, the listener
// is closed to end it and the test fails.
TEST_F(SocketStreams, AnInterruptedConnectStillEndsAfterTheTimeOut) {
  Ref<TSocket> listener = TSocket::CreateTCP();
  ASSERT_EQ(listener->Bind(0) + listener->Listen(0), 2);
  Ref<TSocket> queued = TSocket::CreateTCP();
  ASSERT_EQ(queued->Connect(testing::kLoopback, listener->LocalPort()), 1);
#ifndef _WIN32
  struct sigaction wake {}, previous{};
  wake.sa_handler = [](int) {};  // no SA_RESTART: the connect sees EINTR
  ASSERT_EQ(sigaction(SIGUSR1, &wake, &previous), 0);
  pthread_t connecting = pthread_self();
#endif
  std::atomic<bool> done{false}, rescued{false};
  std::thread interrupter([&] {
    for (int round = 0; !done; ++round) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
#ifndef _WIN32
      // Windows has no signals: there the connect is only waited out.
      if (!done) pthread_kill(connecting, SIGUSR1);
#endif
      if (round == 250 && !done) {
        rescued = true;
        listener->Close();
      }
    }
  });
  Ref<TStream> stream = OpenUrl(FromBytes("tcp::127.0.0.1:" + std::to_string(listener->LocalPort())), 1, 1);
  done = true;
  interrupter.join();
#ifndef _WIN32
  sigaction(SIGUSR1, &previous, nullptr);
#endif
  EXPECT_FALSE(stream);
  EXPECT_FALSE(rescued);
  queued->Close();
  listener->Close();
}

// What reached the server, for each form of name.
TEST_F(PrivateNetwork, HttpRequestHoldsExactlyTheLineAndTheHost) {
  if (auto why = testing::NeedPort(80); !why.empty()) GTEST_SKIP() << why;
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
  if (auto why = testing::NeedPort(80); !why.empty()) GTEST_SKIP() << why;
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
  std::string slow;     // sent after `bytes` one byte at a time, with a pause after each
  std::string endless;  // sent over and over after those until the client stops taking it
  int pauseMillis;      // the pause after each byte of `slow` and `endless`; 0: `endless` at once
  Ending ending;
  std::optional<std::string> body;
};

void PrintTo(const Reply& reply, std::ostream* out) { *out << reply.name; }

const std::string kHead = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n";

std::string HeadLine(std::size_t bytes) { return "HTTP/1.0 200 OK\r\nX: " + std::string(bytes - 4, 'a') + "\r\n\r\n"; }

std::string Repeat(const std::string& text, int times) {
  std::string all;
  while (times-- > 0) all += text;
  return all;
}

// Sends `bytes`, byte by byte with a pause after each when `pauseMillis`
// is set; false once the client takes no more.
bool Send(TSocket& peer, const std::string& bytes, int pauseMillis) {
  if (pauseMillis <= 0) return testing::SendAll(peer, bytes);
  for (char byte : bytes) {
    if (!testing::SendAll(peer, std::string(1, byte))) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(pauseMillis));
  }
  return true;
}

class HostileServers : public PrivateNetwork, public ::testing::WithParamInterface<Reply> {};

// Every reply ends within the time-out: with the whole body, or with no
// stream when the reply broke off, stalled or had a head out of bounds.
TEST_P(HostileServers, GiveTheWholeBodyOrNoStream) {
  if (auto why = testing::NeedPort(80); !why.empty()) GTEST_SKIP() << why;
  const Reply& reply = GetParam();
  if (auto why = reply.ending == Ending::Reset ? testing::NeedResets() : ""; !why.empty()) GTEST_SKIP() << why;
  ScriptedServer server(80, [&](TSocket& peer) {
    testing::ReadRequest(peer);
    if (!testing::SendAll(peer, reply.bytes) || !Send(peer, reply.slow, std::max(reply.pauseMillis, 1))) return;
    while (!reply.endless.empty() && Send(peer, reply.endless, reply.pauseMillis)) {
    }
    if (reply.ending == Ending::Silence) {
      std::uint8_t byte;
      while (peer.Recv(&byte, 1, 0) > 0) {
      }
    }
    if (reply.ending == Ending::Reset) testing::ResetOnClose(peer);
  });
  EXPECT_EQ(LoadBody("http::127.0.0.1/code.txt"), reply.body);
}

constexpr Ending kClose = Ending::Close;

INSTANTIATE_TEST_SUITE_P(
    Replies, HostileServers,
    ::testing::Values(
        Reply{"HeadLinesEndingInBareLf", "HTTP/1.0 200 OK\nServer: x\n\n+.\n", "", "", 0, kClose, "+.\n"},
        Reply{"ClosedAfterTheHead", kHead, "", "", 0, kClose, ""},
        Reply{"ClosedBeforeTheEmptyLine", "HTTP/1.0 200 OK\r\nServer: x\r\n", "", "", 0, kClose, std::nullopt},
        Reply{"ClosedWithoutAnswering", "", "", "", 0, kClose, std::nullopt},
        Reply{"ClosedMidBody", "HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n+++", "", "", 0, kClose,
              std::nullopt},
        Reply{"BodyOfItsLength", "HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\n+++", "", "", 0, kClose, "+++"},
        Reply{"BytesBeyondItsLength", "HTTP/1.0 200 OK\r\ncontent-length:  3 \r\n\r\n+++extra", "", "", 0,
              Ending::Silence, "+++"},
        Reply{"LengthThatIsNoNumber", "HTTP/1.0 200 OK\r\nContent-Length: 3x\r\n\r\n+++", "", "", 0, kClose,
              std::nullopt},
        Reply{"LengthsThatDiffer", "HTTP/1.0 200 OK\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\n+++", "",
              "", 0, kClose, std::nullopt},
        Reply{"ErrorStatusWithItsBody", "HTTP/1.0 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found", "", "",
              0, kClose, "not found"},
        Reply{"Trickle", "", kHead + "+.+.", "", 1, kClose, "+.+."},
        Reply{"HeadLineAtTheLimit", HeadLine(65536) + "+", "", "", 0, kClose, "+"},
        Reply{"HeadLineOverTheLimit", HeadLine(65537) + "+", "", "", 0, kClose, std::nullopt},
        Reply{"EndlessHeadLine", "HTTP/1.0 200 OK\r\nX: ", "", std::string(4096, 'a'), 0, kClose,
              std::nullopt},
        Reply{"EndlessHead", "HTTP/1.0 200 OK\r\n", "", Repeat("X: y\r\n", 700), 0, kClose, std::nullopt},
        Reply{"EndlessCarriageReturns", "HTTP/1.0 200 OK\r\n", "", std::string(4096, '\r'), 0, kClose,
              std::nullopt},
        Reply{"NeverAnswers", "", "", "", 0, Ending::Silence, std::nullopt},
        Reply{"SilentInTheHead", "HTTP/1.0 200 OK\r\n", "", "", 0, Ending::Silence, std::nullopt},
        Reply{"SlowEndlessHead", "HTTP/1.0 200 OK\r\n", "", "X: y\r\n", kTimeout / 8, kClose,
              std::nullopt},
        Reply{"SilentMidBody", kHead + "+.", "", "", 0, Ending::Silence, std::nullopt},
        Reply{"SlowBodyLongerThanTheTimeOut", kHead, "+.+.+.+.", "", kTimeout / 4, kClose, "+.+.+.+."},
        Reply{"ResetWithoutAnswering", "", "", "", 0, Ending::Reset, std::nullopt},
        Reply{"ResetInTheHead", "HTTP/1.0 200 OK\r\n", "", "", 0, Ending::Reset, std::nullopt},
        Reply{"ResetMidBody", kHead + "+++", "", "", 0, Ending::Reset, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// A load that fails part-way (here: the memory runs out under an endless
// body) closes the socket it was reading before the error passes on.
TEST_F(PrivateNetwork, ALoadThatFailsClosesItsSocket) {
#if defined(_WIN32)
  GTEST_SKIP() << "needs fork and a limit on a process's address space (setrlimit), which Windows lacks";
#elif defined(CORVID_SANITIZED)
  GTEST_SKIP() << "the sanitizers reserve address space that a memory limit would cut";
#else
  ScriptedServer server(80, [](TSocket& peer) {
    testing::ReadRequest(peer);
    std::string block = kHead + std::string(1 << 16, '+');
    while (testing::SendAll(peer, block)) {
    }
  });
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int before = testing::OpenDescriptors();
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    rlim_t bytes = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (64u << 20);
    rlimit limit{bytes, bytes};
    setrlimit(RLIMIT_AS, &limit);
    int status = 2;  // loaded: the memory did not run out
    try {
      OpenSeekableReader("http::127.0.0.1/"_s);
    } catch (const Raised&) {
      status = testing::OpenDescriptors() == before ? 0 : 1;
    }
    _exit(status);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
#endif
}

}  // namespace
}  // namespace corvid
