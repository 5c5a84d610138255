// Code files fetched over the network: from a real web server on port 80
// of a private network (on Windows a small one of the test's own on the
// loopback), and from plain TCP servers.
#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/network.h"
#include "tape_runner.h"

namespace corvid {
namespace {

using testing::RunProcess;
using testing::ScriptedServer;
using testing::TapeBinary;
using testing::TempDir;
using testing::Transcript;

#ifdef _WIN32
// Serves the files of `dir` on port 80 of the loopback to every GET
// request, on a thread of its own, until the object goes. (A Windows test
// cannot start the Unix python3 the POSIX form uses.)
class WebServer {
 public:
  explicit WebServer(const std::filesystem::path& dir) : dir_(dir), listener_(TSocket::CreateTCP()) {
    if (!listener_ || !listener_->Bind(80) || !listener_->Listen(8)) return;
    running_ = true;
    thread_ = std::thread([this] {
      while (!stop_) {
        Ref<TSocket> peer = listener_->Accept(50);
        if (!peer) continue;
        std::string request = testing::ReadRequest(*peer);
        std::string path = request.substr(0, request.find(' ', 4));
        if (path.rfind("GET /", 0) == 0 && std::filesystem::is_regular_file(dir_ / path.substr(5)))
          testing::SendAll(*peer, "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" +
                                      testing::ReadFileBytes(dir_ / path.substr(5)));
        else
          testing::SendAll(*peer, "HTTP/1.0 404 Not Found\r\n\r\n");
        peer->Close();
      }
    });
  }
  ~WebServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_) listener_->Close();
  }
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  bool Running() const { return running_; }

 private:
  std::filesystem::path dir_;
  Ref<TSocket> listener_;
  std::atomic<bool> stop_{false};
  bool running_ = false;
  std::thread thread_;
};
#else
// "python3 -m http.server" serving `dir` on port 80 of the loopback,
// stopped when the object goes.
class WebServer {
 public:
  explicit WebServer(const std::filesystem::path& dir) {
    pid_ = fork();
    if (pid_ == 0) {
      int quiet = open("/dev/null", O_WRONLY);
      dup2(quiet, 1);
      dup2(quiet, 2);
      execlp("python3", "python3", "-m", "http.server", "80", "--bind", "127.0.0.1", "--directory",
             dir.c_str(), nullptr);
      _exit(127);
    }
    for (int tries = 0; tries < 1000 && !Answers(); ++tries) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ~WebServer() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  WebServer(const WebServer&) = delete;
  WebServer& operator=(const WebServer&) = delete;

  bool Running() const { return pid_ > 0; }

 private:
  static bool Answers() {
    Ref<TSocket> probe = TSocket::CreateTCP();
    bool connected = probe->Connect(testing::kLoopback, 80);
    probe->Close();
    return connected;
  }

  pid_t pid_ = -1;
};
#endif

class NetworkCode : public ::testing::Test {
 protected:
  void SetUp() override {
    if (auto why = testing::EnterPrivateNetwork(); !why.empty()) GTEST_SKIP() << why;
    if (auto why = testing::NeedPort(80); !why.empty()) GTEST_SKIP() << why;
  }
};

std::string CouldNotLoad(const std::string& name) { return "Could not load " + name + "\r\n>"; }

TEST_F(NetworkCode, ProgramsLoadFromAWebServer) {
  TempDir dir;
  dir.Write("prog.txt", "+++.\r\n+.\r\n");
  WebServer server(dir.Path());
  ASSERT_TRUE(server.Running()) << "the web server did not start";
  std::vector<std::pair<std::string, std::string>> cases = {
      {"http::127.0.0.1/prog.txt", Transcript("http::127.0.0.1/prog.txt", "34")},
      {"HTTP::localhost/prog.txt", Transcript("HTTP::localhost/prog.txt", "34")},
  };
#ifndef _WIN32
  // Nothing listens there; the Windows form of the server listens on every
  // address of the loopback.
  cases.push_back({"http::127.0.0.2/prog.txt", CouldNotLoad("http::127.0.0.2/prog.txt")});
#endif
  for (const auto& [name, transcript] : cases) {
    auto run = RunProcess({TapeBinary(), name}, "\n");
    EXPECT_EQ(run.out, transcript);
    EXPECT_EQ(run.err, "") << name;
    EXPECT_EQ(run.status, 0) << name;
  }
}

// The text protocol decodes the body as it would a file's bytes.
TEST_F(NetworkCode, ATextProtocolDecodesTheDocument) {
  TempDir dir;
  dir.Write("utf8.txt", "+++. \xC3\xA9\xE2\x82\xAC\n+.");
  WebServer server(dir.Path());
  ASSERT_TRUE(server.Running()) << "the web server did not start";
  const std::string name = "utf8::http::127.0.0.1/utf8.txt";
  auto run = RunProcess({TapeBinary(), name}, "\n");
  EXPECT_EQ(run.out, Transcript(name, "34"));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
}

TEST_F(NetworkCode, AHeadThatNeverEndsIsNotLoaded) {
  ScriptedServer server(80, [](TSocket& peer) {
    testing::ReadRequest(peer);
    testing::SendAll(peer, "HTTP/1.0 200 OK\r\nX: ");
    while (testing::SendAll(peer, std::string(4096, '+'))) {
    }
  });
  auto run = RunProcess({TapeBinary(), "http::127.0.0.1/prog.txt"}, "\n");
  EXPECT_EQ(run.out, CouldNotLoad("http::127.0.0.1/prog.txt"));
  EXPECT_EQ(run.status, 0);
}

// What a server sends, how it ends, and what the interpreter makes of it:
// a program runs only when all of it arrived.
struct Answer {
  const char* name;
  bool http;           // else a plain TCP server, which reads nothing
  std::string bytes;   // sent once the request has been read
  bool reset;          // the connection ends with a reset, not a close
  const char* output;  // what the program writes; Null: it does not load
};

void PrintTo(const Answer& answer, std::ostream* out) { *out << answer.name; }

class Answers : public NetworkCode, public ::testing::WithParamInterface<Answer> {};

TEST_P(Answers, RunOnlyAWholeProgram) {
  const Answer& answer = GetParam();
  if (auto why = answer.reset ? testing::NeedResets() : ""; !why.empty()) GTEST_SKIP() << why;
  ScriptedServer server(answer.http ? 80 : 0, [&](TSocket& peer) {
    if (answer.http) testing::ReadRequest(peer);
    testing::SendAll(peer, answer.bytes);
    if (answer.reset) testing::ResetOnClose(peer);
  });
  std::string name = answer.http ? "http::127.0.0.1/prog.txt" : "tcp::127.0.0.1:" + std::to_string(server.Port());
  auto run = RunProcess({TapeBinary(), name}, "\n");
  EXPECT_EQ(run.out, answer.output ? Transcript(name, answer.output) : CouldNotLoad(name));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
}

const std::string kLength4 = "HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\n";

INSTANTIATE_TEST_SUITE_P(
    Servers, Answers,
    ::testing::Values(Answer{"ResetWithoutAnswering", true, "", true, nullptr},
                      Answer{"ClosedBeforeTheEmptyLine", true, "HTTP/1.0 200 OK\r\n", false, nullptr},
                      Answer{"ClosedWithoutAnswering", true, "", false, nullptr},
                      Answer{"BodyShorterThanItsLength", true, kLength4 + "++.", false, nullptr},
                      Answer{"BytesBeyondItsLengthIgnored", true, kLength4 + "+++.+.", false, "3"},
                      Answer{"ErrorStatusWithItsBody", true, "HTTP/1.0 404 Not Found\r\n\r\n++.", false, "2"},
                      Answer{"TcpPeerResetMidProgram", false, "+++.", true, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TcpCode, ProgramsLoadFromATcpServer) {
  ScriptedServer server(0, [](TSocket& peer) { testing::SendAll(peer, "+++++.\n-.\n"); });
  std::string name = "tcp::127.0.0.1:" + std::to_string(server.Port());
  auto run = RunProcess({TapeBinary(), name}, "\n");
  EXPECT_EQ(run.out, Transcript(name, "54"));
  EXPECT_EQ(run.status, 0);
}

}  // namespace
}  // namespace corvid
